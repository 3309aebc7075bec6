// SPDX-License-Identifier: GPL-3.0-or-later
// Exchanges and a search over ser2net (raw TCP) against the same simulated analyzers on the
// direct pseudo-terminal, at 9600 and 19200, with ser2net's default character delay and with
// `chardelay: false`; a fast-polling cycle of fifty analyzers both ways. Prints figures; asserts
// nothing. Needs ser2net.
//   net_bench [ROUNDS [SCAN_TIMEOUT_MS]]   (defaults: 100 rounds; the rate's own reply time-out)
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "bench/exchange_measure.h"
#include "poll/poll_thread.h"
#include "search/scan.h"
#include "tests/net/net_support.h"

namespace {

using zta::bench::Clock;

struct Served {
    unsigned baud;
    bool chardelay;
    int port;
};

class QuietSink : public zta::SearchSink {
  public:
    void progress(int) override {}
    void finished() override {}
    void lineFailed() override { failed = true; }
    void showError(const std::string& text, const std::string&) override {
        std::fprintf(stderr, "net_bench: %s\n", text.c_str());
    }
    bool failed = false;
};

double scanSeconds(const std::string& port, unsigned baud, zta::LineOptions options,
                   size_t& found) {
    zta::bench::letTheLineGoQuiet();
    zta::SearchParams params;
    params.prepare(port, baud);
    QuietSink sink;
    const auto t0 = Clock::now();
    zta::searchThreadProc(params, sink, options);
    const double s = zta::bench::toMs(Clock::now() - t0) / 1000.0;
    found = params.found().size();
    return sink.failed ? -1 : s;
}

// Notes each pass of slot 0.
class CycleSink : public zta::PollSink {
  public:
    void dataChanged(const zta::SlotUpdate& update) override {
        std::lock_guard lock(mutex_);
        if (update.slot == 0) marks_.push_back(Clock::now());
    }
    void baudAccepted(zta::AnalyzerId, int, int) override {}
    void lineFailed() override {}
    void showError(const std::string& text, const std::string&) override {
        std::fprintf(stderr, "net_bench: %s\n", text.c_str());
    }
    std::vector<Clock::time_point> marks() {
        std::lock_guard lock(mutex_);
        return marks_;
    }

