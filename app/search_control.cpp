// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/search_control.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QTimer>

#include "app/bus_search.h"
#include "app/bus_tools.h"
#include "app/main_window.h"
#include "app/station.h"
#include "ui/dialogs.h"

namespace zta {

namespace {
constexpr int kStopSearchWaitMs = 5000;
constexpr int kMaxOpened = 10;
const char* const kCaption = "Поиск";
constexpr int kRetileMs = 2000;
constexpr int kModalRetryMs = 100;

// The platform gives a window its maximized size later (on X11 after the window manager's
// answer): until then the window area has its old size, and so would the tiled windows. Tiles
// again whenever the area changes size within a short time of the search's end.
class TileOnResize : public QObject {
  public:
    explicit TileOnResize(MainWindow& frame)
        : QObject(frame.mdiArea()->viewport()), frame_(&frame) {
        parent()->installEventFilter(this);
        QTimer::singleShot(kRetileMs, this, [this] { deleteLater(); });
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize) {
            // After the area's own handling of the resize (its scroll bars).
            QPointer<MainWindow> frame = frame_;
            QTimer::singleShot(0, this, [frame] {
                if (frame) frame->tileWindows();
            });
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    QPointer<MainWindow> frame_;
};
}  // namespace

SearchControl::SearchControl(MainWindow& frame, BusTools& tools)
    : QObject(&frame), frame_(frame), station_(frame.station()), tools_(tools) {
    lineOptions_.direction = station_.direction();  // as the poll thread's
    BusSearch* search = &station_.search();
    connect(search, &BusSearch::progress, this, &SearchControl::onProgress);
    connect(search, &BusSearch::finished, this, &SearchControl::onFinished);
    connect(search, &BusSearch::lineFailed, this, &SearchControl::onLineFailed);
}

const zta::SearchParams* SearchControl::params() const { return station_.search().params(); }

void SearchControl::startSearch() {
    switch (station_.startSearch(lineOptions_)) {
        case LineRefusal::NoPorts:
            dialogs().information(QStringLiteral("Нет найденных COM портов"),
                                  QString::fromUtf8(kCaption), &frame_);
            return;
        case LineRefusal::Polling:
            dialogs().information(QStringLiteral("Остановите опрос приборов."),
                                  QString::fromUtf8(kCaption), &frame_);
            return;
        case LineRefusal::Searching:
            dialogs().information(QStringLiteral("Поиск идет."), QString::fromUtf8(kCaption),
                                  &frame_);
            return;
        case LineRefusal::NotStarted:
            return;
        case LineRefusal::None:
            break;
    }
    modalSeen_ = false;
    tools_.setFoundWithoutWindow({});
    tools_.searchProgress(0);
    frame_.router().refresh();
}

void SearchControl::stopSearch() {
    if (!station_.isSearching()) return;
    if (!station_.search().stop(kStopSearchWaitMs))
        return;  // still searching, with the stop request set; a later stop tries again
    const std::vector<int> found = station_.search().params()->found();
    tools_.searchProgress(-1);
    frame_.router().refresh();

    if (found.empty()) {
        dialogs().information(QStringLiteral("Подключенных приборов не найдено."),
                              QString::fromUtf8(kCaption), &frame_);
        frame_.setPaneText(0, QStringLiteral("Ready"));
        return;
    }
    QString rest;
    if (found.size() > size_t(kMaxOpened)) {
        rest = QStringLiteral("Неподключенные приборы: ");
        for (size_t i = kMaxOpened; i < found.size(); ++i)
            rest += QStringLiteral("№ %1; ").arg(found[i]);
    }
    openWindowsFor(std::vector<int>(found.begin(),
                                    found.begin() + std::min<size_t>(found.size(), kMaxOpened)));
    frame_.showMaximized();
    // The window system applies the new size asynchronously; tile within that size.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    frame_.tileWindows();
    new TileOnResize(frame_);
    // The overview lists the analyzers beyond the windows opened, up to the window limit.
    if (found.size() > size_t(kMaxOpened))
        tools_.setFoundWithoutWindow(
            std::vector<int>(found.begin() + kMaxOpened,
                             found.begin() + std::min<size_t>(found.size(), zta::kMaxSlots)));
    frame_.connectLine();
    if (!rest.isEmpty())
        dialogs().information(rest, QStringLiteral("Найденых приборов больше 10"), &frame_);
}

void SearchControl::openWindowsFor(const std::vector<int>& found) {
    // The old windows go without a question; their slots are free afterwards.
    const QList<QMdiSubWindow*> old = frame_.mdiArea()->subWindowList();
    for (QMdiSubWindow* child : old) delete child;
    for (int number : found)
        if (!frame_.openWindowFor(number)) break;
}

void SearchControl::onProgress(int number) {
    frame_.setPaneText(0,
                       QString::fromStdString(zta::searchProgressText(number, params()->found())));
    tools_.searchProgress(number);
}

void SearchControl::onFinished(int run) {
    if (!station_.search().isCurrent(run)) return;
    // The results replace every analyzer window. The end can arrive inside the loop of a box
    // or dialog that one of them has open, with that window's code below it: deleting the
    // window now would pull it from under its caller. The results wait until that loop has
    // returned (a dialog just closed may still run a turn of its loop).
    if (QApplication::activeModalWidget() || modalSeen_) {
        modalSeen_ = QApplication::activeModalWidget() != nullptr;
        QTimer::singleShot(kModalRetryMs, this, [this, run] { onFinished(run); });
        return;
    }
    stopSearch();
}

void SearchControl::onLineFailed() {
    frame_.setPaneText(0, QStringLiteral("Ready"));
    tools_.searchProgress(-1);
    frame_.router().refresh();
}

bool SearchControl::onCommand(CommandId id) {
    switch (id) {
        case CommandId::Search:
        case CommandId::ToolSearch:
            startSearch();
            return true;
        case CommandId::StopSearch:
        case CommandId::ToolStopSearch:
            stopSearch();
            return true;
        default:
            return false;
    }
}

bool SearchControl::onUpdateCommand(CommandId, CommandState&) {
    return false;  // the main window's table decides
}

}  // namespace zta
