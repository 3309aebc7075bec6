// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: enabling table, status panes, ports and rates, connect refusals, the
// all-windows notices, the window limit and the calibration file at start and close.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <cstring>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "app/bus_search.h"
#include "app/cal_data_file.h"
#include "app/search_control.h"
#include "app/station_bridge.h"
#include "gas/connected_gas_parameters_dialog.h"
#include "gas/gas_parameters_dialog.h"
#include "link/cp1251.h"
#include "sim/bus.h"
#include "station_support.h"
#include "zta/version.h"

using namespace zta;

namespace {

// A running simulated bus with one analyzer, so that Connect really polls.
struct SimBus {
    SimBus() {
        bus = zta::sim::Bus::openPty();
        zta::sim::AnalyzerConfig a;
        a.address = 0;
        bus->addAnalyzer(a);
        bus->start();
    }
    std::unique_ptr<zta::sim::Bus> bus;
};

QByteArray calBytes(const QByteArray& name, double maxGas, double midGas) {
    QByteArray out;
    out.append(char(name.size()));
    out.append(name);
    char buf[8];
    std::memcpy(buf, &maxGas, 8);
    out.append(buf, 8);
    std::memcpy(buf, &midGas, 8);
    out.append(buf, 8);
    return out;
}

QByteArray cp1251(const char* utf8) { return QByteArray::fromStdString(zta::utf8ToCp1251(utf8)); }

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

bool enabled(MainWindow* frame, CommandId id) { return frame->router().query(id).enabled; }

}  // namespace

class MainFrameTest : public QObject {
    Q_OBJECT
  private slots:
    void startPanesWithoutCalFile();
    void calFileCases_data();
    void calFileCases();
    void closeWritesCalFile();
    void enablingTable();
    void connectRefusals();
    void disconnectWhileIdleSendsNothing();
    void broadcastsReachEveryView();
    void windowLimitAndCompaction();
    void portList_data();
    void portList();
    void portChoiceSetsName();
    void typedNetworkPort();
    void baudByComboAndMenuStayInStep();
    void switchBaudAndReconnect();
    void recordFolderChoice();
    void timerForAllWhilePolling();
    void gasMenuAndConcentration();
    void connectedDevicesGas();
    void toolBarToggle();
    void menusCarryTheirIdsAndTexts();
    void aboutBox();
    void narrowWindowStillUpdatesTimerTexts();
    void timerPaneFollowsTheActiveWindow();
    void lineFailureReturnsToIdle();
    void lateLineFailureKeepsNewConnection();
};

void MainFrameTest::startPanesWithoutCalFile() {
    TestStation st({QStringLiteral("ttyS3"), QStringLiteral("ttyS4")});
    MainWindow* f = st.frame;
    QCOMPARE(f->paneText(0), QStringLiteral("Ready"));
    QCOMPARE(f->paneText(1), QStringLiteral("ttyS3"));
    QCOMPARE(f->paneText(2), QStringLiteral("9600"));
    QCOMPARE(f->paneText(3), QStringLiteral("Метан"));
    QCOMPARE(f->paneText(4), QStringLiteral("4.40"));
    QCOMPARE(f->paneText(5), QStringLiteral("2.70"));
    QCOMPARE(f->timerPaneText(0), f->station().recordFolder() + QStringLiteral("*.zta"));
    QVERIFY(f->station().recordFolder().endsWith(QDir::separator()));
    QCOMPARE(f->timerPaneText(1), QStringLiteral("Таймер не установлен"));
    QCOMPARE(f->windowTitle(), QStringLiteral("Программа проверки приборов ZTA-K7."));
    // Every text is shown whole.
    for (int i = 1; i < 6; ++i) {
        QLabel* pane = f->pane(i);
        QVERIFY2(pane->width() >= pane->fontMetrics().horizontalAdvance(pane->text()),
                 qPrintable(pane->text()));
    }
    // The first analyzer window is open in slot 0; no box was shown.
    QCOMPARE(f->block().windowCount(), 1);
    QCOMPARE(f->block().snapshot(0).address, 0);
    QVERIFY(st.dialogs.boxes().empty());
    for (CommandId id : kGasMenuIds) QVERIFY(!f->router().query(id).checked);
}

void MainFrameTest::calFileCases_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("maxText");
    QTest::addColumn<QString>("midText");
    QTest::addColumn<int>("checkedId");  // 0: none checked
    QTest::addColumn<bool>("warned");

    QTest::newRow("propane") << calBytes(cp1251("Пропан"), 0.5, 0.25) << "Пропан"
                             << "0.50"
                             << "0.25" << int(CommandId::GasPropane) << false;
    QTest::newRow("trailing blank") << calBytes(cp1251("Метан "), 4.4, 2.7) << "Метан "
                                    << "4.40"
                                    << "2.70" << 0 << false;
    // 0xFF, 0xFFFE: UTF-16 text follows, its own length prefix counting characters.
    QByteArray wide;
    wide.append(char(0xFF));
    wide.append(char(0xFE));
    wide.append(char(0xFF));
    const QString butane = QStringLiteral("Бутан");
    wide.append(char(butane.size()));
    for (QChar c : butane) {
        wide.append(char(c.unicode() & 0xFF));
        wide.append(char(c.unicode() >> 8));
    }
    double hi = 0.7, mid = 0.35;
    wide.append(reinterpret_cast<const char*>(&hi), 8);
    wide.append(reinterpret_cast<const char*>(&mid), 8);
    QTest::newRow("wide butane") << wide << "Бутан"
                                 << "0.70"
                                 << "0.35" << int(CommandId::GasButane) << false;
    QTest::newRow("truncated") << calBytes(cp1251("Метан"), 1.0, 0.5).left(21) << "Метан"
                               << "4.40"
                               << "2.70" << 0 << true;
    QByteArray huge;
    huge.append(char(0xFF));
    huge.append(char(0xFF));
    huge.append(char(0xFF));
    huge.append(QByteArray(4, char(0xFF)));
    huge.append(QByteArray(8, char(0x7F)));
    QTest::newRow("length beyond file") << huge << "Метан"
                                        << "4.40"
                                        << "2.70" << 0 << true;
}

