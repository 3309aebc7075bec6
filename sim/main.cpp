// SPDX-License-Identifier: GPL-3.0-or-later
// zta-sim: simulated analyzers on a pseudo-terminal or a serial device, until SIGINT/SIGTERM.

#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "sim/bus.h"
#include "sim/control_socket.h"
#include "sim/options.h"
#include "zta/version.h"

#ifndef _WIN32
#include <signal.h>
#endif

namespace {

std::string hex(const std::vector<uint8_t>& bytes) {
    std::string s;
    char b[4];
    for (uint8_t v : bytes) {
        std::snprintf(b, sizeof b, s.empty() ? "%02X" : " %02X", v);
        s += b;
    }
    return s;
}

void printEntry(const zta::sim::LogEntry& e) {
    using Kind = zta::sim::LogEntry::Kind;
    std::string line;
    switch (e.kind) {
        case Kind::Request:
            line = "request " + hex(e.bytes) + " at " + std::to_string(e.lineBaud) + " baud: " +
                   (e.address >= 0 ? "analyzer " + std::to_string(e.address) : "no analyzer");
            break;
        case Kind::Ignored:
            line = "ignored " + hex(e.bytes) + ": line at " + std::to_string(e.lineBaud) +
                   " baud, analyzer " + std::to_string(e.address) + " at another rate";
            break;
        case Kind::WriteApplied:
            line = "write applied: analyzer " + std::to_string(e.address) + " register " +
                   std::to_string(e.reg) + " value " + std::to_string(e.value);
            break;
    }
    static std::mutex mu;
    std::lock_guard lock(mu);
    line += '\n';
    std::cerr << line << std::flush;
}

// zta-sim ctl PATH COMMAND...: 0 for an "ok":true answer, 1 for a refusal, 2 for a bad call,
// 3 when no simulator answers.
int runCtl(const std::vector<std::string>& args) {
    if (args.size() < 2) {
        std::cerr << "zta-sim: ctl needs PATH and a command\n" << zta::sim::kUsage;
        return 2;
    }
    std::string line;
    for (size_t i = 1; i < args.size(); ++i) line += (i > 1 ? " " : "") + args[i];
    std::string answer, error;
    if (!zta::sim::sendControlLine(args[0], line, &answer, &error)) {
        std::cerr << "zta-sim: " << error << "\n";
        return 3;
    }
    std::cout << answer << std::endl;
    return answer.rfind("{\"ok\":true", 0) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace zta::sim;
    if (argc > 1 && std::string(argv[1]) == "ctl")
        return runCtl(std::vector<std::string>(argv + 2, argv + argc));
    ProgramOptions options;
    std::string error;
    if (!parseProgramOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
        std::cerr << "zta-sim: " << error << "\n" << kUsage;
        return 2;
    }
    if (options.help) {
        std::cout << kUsage;
        return 0;
    }
    if (options.version) {
        std::cout << "zta-sim " << zta::kVersion << "\n";
        return 0;
    }

#ifndef _WIN32
    // Signals are taken by sigwait below; blocked before the worker starts so it inherits that.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
#endif

    std::unique_ptr<Bus> bus = options.device.empty() ? Bus::openPty(options.link, &error)
                                                      : Bus::openDevice(options.device, &error);
    if (!bus) {
        std::cerr << "zta-sim: " << error << "\n";
        return 1;
    }
    if (!options.device.empty() && !bus->setDeviceBaud(options.deviceBaud, &error)) {
        std::cerr << "zta-sim: " << error << "\n";
        return 1;
    }
    bus->setTimeScale(options.timeScale);
    for (const auto& a : options.analyzers) bus->addAnalyzer(a);
    bus->setLineEcho(options.lineEchoMs);
    if (options.log) bus->setLogSink(printEntry);
    // Made before the port is announced: whoever reads "port:" can send commands at once.
    std::unique_ptr<ControlServer> control;
    if (!options.control.empty()) {
        control = ControlServer::open(
            options.control, [&bus](const std::string& line) { return bus->control(line); },
            &error);
        if (!control) {
            std::cerr << "zta-sim: " << error << "\n";
            return 1;
        }
    }
    bus->start();

    std::cout << "port: " << bus->portPath() << std::endl;
    for (const auto& a : options.analyzers) {
        std::cerr << "analyzer " << a.address;
        for (int extra : a.extraAddresses) std::cerr << "," << extra;
        std::cerr << " at " << a.baud << " baud\n";
    }
    std::cerr.flush();

#ifndef _WIN32
    int sig = 0;
    while (sigwait(&signals, &sig) != 0) {
    }
#endif
    control.reset();  // removes the socket
    bus->stop();
    bus.reset();  // removes the link
    return 0;
}
