#include "device/mirel_doc_template.h"

#include "app/main_frame.h"
#include "device/child_frame.h"
#include "device/device_host.h"
#include "device/mirel_doc.h"
#include "device/mirel_view.h"

#include <QMdiArea>
#include <QTimer>

// The main window as analyzer windows see it.
class FrameDeviceHost : public DeviceHost {
public:
    explicit FrameDeviceHost(CMainFrame& frame) : frame_(frame) {}

    CMainFrame& frame() const { return frame_; }

    zta::PollBlock& block() override { return frame_.block(); }
    bool IsPolling() const override { return frame_.IsPolling(); }
    QString recordFolder() const override { return frame_.recordFolder(); }
    QWidget* window() override { return &frame_; }
    void RefreshTimerFlag() override { frame_.RefreshTimerFlag(); }
    void ShowTimerPane(int periodSeconds) override { frame_.ShowTimerPane(periodSeconds); }
    void TimerStateChanged() override {
        frame_.ShowActiveViewTimer();
        const AnalyzerView* active = frame_.ActiveView();
        const int period = active ? active->timerPeriod() : 0;
        frame_.ShowFolderPane(period);
        frame_.ShowTimerPane(period);
    }
    void ShowActiveViewTimer() override { frame_.ShowActiveViewTimer(); }
    bool SwitchBaudAndReconnect(unsigned baud) override {
        return frame_.SwitchBaudAndReconnect(baud);
    }
    zta::RecordWriter& recordWriter() override { return frame_.recordWriter(); }
    zta::CsvLog& csvLog() override { return frame_.csvLog(); }
    void RequestCommandRefresh() override {
        CommandRouter* router = &frame_.router();
        QTimer::singleShot(0, router, [router] { router->refresh(); });
    }

private:
    CMainFrame& frame_;
};

CMirelDocTemplate::CMirelDocTemplate() = default;
CMirelDocTemplate::~CMirelDocTemplate() = default;

QMdiSubWindow* CMirelDocTemplate::OpenDocumentFile(CMainFrame& frame) {
    if (!host_ || &host_->frame() != &frame) host_ = std::make_unique<FrameDeviceHost>(frame);
    return OpenAnalyzerWindow(*host_, *frame.mdiArea());
}

std::vector<CommandTarget*> CMirelDocTemplate::Route(QMdiSubWindow* child) {
    auto* frame = qobject_cast<CChildFrame*>(child);
    if (!frame || !frame->view()) return {};
    return {frame->view(), &frame->document()};
}

AnalyzerView* CMirelDocTemplate::ViewOf(QMdiSubWindow* child) {
    auto* frame = qobject_cast<CChildFrame*>(child);
    return frame ? frame->view() : nullptr;
}
