#include "device/form_window_factory.h"

#include "device/analyzer_document.h"
#include "device/analyzer_sub_window.h"
#include "device/analyzer_view.h"

namespace zta {

QMdiSubWindow* FormWindowFactory::OpenWindow(DeviceHost& host, QMdiArea& area) {
    return OpenAnalyzerWindow(host, area);
}

std::vector<CommandTarget*> FormWindowFactory::Route(QMdiSubWindow* child) {
    auto* frame = qobject_cast<AnalyzerSubWindow*>(child);
    if (!frame || !frame->view()) return {};
    return {frame->view(), &frame->document()};
}

AnalyzerViewInterface* FormWindowFactory::ViewOf(QMdiSubWindow* child) {
    auto* frame = qobject_cast<AnalyzerSubWindow*>(child);
    return frame ? frame->view() : nullptr;
}

std::unique_ptr<AnalyzerWindowFactory> MakeAnalyzerWindowFactory() {
    return std::make_unique<FormWindowFactory>();
}

}  // namespace zta
