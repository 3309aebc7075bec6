// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/analyzer_sub_window.h"

#include <QCloseEvent>
#include <QEvent>
#include <QMdiArea>
#include <algorithm>

#include "device/analyzer_document.h"
#include "device/analyzer_view.h"
#include "device/device_host.h"

namespace zta {

namespace {

// Where a maximized child draws no title bar, Qt appends " - [child]" to the main caption; the
// keeper, one per main window, takes it off again. A separate object, since a sub-window's own
// filter on the main window is installed and removed by Qt itself.
class CaptionKeeper : public QObject {
  public:
    explicit CaptionKeeper(QWidget* top) : QObject(top) {
        setObjectName(QStringLiteral("analyzerCaptionKeeper"));
        top->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != parent() || event->type() != QEvent::WindowTitleChange) return false;
        auto* top = static_cast<QWidget*>(parent());
        const QString caption = top->windowTitle();
        for (const AnalyzerSubWindow* child : top->findChildren<AnalyzerSubWindow*>()) {
            const QString suffix = QStringLiteral(" - [%1]").arg(child->windowTitle());
            if (!child->windowTitle().isEmpty() && caption.endsWith(suffix)) {
                top->setWindowTitle(caption.chopped(suffix.size()));
                break;
            }
        }
        return false;
    }
};

}  // namespace

AnalyzerSubWindow::AnalyzerSubWindow(QWidget* parent)
    : QMdiSubWindow(parent), doc_(std::make_unique<AnalyzerDocument>()) {
    setAttribute(Qt::WA_DeleteOnClose);
    view_ = new AnalyzerView(*doc_);
    setWidget(view_);
    doc_->titleChanged = [this](const QString& title) { setWindowTitle(title); };
    connect(this, &QMdiSubWindow::windowStateChanged, this,
            [this](Qt::WindowStates before, Qt::WindowStates now) {
                if ((before ^ now).testFlag(Qt::WindowActive) && doc_ && doc_->host())
                    doc_->host()->showActiveViewTimer();
            });
}

AnalyzerSubWindow::~AnalyzerSubWindow() {
    // The slot goes back before the view: the block never names a view that is gone.
    doc_->titleChanged = nullptr;
    doc_->unregister();
    delete view_;
    view_ = nullptr;
    doc_.reset();
}

void AnalyzerSubWindow::closeEvent(QCloseEvent* event) {
    QMdiSubWindow::closeEvent(event);
    if (!event->isAccepted()) return;
    // Deletion comes later from the event loop; until then no tick and no notice may use it.
    view_->onClosing();
    doc_->unregister();
}

void AnalyzerSubWindow::showEvent(QShowEvent* event) {
    QMdiSubWindow::showEvent(event);
    QWidget* top = window();
    if (top != this && !top->findChild<QObject*>(QStringLiteral("analyzerCaptionKeeper"),
                                                 Qt::FindDirectChildrenOnly))
        new CaptionKeeper(top);
}

AnalyzerSubWindow* openAnalyzerWindow(DeviceHost& host, QMdiArea& area) {
    auto* child = new AnalyzerSubWindow;
    if (!child->document().onNewDocument(host, child->view())) {
        delete child;
        return nullptr;
    }
    area.addSubWindow(child);
    // The window fits its form as the initial update leaves it (the software information group
    // hidden) and keeps to the area's left and top edges: the area's own placement would put a
    // window wider than itself partly out of sight, number field included. An explicit move
    // also stops the placement the area would make on its first show.
    child->view()->onInitialUpdate();
    child->resize(child->sizeHint());
    child->show();
    if (!child->isMaximized()) child->move(std::max(0, child->x()), std::max(0, child->y()));
    return child;
}

}  // namespace zta
