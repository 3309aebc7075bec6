// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace zta {

// Where the core hands what its workers report: run later, in order, on the one thread that
// owns the listeners. The station's runs them from its event loop; zta-bus and the tests drain
// a QueueOfEvents themselves.
class EventQueue {
  public:
    virtual ~EventQueue() = default;
    // Called on any thread; never waits for the receiving thread.
    virtual void post(std::function<void()> fn) = 0;
};

class QueueOfEvents : public EventQueue {
  public:
    void post(std::function<void()> fn) override;
    // Runs what is queued now; returns how many ran.
    std::size_t drain();
    // Drains until `done` holds (checked after each drain) or `timeoutMs` has passed.
    bool drainUntil(const std::function<bool()>& done, int timeoutMs);

  private:
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> queue_;
};

}  // namespace zta
