// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/event_queue.h"

#include <chrono>

namespace zta {

void QueueOfEvents::post(std::function<void()> fn) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(fn));
    }
    posted_.notify_all();
}

std::size_t QueueOfEvents::drain() {
    std::deque<std::function<void()>> taken;
    {
        std::lock_guard lock(mutex_);
        taken.swap(queue_);
    }
    for (auto& fn : taken) fn();
    return taken.size();
}

bool QueueOfEvents::drainUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        drain();
        if (done()) return true;
        std::unique_lock lock(mutex_);
        if (!posted_.wait_until(lock, end, [this] { return !queue_.empty(); })) {
            lock.unlock();
            drain();
            return done();
        }
    }
}

}  // namespace zta
