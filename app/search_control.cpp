// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/search_control.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QTimer>

#include "app/bus_tools.h"
#include "app/main_window.h"
#include "app/station_bridge.h"
#include "device/analyzer_sub_window.h"
#include "device/analyzer_view.h"
#include "poll/worker.h"
#include "ui/dialogs.h"

namespace zta {

namespace {
constexpr int kStopSearchWaitMs = 5000;
constexpr int kFailureWaitMs = 10000;
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

// One search: its own parameter block, the thread and the sink it reports through. Every
// notice names its run, so a late notice of an earlier run changes nothing.
class SearchControl::Run : public zta::SearchSink {
  public:
    Run(SearchControl& control, int id) : control_(control), id_(id) {}
    ~Run() override {
        params.requestStop();
        worker.waitFinished(kFailureWaitMs);
    }

    void progress(int number) override {
        post([number](SearchControl* c, int id) { c->onProgress(id, number); });
    }
    void finished() override {
        post([](SearchControl* c, int id) { c->onFinished(id); });
    }
    void lineFailed() override {
        post([](SearchControl* c, int id) { c->onLineFailed(id); });
    }
    void showError(const std::string& text, const std::string& caption) override {
        bridge().showError(text, caption);
    }

    UiBridge& bridge() { return control_.frame_.bridge(); }
    int id() const { return id_; }

    zta::SearchParams params;
    zta::WorkerThread worker;

  private:
    // Only the notices of the current run act: each names its run.
    template <typename Call>
    void post(Call call) {
        SearchControl* c = &control_;
        const int id = id_;
        bridge().post([c, id, call] { call(c, id); });
    }

    SearchControl& control_;
    int id_;
};

SearchControl::SearchControl(MainWindow& frame) : frame_(frame) {
    lineOptions_.direction = frame.direction();  // as the poll thread's
}

SearchControl::~SearchControl() = default;

const zta::SearchParams* SearchControl::params() const {
    if (run_) return &run_->params;
    return lastRun_ ? &lastRun_->params : nullptr;
}

void SearchControl::startSearch() {
    if (frame_.noPorts()) {
        dialogs().information(QStringLiteral("Нет найденных COM портов"),
                              QString::fromUtf8(kCaption), &frame_);
        return;
    }
    if (frame_.isPolling()) {
        dialogs().information(QStringLiteral("Остановите опрос приборов."),
                              QString::fromUtf8(kCaption), &frame_);
        return;
    }
    if (run_) {
        dialogs().information(QStringLiteral("Поиск идет."), QString::fromUtf8(kCaption), &frame_);
        return;
    }
    modalSeen_ = false;
    auto run = std::make_unique<Run>(*this, ++lastId_);
    run->params.prepare(frame_.block().portName(), frame_.block().baudRate());
    Run* r = run.get();
    zta::LineOptions options = lineOptions_;
    options.observer = &frame_.busTools().ring();
    const zta::PortFactory factory = frame_.portFactory();
    if (!r->worker.start(
            [r, options, factory] { zta::searchThreadProc(r->params, *r, options, factory); }))
        return;
    run_ = std::move(run);
    frame_.busTools().setFoundWithoutWindow({});
    frame_.busTools().searchProgress(0);
    frame_.router().refresh();
}

bool SearchControl::waitRun(int timeoutMs) {
    return frame_.bridge().waitForWorker(run_->worker, timeoutMs);
}

void SearchControl::stopSearch() {
    if (!run_) return;
    run_->params.requestStop();
    // Even after its end report the thread is waited for (briefly): results are read only
    // once nothing can write them any more.
    if (!waitRun(kStopSearchWaitMs))
        return;  // still searching, with the stop request set; a later stop tries again
    lastRun_ = std::move(run_);
    const std::vector<int> found = lastRun_->params.found();
    frame_.busTools().searchProgress(-1);
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
        frame_.busTools().setFoundWithoutWindow(
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
    for (size_t k = 0; k < found.size(); ++k) {
        QMdiSubWindow* child = frame_.openNewDocument();
        if (!child) break;
        auto* analyzer = qobject_cast<AnalyzerSubWindow*>(child);
        if (analyzer && analyzer->view())
            analyzer->view()->numberField()->setText(QString::number(found[k]));
        else
            frame_.block().setAddress(int(k), found[k]);
    }
}

void SearchControl::stopForClose(int timeoutMs) {
    if (!run_) return;
    run_->params.requestStop();
    if (waitRun(timeoutMs))
        lastRun_ = std::move(run_);
    else
        abandoned_.push_back(std::move(run_));
}

void SearchControl::onProgress(int run, int number) {
    if (!run_ || run_->id() != run) return;
    frame_.setPaneText(
        0, QString::fromStdString(zta::searchProgressText(number, run_->params.found())));
    frame_.busTools().searchProgress(number);
}

void SearchControl::onFinished(int run) {
    if (!run_ || run_->id() != run) return;
    // The results replace every analyzer window. The end can arrive inside the loop of a box
    // or dialog that one of them has open, with that window's code below it: deleting the
    // window now would pull it from under its caller. The results wait until that loop has
    // returned (a dialog just closed may still run a turn of its loop).
    if (QApplication::activeModalWidget() || modalSeen_) {
        modalSeen_ = QApplication::activeModalWidget() != nullptr;
        QTimer::singleShot(kModalRetryMs, &frame_, [this, run] { onFinished(run); });
        return;
    }
    stopSearch();
}

void SearchControl::onLineFailed(int run) {
    if (!run_ || run_->id() != run) return;
    // The window's polling goes as well (it cannot run together with a search; kept for
    // symmetry with the poll thread's report).
    run_->params.requestStop();
    if (waitRun(kFailureWaitMs))
        lastRun_ = std::move(run_);
    else
        abandoned_.push_back(std::move(run_));
    frame_.setPaneText(0, QStringLiteral("Ready"));
    frame_.busTools().searchProgress(-1);
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
