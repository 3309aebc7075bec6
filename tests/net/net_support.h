// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Servers for the network line tests: ser2net and a pymodbus gateway as child processes, and
// helpers to find free ports and to wait until a server listens.

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "poll/poll_thread.h"
#include "sim/bus.h"

namespace zta::nettest {

constexpr const char* kSer2net = "/usr/sbin/ser2net";
constexpr const char* kPython = "/usr/bin/python3";

// A port nobody listens on at the moment of asking.
inline int freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &size) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

// The states of the sockets whose local end is `port`, from the kernel's tables (connecting to
// find out would make a client the server has to serve).
inline std::vector<std::string> socketStates(int port) {
    char hex[8];
    std::snprintf(hex, sizeof hex, ":%04X", port);
    std::vector<std::string> states;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            if (local.size() > 5 && local.substr(local.size() - 5) == hex) states.push_back(state);
        }
    }
    return states;
}

inline bool listening(int port) {
    for (const std::string& s : socketStates(port))
        if (s == "0A") return true;
    return false;
}

// The server holds no connection on the port: only the listener and closed ones are left.
inline bool idle(int port) {
    for (const std::string& s : socketStates(port))
        if (s != "0A" && s != "06") return false;
    return true;
}

// Polls a condition that an outside process brings about, up to `timeoutMs`.
template <class Pred>
bool waitFor(Pred pred, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// One child program, ended by its own pid.
class Child {
  public:
    ~Child() { stop(SIGKILL); }
    bool start(const std::vector<std::string>& argv, const std::string& logPath) {
        stop(SIGKILL);
        pid_ = ::fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (log >= 0) {
                ::dup2(log, 1);
                ::dup2(log, 2);
            }
            std::vector<char*> args;
            for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        return true;
    }
    void stop(int signal) {
        if (pid_ <= 0) return;
        ::kill(pid_, signal);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    // A child found ended is reaped here, and its pid forgotten: never signalled again.
    bool running() {
        if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) != 0) pid_ = -1;
        return pid_ > 0;
    }

  private:
    pid_t pid_ = -1;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Polling paced at 10 ms a turn however many analyzers, reopening a lost line every 100 ms.
inline PollTiming quickPolling() {
    PollTiming timing;
    timing.pacingBaseMs = 10;
    timing.pacingPerWindowMs = 0;
    timing.reopenIntervalMs = 100;
    return timing;
}

// Simulated analyzers on a pseudo-terminal linked as FOLDER/line, in a folder of their own that
// goes with them.
class SimLine {
  public:
    ~SimLine() {
        bus.reset();
        std::error_code ec;
        if (!dir.empty()) std::filesystem::remove_all(dir, ec);
    }
    // Opens the line and starts it with `analyzers`; empty on success, else why not.
    std::string open(const std::vector<sim::AnalyzerConfig>& analyzers) {
        char made[] = "/tmp/zta-net-XXXXXX";
        if (!mkdtemp(made)) return "no temporary folder";
        dir = made;
        std::string error;
        bus = sim::Bus::openPty(path(), &error);
        if (!bus) return error.empty() ? "no pseudo-terminal" : error;
        for (const sim::AnalyzerConfig& a : analyzers) bus->addAnalyzer(a);
        bus->start();
        return {};
    }
    std::string path() const { return dir + "/line"; }

    std::string dir;
    std::unique_ptr<sim::Bus> bus;
};

inline sim::AnalyzerConfig analyzer(int address, unsigned baud = 9600, std::vector<int> also = {}) {
    sim::AnalyzerConfig a;
    a.address = address;
    a.baud = baud;
    a.extraAddresses = std::move(also);
    return a;
}

// ser2net serving one device on two ports: raw TCP and telnet with RFC 2217.
class Ser2net {
  public:
    Ser2net(std::string dir, std::string device, bool chardelay = true)
        : dir_(std::move(dir)), device_(std::move(device)), chardelay_(chardelay) {}

    static bool available() { return ::access(kSer2net, X_OK) == 0; }

    bool start() {
        if (rawPort == 0) {
            rawPort = freePort();
            telnetPort = freePort();
            std::ofstream yaml(dir_ + "/ser2net.yaml");
            const std::string options = chardelay_ ? "" : "  options:\n    chardelay: false\n";
            yaml << "connection: &raw\n  accepter: tcp,127.0.0.1," << rawPort
                 << "\n  connector: serialdev," << device_ << ",9600n81,local\n"
                 << options << "connection: &telnet\n  accepter: telnet(rfc2217),tcp,127.0.0.1,"
                 << telnetPort << "\n  connector: serialdev," << device_ << ",9600n81,local\n"
                 << options;
        }
        if (!child_.start(
                {kSer2net, "-n", "-u", "-c", dir_ + "/ser2net.yaml", "-P", dir_ + "/ser2net.pid"},
                dir_ + "/ser2net.log"))
            return false;
        return waitFor([this] { return listening(rawPort) && listening(telnetPort); }, 20000);
    }
    void kill() { child_.stop(SIGKILL); }
    std::string raw() const { return "tcp://127.0.0.1:" + std::to_string(rawPort); }
    std::string telnet() const { return "rfc2217://127.0.0.1:" + std::to_string(telnetPort); }
    std::string log() const { return readFile(dir_ + "/ser2net.log"); }

    int rawPort = 0;
    int telnetPort = 0;

  private:
    std::string dir_, device_;
    bool chardelay_;
    Child child_;
};

#ifdef ZTA_RTU_GATEWAY
// The pymodbus gateway of rtu_gateway.py in front of a serial device.
class Gateway {
  public:
    static bool available() {
        return std::system((std::string(kPython) + " -c 'import pymodbus.server, serial_asyncio'"
                                                   " >/dev/null 2>&1")
                               .c_str()) == 0;
    }
    bool start(const std::string& dir, const std::string& device, unsigned baud, int units) {
        port = freePort();
        log_ = dir + "/gateway.log";
        if (!child_.start({kPython, ZTA_RTU_GATEWAY, std::to_string(port), device,
                           std::to_string(baud), std::to_string(units)},
                          log_))
            return false;
        return waitFor([this] { return listening(port) || !child_.running(); }, 30000) &&
               listening(port);
    }
    std::string address() const { return "mbtcp://127.0.0.1:" + std::to_string(port); }
    std::string log() const { return readFile(log_); }
    int port = 0;

  private:
    Child child_;
    std::string log_;
};
#endif

}  // namespace zta::nettest
