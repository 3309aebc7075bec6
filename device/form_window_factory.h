#pragma once

#include <memory>

#include "device/analyzer_window_factory.h"

class CMainFrame;
class FrameDeviceHost;

// The analyzer-window template the station uses: document CMirelDoc, frame CChildFrame, view
// CMirelView. The main window must close (delete) its analyzer windows before its poll block
// goes, as each closing document gives its slot back.
class CMirelDocTemplate : public DocumentTemplate {
public:
    CMirelDocTemplate();
    ~CMirelDocTemplate() override;

    QMdiSubWindow* OpenDocumentFile(CMainFrame& frame) override;
    std::vector<CommandTarget*> Route(QMdiSubWindow* child) override;
    AnalyzerView* ViewOf(QMdiSubWindow* child) override;

private:
    std::unique_ptr<FrameDeviceHost> host_;
};