  private:
    std::mutex mutex_;
    std::vector<Clock::time_point> marks_;
};

// The mean fast-polling cycle over `count` analyzers at 19200 on `port`, in ms; -1 on failure.
double fastCycleMs(const std::string& port, int count, int cycles) {
    zta::bench::letTheLineGoQuiet();
    zta::PollBlock block;
    CycleSink sink;
    block.setPortName(port);
    block.setBaudRate(19200);
    block.setFastPolling(true);
    for (int a = 1; a <= count; ++a)
        block.setAddress(*block.registerSlot(static_cast<zta::AnalyzerId>(a)), a);
    zta::PollTiming timing;
    timing.line.netTimeoutMs = 10;
    zta::PollThread poll(block, sink, timing);
    if (!poll.start()) return -1;
    const auto until = Clock::now() + std::chrono::seconds(60);
    while (sink.marks().size() < static_cast<size_t>(cycles + 2) && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    poll.stop(10000);
    const auto marks = sink.marks();
    if (marks.size() < static_cast<size_t>(cycles + 2)) return -1;
    return zta::bench::toMs(marks[1 + cycles] - marks[1]) / cycles;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 100;
    const int scanTimeoutMs = argc > 2 ? std::atoi(argv[2]) : 0;
    if (!zta::nettest::Ser2net::available()) {
        std::fprintf(stderr, "net_bench: ser2net is not installed\n");
        return 1;
    }
    zta::nettest::SimLine sim;
    const std::string error =
        sim.open({zta::nettest::analyzer(1, 9600, {2}), zta::nettest::analyzer(11, 19200, {12})});
    if (!error.empty()) {
        std::fprintf(stderr, "net_bench: %s\n", error.c_str());
        return 1;
    }
    const std::string line = sim.path();
    const std::string dir = sim.dir;

    // One raw connection per rate and character delay.
    std::vector<Served> served;
    std::ofstream yaml(dir + "/ser2net.yaml");
    for (unsigned baud : {9600u, 19200u})
        for (bool chardelay : {true, false}) {
            served.push_back({baud, chardelay, zta::nettest::freePort()});
            yaml << "connection: &c" << served.size() << "\n  accepter: tcp,127.0.0.1,"
                 << served.back().port << "\n  connector: serialdev," << line << "," << baud
                 << "n81,local\n"
                 << (chardelay ? "" : "  options:\n    chardelay: false\n");
        }
    yaml.close();
    zta::nettest::Child ser2net;
    ser2net.start({zta::nettest::kSer2net, "-n", "-u", "-c", dir + "/ser2net.yaml", "-P",
                   dir + "/ser2net.pid"},
                  dir + "/ser2net.log");
    if (!zta::nettest::waitFor(
            [&] {
                for (const Served& s : served)
                    if (!zta::nettest::listening(s.port)) return false;
                return true;
            },
            20000)) {
        std::fprintf(stderr, "net_bench: ser2net did not start\n");
        return 1;
    }

    std::printf("10-register read (25-byte reply), %d rounds: median / 90th percentile, ms\n",
                rounds);
    for (unsigned baud : {9600u, 19200u}) {
        const uint8_t address = baud == 9600 ? 1 : 11;
        zta::bench::ExchangeFigures direct;
        if (!zta::bench::measureOurs(line, baud, zta::DirectionSetting::Auto, address, rounds,
                                     direct)) {
            std::printf("%5u  direct pty: failed\n", baud);
            continue;
        }
        std::printf("%5u  direct pty                 %6.2f / %6.2f\n", baud, direct.median,
                    direct.p90);
        for (const Served& s : served) {
            if (s.baud != baud) continue;
            zta::bench::ExchangeFigures net;
            const std::string url = "tcp://127.0.0.1:" + std::to_string(s.port);
            if (!zta::bench::measureOurs(url, baud, zta::DirectionSetting::Auto, address, rounds,
                                         net)) {
                std::printf("%5u  ser2net raw %-14s failed\n", baud,
                            s.chardelay ? "(default)" : "chardelay off");
                continue;
            }
            std::printf("%5u  ser2net raw %-14s %6.2f / %6.2f   %+6.2f ms against the pty\n", baud,
                        s.chardelay ? "(default)" : "chardelay off", net.median, net.p90,
                        net.median - direct.median);
        }
    }

    // The search at 19200 (two numbers answer), locally and through ser2net without the delay.
    zta::LineOptions options;
    options.replyTimeoutMs = scanTimeoutMs;
    std::printf("\nsearch of 256 numbers at 19200%s\n",
                scanTimeoutMs
                    ? (" with a " + std::to_string(scanTimeoutMs) + " ms reply time-out").c_str()
                    : "");
    size_t found = 0;
    const double local = scanSeconds(line, 19200, options, found);
    std::printf("  direct pty                         %7.2f s (%zu found)\n", local, found);
    const Served& fast = served[3];
    const std::string url = "tcp://127.0.0.1:" + std::to_string(fast.port);
    for (int allowance : {zta::kDefaultNetTimeoutMs, 0}) {
        options.netTimeoutMs = allowance;
        const double net = scanSeconds(url, 19200, options, found);
        std::printf("  ser2net, chardelay off, net %3d ms %7.2f s (%zu found)  %+.1f %%\n",
                    allowance, net, found, local > 0 ? 100.0 * (net - local) / local : 0.0);
    }
    ser2net.stop(SIGTERM);

    // Fifty analyzers with fast polling, on a line of their own.
    std::vector<zta::sim::AnalyzerConfig> fifty;
    for (int a = 1; a <= 50; ++a) fifty.push_back(zta::nettest::analyzer(a, 19200));
    zta::nettest::SimLine many;
    if (!many.open(fifty).empty()) return 1;
    const int fastPort = zta::nettest::freePort();
    std::ofstream(many.dir + "/ser2net.yaml")
        << "connection: &fast\n  accepter: tcp,127.0.0.1," << fastPort
        << "\n  connector: serialdev," << many.path()
        << ",19200n81,local\n  options:\n    chardelay: false\n";
    zta::nettest::Child server;
    server.start({zta::nettest::kSer2net, "-n", "-u", "-c", many.dir + "/ser2net.yaml", "-P",
                  many.dir + "/ser2net.pid"},
                 many.dir + "/ser2net.log");
    if (!zta::nettest::waitFor([&] { return zta::nettest::listening(fastPort); }, 20000)) return 1;
    const double direct = fastCycleMs(many.path(), 50, 4);
    const double overTcp = fastCycleMs("tcp://127.0.0.1:" + std::to_string(fastPort), 50, 4);
    std::printf("\nfast polling of 50 analyzers at 19200: a cycle\n");
    std::printf("  direct pty                         %7.1f ms\n", direct);
    std::printf("  ser2net, chardelay off             %7.1f ms  %+.1f %%\n", overTcp,
                direct > 0 ? 100.0 * (overTcp - direct) / direct : 0.0);
    server.stop(SIGTERM);
    return 0;
}
