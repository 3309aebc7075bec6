// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/form_window_factory.h"

#include "device/analyzer_document.h"
#include "device/analyzer_sub_window.h"
#include "device/analyzer_view.h"

namespace zta {

QMdiSubWindow* FormWindowFactory::openWindow(DeviceHost& host, QMdiArea& area) {
    return openAnalyzerWindow(host, area);
}

std::vector<CommandTarget*> FormWindowFactory::route(QMdiSubWindow* child) {
    auto* frame = qobject_cast<AnalyzerSubWindow*>(child);
    if (!frame || !frame->view()) return {};
    return {frame->view(), &frame->document()};
}

AnalyzerViewInterface* FormWindowFactory::viewOf(QMdiSubWindow* child) {
    auto* frame = qobject_cast<AnalyzerSubWindow*>(child);
    return frame ? frame->view() : nullptr;
}

std::unique_ptr<AnalyzerWindowFactory> makeAnalyzerWindowFactory() {
    return std::make_unique<FormWindowFactory>();
}

}  // namespace zta
