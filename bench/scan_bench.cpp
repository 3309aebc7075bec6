// SPDX-License-Identifier: GPL-3.0-or-later
// A full search scan of the 256 network numbers at 19200 baud with three simulated analyzers,
// at the system's own timing, against what the line allows: every silent number costs the reply
// time-out, the settle pause and the request's transmit time; every answering one the settle
// pause, the request and the reply on the wire (plus the RTS pauses when the station switches
// the direction itself, as it does on a pseudo-terminal). Prints figures; asserts nothing.
//   scan_bench [driver|program]   (default: the station's own choice for the port)
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "link/modbus.h"
#include "link/serial_line.h"
#include "search/scan.h"
#include "sim/bus.h"

namespace {

using Clock = std::chrono::steady_clock;

class CountingSink : public zta::SearchSink {
  public:
    void progress(int) override { ++progressCount; }
    void finished() override { finishedSeen = true; }
    void lineFailed() override { failed = true; }
    void showError(const std::string& text, const std::string&) override {
        std::fprintf(stderr, "scan_bench: %s\n", text.c_str());
    }
    int progressCount = 0;
    bool finishedSeen = false;
    bool failed = false;
};

}  // namespace

int main(int argc, char** argv) {
    zta::LineOptions options;
    if (argc > 1 && !std::strcmp(argv[1], "program"))
        options.direction = zta::DirectionSetting::Program;
    else if (argc > 1 && !std::strcmp(argv[1], "driver"))
        options.direction = zta::DirectionSetting::Driver;
    const unsigned baud = 19200;
    const std::vector<int> addresses{5, 9, 30};

    std::string error;
    auto bus = zta::sim::Bus::openPty("", &error);
    if (!bus) {
        std::fprintf(stderr, "scan_bench: no pseudo-terminal: %s\n", error.c_str());
        return 1;
    }
    for (int a : addresses) {
        zta::sim::AnalyzerConfig config;
        config.address = a;
        config.baud = baud;
        bus->addAnalyzer(config);
    }
    bus->start();

    zta::SearchParams params;
    params.prepare(bus->portPath(), baud);
    CountingSink sink;
    bool program = false;
    {
        zta::SerialLine probe;
        if (!probe.open(bus->portPath(), baud, options).ok()) {
            std::fprintf(stderr, "scan_bench: cannot open %s\n", bus->portPath().c_str());
            return 1;
        }
        program = probe.mode() == zta::DirectionMode::Program;
    }

    const auto t0 = Clock::now();
    zta::searchThreadProc(params, sink, options);
    const double measuredMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    if (sink.failed || !sink.finishedSeen) {
        std::fprintf(stderr, "scan_bench: the scan did not complete\n");
        return 1;
    }

    const zta::LineTiming timing = zta::timingFor(baud);
    const double requestMs = zta::wireTimeUs(zta::kEchoLength, baud) / 1000.0;
    const double replyMs = zta::wireTimeUs(zta::kProbeReplyLength, baud) / 1000.0;
    const double rtsMs = program ? timing.rtsLeadMs + timing.rtsHoldMs + 1 : 0;
    const int answering = static_cast<int>(addresses.size());
    const int silent = zta::kSearchNumbers - answering;
    const double silentMs = timing.replyTimeoutMs + zta::kSearchSettleMs + requestMs + rtsMs;
    const double answerMs = zta::kSearchSettleMs + requestMs + rtsMs + replyMs;
    const double expectedMs = silent * silentMs + answering * answerMs;

    std::string found;
    for (int n : params.found()) found += std::to_string(n) + " ";
    std::printf("search scan, 256 numbers at %u baud, %s direction, analyzers at 5 9 30\n", baud,
                program ? "program" : "driver");
    std::printf("  found:            %s(%d progress notices)\n", found.c_str(), sink.progressCount);
    std::printf("  silent number:    %.3f ms = time-out %d + settle %d + request %.3f%s\n",
                silentMs, timing.replyTimeoutMs, zta::kSearchSettleMs, requestMs,
                program ? " + RTS pauses" : "");
    std::printf("  answering number: %.3f ms = settle + request + reply %.3f%s\n", answerMs,
                replyMs, program ? " + RTS pauses" : "");
    std::printf("  expected:         %.1f ms (%d silent, %d answering)\n", expectedMs, silent,
                answering);
    std::printf("  measured:         %.1f ms\n", measuredMs);
    std::printf("  ratio:            %.4f (%+.2f %%)\n", measuredMs / expectedMs,
                (measuredMs / expectedMs - 1.0) * 100.0);
    // A pseudo-terminal hands the request over at once; the simulator charges its wire time only
    // to the replies. So a silent number here costs no transmit time.
    const double ptyExpectedMs = expectedMs - silent * requestMs;
    std::printf(
        "  on a pty (no request wire time for silent numbers): expected %.1f ms, "
        "ratio %.4f (%+.2f %%)\n",
        ptyExpectedMs, measuredMs / ptyExpectedMs, (measuredMs / ptyExpectedMs - 1.0) * 100.0);
    std::printf("  overhead per number beyond the pty cost: %.2f ms\n",
                (measuredMs - ptyExpectedMs) / zta::kSearchNumbers);
    return 0;
}
