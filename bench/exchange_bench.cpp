// SPDX-License-Identifier: GPL-3.0-or-later
// Exchange time of the 10-register read against the simulator, next to the wire time of the
// 8 + 25 bytes, the pauses of the direction mode, and an independent Modbus master (mbpoll)
// reading the same registers from the same simulator. Prints figures; asserts nothing.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "bench/exchange_measure.h"
#include "link/modbus.h"
#include "link/serial_line.h"
#include "sim/bus.h"

namespace {

using zta::bench::Clock;
using zta::bench::letTheLineGoQuiet;
using zta::bench::percentile;
using zta::bench::toMs;

// mbpoll polls with a fixed delay between polls; the spacing of its requests at the simulator
// minus that delay is its exchange time (plus its own processing).
bool measureMbpoll(zta::sim::Bus& bus, unsigned baud, double& median) {
    if (system("command -v mbpoll >/dev/null 2>&1") != 0) return false;
    letTheLineGoQuiet();
    const int delayMs = 20;
    bus.clearLog();
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        const std::string b = std::to_string(baud), l = std::to_string(delayMs);
        execlp("mbpoll", "mbpoll", "-m", "rtu", "-b", b.c_str(), "-P", "none", "-a", "1", "-t", "3",
               "-r", "2", "-c", "10", "-l", l.c_str(), "-o", "1", bus.portPath().c_str(),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::seconds(4));
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    std::vector<Clock::time_point> arrivals;
    for (const auto& e : bus.log())
        if (e.kind == zta::sim::LogEntry::Kind::Request && e.lineBaud == baud)
            arrivals.push_back(e.when);
    std::vector<double> gaps;
    for (size_t i = 2; i < arrivals.size(); ++i)
        gaps.push_back(toMs(arrivals[i] - arrivals[i - 1]) - delayMs);
    if (gaps.size() < 10) return false;
    median = percentile(gaps, 0.5);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(5, atoi(argv[1])) : 60;
    std::string error;
    auto bus = zta::sim::Bus::openPty("", &error);
    if (!bus) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        return 1;
    }
    bus->start();
    std::printf("10-register read (8 + 25 bytes), %d exchanges per row, times in ms\n", rounds);
    std::printf("%-6s %-8s %8s %8s %8s %8s %8s %10s\n", "baud", "mode", "wire", "pauses", "median",
                "p90", "overhead", "mbpoll");
    for (unsigned baud : {9600u, 19200u}) {
        bus->removeAnalyzer(1);
        zta::sim::AnalyzerConfig a;
        a.address = 1;
        a.extraAddresses = {2};
        a.baud = baud;
        bus->addAnalyzer(a);
        const double wire = zta::wireTimeUs(8 + zta::kShortReplyLength, baud) / 1000.0;
        double mb = 0;
        const bool haveMb = measureMbpoll(*bus, baud, mb);
        for (auto [dir, name] : {std::pair{zta::DirectionSetting::Program, "program"},
                                 std::pair{zta::DirectionSetting::Driver, "driver"}}) {
            const double pauses = zta::bench::pausesMs(baud, dir == zta::DirectionSetting::Program
                                                                 ? zta::DirectionMode::Program
                                                                 : zta::DirectionMode::Driver);
            zta::bench::ExchangeFigures f;
            if (!zta::bench::measureOurs(bus->portPath(), baud, dir, 1, rounds, f)) {
                std::printf("%-6u %-8s  exchange failed\n", baud, name);
                continue;
            }
            if (f.stale > 0)
                std::printf("%-6u %-8s  %d stale replies not counted\n", baud, name, f.stale);
            char mbText[32] = "n/a";
            if (haveMb) std::snprintf(mbText, sizeof mbText, "%.2f", mb);
            std::printf("%-6u %-8s %8.2f %8.2f %8.2f %8.2f %8.2f %10s\n", baud, name, wire, pauses,
                        f.median, f.p90, f.median - wire - pauses, mbText);
        }
    }
    std::printf(
        "overhead = median - wire - pauses (goal: under 1 ms); mbpoll: its median request "
        "spacing less its poll delay\n");
    return 0;
}
