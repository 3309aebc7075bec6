// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include "device/analyzer_window_factory.h"

namespace zta {

// The analyzer windows the station uses: document AnalyzerDocument, sub-window
// AnalyzerSubWindow, view AnalyzerView. The main window must close (delete) its analyzer windows
// before its poll block goes, as each closing document gives its slot back.
class FormWindowFactory : public AnalyzerWindowFactory {
  public:
    QMdiSubWindow* openWindow(DeviceHost& host, QMdiArea& area) override;
    std::vector<CommandTarget*> route(QMdiSubWindow* child) override;
    AnalyzerViewInterface* viewOf(QMdiSubWindow* child) override;
};

std::unique_ptr<AnalyzerWindowFactory> makeAnalyzerWindowFactory();

}  // namespace zta
