// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace zta {

// A worker thread that can be waited for with a time limit, and that stays known after a
// wait timed out so that a later stop can wait again.
class WorkerThread {
  public:
    WorkerThread() = default;
    // Joins: the owner stops the work before it goes.
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // False (nothing started) while a previous run is still going.
    bool start(std::function<void()> fn);
    bool isRunning() const;
    // True when the work has ended within `ms` (then the thread is joined).
    bool waitFinished(int ms);
    // As above, calling `serveOnce` between short waits so that the waiting thread goes on
    // serving the worker's synchronous requests.
    bool waitFinished(int ms, const std::function<void()>& serveOnce);

  private:
    void joinIfFinished();

    mutable std::mutex mutex_;
    std::condition_variable finishedChanged_;
    std::thread thread_;
    bool started_ = false;
    bool finished_ = true;
};

}  // namespace zta
