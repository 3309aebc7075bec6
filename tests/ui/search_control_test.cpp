// SPDX-License-Identifier: GPL-3.0-or-later
// "Поиск" on the main window against simulated analyzers on a pseudo-terminal: the real scan
// thread, the bridge, the real analyzer windows and the poll thread that follows.

#include "app/search_control.h"

#include <QDialog>
#include <QEvent>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "app/station_bridge.h"
#include "device/analyzer_sub_window.h"
#include "device/analyzer_view.h"
#include "link/serial_line.h"
#include "quiet_port.h"
#include "sim/bus.h"
#include "station_support.h"

using namespace zta;

namespace {

constexpr int kLinkUp = 174;
constexpr int kScanLimitMs = 60000;
const QString kSearch = QStringLiteral("Поиск");

zta::PollTiming fastPolling() {
    zta::PollTiming t;
    t.pacingBaseMs = 20;
    t.pacingPerWindowMs = 0;
    return t;
}

// At 19200 baud with a shortened reply time-out (a reply takes 11 ms on the wire): 256 silent
// numbers take 256 x (time-out + 3 ms). The station's own RTS pauses keep a reply that a loaded
// machine delayed past so short a time-out from being taken for the next number's: on a
// pseudo-terminal the automatic choice would leave them out.
void shortenScan(MainWindow* f, int replyTimeoutMs) {
    zta::LineOptions options;
    options.replyTimeoutMs = replyTimeoutMs;
    options.direction = zta::DirectionSetting::Program;
    toolOf<SearchControl>(f).setLineOptions(options);
    f->station().setBaud(4);
}

std::unique_ptr<zta::sim::Bus> busWith(std::initializer_list<int> numbers) {
    auto bus = zta::sim::Bus::openPty();
    if (!bus) return bus;
    for (int n : numbers) {
        zta::sim::AnalyzerConfig a;
        a.address = n;
        a.baud = 19200;
        bus->addAnalyzer(a);
    }
    bus->start();
    return bus;
}

QString pathOf(const zta::sim::Bus& bus) { return QString::fromStdString(bus.portPath()); }

AnalyzerView* viewAt(MainWindow* f, int index) {
    auto* child = qobject_cast<AnalyzerSubWindow*>(f->mdiArea()->subWindowList().value(index));
    return child ? child->view() : nullptr;
}

int progress(MainWindow* f) {
    const zta::SearchParams* p = toolOf<SearchControl>(f).params();
    return p ? p->progress() : -1;
}

// Calls `fn` before each queued call the bridge is about to run (notices of the workers):
// what the window shows between two notices is what the first one left.
class BridgeWatch : public QObject {
  public:
    BridgeWatch(MainWindow* f, std::function<void()> fn)
        : bridge_(&f->station().bridge()), fn_(std::move(fn)) {
        bridge_->installEventFilter(this);
    }
    ~BridgeWatch() override {
        if (bridge_) bridge_->removeEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MetaCall && fn_) fn_();
        return false;
    }

  private:
    QPointer<QObject> bridge_;
    std::function<void()> fn_;
};

// The windows after a search: one per number in slots 0.., titled and numbered, tiled one
// above the other across the full width (never smaller than the form), the main window
// maximized and polling all of them.
void verifyWindowsPolling(MainWindow* f, const std::vector<int>& numbers) {
    const QList<QMdiSubWindow*> children = f->mdiArea()->subWindowList();
    QCOMPARE(children.size(), qsizetype(numbers.size()));
    QCOMPARE(f->block().windowCount(), int(numbers.size()));
    for (int k = 0; k < int(numbers.size()); ++k) {
        const zta::Slot slot = f->block().snapshot(k);
        QCOMPARE(slot.address, numbers[size_t(k)]);
        AnalyzerView* view = viewAt(f, k);
        QVERIFY(view);
        QCOMPARE(slot.analyzer, analyzerIdOf(view));
        QCOMPARE(children[k]->windowTitle(), QStringLiteral("Прибор №%1").arg(numbers[size_t(k)]));
        QCOMPARE(view->numberField()->text(), QString::number(numbers[size_t(k)]));
    }
    QVERIFY(f->windowState().testFlag(Qt::WindowMaximized));
    QVERIFY(f->station().isPolling());
    QVERIFY(!f->station().isSearching());
    QCOMPARE(f->paneText(0), QStringLiteral("Опрос приборов"));

    auto tiled = [f, children] {
        const QSize area = f->mdiArea()->viewport()->size();
        QList<QMdiSubWindow*> byTop = children;
        std::sort(byTop.begin(), byTop.end(),
                  [](auto* a, auto* b) { return a->geometry().top() < b->geometry().top(); });
        int y = 0;
        bool atForm = true;
        for (QMdiSubWindow* c : byTop) {
            const QRect g = c->geometry();
            const QSize form = c->minimumSizeHint();
            if (g.left() != 0 || g.width() != std::max(area.width(), form.width()) ||
                g.top() != y || g.height() < form.height())
                return false;
            atForm = atForm && g.height() == form.height();
            y = g.bottom() + 1;
        }
        // The column fills the area, or each window has its form's height and the rest scrolls.
        return (y <= area.height() && area.height() - y < int(children.size())) || atForm;
    };
    QTRY_VERIFY_WITH_TIMEOUT(tiled(), 5000);

    for (int k = 0; k < int(numbers.size()); ++k)
        QTRY_COMPARE_WITH_TIMEOUT(viewAt(f, k)->iconOf(FormField::LinkIcon), kLinkUp, 20000);
}

