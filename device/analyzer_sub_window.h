#pragma once

#include <QMdiSubWindow>

#include <memory>

class CMirelDoc;
class CMirelView;
class DeviceHost;
class QMdiArea;

// One analyzer window: the MDI child that owns its document and shows its view.
class CChildFrame : public QMdiSubWindow {
    Q_OBJECT
public:
    explicit CChildFrame(QWidget* parent = nullptr);
    ~CChildFrame() override;

    CMirelDoc& document() const { return *doc_; }
    CMirelView* view() const { return view_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<CMirelDoc> doc_;
    CMirelView* view_ = nullptr;
};

// Opens an empty analyzer window in `area`: registers it in the host's poll block, shows it
// shrunk to its form and runs the view's initial update. Returns nullptr when the window limit
// refused it (the box has been shown and nothing was added).
CChildFrame* OpenAnalyzerWindow(DeviceHost& host, QMdiArea& area);
