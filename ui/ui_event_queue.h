// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <functional>

#include "core/event_queue.h"

namespace zta {

// The core's events run from the UI thread's event loop, in the order they were posted.
class UiEventQueue : public QObject, public EventQueue {
    Q_OBJECT
  public:
    explicit UiEventQueue(QObject* parent = nullptr) : QObject(parent) {}
    void post(std::function<void()> fn) override;
};

}  // namespace zta
