// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The simulator's state, shared by its bus loop and its line.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sim/analyzer.h"
#include "sim/bus.h"

namespace zta::sim {

using Clock = std::chrono::steady_clock;

// Bytes waiting for their moment on the line: a reply, an adapter's echo, a line copy.
struct Output {
    Clock::time_point due;
    std::vector<uint8_t> bytes;
    std::shared_ptr<Analyzer> analyzer;  // set for an accepted write: its effect follows
    int address = -1;
    int reg = -1;
    int value = -1;
    std::vector<uint8_t> request;
    unsigned lineBaud = 0;
};

struct Bus::Impl {
    mutable std::mutex mu;
    mutable std::condition_variable changed;  // log grew, or a worker op finished
    std::vector<std::shared_ptr<Analyzer>> analyzers;
    std::vector<LogEntry> log;
    std::function<void(const LogEntry&)> sink;
    int sinkCalls = 0;  // calls of a sink in progress (outside the lock)
    std::thread::id workerId;
    Clock::time_point start = Clock::now();
    uint32_t nextSeed = 1;

    bool isDevice = false;
    std::string devicePath;
    unsigned deviceBaud = 9600;
    std::string linkPath;
    std::string portPath;
    std::string slavePath;
    int masterFd = -1;  // the line: pty master or the device
    int slaveFd = -1;   // held so that the master never hangs up between stations
    int wakeRead = -1, wakeWrite = -1;

    std::thread worker;
    bool running = false;
    bool stopping = false;
    std::vector<std::function<void()>> ops;  // run by the worker between polls
    uint64_t opsDone = 0, opsQueued = 0;

    // Worker-only.
    Framer framer;
    Clock::time_point lastByte;
    std::vector<Output> outputs;
    std::mt19937 rng{12345};
    double lineEchoMs = -1;  // under mu

    ~Impl();
    bool openWakePipe(std::string* error);
    bool openPort(std::string* error);
    void closePort();
    void removeLink();
    void wake();
    // The device's own rate; false when it cannot be set or no device is open.
    bool setDeviceRate(unsigned baud);
    void runOnWorker(const std::function<void()>& op);
    void workerLoop();
    unsigned baudOf(int fd) const;
    void handleRequest(const Request& request, Clock::time_point arrival, int fd);
    void writeDue(int fd, Clock::time_point now);
    void append(std::vector<LogEntry>& pending, LogEntry entry);
    void publish(const std::vector<LogEntry>& entries);
    double seconds(Clock::time_point t) const {
        return std::chrono::duration<double>(t - start).count();
    }
    // The gas model's clock (under mu): modelBase at scaleSince, timeScale times faster.
    double timeScale = 1.0;
    double modelBase = 0.0;
    Clock::time_point scaleSince = start;
    double modelSeconds(Clock::time_point t) const {
        return modelBase + timeScale * std::chrono::duration<double>(t - scaleSince).count();
    }
};

}  // namespace zta::sim
