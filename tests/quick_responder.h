// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A Modbus peer on a pseudo-terminal that answers as soon as a request is in, after a given
// delay, with no wire time: an independent slave, not the simulator's line model. Replies come
// from the simulator's analyzers.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sim/analyzer.h"

namespace zta::testing {

class QuickResponder {
  public:
    explicit QuickResponder(const std::vector<sim::AnalyzerConfig>& analyzers, int delayMs = 1)
        : delay_(delayMs) {
        for (const auto& a : analyzers) analyzers_.push_back(std::make_unique<sim::Analyzer>(a));
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
        char name[256];
        if (::ptsname_r(master_, name, sizeof name) != 0) return;
        // Held open so that the master never hangs up between openers.
        slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios t{};
        if (slave_ < 0 || ::tcgetattr(slave_, &t) != 0) return;
        ::cfmakeraw(&t);
        ::tcsetattr(slave_, TCSANOW, &t);
        path_ = name;
        thread_ = std::thread([this] { run(); });
    }
    ~QuickResponder() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (slave_ >= 0) ::close(slave_);
        if (master_ >= 0) ::close(master_);
    }

    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    int answered() const { return answered_; }
    // Register and value of every write applied, in order.
    std::vector<std::pair<int, int>> writes() const {
        std::lock_guard lock(mutex_);
        return writes_;
    }

  private:
    void run() {
        sim::Framer framer;
        const auto start = std::chrono::steady_clock::now();
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN)) continue;
            uint8_t buf[64];
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0) continue;
            framer.push(buf, static_cast<size_t>(n));
            while (auto request = framer.next()) {
                const double t =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                for (auto& a : analyzers_) {
                    if (!a->answers((*request)[0])) continue;
                    const sim::Response r = a->respond(*request, t, t);
                    if (r.reply.empty()) break;
                    std::this_thread::sleep_for(std::chrono::milliseconds(delay_));
                    (void)!::write(master_, r.reply.data(), r.reply.size());
                    if (r.isWrite) {
                        a->applyWrite(r.reg, r.value, t);
                        std::lock_guard lock(mutex_);
                        writes_.emplace_back(r.reg, r.value);
                    }
                    ++answered_;
                    break;
                }
            }
        }
    }

    int delay_;
    std::vector<std::unique_ptr<sim::Analyzer>> analyzers_;
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    std::atomic<bool> stop_{false};
    std::atomic<int> answered_{0};
    mutable std::mutex mutex_;
    std::vector<std::pair<int, int>> writes_;
    std::thread thread_;
};

}  // namespace zta::testing
