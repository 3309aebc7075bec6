// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QWidget>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "poll/worker.h"

namespace zta {

// Lives on the UI thread. Workers hand it work: synchronous requests block the worker until
// the UI thread has run them; posted ones do not. The UI thread runs queued requests from its
// event loop and also while it waits for a worker (waitForWorker), so a worker in the middle of a
// synchronous request never holds both threads until the time-out.
class UiBridge : public QObject {
    Q_OBJECT
  public:
    explicit UiBridge(QObject* parent = nullptr);
    ~UiBridge() override;

    // Worker side. Runs `fn` on the UI thread and returns once it has run (true), or at once
    // with false when the bridge has been closed. Called on the UI thread it runs `fn` directly.
    bool callSync(std::function<void()> fn);
    // Worker side. Queues `fn` for the UI thread's event loop; dropped after close().
    void post(std::function<void()> fn);

    // UI side. Runs every queued synchronous request; returns how many ran.
    int serve();

    // UI side: waits for a worker to end while serving its requests. False on time-out.
    bool waitForWorker(zta::WorkerThread& worker, int timeoutMs);

    // Worker side. Shows an error box on the UI thread, owned by the error owner; never waits
    // for the operator. An empty caption means the application's title.
    void showError(const std::string& text, const std::string& caption);
    void setErrorOwner(QWidget* owner) { errorOwner_ = owner; }
    QWidget* errorOwner() const { return errorOwner_; }

    // Refuses further requests and releases every waiting worker (the window is going away).
    void close();
    bool closed() const;

  private:
    struct Request;
    void schedule();

    mutable std::mutex mutex_;
    std::condition_variable wake_;  // a worker's request ran, or the bridge closed
    std::deque<std::shared_ptr<Request>> queue_;
    bool closed_ = false;
    bool scheduled_ = false;
    QWidget* errorOwner_ = nullptr;  // set on the UI thread before any worker starts
};

}  // namespace zta
