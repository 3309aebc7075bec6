#include "device/analyzer_sub_window.h"

#include "device/device_host.h"
#include "device/analyzer_document.h"
#include "device/analyzer_view.h"

#include <QCloseEvent>
#include <QMdiArea>

namespace zta {

AnalyzerSubWindow::AnalyzerSubWindow(QWidget* parent)
    : QMdiSubWindow(parent), doc_(std::make_unique<AnalyzerDocument>()) {
    setAttribute(Qt::WA_DeleteOnClose);
    view_ = new AnalyzerView(*doc_);
    setWidget(view_);
    doc_->titleChanged = [this](const QString& title) { setWindowTitle(title); };
    connect(this, &QMdiSubWindow::windowStateChanged, this,
            [this](Qt::WindowStates before, Qt::WindowStates now) {
                if ((before ^ now).testFlag(Qt::WindowActive) && doc_ && doc_->host())
                    doc_->host()->ShowActiveViewTimer();
            });
}

AnalyzerSubWindow::~AnalyzerSubWindow() {
    // The slot goes back before the view: the block never names a view that is gone.
    doc_->titleChanged = nullptr;
    doc_->Unregister();
    delete view_;
    view_ = nullptr;
    doc_.reset();
}

void AnalyzerSubWindow::closeEvent(QCloseEvent* event) {
    QMdiSubWindow::closeEvent(event);
    if (!event->isAccepted()) return;
    // Deletion comes later from the event loop; until then no tick and no notice may use it.
    view_->OnClosing();
    doc_->Unregister();
}

AnalyzerSubWindow* OpenAnalyzerWindow(DeviceHost& host, QMdiArea& area) {
    auto* child = new AnalyzerSubWindow;
    if (!child->document().OnNewDocument(host, child->view())) {
        delete child;
        return nullptr;
    }
    area.addSubWindow(child);
    child->show();
    child->view()->OnInitialUpdate();
    // The window fits its form at first show.
    child->resize(child->sizeHint());
    return child;
}

}  // namespace zta