void MainFrameTest::calFileCases() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);
    QFETCH(QString, maxText);
    QFETCH(QString, midText);
    QFETCH(int, checkedId);
    QFETCH(bool, warned);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("CalDataK7.cfg"));
    writeFile(path, bytes);
    TestStation st({QStringLiteral("ttyS0")}, nullptr, path);
    QCOMPARE(st.frame->paneText(3), name);
    QCOMPARE(st.frame->paneText(4), maxText);
    QCOMPARE(st.frame->paneText(5), midText);
    for (CommandId id : kGasMenuIds)
        QCOMPARE(st.frame->router().query(id).checked, id == CommandId(checkedId));
    QVERIFY(!enabled(st.frame, CommandId::Concentration));  // only a pick from the menu enables it
    QCOMPARE(st.dialogs.boxes().size(), size_t(warned ? 1 : 0));
    if (warned) {
        QCOMPARE(st.dialogs.boxes()[0].icon, Dialogs::Icon::Warning);
        QVERIFY(!st.dialogs.boxes()[0].text.isEmpty());
    }
}

void MainFrameTest::closeWritesCalFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("CalDataK7.cfg"));
    {
        TestStation st({QStringLiteral("ttyS0")}, nullptr, path);
        st.frame->close();
    }
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), calBytes(cp1251("Метан"), 4.4, 2.7));

    // A changed gas survives the next start.
    {
        TestStation st({QStringLiteral("ttyS0")}, nullptr, path);
        zta::GasState gas = st.frame->station().gasState();
        gas.calGasName = QStringLiteral("Гексан");
        gas.gasMarks = {false, false, true};
        gas.maxGas = 0.5;
        gas.midGas = 0.25;
        st.frame->station().applyGasState(gas);
        QCOMPARE(st.frame->paneText(3), QStringLiteral("Гексан"));
        QCOMPARE(st.frame->paneText(4), QStringLiteral("0.50"));
        QCOMPARE(st.frame->block().maxGas(), 0.5);
        st.app->onCommand(CommandId::Exit);  // the same close sequence as the close box
    }
    TestStation again({QStringLiteral("ttyS0")}, nullptr, path);
    QCOMPARE(again.frame->paneText(3), QStringLiteral("Гексан"));
    QVERIFY(again.frame->router().query(CommandId::GasHexane).checked);

    // A folder where the file cannot be written: the station runs and closes all the same.