// A port whose settings are always refused; it notes how it was opened.
class RefusingPort : public zta::testing::QuietPort {
  public:
    RefusingPort(std::atomic<int>& opens, std::atomic<int>& direction)
        : opens_(opens), direction_(direction) {}
    zta::OpenResult open(const std::string&, unsigned, zta::DirectionSetting direction,
                         zta::DirectionMode&) override {
        ++opens_;
        direction_ = int(direction);
        return {zta::OpenFailure::SettingsRefused, 22};
    }
    bool write(const uint8_t*, size_t) override { return false; }
    size_t read(uint8_t*, size_t, int) override { return 0; }

  private:
    std::atomic<int>& opens_;
    std::atomic<int>& direction_;
};

// A port that opens and then keeps every read waiting until released (at most 30 s).
class StuckPort : public zta::testing::QuietPort {
  public:
    struct Gate {
        std::mutex mutex;
        std::condition_variable changed;
        bool reading = false;
        bool released = false;
        void release() {
            std::lock_guard lock(mutex);
            released = true;
            changed.notify_all();
        }
        bool isReading() {
            std::lock_guard lock(mutex);
            return reading;
        }
    };
    explicit StuckPort(Gate& gate) : gate_(gate) {}
    zta::OpenResult open(const std::string&, unsigned, zta::DirectionSetting,
                         zta::DirectionMode& mode) override {
        mode = zta::DirectionMode::Driver;
        return {};
    }
    bool write(const uint8_t*, size_t) override { return true; }
    size_t read(uint8_t*, size_t, int) override {
        std::unique_lock lock(gate_.mutex);
        gate_.reading = true;
        gate_.changed.wait_for(lock, std::chrono::seconds(30), [this] { return gate_.released; });
        return 0;
    }

  private:
    Gate& gate_;
};

}  // namespace

class SearchControlTest : public QObject {
    Q_OBJECT
  private slots:
    void noAnalyzerKeepsTheOldWindows();
    void twelveAnalyzersOpenTenWindowsAndListTheRest();
    void progressThenStopOpensWindowsForWhatWasFound();
    void endWaitsForAnOpenDialog();
    void scanOpensThroughTheStationsPortAndDirection();
    void noPortRefusesTheSearch();
    void stopThatTimesOutKeepsSearching();
    void closeWhileSearching();
    void portFailureDropsTheSearch_data();
    void portFailureDropsTheSearch();
};

void SearchControlTest::noAnalyzerKeepsTheOldWindows() {
    auto bus = busWith({});
    QVERIFY(bus);
    TestStation st({pathOf(*bus)}, makeAnalyzerWindowFactory());
    MainWindow* f = st.frame;
    shortenScan(f, 15);  // nothing answers
    QVERIFY(f->openNewDocument());
    viewAt(f, 1)->numberField()->setText(QStringLiteral("7"));
    const QList<QMdiSubWindow*> before = f->mdiArea()->subWindowList();

    QStringList shown;
    BridgeWatch watch(f, [&] { shown.push_back(f->paneText(0)); });
    QVERIFY(f->router().dispatch(CommandId::Search));
    QVERIFY(f->station().isSearching());
    QTRY_VERIFY_WITH_TIMEOUT(!f->station().isSearching(), kScanLimitMs);
    QVERIFY(shown.contains(QStringLiteral("Поиск приборов. Прибор № 0")));
    QVERIFY(shown.contains(QStringLiteral("Поиск приборов. Прибор № 255")));

    QCOMPARE(progress(f), 255);
    QCOMPARE(st.dialogs.boxes().size(), size_t(1));
    const ScriptedDialogs::Box& box = st.dialogs.boxes()[0];
    QCOMPARE(box.text, QStringLiteral("Подключенных приборов не найдено."));
    QCOMPARE(box.caption, kSearch);
    QCOMPARE(box.icon, Dialogs::Icon::Information);
    QCOMPARE(f->paneText(0), QStringLiteral("Ready"));
    QCOMPARE(f->mdiArea()->subWindowList(), before);
    QCOMPARE(f->block().windowCount(), 2);
    QCOMPARE(f->block().snapshot(1).address, 7);
    QVERIFY(!f->station().isPolling());
}

