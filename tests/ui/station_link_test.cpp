// SPDX-License-Identifier: GPL-3.0-or-later
// The station against simulated analyzers on a pseudo-terminal: the real poll thread, the real
// analyzer windows, the bridge between them.

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>
#include <chrono>
#include <thread>

#include "app/bus_tools.h"
#include "app/search_control.h"
#include "app/station_bridge.h"
#include "device/analyzer_document.h"
#include "device/analyzer_sub_window.h"
#include "device/analyzer_view.h"
#include "device/audit_log.h"
#include "sim/bus.h"
#include "station_support.h"
#include "ui/bus_overview_dock.h"

using namespace zta;

namespace {

constexpr int kLinkUp = 174;
constexpr int kLinkDown = 175;

// Records every box like the scripted one; the first error box stays open while `whileOpen`
// runs, as a box on screen that nobody answers would.
class HoldingDialogs : public ScriptedDialogs {
  public:
    std::function<void()> whileOpen;
    int show(const QString& text, const QString& caption, Icon icon, int buttons,
             QWidget* owner) override {
        const int result = ScriptedDialogs::show(text, caption, icon, buttons, owner);
        if (icon == Icon::Error && whileOpen) std::exchange(whileOpen, nullptr)();
        return result;
    }
};

// The concentration of the record line `index` (empty while there is no such line) and the
// number of lines.
QByteArray concentrationOnLine(const QString& path, int index, int* lineCount = nullptr) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QList<QByteArray> lines = f.readAll().split('\n');
    if (lineCount) *lineCount = static_cast<int>(lines.size()) - 1;
    return index < static_cast<int>(lines.size()) - 1 ? lines[index].split(' ').value(4)
                                                      : QByteArray();
}

AnalyzerView* viewAt(MainWindow* f, int index) {
    auto* child = qobject_cast<AnalyzerSubWindow*>(f->mdiArea()->subWindowList().at(index));
    return child ? child->view() : nullptr;
}

}  // namespace

class StationLinkTest : public QObject {
    Q_OBJECT
  private slots:
    void threeAnalyzersComeUpAndOneGoesSilent();
    void disconnectDropsTheReadingsStillQueued();
    void closeWhilePolling();
    void searchStoppedEarlyOpensWindowsForWhatItFound();
    void searchFindsNothingKeepsWindows();
    void unpluggedAdapterShowsWhileItsBoxWaits();
    void aKilledSimulatorLosesTheLineAtOnce();
    void aNewNumberShowsNothingOfTheOldAnalyzer();
    void theOverviewShowsWhatTheLineItselfDid();
};

void StationLinkTest::threeAnalyzersComeUpAndOneGoesSilent() {
    auto bus = zta::sim::Bus::openPty();
    QVERIFY(bus);
    for (int address : {3, 7, 12}) {
        zta::sim::AnalyzerConfig a;
        a.address = address;
        a.model = address == 7 ? zta::sim::Model::Standard : zta::sim::Model::Extended;
        bus->addAnalyzer(a);
    }
    bus->start();

    TestStation st({QString::fromStdString(bus->portPath())}, makeAnalyzerWindowFactory());
    MainWindow* f = st.frame;
    f->station().setPollTiming(fastTiming());
    QVERIFY(f->openNewDocument());
    QVERIFY(f->openNewDocument());
    const int numbers[3] = {3, 7, 12};
    for (int i = 0; i < 3; ++i) {
        AnalyzerView* v = viewAt(f, i);
        QVERIFY(v);
        QCOMPARE(v->iconOf(FormField::LinkIcon), kLinkDown);
        v->numberField()->setText(QString::number(numbers[i]));
        QCOMPARE(f->block().snapshot(i).address, numbers[i]);
    }
    f->tileWindows();

    f->router().dispatch(CommandId::Connect);
    QVERIFY(f->station().isPolling());
    for (int i = 0; i < 3; ++i)
        QTRY_COMPARE_WITH_TIMEOUT(viewAt(f, i)->iconOf(FormField::LinkIcon), kLinkUp, 15000);
    QCOMPARE(f->mdiArea()->subWindowList().at(0)->windowTitle(), QStringLiteral("Прибор №3"));

    bus->setFault(7, zta::sim::Fault::Silent);
    QTRY_COMPARE_WITH_TIMEOUT(viewAt(f, 1)->iconOf(FormField::LinkIcon), kLinkDown, 20000);
    QCOMPARE(viewAt(f, 0)->iconOf(FormField::LinkIcon), kLinkUp);
    QCOMPARE(viewAt(f, 2)->iconOf(FormField::LinkIcon), kLinkUp);

    f->router().dispatch(CommandId::Disconnect);
    QVERIFY(!f->station().isPolling());
    QCOMPARE(f->paneText(0), QStringLiteral("Ready"));
    for (int i = 0; i < 3; ++i) QCOMPARE(viewAt(f, i)->iconOf(FormField::LinkIcon), kLinkDown);
    QVERIFY(st.dialogs.boxes().empty());
}