#ifndef _WIN32
    if (geteuid() != 0) {
        QTemporaryDir ro;
        QFile::setPermissions(ro.path(), QFile::ReadOwner | QFile::ExeOwner);
        const QString roPath = ro.filePath(QStringLiteral("CalDataK7.cfg"));
        {
            TestStation st({QStringLiteral("ttyS0")}, nullptr, roPath);
            QCOMPARE(st.frame->paneText(3), QStringLiteral("Метан"));
            st.frame->close();
        }
        QVERIFY(!QFile::exists(roPath));
        QFile::setPermissions(ro.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
#endif
    // As root the folder is writable anyway; a path inside a missing folder fails the same way.
    const QString missing = dir.filePath(QStringLiteral("no/such/folder/CalDataK7.cfg"));
    {
        TestStation st({QStringLiteral("ttyS0")}, nullptr, missing);
        st.frame->close();
        QVERIFY(st.dialogs.boxes().empty());
    }
    QVERIFY(!QFile::exists(missing));
}

void MainFrameTest::enablingTable() {
    struct Row {
        CommandId id;
        bool idle, polling, searching;
    };
    const Row rows[] = {
        {CommandId::Connect, true, false, false},
        {CommandId::ToolConnect, true, false, false},
        {CommandId::Disconnect, false, true, false},
        {CommandId::ToolDisconnect, false, true, false},
        {CommandId::Search, true, false, false},
        {CommandId::ToolSearch, true, false, false},
        {CommandId::StopSearch, false, false, true},
        {CommandId::ToolStopSearch, false, false, true},
        {CommandId::PortFirst, true, false, false},
        {CommandId::PortCombo, true, false, false},
        {CommandId::BaudCombo, true, false, false},
        {CommandId::Baud1200, true, false, false},
        {CommandId::Baud19200, true, false, false},
        {CommandId::ConnectedDevicesGas, false, true, false},
        {CommandId::GasMethane, true, true, true},
        {CommandId::GasPropylene, true, true, true},
        {CommandId::Concentration, false, false, false},
        {CommandId::TimerAll, true, true, true},
        {CommandId::TimerOffAll, false, false, false},
        {CommandId::SoftwareInfoAll, true, true, true},
        {CommandId::ViewToolBar, true, true, true},
        {CommandId::ViewStatusBar, true, true, true},
        {portCommand(1), false, false, false},  // only one port listed: no such item
        {CommandId::PortPlaceholder, false, false, false},
    };

    SimBus sim;
    TestStation st({QString::fromStdString(sim.bus->portPath())});
    MainWindow* f = st.frame;
    f->station().setPollTiming(fastTiming());

    auto check = [&](const char* state, auto pick) {
        f->router().refresh();
        for (const Row& r : rows)
            QVERIFY2(enabled(f, r.id) == pick(r),
                     qPrintable(QStringLiteral("%1: id %2").arg(state).arg(int(r.id))));
        QCOMPARE(f->portCombo()->isEnabled(), pick(rows[9]));
        QCOMPARE(f->baudCombo()->isEnabled(), pick(rows[10]));
        QCOMPARE(f->router().action(CommandId::ToolConnect)->isEnabled(), pick(rows[1]));
    };

    check("idle", [](const Row& r) { return r.idle; });
    QVERIFY(f->router().query(CommandId::Baud9600).checked);
    QVERIFY(!f->router().query(CommandId::Baud1200).checked);
    QVERIFY(f->router().query(CommandId::PortFirst).checked);
    QVERIFY(f->router().query(CommandId::ViewToolBar).checked);

    f->connectLine();
    QVERIFY(f->station().isPolling());
    QCOMPARE(f->paneText(0), QStringLiteral("Опрос приборов"));
    check("polling", [](const Row& r) { return r.polling; });
    f->disconnectLine();
    QVERIFY(!f->station().isPolling());
    QCOMPARE(f->paneText(0), QStringLiteral("Ready"));

    // A search runs until it is stopped: its end is not served while the rows are checked.
    QCOMPARE(f->station().startSearch({}), LineRefusal::None);
    check("searching", [](const Row& r) { return r.searching; });
    QVERIFY(f->station().search().stop(30000));

    // Timer rows follow the running-timer count; the check mark follows the toggle.
    f->windows().runningTimers = 1;
    f->refreshTimerFlag();
    QVERIFY(!enabled(f, CommandId::TimerAll));
    QVERIFY(enabled(f, CommandId::TimerOffAll));
    f->windows().runningTimers = 0;
    f->refreshTimerFlag();
    f->router().dispatch(CommandId::SoftwareInfoAll);
    QVERIFY(f->router().query(CommandId::SoftwareInfoAll).checked);
    f->router().dispatch(CommandId::SoftwareInfoAll);
    QVERIFY(!f->router().query(CommandId::SoftwareInfoAll).checked);

    // Commands of the analyzer windows have no handler here: disabled.
    for (CommandId id :
         {CommandId::SetZero, CommandId::Record, CommandId::TimerActive, CommandId::ToolRecord})
        QVERIFY(!enabled(f, id));
    // Application commands are always there.
    for (CommandId id :
         {CommandId::NewDocument, CommandId::About, CommandId::Exit, CommandId::ToolNewDocument})
        QVERIFY(enabled(f, id));
}

void MainFrameTest::connectRefusals() {
    {
        TestStation st(QStringList{});
        st.dialogs.clear();
        st.frame->connectLine();
        QVERIFY(!st.frame->station().isPolling());
        QCOMPARE(st.dialogs.boxes().size(), size_t(1));
        QCOMPARE(st.dialogs.boxes()[0].text, QStringLiteral("Нет найденных COM портов"));
        QCOMPARE(st.dialogs.boxes()[0].caption, QStringLiteral("Связь"));
        QCOMPARE(st.dialogs.boxes()[0].icon, Dialogs::Icon::Information);
    }
    SimBus sim;
    TestStation st({QString::fromStdString(sim.bus->portPath())});
    st.frame->station().setPollTiming(fastTiming());
    QCOMPARE(st.frame->station().startSearch({}), LineRefusal::None);
    st.frame->connectLine();
    QVERIFY(!st.frame->station().isPolling());
    QCOMPARE(st.dialogs.boxes().back().text, QStringLiteral("Остановите поиск"));
    QCOMPARE(st.dialogs.boxes().back().caption, QStringLiteral("Работа"));
    QVERIFY(st.frame->station().search().stop(30000));

    st.frame->connectLine();
    QVERIFY(st.frame->station().isPolling());
    const size_t before = st.dialogs.boxes().size();
    st.frame->connectLine();
    QCOMPARE(st.dialogs.boxes().size(), before + 1);
    QCOMPARE(st.dialogs.boxes().back().text, QStringLiteral("Опрос приборов."));
    QCOMPARE(st.dialogs.boxes().back().caption, QStringLiteral("Работа"));
    QCOMPARE(st.dialogs.boxes().back().icon, Dialogs::Icon::Information);
    st.frame->disconnectLine();
    QVERIFY(!st.frame->station().isPolling());
}

void MainFrameTest::disconnectWhileIdleSendsNothing() {
    TestStation st;
    st.frame->openNewDocument();
    st.frame->disconnectLine();
    st.frame->router().dispatch(CommandId::Disconnect);  // disabled: does not even run
    for (int slot = 0; slot < 2; ++slot) QVERIFY(st.view(slot)->notices.empty());
    QCOMPARE(st.frame->paneText(0), QStringLiteral("Ready"));
}

void MainFrameTest::broadcastsReachEveryView() {
    TestStation st;
    MainWindow* f = st.frame;
    f->openNewDocument();
    f->openNewDocument();
    QCOMPARE(f->block().windowCount(), 3);

    f->windows().runningTimers = 1;  // 183 is there only while some timer runs
    f->refreshTimerFlag();
    f->router().dispatch(CommandId::TimerOffAll);
    f->windows().runningTimers = 0;
    f->refreshTimerFlag();
    f->router().dispatch(CommandId::SoftwareInfoAll);
    f->router().dispatch(CommandId::SoftwareInfoAll);
    for (int slot = 0; slot < 3; ++slot) {
        QCOMPARE(st.view(slot)->count(NoticeStopTimer), 1);
        QCOMPARE(st.view(slot)->count(NoticeSoftwareInfoToggled), 2);
    }

    // Timer for all: refused while idle; while polling the dialog's period goes to every view.
    st.dialogs.periods.push_back(30);
    st.dialogs.clear();
    f->router().dispatch(CommandId::TimerAll);
    QCOMPARE(st.dialogs.boxes().size(), size_t(1));
    QCOMPARE(st.dialogs.boxes()[0].text,
             QStringLiteral("Установка таймера для группы приборов не может быть произведена.\r\n"
                            "    \t         Проверьте подключение приборов. "));
    QCOMPARE(st.dialogs.boxes()[0].caption, QStringLiteral("Ошибка"));
    QCOMPARE(st.view(0)->count(NoticeStartTimer), 0);
    st.dialogs.periods.clear();

    // Insert a line: OK sets the block's text before the views are told; Cancel sends nothing.
    st.dialogs.notes = {QStringLiteral("проба газа"), std::nullopt};
    f->router().dispatch(CommandId::InsertAll);
    QCOMPARE(f->windows().note, QStringLiteral("проба газа"));
    f->router().dispatch(CommandId::InsertAll);
    QCOMPARE(st.dialogs.asked, (std::vector<int>{-1, -1}));
    for (int slot = 0; slot < 3; ++slot) QCOMPARE(st.view(slot)->count(NoticeInsertText), 1);

    // Software information of the active window goes to that view alone.
    f->mdiArea()->setActiveSubWindow(f->mdiArea()->subWindowList().at(1));
    f->router().dispatch(CommandId::SoftwareInfoActive);
    int shown = 0;
    for (int slot = 0; slot < 3; ++slot) shown += st.view(slot)->count(NoticeShowSoftwareInfo);
    QCOMPARE(shown, 1);
    QCOMPARE(static_cast<RecordingView*>(f->activeView())->count(NoticeShowSoftwareInfo), 1);
}

void MainFrameTest::windowLimitAndCompaction() {
    TestStation st;
    MainWindow* f = st.frame;
    for (int i = 1; i < 50; ++i) QVERIFY(f->openNewDocument());
    QCOMPARE(f->block().windowCount(), 50);
    QVERIFY(st.dialogs.boxes().empty());
    f->router().dispatch(CommandId::NewDocument);
    QCOMPARE(f->block().windowCount(), 50);
    QCOMPARE(f->mdiArea()->subWindowList().size(), 50);
    QCOMPARE(st.dialogs.boxes().size(), size_t(1));
    QCOMPARE(st.dialogs.boxes()[0].text, QStringLiteral("Открыть больше пятидесяти окон нельзя."));
    QCOMPARE(st.dialogs.boxes()[0].caption, QStringLiteral("Ограничение"));

    // Numbers 100 + slot; close slot 0 and slot 10: the rest move down with their numbers.
    for (int s = 0; s < 50; ++s) f->block().setAddress(s, 100 + s);
    RecordingView* second = st.view(1);
    delete f->mdiArea()->subWindowList().at(0);
    RecordingView* eleventh = st.view(10);
    QCOMPARE(eleventh->slot, 10);
    delete f->mdiArea()->subWindowList().at(5);
    QCOMPARE(f->block().windowCount(), 48);
    QCOMPARE(second->slot, 0);
    QCOMPARE(f->block().snapshot(0).address, 101);
    QCOMPARE(eleventh->slot, 9);
    QCOMPARE(f->block().snapshot(9).address, 111);
    for (int s = 0; s < 48; ++s)
        QCOMPARE(f->viewOfSlot(s), static_cast<AnalyzerViewInterface*>(st.view(s)));
    QCOMPARE(f->block().view(48), zta::AnalyzerId(0));
    // A freed slot takes a new window again.
    QVERIFY(f->openNewDocument());
    QCOMPARE(f->block().windowCount(), 49);
}

void MainFrameTest::portList_data() {
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QStringList>("system");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QString>("warning");

    QTest::newRow("several") << QStringList{} << QStringList{"ttyS0", "", "ttyUSB1", "ttyS10"}
                             << QStringList{"ttyS0", "ttyUSB1", "ttyS10"} << QString();
    QTest::newRow("command line first") << QStringList{"/tmp/zta-k7-sim"} << QStringList{"ttyS0"}
                                        << QStringList{"/tmp/zta-k7-sim", "ttyS0"} << QString();
    QStringList many;
    for (int i = 0; i < 51; ++i) many << QStringLiteral("ttyS%1").arg(i);
    QTest::newRow("51") << QStringList{} << many << many.mid(0, 50)
                        << QStringLiteral(
                               "Слишком много COM портов! Доступны будут только первые 50.");
    QTest::newRow("none") << QStringList{} << QStringList{} << QStringList{}
                          << QStringLiteral("Ни одного COM порта не обнаружено");
}

void MainFrameTest::portList() {
    QFETCH(QStringList, extra);
    QFETCH(QStringList, system);
    QFETCH(QStringList, listed);
    QFETCH(QString, warning);

    ScriptedDialogs prompter;
    setDialogs(&prompter);
    QTemporaryDir dir;
    StationOptions options;
    options.extraPorts = extra;
    options.listSystemPorts = false;
    options.systemPorts = system;
    options.calDataPath = dir.filePath(QStringLiteral("CalDataK7.cfg"));
    StationApplication app(options);
    app.initInstance(std::make_unique<RecordingWindowFactory>(), false);
    MainWindow* f = app.mainFrame();
    f->show();  // the first sizing builds the port menu
    QCoreApplication::processEvents();

    QCOMPARE(f->station().portNames(), listed);
    if (warning.isEmpty()) {
        QVERIFY(prompter.boxes().empty());
    } else {
        QCOMPARE(prompter.boxes().size(), size_t(1));
        QCOMPARE(prompter.boxes()[0].text, warning);
        QCOMPARE(prompter.boxes()[0].caption, QStringLiteral("Определение доступных портов"));
        QCOMPARE(prompter.boxes()[0].icon, Dialogs::Icon::Warning);
    }
    const QList<QAction*> items = f->portMenu()->actions();
    if (listed.isEmpty()) {
        QVERIFY(f->station().noPorts());
        QCOMPARE(f->station().portCount(), -1);
        QCOMPARE(f->portCombo()->count(), 1);
        QCOMPARE(f->portCombo()->currentText(), QStringLiteral("NoPort"));
        QCOMPARE(f->paneText(1), QStringLiteral("----"));
        QVERIFY(items.isEmpty());
        emit f->portCombo()->activated(0);  // picking "NoPort" changes nothing
        QCOMPARE(f->paneText(1), QStringLiteral("----"));
    } else {
        QCOMPARE(f->station().portCount(), listed.size());
        QCOMPARE(f->portCombo()->count(), listed.size());
        QCOMPARE(items.size(), listed.size());
        for (int i = 0; i < listed.size(); ++i) {
            QCOMPARE(items[i]->text(), listed[i]);
            QCOMPARE(CommandRouter::idOf(items[i]), portCommand(i));
        }
        QCOMPARE(f->paneText(1), listed[0]);
        QVERIFY(items[0]->isChecked());
    }
    delete f;
    setDialogs(nullptr);
}

void MainFrameTest::portChoiceSetsName() {
    TestStation st({QStringLiteral("ttyS0"), QStringLiteral("ttyS1"), QStringLiteral("ttyUSB0")});
    MainWindow* f = st.frame;
    QCoreApplication::processEvents();
    f->router().dispatch(portCommand(2));
    QCOMPARE(f->block().portName(), zta::storedPortName("ttyUSB0"));
    QCOMPARE(f->paneText(1), QStringLiteral("ttyUSB0"));
    QCOMPARE(f->portCombo()->currentIndex(), 2);
    QVERIFY(f->router().query(portCommand(2)).checked);
    QVERIFY(!f->router().query(CommandId::PortFirst).checked);
    QVERIFY(f->pane(1)->width() >= f->pane(1)->fontMetrics().horizontalAdvance("ttyUSB0"));

    // The combo box the same way, and the menu follows.
    f->portCombo()->setFocus();
    emit f->portCombo()->activated(1);
    QCOMPARE(f->paneText(1), QStringLiteral("ttyS1"));
    QVERIFY(f->router().query(portCommand(1)).checked);
    QVERIFY(!f->router().query(portCommand(2)).checked);
}

// A port no one listens on: a connection to it is refused at once.
int refusingPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) != 0)
        return -1;
    ::close(fd);
    return ntohs(a.sin_port);
}