void SearchControlTest::twelveAnalyzersOpenTenWindowsAndListTheRest() {
    auto bus = busWith({5, 9, 30, 40, 60, 80, 100, 120, 140, 160, 200, 201});
    QVERIFY(bus);
    TestStation st({pathOf(*bus)}, makeAnalyzerWindowFactory());
    MainWindow* f = st.frame;
    f->station().setPollTiming(fastPolling());
    shortenScan(f, 30);
    QPointer<QMdiSubWindow> first = f->mdiArea()->subWindowList().value(0);
    QVERIFY(first);

    QVERIFY(f->router().dispatch(CommandId::ToolSearch));
    QTRY_VERIFY_WITH_TIMEOUT(!f->station().isSearching(), kScanLimitMs);
    QCOMPARE(progress(f), 255);
    QVERIFY(!first);  // the window that was open before the search has gone

    verifyWindowsPolling(f, {5, 9, 30, 40, 60, 80, 100, 120, 140, 160});
    if (QTest::currentTestFailed()) return;
    QCOMPARE(st.dialogs.boxes().size(), size_t(1));
    const ScriptedDialogs::Box& box = st.dialogs.boxes()[0];
    QCOMPARE(box.text, QStringLiteral("Неподключенные приборы: № 200; № 201; "));
    QCOMPARE(box.caption, QStringLiteral("Найденых приборов больше 10"));
    QCOMPARE(box.icon, Dialogs::Icon::Information);

    // "Поиск" while polling is refused and starts nothing.
    st.dialogs.clear();
    toolOf<SearchControl>(f).startSearch();
    QCOMPARE(st.dialogs.boxes().size(), size_t(1));
    QCOMPARE(st.dialogs.boxes()[0].text, QStringLiteral("Остановите опрос приборов."));
    QCOMPARE(st.dialogs.boxes()[0].caption, kSearch);
    QVERIFY(!f->station().isSearching());
    QVERIFY(f->station().isPolling());
}

void SearchControlTest::progressThenStopOpensWindowsForWhatWasFound() {
    // Nothing answers between 5 and 60, so the list stays "3,5," well past 17.
    auto bus = busWith({3, 5, 60});
    QVERIFY(bus);
    TestStation st({pathOf(*bus)}, makeAnalyzerWindowFactory());
    MainWindow* f = st.frame;
    f->station().setPollTiming(fastPolling());
    shortenScan(f, 30);
    QVERIFY(f->openNewDocument());
    QPointer<QMdiSubWindow> second = f->mdiArea()->subWindowList().value(1);

    QStringList shown;
    BridgeWatch watch(f, [&] {
        if (shown.isEmpty() || shown.back() != f->paneText(0)) shown.push_back(f->paneText(0));
    });
    QVERIFY(f->router().dispatch(CommandId::Search));
    // A second "Поиск" while the scan runs is refused.
    toolOf<SearchControl>(f).startSearch();
    QCOMPARE(st.dialogs.boxes().size(), size_t(1));
    QCOMPARE(st.dialogs.boxes()[0].text, QStringLiteral("Поиск идет."));
    QCOMPARE(st.dialogs.boxes()[0].caption, kSearch);
    st.dialogs.clear();

    QTRY_VERIFY_WITH_TIMEOUT(progress(f) >= 20, kScanLimitMs);
    QVERIFY(f->router().dispatch(CommandId::StopSearch));
    QVERIFY(!f->station().isSearching());
    QVERIFY(progress(f) < 60);
    QVERIFY(shown.contains(QStringLiteral("Поиск приборов. Прибор № 17 ; Найдены №№: 3,5,")));
    QVERIFY(!second);

    verifyWindowsPolling(f, {3, 5});
    if (QTest::currentTestFailed()) return;
    QVERIFY(st.dialogs.boxes().empty());
    // Notices the scan had posted before it stopped change nothing any more.
    QTest::qWait(200);
    QCOMPARE(f->paneText(0), QStringLiteral("Опрос приборов"));
}

