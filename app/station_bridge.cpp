// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/station_bridge.h"

#include <QCoreApplication>
#include <QThread>

#include "ui/dialogs.h"

namespace zta {

struct UiBridge::Request {
    std::function<void()> fn;
    bool done = false;
};

UiBridge::UiBridge(QObject* parent) : QObject(parent) {}

UiBridge::~UiBridge() { close(); }

bool UiBridge::callSync(std::function<void()> fn) {
    if (QThread::currentThread() == thread()) {
        if (closed()) return false;
        fn();
        return true;
    }
    auto request = std::make_shared<Request>();
    request->fn = std::move(fn);
    std::unique_lock lock(mutex_);
    if (closed_) return false;
    queue_.push_back(request);
    lock.unlock();
    wake_.notify_all();
    schedule();
    lock.lock();
    wake_.wait(lock, [&] { return request->done || closed_; });
    return request->done;
}

void UiBridge::post(std::function<void()> fn) {
    {
        std::lock_guard lock(mutex_);
        if (closed_) return;
    }
    QMetaObject::invokeMethod(
        this,
        [this, fn = std::move(fn)] {
            if (!closed()) fn();
        },
        Qt::QueuedConnection);
}

void UiBridge::schedule() {
    {
        std::lock_guard lock(mutex_);
        if (scheduled_) return;
        scheduled_ = true;
    }
    QMetaObject::invokeMethod(
        this,
        [this] {
            {
                std::lock_guard lock(mutex_);
                scheduled_ = false;
            }
            serve();
        },
        Qt::QueuedConnection);
}

int UiBridge::serve() {
    int ran = 0;
    for (;;) {
        std::shared_ptr<Request> request;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty() || closed_) return ran;
            request = queue_.front();
            queue_.pop_front();
        }
        // Runs without the lock: the request may open a box and re-enter the event loop.
        request->fn();
        ++ran;
        {
            std::lock_guard lock(mutex_);
            request->done = true;
        }
        wake_.notify_all();
    }
}

void UiBridge::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        queue_.clear();
    }
    wake_.notify_all();
}

bool UiBridge::closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

bool UiBridge::waitForWorker(zta::WorkerThread& worker, int timeoutMs) {
    return worker.waitFinished(timeoutMs, [this] { serve(); });
}

void UiBridge::showError(const std::string& text, const std::string& caption) {
    const QString qtext = QString::fromStdString(text);
    const QString qcaption = QString::fromStdString(caption);
    post([this, qtext, qcaption] { dialogs().error(qtext, qcaption, errorOwner_); });
}

}  // namespace zta