void MainFrameTest::typedNetworkPort() {
    // No port found on this PC: a line over the network is typed into the port box.
    TestStation st(QStringList{});
    MainWindow* f = st.frame;
    f->station().setPollTiming(fastTiming());
    const int port = refusingPort();
    QVERIFY(port > 0);
    const QString address = QStringLiteral("tcp://127.0.0.1:%1").arg(port);
    f->portCombo()->lineEdit()->setText(address);
    emit f->portCombo()->lineEdit()->editingFinished();
    QCOMPARE(f->station().portName(), address);
    QCOMPARE(f->block().portName(), address.toStdString());
    QCOMPARE(f->paneText(1), address);

    // It is opened, and its refusal is told in the station's words.
    f->connectLine();
    QTRY_VERIFY_WITH_TIMEOUT(!f->station().isPolling(), 10000);
    QVERIFY(!st.dialogs.boxes().empty());
    QVERIFY2(st.dialogs.boxes().back().text.contains(address + QStringLiteral(" отклонено")),
             qPrintable(st.dialogs.boxes().back().text));

    // Behind a Modbus TCP gateway the line's rate is the gateway's.
    const QString gateway = QStringLiteral("mbtcp://127.0.0.1:%1").arg(port);
    f->portCombo()->lineEdit()->setText(gateway);
    emit f->portCombo()->lineEdit()->editingFinished();
    const unsigned before = f->block().baudRate();
    QVERIFY(!f->switchBaudAndReconnect(2400));
    QCOMPARE(f->block().baudRate(), before);
    QVERIFY(st.dialogs.boxes().back().text.contains(QStringLiteral("шлюз Modbus TCP")));
}