void StationLinkTest::disconnectDropsTheReadingsStillQueued() {
    auto bus = zta::sim::Bus::openPty();
    QVERIFY(bus);
    zta::sim::AnalyzerConfig a;
    a.address = 0;
    bus->addAnalyzer(a);
    bus->start();

    TestStation st({QString::fromStdString(bus->portPath())});
    MainWindow* f = st.frame;
    f->station().setPollTiming(fastTiming());
    f->connectLine();
    RecordingView* view = st.view(0);
    QTRY_VERIFY_WITH_TIMEOUT(view->count(NoticeDataChanged) >= 1, 10000);

    // The UI thread is busy without its event loop while the poll thread goes on: its readings
    // wait in the queue when Disconnect begins, and none of them may refill the emptied window.
    const size_t requests = bus->log().size();
    QVERIFY(bus->waitFor([&](const auto& log) { return log.size() >= requests + 6; }, 10000));
    const int before = view->count(NoticeDataChanged);
    f->disconnectLine();
    QVERIFY(!f->station().isPolling());
    QCOMPARE(view->notices.back().code, int(NoticeDisconnected));
    QTest::qWait(0);
    QCoreApplication::processEvents();
    QCOMPARE(view->count(NoticeDataChanged), before);
    QCOMPARE(view->notices.back().code, int(NoticeDisconnected));
    QCOMPARE(view->count(NoticeDisconnected), 1);

    // Asked from inside a reading's delivery (as a box's event loop could), a stop and a close
    // do not wait for anything, and the window does not go under the delivery.
    f->connectLine();
    bool nestedDone = false;
    view->onNotice = [&](int code) {
        if (code != NoticeDataChanged || nestedDone) return;
        nestedDone = true;
        f->disconnectLine();
        f->router().dispatch(CommandId::Exit);
    };
    QTRY_VERIFY_WITH_TIMEOUT(nestedDone, 10000);
    QVERIFY(!f->station().isPolling());
    QVERIFY(!f->isVisible());
    QCOMPARE(f->block().windowCount(), 0);
}

void StationLinkTest::closeWhilePolling() {
    auto bus = zta::sim::Bus::openPty();
    QVERIFY(bus);
    zta::sim::AnalyzerConfig a;
    a.address = 0;
    bus->addAnalyzer(a);
    bus->start();

    auto st = std::make_unique<TestStation>(QStringList{QString::fromStdString(bus->portPath())},
                                            makeAnalyzerWindowFactory());
    MainWindow* f = st->frame;
    f->station().setPollTiming(fastTiming());
    for (int i = 0; i < 5; ++i) f->openNewDocument();
    f->connectLine();
    QTRY_COMPARE_WITH_TIMEOUT(viewAt(f, 0)->iconOf(FormField::LinkIcon), kLinkUp, 10000);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // Exit while polling: the thread is stopped before the windows go.
    f->router().dispatch(CommandId::Exit);
    QVERIFY(!f->station().isPolling());
    QVERIFY(QFile::exists(st->dir.filePath(QStringLiteral("CalDataK7.cfg"))));
    st.reset();  // windows and block go; nothing may still be polling them
}

