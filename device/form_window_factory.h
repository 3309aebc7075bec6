#pragma once

#include <memory>

#include "device/analyzer_window_factory.h"

namespace zta {

// The analyzer windows the station uses: document AnalyzerDocument, sub-window
// AnalyzerSubWindow, view AnalyzerView. The main window must close (delete) its analyzer windows
// before its poll block goes, as each closing document gives its slot back.
class FormWindowFactory : public AnalyzerWindowFactory {
public:
    QMdiSubWindow* OpenWindow(DeviceHost& host, QMdiArea& area) override;
    std::vector<CommandTarget*> Route(QMdiSubWindow* child) override;
    AnalyzerViewInterface* ViewOf(QMdiSubWindow* child) override;
};

std::unique_ptr<AnalyzerWindowFactory> MakeAnalyzerWindowFactory();

}  // namespace zta