void SearchControlTest::endWaitsForAnOpenDialog() {
    auto bus = busWith({1});
    QVERIFY(bus);
    TestStation st({pathOf(*bus)}, makeAnalyzerWindowFactory());
    MainWindow* f = st.frame;
    f->station().setPollTiming(fastPolling());
    shortenScan(f, 15);
    QPointer<AnalyzerView> view = viewAt(f, 0);

    // A dialog runs its own loop above an analyzer window's code when the end notice comes;
    // it closes a little later. The window must still be there when the dialog returns.
    QDialog dialog;
    bool closing = false;
    BridgeWatch watch(f, [&] {
        const zta::SearchParams* p = toolOf<SearchControl>(f).params();
        if (!closing && dialog.isVisible() && p && p->resultsFinal()) {
            closing = true;  // the next notice is the end
            QTimer::singleShot(100, &dialog, &QDialog::reject);
        }
    });
    bool viewOutlivedDialog = false;
    QVERIFY(f->router().dispatch(CommandId::Search));
    QTimer::singleShot(0, f, [&] {
        dialog.exec();
        viewOutlivedDialog = !view.isNull();
    });
    QTRY_VERIFY_WITH_TIMEOUT(closing && !dialog.isVisible(), kScanLimitMs);
    QVERIFY(viewOutlivedDialog);
    QTRY_VERIFY_WITH_TIMEOUT(!f->station().isSearching(), 5000);
    verifyWindowsPolling(f, {1});
}

void SearchControlTest::scanOpensThroughTheStationsPortAndDirection() {
    struct DialogsGuard {
        ScriptedDialogs prompter;
        DialogsGuard() { setDialogs(&prompter); }
        ~DialogsGuard() { setDialogs(nullptr); }
    } boxes;
    QTemporaryDir dir;
    StationOptions options;
    options.listSystemPorts = false;
    options.systemPorts = {QStringLiteral("/dev/zta-scripted")};
    options.calDataPath = dir.filePath(QStringLiteral("CalDataK7.cfg"));
    options.programFolder = dir.path();
    options.direction = zta::DirectionSetting::Program;  // as --rs485 program
    std::atomic<int> opens{0};
    std::atomic<int> direction{-1};
    StationApplication app(options);
    app.initInstance(std::make_unique<RecordingWindowFactory>(), false);
    MainWindow* f = app.mainFrame();
    f->station().setPortFactory([&] { return std::make_unique<RefusingPort>(opens, direction); });

    toolOf<SearchControl>(f).startSearch();
    QTRY_VERIFY_WITH_TIMEOUT(!f->station().isSearching(), 10000);
    QCOMPARE(opens.load(), 1);
    QCOMPARE(direction.load(), int(zta::DirectionSetting::Program));
    QCOMPARE(boxes.prompter.boxes().size(), size_t(1));
    QCOMPARE(boxes.prompter.boxes()[0].text, QStringLiteral("Ошибка SetCommState № 22"));
    QCOMPARE(boxes.prompter.boxes()[0].caption, kSearch);
    QCOMPARE(f->paneText(0), QStringLiteral("Ready"));
}

void SearchControlTest::noPortRefusesTheSearch() {
    TestStation st(QStringList{});
    st.dialogs.clear();
    toolOf<SearchControl>(st.frame).startSearch();
    QVERIFY(!st.frame->station().isSearching());
    QCOMPARE(st.dialogs.boxes().size(), size_t(1));
    QCOMPARE(st.dialogs.boxes()[0].text, QStringLiteral("Нет найденных COM портов"));
    QCOMPARE(st.dialogs.boxes()[0].caption, kSearch);
    QCOMPARE(st.dialogs.boxes()[0].icon, Dialogs::Icon::Information);
}

