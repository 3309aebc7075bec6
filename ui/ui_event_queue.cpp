// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ui_event_queue.h"

namespace zta {

void UiEventQueue::post(std::function<void()> fn) {
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

}  // namespace zta