void MainFrameTest::baudByComboAndMenuStayInStep() {
    TestStation st;
    MainWindow* f = st.frame;
    f->baudCombo()->setCurrentIndex(2);
    emit f->baudCombo()->activated(2);
    QCOMPARE(f->paneText(2), QStringLiteral("4800"));
    QCOMPARE(f->block().baudRate(), 4800u);
    for (int i = 0; i < 5; ++i) QCOMPARE(f->router().query(baudCommand(i)).checked, i == 2);
    f->router().refresh();
    QVERIFY(f->router().action(CommandId::Baud4800)->isChecked());
    QVERIFY(!f->router().action(CommandId::Baud9600)->isChecked());

    f->router().action(CommandId::Baud19200)->trigger();
    QCOMPARE(f->baudCombo()->currentIndex(), 4);
    QCOMPARE(f->paneText(2), QStringLiteral("19200"));
    QCOMPARE(f->block().baudRate(), 19200u);
    for (int i = 0; i < 5; ++i) QCOMPARE(f->router().action(baudCommand(i))->isChecked(), i == 4);

    // Triggering a checked item again keeps exactly one check.
    f->router().action(CommandId::Baud19200)->trigger();
    QVERIFY(f->router().action(CommandId::Baud19200)->isChecked());
    f->station().setBaud(7);  // outside the list: nothing
    QCOMPARE(f->block().baudRate(), 19200u);
}

void MainFrameTest::switchBaudAndReconnect() {
    SimBus sim;
    TestStation st({QString::fromStdString(sim.bus->portPath())});
    MainWindow* f = st.frame;
    f->station().setPollTiming(fastTiming());
    f->connectLine();
    QVERIFY(f->switchBaudAndReconnect(2400));
    QVERIFY(f->station().isPolling());
    QCOMPARE(f->block().baudRate(), 2400u);
    QCOMPARE(f->baudCombo()->currentText(), QStringLiteral("2400"));
    QVERIFY(f->router().query(CommandId::Baud2400).checked);
    QCOMPARE(st.view(0)->count(NoticeDisconnected), 1);
    QVERIFY(f->switchBaudAndReconnect(3000));  // not a rate: kept
    QCOMPARE(f->block().baudRate(), 2400u);
    QVERIFY(f->station().isPolling());
    f->disconnectLine();
    QCOMPARE(st.view(0)->count(NoticeDisconnected), 3);
}