namespace {

std::unique_ptr<zta::sim::Bus> busWith(std::initializer_list<int> addresses) {
    auto bus = zta::sim::Bus::openPty();
    if (!bus) return bus;
    for (int address : addresses) {
        zta::sim::AnalyzerConfig a;
        a.address = address;
        a.baud = 19200;
        bus->addAnalyzer(a);
    }
    bus->start();
    return bus;
}

void fastSearch(MainWindow* f) {
    zta::LineOptions line;
    line.replyTimeoutMs = 100;  // generous for a loaded machine; these searches stop early
    toolOf<SearchControl>(f).setLineOptions(line);
    f->station().setPollTiming(fastTiming());
    f->station().setBaud(4);
}

}  // namespace

void StationLinkTest::searchStoppedEarlyOpensWindowsForWhatItFound() {
    // 200 lies far enough behind 30 that a slow window thread still stops the search before it.
    auto bus = busWith({5, 9, 30, 200});
    QVERIFY(bus);
    TestStation st({QString::fromStdString(bus->portPath())}, makeAnalyzerWindowFactory());
    MainWindow* f = st.frame;
    fastSearch(f);
    f->openNewDocument();  // two old windows, both replaced

    f->router().dispatch(CommandId::Search);
    QVERIFY(f->station().isSearching());
    QVERIFY(f->router().query(CommandId::StopSearch).enabled);
    QVERIFY(!f->router().query(CommandId::Connect).enabled);
    f->connectLine();
    QCOMPARE(st.dialogs.boxes().back().text, QStringLiteral("Остановите поиск"));
    QTRY_VERIFY_WITH_TIMEOUT(
        f->paneText(0).startsWith(QStringLiteral("Поиск приборов. Прибор № ")) &&
            f->paneText(0).contains(QStringLiteral("Найдены №№: 5,9,30,")),
        30000);
    f->router().dispatch(CommandId::StopSearch);
    QVERIFY(!f->station().isSearching());
    QVERIFY(f->station().isPolling());
    QCOMPARE(f->paneText(0), QStringLiteral("Опрос приборов"));
    QVERIFY(f->isMaximized());
    const QList<QMdiSubWindow*> children = f->mdiArea()->subWindowList();
    QCOMPARE(children.size(), 3);
    QCOMPARE(f->block().windowCount(), 3);
    const int numbers[3] = {5, 9, 30};
    for (int k = 0; k < 3; ++k) {
        QCOMPARE(f->block().snapshot(k).address, numbers[k]);
        QCOMPARE(children[k]->windowTitle(), QStringLiteral("Прибор №%1").arg(numbers[k]));
    }
    for (int k = 0; k < 3; ++k)
        QTRY_COMPARE_WITH_TIMEOUT(viewAt(f, k)->iconOf(FormField::LinkIcon), kLinkUp, 15000);
    f->disconnectLine();
}

