// SPDX-License-Identifier: GPL-3.0-or-later
#include "poll/worker.h"

#include <algorithm>
#include <chrono>

namespace zta {

namespace {
constexpr int kServeSliceMs = 5;
}

WorkerThread::~WorkerThread() {
    if (thread_.joinable()) thread_.join();
}

bool WorkerThread::start(std::function<void()> fn) {
    std::unique_lock lock(mutex_);
    if (started_ && !finished_) return false;
    if (thread_.joinable()) {
        lock.unlock();
        thread_.join();  // finished already: returns at once
        lock.lock();
    }
    started_ = true;
    finished_ = false;
    thread_ = std::thread([this, fn = std::move(fn)] {
        fn();
        {
            std::lock_guard done(mutex_);
            finished_ = true;
        }
        finishedChanged_.notify_all();
    });
    return true;
}

bool WorkerThread::isRunning() const {
    std::lock_guard lock(mutex_);
    return started_ && !finished_;
}

void WorkerThread::joinIfFinished() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool WorkerThread::waitFinished(int ms) { return waitFinished(ms, {}); }

bool WorkerThread::waitFinished(int ms, const std::function<void()>& serveOnce) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, ms));
    std::unique_lock lock(mutex_);
    for (;;) {
        if (finished_) break;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        if (serveOnce) {
            lock.unlock();
            serveOnce();
            lock.lock();
            if (finished_) break;
            const auto slice = std::min<std::chrono::steady_clock::duration>(
                deadline - std::chrono::steady_clock::now(),
                std::chrono::milliseconds(kServeSliceMs));
            if (slice > slice.zero()) finishedChanged_.wait_for(lock, slice);
        } else {
            finishedChanged_.wait_until(lock, deadline);
        }
    }
    lock.unlock();
    joinIfFinished();
    return true;
}

}  // namespace zta