void MainFrameTest::recordFolderChoice() {
    TestStation st;
    MainWindow* f = st.frame;
    f->openNewDocument();
    const QString folder = QDir(st.dir.path()).filePath(QStringLiteral("Data"));
    QDir().mkpath(folder);
    st.dialogs.folders.push_back(folder);
    f->router().dispatch(CommandId::ToolRecordFolder);
    const QString expected = QDir::toNativeSeparators(folder) + QDir::separator();
    QCOMPARE(f->station().recordFolder(), expected);
    QCOMPARE(f->timerPaneText(0), expected + QStringLiteral("*.zta"));
    QCOMPARE(st.view(0)->folderChanges, 1);
    QCOMPARE(st.view(1)->folderChanges, 1);
    // A folder given with its separator still ends with exactly one.
    st.dialogs.folders.push_back(folder + QStringLiteral("/"));
    f->router().dispatch(CommandId::RecordFolder);
    QCOMPARE(f->station().recordFolder(), expected);
    QCOMPARE(st.view(0)->folderChanges, 2);

    st.dialogs.folders.push_back(std::nullopt);  // cancelled
    f->router().dispatch(CommandId::RecordFolder);
    QCOMPARE(f->station().recordFolder(), expected);
    QCOMPARE(st.view(0)->folderChanges, 2);
    // Each dialog starts at the folder in use.
    QCOMPARE(st.dialogs.foldersFrom.size(), size_t(3));
    QCOMPARE(QDir::toNativeSeparators(st.dialogs.foldersFrom[2]), expected);
}

void MainFrameTest::timerForAllWhilePolling() {
    SimBus sim;
    TestStation st({QString::fromStdString(sim.bus->portPath())});
    MainWindow* f = st.frame;
    f->station().setPollTiming(fastTiming());
    f->openNewDocument();
    f->connectLine();
    // Cancelled, then confirmed without a period, then 15 s.
    st.dialogs.periods = {std::nullopt, 0, 15};
    f->router().dispatch(CommandId::TimerAll);
    QCOMPARE(st.dialogs.asked, std::vector<int>{-1});
    f->router().dispatch(CommandId::TimerAll);
    for (int slot = 0; slot < 2; ++slot) QCOMPARE(st.view(slot)->count(NoticeStartTimer), 0);
    f->router().dispatch(CommandId::TimerAll);
    for (int slot = 0; slot < 2; ++slot) {
        QCOMPARE(st.view(slot)->count(NoticeStartTimer), 1);
        QCOMPARE(st.view(slot)->notices.back().value, 15);
    }
    // A timer already runs somewhere (the flag not yet refreshed): no dialog, no box.
    f->windows().runningTimers = 1;
    const size_t boxes = st.dialogs.boxes().size();
    f->router().dispatch(CommandId::TimerAll);
    QCOMPARE(st.dialogs.asked, (std::vector<int>{-1, -1, -1}));
    QCOMPARE(st.dialogs.boxes().size(), boxes);
    f->windows().runningTimers = 0;
    f->disconnectLine();
}

void MainFrameTest::gasMenuAndConcentration() {
    TestStation st;
    MainWindow* f = st.frame;
    f->router().dispatch(CommandId::GasPropylene);
    QCOMPARE(f->paneText(3), QStringLiteral("Пропилен"));
    QCOMPARE(f->paneText(4), QStringLiteral("1.00"));
    QCOMPARE(f->paneText(5), QStringLiteral("0.50"));
    QCOMPARE(f->block().maxGas(), 1.0);
    QCOMPARE(f->block().midGas(), 0.5);
    for (CommandId id : kGasMenuIds)
        QCOMPARE(f->router().query(id).checked, id == CommandId::GasPropylene);
    QVERIFY(enabled(f, CommandId::Concentration));

    // "Концентрация": the dialog gets the current values; "Установить" takes the typed ones.
    f->router().dispatch(CommandId::GasMethane);
    st.dialogs.runs.push_back([](QDialog& d) {
        auto& dialog = static_cast<GasParametersDialog&>(d);
        dialog.show();
        dialog.maximumField()->setText(QStringLiteral("3.00"));
        dialog.middleField()->setText(QStringLiteral("1.50"));
        dialog.setButton()->click();
        const int result = dialog.result();
        dialog.hide();
        return result;
    });
    f->router().dispatch(CommandId::Concentration);
    QCOMPARE(f->block().maxGas(), 3.0);
    QCOMPARE(f->block().midGas(), 1.5);
    QCOMPARE(f->paneText(4), QStringLiteral("3.00"));
    QCOMPARE(f->paneText(5), QStringLiteral("1.50"));
    QVERIFY(f->router().query(CommandId::GasMethane).checked);

    st.dialogs.runs.push_back([](QDialog&) { return int(QDialog::Rejected); });
    f->router().dispatch(CommandId::Concentration);
    QCOMPARE(f->block().maxGas(), 3.0);
    QCOMPARE(f->paneText(4), QStringLiteral("3.00"));
}