void SearchControlTest::stopThatTimesOutKeepsSearching() {
    StuckPort::Gate gate;
    TestStation st({QStringLiteral("/dev/zta-stuck")});
    MainWindow* f = st.frame;
    f->station().setPortFactory([&gate] { return std::make_unique<StuckPort>(gate); });
    const QList<QMdiSubWindow*> before = f->mdiArea()->subWindowList();

    toolOf<SearchControl>(f).startSearch();
    QTRY_VERIFY_WITH_TIMEOUT(gate.isReading(), 10000);
    // The thread cannot end within the 5000 ms: no results, still searching, stop set.
    toolOf<SearchControl>(f).stopSearch();
    QVERIFY(f->station().isSearching());
    QVERIFY(f->router().query(CommandId::StopSearch).enabled);
    QVERIFY(st.dialogs.boxes().empty());
    QCOMPARE(f->mdiArea()->subWindowList(), before);

    // A later stop waits again and takes the results once the thread has ended.
    gate.release();
    toolOf<SearchControl>(f).stopSearch();
    QVERIFY(!f->station().isSearching());
    QCOMPARE(progress(f), 0);
    QCOMPARE(st.dialogs.boxes().size(), size_t(1));
    QCOMPARE(st.dialogs.boxes()[0].text, QStringLiteral("Подключенных приборов не найдено."));
    QCOMPARE(f->mdiArea()->subWindowList(), before);
}

void SearchControlTest::closeWhileSearching() {
    auto bus = busWith({1});
    QVERIFY(bus);
    auto st = std::make_unique<TestStation>(QStringList{pathOf(*bus)});
    MainWindow* f = st->frame;
    shortenScan(f, 30);
    QVERIFY(f->router().dispatch(CommandId::Search));
    QTRY_VERIFY_WITH_TIMEOUT(progress(f) >= 3, kScanLimitMs);
    QVERIFY(f->router().dispatch(CommandId::Exit));
    QVERIFY(!f->station().isSearching());
    QVERIFY(!f->station().isPolling());
    QTest::qWait(100);  // notices the scan had posted find no search to act on
    QVERIFY(st->dialogs.boxes().empty());
    QVERIFY(!f->station().isPolling());
    st.reset();
}

void SearchControlTest::portFailureDropsTheSearch_data() {
    QTest::addColumn<bool>("busy");
    QTest::addColumn<QString>("format");
    QTest::newRow("busy") << true << QStringLiteral("Порт %1 занят.");
    QTest::newRow("missing") << false << QStringLiteral("Порт %1 указан неверно");
}

void SearchControlTest::portFailureDropsTheSearch() {
    QFETCH(bool, busy);
    QFETCH(QString, format);
    auto bus = busWith({2});
    QVERIFY(bus);
    const QString good = pathOf(*bus);
    const QString bad = busy ? good : QStringLiteral("/dev/zta-no-such-port");
    zta::SerialLine holder;
    if (busy) QVERIFY(holder.open(good.toStdString(), 9600).ok());

    TestStation st({bad, good}, makeAnalyzerWindowFactory());
    MainWindow* f = st.frame;
    f->station().setPollTiming(fastPolling());
    shortenScan(f, 30);
    const QList<QMdiSubWindow*> before = f->mdiArea()->subWindowList();

    // The failed scan posts its failure and then its end. Once the failure has dropped it,
    // a new scan starts before that end arrives: the late end must not finish the new one.
    bool restarted = false;
    BridgeWatch watch(f, [&] {
        if (restarted || f->station().isSearching() || st.dialogs.boxes().empty()) return;
        restarted = true;
        QCOMPARE(f->paneText(0), QStringLiteral("Ready"));
        holder.close();
        f->station().setPortName(good);
        toolOf<SearchControl>(f).startSearch();
    });
    QVERIFY(f->router().dispatch(CommandId::Search));
    QTRY_VERIFY_WITH_TIMEOUT(restarted, 10000);
    QCOMPARE(st.dialogs.boxes().size(), size_t(1));
    const ScriptedDialogs::Box& box = st.dialogs.boxes()[0];
    QCOMPARE(box.text, format.arg(bad));
    QCOMPARE(box.caption, kSearch);
    QCOMPARE(box.icon, Dialogs::Icon::Error);
    QCOMPARE(f->mdiArea()->subWindowList(), before);

    QVERIFY(f->station().isSearching());
    QTRY_VERIFY_WITH_TIMEOUT(progress(f) >= 3, kScanLimitMs);
    QVERIFY(f->station().isSearching());
    QVERIFY(f->router().dispatch(CommandId::StopSearch));
    verifyWindowsPolling(f, {2});
    if (QTest::currentTestFailed()) return;
    QCOMPARE(st.dialogs.boxes().size(), size_t(1));
}

QTEST_MAIN(SearchControlTest)
#include "search_control_test.moc"