void StationLinkTest::searchFindsNothingKeepsWindows() {
    auto bus = busWith({});
    QVERIFY(bus);
    TestStation st({QString::fromStdString(bus->portPath())});
    MainWindow* f = st.frame;
    fastSearch(f);
    f->openNewDocument();
    f->block().setAddress(1, 17);
    f->router().dispatch(CommandId::Search);
    QTRY_VERIFY_WITH_TIMEOUT(
        f->paneText(0).startsWith(QStringLiteral("Поиск приборов. Прибор № 4")), 30000);
    // While searching, polling refuses and the search refuses a second start.
    f->router().dispatch(CommandId::Search);  // disabled: nothing
    toolOf<SearchControl>(f).startSearch();
    QCOMPARE(st.dialogs.boxes().back().text, QStringLiteral("Поиск идет."));
    f->router().dispatch(CommandId::StopSearch);
    QVERIFY(!f->station().isSearching());
    QVERIFY(!f->station().isPolling());
    QCOMPARE(st.dialogs.boxes().back().text, QStringLiteral("Подключенных приборов не найдено."));
    QCOMPARE(st.dialogs.boxes().back().caption, QStringLiteral("Поиск"));
    QCOMPARE(f->paneText(0), QStringLiteral("Ready"));
    QCOMPARE(f->block().windowCount(), 2);
    QCOMPARE(f->block().snapshot(1).address, 17);

    // Searching while polling is refused.
    f->connectLine();
    toolOf<SearchControl>(f).startSearch();
    QCOMPARE(st.dialogs.boxes().back().text, QStringLiteral("Остановите опрос приборов."));
    QVERIFY(!f->station().isSearching());
    f->disconnectLine();
}