void MainFrameTest::connectedDevicesGas() {
    auto bus = zta::sim::Bus::openPty();
    zta::sim::AnalyzerConfig a;
    a.address = 0;
    a.gasCode = 4;  // standard model: the table's values for "Бутан"
    a.model = zta::sim::Model::Standard;
    bus->addAnalyzer(a);
    bus->start();
    TestStation st({QString::fromStdString(bus->portPath())});
    MainWindow* f = st.frame;
    f->station().setPollTiming(fastTiming());
    QVERIFY(!enabled(f, CommandId::ConnectedDevicesGas));
    f->router().dispatch(CommandId::GasPropane);
    f->connectLine();
    QTRY_COMPARE_WITH_TIMEOUT(int(f->block().snapshot(0).readings.gasCode), 4, 10000);
    QVERIFY(enabled(f, CommandId::ConnectedDevicesGas));

    st.dialogs.runs.push_back([](QDialog& d) {
        auto& dialog = static_cast<ConnectedGasParametersDialog&>(d);
        dialog.show();
        if (dialog.list()->rowCount() > 0) dialog.list()->selectRow(0);
        dialog.okButton()->click();
        const int result = dialog.result();
        dialog.hide();
        return result;
    });
    f->router().dispatch(CommandId::ConnectedDevicesGas);
    QCOMPARE(f->paneText(3), QStringLiteral("Бутан"));
    QCOMPARE(f->paneText(4), QStringLiteral("0.70"));
    QCOMPARE(f->paneText(5), QStringLiteral("0.35"));
    QVERIFY(f->router().query(CommandId::GasButane).checked);
    QVERIFY(!f->router().query(CommandId::GasPropane).checked);
    QVERIFY(!enabled(f, CommandId::Concentration));
    f->disconnectLine();
    QVERIFY(!enabled(f, CommandId::ConnectedDevicesGas));
}

void MainFrameTest::menusCarryTheirIdsAndTexts() {
    TestStation st;
    MainWindow* f = st.frame;
    // Each item as "Menu/Submenu/Item" with its id; the order within a menu is the order here.
    const std::vector<std::pair<QString, int>> expected = {
        {"Документ/Новый прибор", 148},
        {"Документ/Путь для записи", 149},
        {"Документ/Запись", 170},
        {"Документ/Записать все", 33104},
        {"Документ/CSV-журнал", 33101},
        {"Документ/Тренд", 33100},
        {"Документ/Таймер для записи/Установить для активного документа", 180},
        {"Документ/Таймер для записи/Установить для всех документов", 181},
        {"Документ/Отключить таймер/Активного документа", 182},
        {"Документ/Отключить таймер/Всех документов", 183},
        {"Документ/Оператор…", 33110},
        {"Документ/Открыть стенд", 33103},
        {"Документ/Сохранить стенд", 33102},
        {"Документ/Выход", 195},
        {"Связь/Поиск", 151},
        {"Связь/Остановить", 152},
        {"Связь/Подключить", 130},
        {"Связь/Отключить", 131},
        {"Связь/Порт/ttyS0", 1025},
        {"Связь/Скорость/1200", 138},
        {"Связь/Скорость/2400", 139},
        {"Связь/Скорость/4800", 140},
        {"Связь/Скорость/9600", 141},
        {"Связь/Скорость/19200", 142},
        {"Связь/Быстрый опрос", 33001},
        {"Связь/Обзор шины", 33002},
        {"Связь/Обмен по линии", 33003},
        {"Связь/Открыть остальные найденные", 33004},
        {"Установки/Изменить сетевой номер", 153},
        {"Установки/Изменить скорость", 154},
        {"Установки/Изменить значения порогов/Порог 1", 191},
        {"Установки/Изменить значения порогов/Порог 2", 192},
        {"Установки/Вставить строку/В активный документ", 178},
        {"Установки/Вставить строку/Во все документы", 179},
        {"Установки/Параметры газа/Вид газа/Метан", 145},
        {"Установки/Параметры газа/Вид газа/Пропан", 146},
        {"Установки/Параметры газа/Вид газа/Гексан", 150},
        {"Установки/Параметры газа/Вид газа/Бутан", 32794},
        {"Установки/Параметры газа/Вид газа/Изобутан", 32796},
        {"Установки/Параметры газа/Вид газа/Пентан", 32807},
        {"Установки/Параметры газа/Вид газа/Циклопентан", 32808},
        {"Установки/Параметры газа/Вид газа/Пропилен", 32809},
        {"Установки/Параметры газа/Концентрация", 144},
        {"Установки/Параметры газа/Параметры подключенных приборов", 32813},
        {"Установки/Установка нуля", 158},
        {"Установки/Газ высокой концентрации ", 159},
        {"Установки/Газ средней концентрации", 160},
        {"Установки/Установка типовой  концентрации", 184},
        {"Информация о ПО/Прибора в активном окне", 32803},
        {"Информация о ПО/Во всех окнах", 32804},
        {"Вид/Панель инструментов", 172},
        {"Вид/Строка состояния", 173},
        {"Окно/Каскадом", 57650},
        {"Окно/Все на экран", 57651},
        {"Помощь/О программе", 169},
    };
    std::vector<std::pair<QString, int>> found;
    std::function<void(QMenu*, const QString&)> walk = [&](QMenu* menu, const QString& path) {
        for (QAction* a : menu->actions()) {
            if (a->isSeparator()) continue;
            const QString here = path + QLatin1Char('/') + a->text();
            if (a->menu())
                walk(a->menu(), here);
            else
                found.push_back({here, int(CommandRouter::idOf(a))});
        }
    };
    for (QAction* top : f->menuBar()->actions()) walk(top->menu(), top->text());
    QCOMPARE(found.size(), expected.size());
    for (size_t i = 0; i < found.size(); ++i) {
        QCOMPARE(found[i].first, expected[i].first);
        QCOMPARE(found[i].second, expected[i].second);
    }

    // Prompts and tool tips as the system words them.
    QCOMPARE(f->router().action(CommandId::Connect)->statusTip(),
             QStringLiteral("Установить связь приборов  с компьютером."));
    QCOMPARE(f->router().action(CommandId::ToolChangeSpeed)->toolTip(),
             QStringLiteral("Изменить номер"));
    QCOMPARE(f->router().action(CommandId::ToolChangeSpeed)->statusTip(),
             QStringLiteral("Изменить скорость"));
    QCOMPARE(f->router().action(CommandId::ToolSetTimer)->toolTip(),
             QStringLiteral("Установить таймер "));
    // The tool bar: 21 buttons and the two combo boxes, each button with a picture.
    int buttons = 0;
    for (QAction* a : f->toolBar()->actions()) {
        if (a->isSeparator() || CommandRouter::idOf(a) == CommandId::None) continue;
        ++buttons;
        QVERIFY2(!a->icon().isNull(), qPrintable(a->toolTip()));
        QVERIFY(!a->toolTip().isEmpty());
    }
    QCOMPARE(buttons, 21);
}

