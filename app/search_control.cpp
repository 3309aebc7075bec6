#include "app/search_control.h"
#include "app/main_window.h"

#include "app/bus_tools.h"

#include <QApplication>
#include <QEvent>
#include <QCoreApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>

#include "ui/dialogs.h"
#include "app/station_bridge.h"
#include "device/analyzer_sub_window.h"
#include "device/analyzer_view.h"
#include "poll/worker.h"

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
                if (frame)
                    frame->TileWindows();
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
        params.RequestStop();
        worker.WaitFinished(kFailureWaitMs);
    }

    void Progress(int number) override {
        Post([number](SearchControl* c, int id) { c->OnProgress(id, number); });
    }
    void Finished() override {
        Post([](SearchControl* c, int id) { c->OnFinished(id); });
    }
    void LineFailed() override {
        Post([](SearchControl* c, int id) { c->OnLineFailed(id); });
    }
    void ShowError(const std::string& text, const std::string& caption) override {
        bridge().ShowError(text, caption);
    }

    UiBridge& bridge() { return control_.frame_.bridge(); }
    int id() const { return id_; }

    zta::SearchParams params;
    zta::WorkerThread worker;

private:
    // Only the notices of the current run act: each names its run.
    template <typename Call>
    void Post(Call call) {
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
    if (run_)
        return &run_->params;
    return lastRun_ ? &lastRun_->params : nullptr;
}

void SearchControl::StartSearch() {
    if (frame_.noPorts()) {
        dialogs().Information(QStringLiteral("Нет найденных COM портов"),
                                  QString::fromUtf8(kCaption), &frame_);
        return;
    }
    if (frame_.IsPolling()) {
        dialogs().Information(QStringLiteral("Остановите опрос приборов."),
                                  QString::fromUtf8(kCaption), &frame_);
        return;
    }
    if (run_) {
        dialogs().Information(QStringLiteral("Поиск идет."), QString::fromUtf8(kCaption),
                                  &frame_);
        return;
    }
    modalSeen_ = false;
    auto run = std::make_unique<Run>(*this, ++lastId_);
    run->params.Prepare(frame_.block().PortName(), frame_.block().BaudRate());
    Run* r = run.get();
    zta::LineOptions options = lineOptions_;
    options.observer = &frame_.busTools().ring();
    const zta::PortFactory factory = frame_.portFactory();
    if (!r->worker.Start([r, options, factory] {
            zta::SearchThreadProc(r->params, *r, options, factory);
        }))
        return;
    run_ = std::move(run);
    frame_.busTools().SetFoundWithoutWindow({});
    frame_.busTools().SearchProgress(0);
    frame_.router().refresh();
}

bool SearchControl::WaitRun(int timeoutMs) {
    return frame_.bridge().waitForWorker(run_->worker, timeoutMs);
}

void SearchControl::StopSearch() {
    if (!run_)
        return;
    run_->params.RequestStop();
    // Even after its end report the thread is waited for (briefly): results are read only
    // once nothing can write them any more.
    if (!WaitRun(kStopSearchWaitMs))
        return;  // still searching, with the stop request set; a later stop tries again
    lastRun_ = std::move(run_);
    const std::vector<int> found = lastRun_->params.Found();
    frame_.busTools().SearchProgress(-1);
    frame_.router().refresh();

    if (found.empty()) {
        dialogs().Information(QStringLiteral("Подключенных приборов не найдено."),
                                  QString::fromUtf8(kCaption), &frame_);
        frame_.SetPaneText(0, QStringLiteral("Ready"));
        return;
    }
    QString rest;
    if (found.size() > size_t(kMaxOpened)) {
        rest = QStringLiteral("Неподключенные приборы: ");
        for (size_t i = kMaxOpened; i < found.size(); ++i)
            rest += QStringLiteral("№ %1; ").arg(found[i]);
    }
    OpenWindowsFor(std::vector<int>(found.begin(),
                                    found.begin() + std::min<size_t>(found.size(), kMaxOpened)));
    frame_.showMaximized();
    // The window system applies the new size asynchronously; tile within that size.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    frame_.TileWindows();
    new TileOnResize(frame_);
    // The overview lists the analyzers beyond the windows opened, up to the window limit.
    if (found.size() > size_t(kMaxOpened))
        frame_.busTools().SetFoundWithoutWindow(std::vector<int>(
            found.begin() + kMaxOpened,
            found.begin() + std::min<size_t>(found.size(), zta::kMaxSlots)));
    frame_.Connect();
    if (!rest.isEmpty())
        dialogs().Information(rest, QStringLiteral("Найденых приборов больше 10"), &frame_);
}

void SearchControl::OpenWindowsFor(const std::vector<int>& found) {
    // The old windows go without a question; their slots are free afterwards.
    const QList<QMdiSubWindow*> old = frame_.mdiArea()->subWindowList();
    for (QMdiSubWindow* child : old)
        delete child;
    for (size_t k = 0; k < found.size(); ++k) {
        QMdiSubWindow* child = frame_.OpenNewDocument();
        if (!child)
            break;
        auto* analyzer = qobject_cast<AnalyzerSubWindow*>(child);
        if (analyzer && analyzer->view())
            analyzer->view()->numberField()->setText(QString::number(found[k]));
        else
            frame_.block().SetAddress(int(k), found[k]);
    }
}

void SearchControl::StopForClose(int timeoutMs) {
    if (!run_)
        return;
    run_->params.RequestStop();
    if (WaitRun(timeoutMs))
        lastRun_ = std::move(run_);
    else
        abandoned_.push_back(std::move(run_));
}

void SearchControl::OnProgress(int run, int number) {
    if (!run_ || run_->id() != run)
        return;
    frame_.SetPaneText(0, QString::fromStdString(
                              zta::SearchProgressText(number, run_->params.Found())));
    frame_.busTools().SearchProgress(number);
}

void SearchControl::OnFinished(int run) {
    if (!run_ || run_->id() != run)
        return;
    // The results replace every analyzer window. The end can arrive inside the loop of a box
    // or dialog that one of them has open, with that window's code below it: deleting the
    // window now would pull it from under its caller. The results wait until that loop has
    // returned (a dialog just closed may still run a turn of its loop).
    if (QApplication::activeModalWidget() || modalSeen_) {
        modalSeen_ = QApplication::activeModalWidget() != nullptr;
        QTimer::singleShot(kModalRetryMs, &frame_, [this, run] { OnFinished(run); });
        return;
    }
    StopSearch();
}

void SearchControl::OnLineFailed(int run) {
    if (!run_ || run_->id() != run)
        return;
    // The window's polling goes as well (it cannot run together with a search; kept for
    // symmetry with the poll thread's report).
    run_->params.RequestStop();
    if (WaitRun(kFailureWaitMs))
        lastRun_ = std::move(run_);
    else
        abandoned_.push_back(std::move(run_));
    frame_.SetPaneText(0, QStringLiteral("Ready"));
    frame_.busTools().SearchProgress(-1);
    frame_.router().refresh();
}

bool SearchControl::OnCommand(CommandId id) {
    switch (id) {
    case CommandId::Search:
    case CommandId::ToolSearch: StartSearch(); return true;
    case CommandId::StopSearch:
    case CommandId::ToolStopSearch: StopSearch(); return true;
    default: return false;
    }
}

bool SearchControl::OnUpdateCommand(CommandId, CommandState&) {
    return false;  // the main window's table decides
}

}  // namespace zta