// While "Ошибка записи" waits for its OK the poll thread goes on: the window loses contact, the
// record timer's lines show it instead of the last readings, and the line comes back by itself.
void StationLinkTest::unpluggedAdapterShowsWhileItsBoxWaits() {
    QTemporaryDir dir;
    auto bus = zta::sim::Bus::openPty(dir.filePath(QStringLiteral("line")).toStdString());
    QVERIFY(bus);
    zta::sim::AnalyzerConfig a;
    a.address = 3;
    a.concentration = 37;
    bus->addAnalyzer(a);
    bus->start();

    TestStation st({QString::fromStdString(bus->portPath())}, makeAnalyzerWindowFactory());
    HoldingDialogs prompter;
    setDialogs(&prompter);
    MainWindow* f = st.frame;
    f->station().setPollTiming(fastTiming());
    AnalyzerView* v = viewAt(f, 0);
    QVERIFY(v);
    v->numberField()->setText(QStringLiteral("3"));
    f->connectLine();
    QTRY_VERIFY_WITH_TIMEOUT(v->getDocument().linkUp, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(v->getDocument().readings.concentration, 37.0, 15000);
    v->startRecordTimer(1);
    QCOMPARE(concentrationOnLine(v->timerFile, 0), QByteArray("37"));

    bool lost = false, recorded = false, back = false;
    prompter.whileOpen = [&] {
        QTRY_VERIFY_WITH_TIMEOUT(!v->getDocument().linkUp, 15000);
        QCOMPARE(v->iconOf(FormField::LinkIcon), kLinkDown);
        lost = true;
        // The turn after the lost contact clears the readings; the timer's next line shows it.
        QTRY_COMPARE_WITH_TIMEOUT(v->getDocument().readings.concentration, 0.0, 15000);
        int from = 0;
        concentrationOnLine(v->timerFile, 0, &from);
        QTRY_VERIFY_WITH_TIMEOUT(!concentrationOnLine(v->timerFile, from).isEmpty(), 15000);
        recorded = concentrationOnLine(v->timerFile, from) == "0";
        QVERIFY(bus->replug());
        QTRY_VERIFY_WITH_TIMEOUT(v->getDocument().linkUp, 15000);
        QTRY_COMPARE_WITH_TIMEOUT(v->getDocument().readings.concentration, 37.0, 15000);
        QCOMPARE(v->iconOf(FormField::LinkIcon), kLinkUp);
        back = true;
    };
    bus->unplug();
    QTRY_VERIFY_WITH_TIMEOUT(!prompter.whileOpen, 15000);
    QVERIFY(lost);
    QVERIFY2(recorded, "the timer wrote the readings from before the outage again");
    QVERIFY(back);
    f->disconnectLine();
    setDialogs(&st.dialogs);
    QCOMPARE(prompter.boxes().size(), size_t(1));
    QCOMPARE(prompter.boxes()[0].text, QStringLiteral("Ошибка записи"));
}

namespace {

QString overviewLink(MainWindow* f, int row) {
    BusOverviewModel& m = toolOf<BusTools>(f).overview().model();
    m.refresh();
    return m.data(m.index(row, BusOverviewModel::Link)).toString();
}

QByteArray auditText(MainWindow* f) {
    QFile file(auditFilePath(f->station().auditLog().folder(), QDate::currentDate()));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

// The simulator is killed with the station polling at its own pace: every window, the overview
// and the status bar know at once (not after five turns of every analyzer), the audit says when
// the line went and came back, and a simulator started again brings the analyzers back.
void StationLinkTest::aKilledSimulatorLosesTheLineAtOnce() {
    QTemporaryDir dir;
    const std::string link = dir.filePath(QStringLiteral("line")).toStdString();
    auto startSim = [&link] {
        auto bus = zta::sim::Bus::openPty(link);
        for (int address : {3, 7}) {
            zta::sim::AnalyzerConfig a;
            a.address = address;
            if (bus) bus->addAnalyzer(a);
        }
        if (bus) bus->start();
        return bus;
    };
    auto bus = startSim();
    QVERIFY(bus);
    TestStation st({QString::fromStdString(bus->portPath())}, makeAnalyzerWindowFactory());
    MainWindow* f = st.frame;
    QVERIFY(f->openNewDocument());
    viewAt(f, 0)->numberField()->setText(QStringLiteral("3"));
    viewAt(f, 1)->numberField()->setText(QStringLiteral("7"));
    toolOf<BusTools>(f).showOverview();
    const QString port = f->station().portName();
    QDockWidget& overview = toolOf<BusTools>(f).overview();
    QCOMPARE(overview.windowTitle(),
             QStringLiteral("Обзор шины — Линия %1: опрос остановлен").arg(port));
    f->connectLine();
    for (int i = 0; i < 2; ++i)
        QTRY_COMPARE_WITH_TIMEOUT(viewAt(f, i)->iconOf(FormField::LinkIcon), kLinkUp, 15000);
    QCOMPARE(overview.windowTitle(), QStringLiteral("Обзор шины — Линия %1: опрос идёт").arg(port));

    bus.reset();
    const QString lost = QStringLiteral("Линия %1 потеряна: ожидание порта").arg(port);
    QTRY_COMPARE_WITH_TIMEOUT(f->paneText(0), lost, 15000);
    QCOMPARE(overview.windowTitle(), QStringLiteral("Обзор шины — ") + lost);
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(viewAt(f, i)->iconOf(FormField::LinkIcon), kLinkDown);
        QCOMPARE(viewAt(f, i)->text(FormField::FactoryNumber), QStringLiteral("0"));
        QCOMPARE(overviewLink(f, i), QStringLiteral("нет связи"));
    }
    QVERIFY(auditText(f).contains(";линия потеряна;"));
    QVERIFY(!auditText(f).contains(";линия восстановлена;"));

    bus = startSim();
    QVERIFY(bus);
    QTRY_COMPARE_WITH_TIMEOUT(f->paneText(0), QStringLiteral("Опрос приборов"), 15000);
    QVERIFY(auditText(f).contains(";линия восстановлена;"));
    for (int i = 0; i < 2; ++i)
        QTRY_COMPARE_WITH_TIMEOUT(viewAt(f, i)->iconOf(FormField::LinkIcon), kLinkUp, 15000);
    f->disconnectLine();
    QCOMPARE(f->paneText(0), QStringLiteral("Ready"));
    QCOMPARE(st.dialogs.boxes().size(), size_t(1));
    QCOMPARE(st.dialogs.boxes()[0].text, QStringLiteral("Ошибка записи"));
}

// A stray number typed into a polled window: the window, its trend and the overview show a new
// analyzer at once, and the old one's replies never come back under the new number.
void StationLinkTest::aNewNumberShowsNothingOfTheOldAnalyzer() {
    auto bus = zta::sim::Bus::openPty();
    QVERIFY(bus);
    zta::sim::AnalyzerConfig a;
    a.address = 30;
    a.concentration = 33;
    a.factoryNumber = 4321;
    bus->addAnalyzer(a);
    bus->start();
    TestStation st({QString::fromStdString(bus->portPath())}, makeAnalyzerWindowFactory());
    MainWindow* f = st.frame;
    f->station().setPollTiming(fastTiming());
    AnalyzerView* v = viewAt(f, 0);
    v->numberField()->setText(QStringLiteral("30"));
    f->connectLine();
    QTRY_COMPARE_WITH_TIMEOUT(v->text(FormField::FactoryNumber), QStringLiteral("4321"), 15000);
    QTRY_VERIFY_WITH_TIMEOUT(f->block().snapshot(0).replyCount >= 2, 15000);
    const auto trend = v->getDocument().records().trend();
    const size_t samples = trend->samples().size();

    v->numberField()->setText(QStringLiteral("60"));
    QCOMPARE(v->text(FormField::FactoryNumber), QStringLiteral("0"));
    QCOMPARE(v->text(FormField::ConcentrationLel), QStringLiteral("0"));
    QCOMPARE(v->text(FormField::GasName), QStringLiteral(" - "));
    QCOMPARE(v->iconOf(FormField::LinkIcon), kLinkDown);
    QCOMPARE(overviewLink(f, 0), QStringLiteral("нет связи"));
    QVERIFY(v->recordFile.endsWith(QStringLiteral("60.zta")));
    // Several turns at the new number: nothing of analyzer 30 comes back.
    QTRY_VERIFY_WITH_TIMEOUT(f->block().snapshot(0).health.requests >= 6, 15000);
    const Slot s = f->block().snapshot(0);
    QCOMPARE(s.address, 60);
    QCOMPARE(s.replyCount, 0);
    QCOMPARE(s.health.goodReplies, 0L);
    QCOMPARE(v->text(FormField::FactoryNumber), QStringLiteral("0"));
    QCOMPARE(trend->samples().size(), samples);

    // Back at 30 the analyzer is found again, and its trend starts a new stretch.
    v->numberField()->setText(QStringLiteral("30"));
    QTRY_COMPARE_WITH_TIMEOUT(v->text(FormField::FactoryNumber), QStringLiteral("4321"), 15000);
    QTRY_VERIFY_WITH_TIMEOUT(trend->samples().size() > samples, 15000);
    QVERIFY(trend->samples()[samples].gapBefore);
    f->disconnectLine();
}

// An adapter that hands back every request: the overview names it beside the table, and the
// copies never pass for answers (the analyzer still comes up with its readings).
void StationLinkTest::theOverviewShowsWhatTheLineItselfDid() {
    QTemporaryDir dir;
    auto bus = zta::sim::Bus::openPty(dir.filePath(QStringLiteral("line")).toStdString());
    QVERIFY(bus);
    zta::sim::AnalyzerConfig a;
    a.address = 5;
    bus->addAnalyzer(a);
    bus->setLineEcho(2.0);
    bus->start();
    TestStation st({QString::fromStdString(bus->portPath())}, makeAnalyzerWindowFactory());
    MainWindow* f = st.frame;
    viewAt(f, 0)->numberField()->setText(QStringLiteral("5"));
    BusOverviewDock& overview = toolOf<BusTools>(f).overview();
    toolOf<BusTools>(f).showOverview();
    QVERIFY(overview.lineHealthLabel()->isHidden());
    f->connectLine();
    QTRY_COMPARE_WITH_TIMEOUT(viewAt(f, 0)->iconOf(FormField::LinkIcon), kLinkUp, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(
        overview.lineHealthLabel()->text().contains(QStringLiteral("Эхо адаптера: есть")), 15000);
    QVERIFY(overview.lineHealthLabel()->isVisible());
    f->disconnectLine();
    QVERIFY(overview.lineHealthLabel()->isHidden());
}

QTEST_MAIN(StationLinkTest)
#include "station_link_test.moc"