void MainFrameTest::aboutBox() {
    TestStation st;
    QString title;
    QStringList texts;
    QTimer::singleShot(0, [&] {
        QWidget* box = QApplication::activeModalWidget();
        QVERIFY(box);
        title = box->windowTitle();
        for (QLabel* l : box->findChildren<QLabel*>())
            if (!l->text().isEmpty()) texts << l->text();
        static_cast<QDialog*>(box)->accept();
    });
    st.frame->router().dispatch(CommandId::ToolAbout);
    QCOMPARE(title, QStringLiteral("О программе ZTA-K7.exe"));
    // The historic text first, the build's version on the line below it.
    QCOMPARE(texts, QStringList({QStringLiteral("Программа ZTA-K7.exe ver 2.0  предназначена для "
                                                "проведения испытательных, тестовых и "
                                                "калибровочных работ с газоанализаторами ZTA-K7"),
                                 QStringLiteral("Сборка zta-k7 ") + zta::kVersion}));
}

void MainFrameTest::narrowWindowStillUpdatesTimerTexts() {
    TestStation st;
    MainWindow* f = st.frame;
    f->resize(120, 300);
    QCoreApplication::processEvents();
    f->showTimerPane(25);
    f->showFolderPane(25);
    QCOMPARE(f->timerPaneText(1), QStringLiteral("Таймер - 25 сек."));
    QCOMPARE(f->timerPaneText(0), f->station().recordFolder() + QStringLiteral("*.zta"));
    f->resize(1000, 600);
    QCoreApplication::processEvents();
    f->showTimerPane(0);
    QCOMPARE(f->timerPaneText(1), QStringLiteral("Таймер не установлен"));
    QVERIFY(f->timerPane(1)->width() >=
            f->timerPane(1)->fontMetrics().horizontalAdvance(f->timerPaneText(1)));
}

void MainFrameTest::timerPaneFollowsTheActiveWindow() {
    TestStation st;
    MainWindow* f = st.frame;
    f->openNewDocument();
    st.view(1)->period = 10;
    const QList<QMdiSubWindow*> children = f->mdiArea()->subWindowList();
    f->mdiArea()->setActiveSubWindow(children[1]);
    f->showActiveViewTimer();
    QCOMPARE(f->timerPaneText(1), QStringLiteral("Таймер - 10 сек."));
    QCOMPARE(f->activeTimerPeriod(), 10);
    f->mdiArea()->setActiveSubWindow(children[0]);
    f->showActiveViewTimer();
    QCOMPARE(f->timerPaneText(1), QStringLiteral("Таймер не установлен"));
    // The same view changes its period: the pane follows.
    st.view(0)->period = 5;
    f->showActiveViewTimer();
    QCOMPARE(f->timerPaneText(1), QStringLiteral("Таймер - 5 сек."));
}

void MainFrameTest::toolBarToggle() {
    TestStation st;
    MainWindow* f = st.frame;
    f->router().dispatch(CommandId::ViewToolBar);
    QVERIFY(f->toolBar()->isHidden());
    QVERIFY(!f->router().query(CommandId::ViewToolBar).checked);
    f->router().dispatch(CommandId::ViewToolBar);
    QVERIFY(!f->toolBar()->isHidden());
    QVERIFY(f->router().query(CommandId::ViewToolBar).checked);
    f->router().dispatch(CommandId::ViewStatusBar);
    QVERIFY(f->statusBar()->isHidden());
    QVERIFY(!f->timerBar()->isHidden());  // the second bar stays
    QVERIFY(!f->router().query(CommandId::ViewStatusBar).checked);
}

void MainFrameTest::lineFailureReturnsToIdle() {
    QTemporaryDir dir;
    TestStation st({dir.filePath(QStringLiteral("no-such-port"))});
    MainWindow* f = st.frame;
    f->station().setPollTiming(fastTiming());
    f->connectLine();
    QVERIFY(f->station().isPolling());
    // The thread shows its own box, reports, and the window goes back to idle.
    QTRY_VERIFY_WITH_TIMEOUT(!f->station().isPolling(), 10000);
    QCOMPARE(f->paneText(0), QStringLiteral("Ready"));
    QVERIFY(!st.dialogs.boxes().empty());
    QCOMPARE(st.dialogs.boxes().back().icon, Dialogs::Icon::Error);
    QCOMPARE(st.view(0)->count(NoticeDisconnected), 0);  // the views are not told
    QVERIFY(enabled(f, CommandId::Connect));
}

void MainFrameTest::lateLineFailureKeepsNewConnection() {
    SimBus sim;
    QTemporaryDir dir;
    TestStation st({dir.filePath(QStringLiteral("no-such-port")),
                    QString::fromStdString(sim.bus->portPath())});
    MainWindow* f = st.frame;
    f->station().setPollTiming(fastTiming());
    f->connectLine();
    // The failing thread's box is served inside Disconnect's wait; its failure report is
    // still queued when the operator connects to the right port.
    f->disconnectLine();
    QVERIFY(!f->station().isPolling());
    f->station().selectPort(1);
    f->connectLine();
    QVERIFY(f->station().isPolling());
    QTest::qWait(200);
    QVERIFY(f->station().isPolling());
    QCOMPARE(f->paneText(0), QStringLiteral("Опрос приборов"));
    f->disconnectLine();
}

QTEST_MAIN(MainFrameTest)
#include "main_window_test.moc"
