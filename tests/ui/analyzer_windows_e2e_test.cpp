// SPDX-License-Identifier: GPL-3.0-or-later
// Analyzer windows in the real station against simulated analyzers on a pseudo-terminal: the
// form follows the analyzer, its link icon follows the bus, a record line carries its values,
// and an analyzer that accepted a new rate makes the station follow after the question.

#include <QFile>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>
#include <memory>

#include "device/analyzer_document.h"
#include "device/analyzer_sub_window.h"
#include "device/analyzer_view.h"
#include "device/form_window_factory.h"
#include "device_support.h"
#include "sim/bus.h"
#include "station_support.h"
#include "ui/device_icons.h"

using namespace zta;

namespace {

constexpr int kWaitMs = 15000;

}  // namespace

class AnalyzerWindowsE2eTest : public QObject {
    Q_OBJECT

  private slots:
    void windowsFollowTheAnalyzersAndTheirRate() {
        auto bus = zta::sim::Bus::openPty();
        QVERIFY(bus);
        for (int address : {3, 5}) {
            zta::sim::AnalyzerConfig a;
            a.address = address;
            a.baud = 19200;
            a.model = address == 3 ? zta::sim::Model::Standard : zta::sim::Model::Extended;
            a.concentration = address == 3 ? 50.0 : 60.0;  // above threshold 2: all relays on
            a.threshold1 = 20;
            a.threshold2 = 40;
            bus->addAnalyzer(a);
        }
        bus->start();

        TestStation st({QString::fromStdString(bus->portPath())},
                       std::make_unique<FormWindowFactory>());
        MainWindow* f = st.frame;
        f->station().setPollTiming(fastTiming());
        f->station().setBaud(4);  // 19200
        QCOMPARE(f->block().baudRate(), 19200u);
        f->openNewDocument();
        const auto children = f->mdiArea()->subWindowList();
        QCOMPARE(children.size(), 2);
        AnalyzerView* standard = viewIn(children[0]);
        AnalyzerView* extended = viewIn(children[1]);
        QVERIFY(standard && extended);
        standard->numberField()->setText(QStringLiteral("3"));
        extended->numberField()->setText(QStringLiteral("5"));
        QCOMPARE(children[1]->windowTitle(), QStringLiteral("Прибор №5"));

        f->connectLine();
        QTRY_COMPARE_WITH_TIMEOUT(standard->iconOf(FormField::LinkIcon), int(IconLinkUp), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(extended->iconOf(FormField::LinkIcon), int(IconLinkUp), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(standard->text(FormField::Concentration), QStringLiteral("2.20"),
                                  kWaitMs);
        QCOMPARE(standard->text(FormField::ConcentrationLel), QStringLiteral("50"));
        QCOMPARE(standard->text(FormField::GasName), QStringLiteral("Метан"));
        QCOMPARE(standard->text(FormField::FactoryNumber), QStringLiteral("1234"));
        QTRY_COMPARE_WITH_TIMEOUT(extended->text(FormField::ConcentrationLel), QStringLiteral("60"),
                                  kWaitMs);
        QCOMPARE(extended->iconOf(FormField::HealthRelay), int(IconRelayGreen));
        QCOMPARE(extended->iconOf(FormField::Relay1), int(IconRelayRed));
        QCOMPARE(extended->iconOf(FormField::Relay2), int(IconRelayRed));
        QVERIFY(extended->getDocument().linkUp);

        // A single record carries what the window shows.
        QVERIFY(standard->writeRecord());
        QFile record(standard->recordFile);
        QVERIFY(record.open(QIODevice::ReadOnly));
        QVERIFY(record.readAll().startsWith("25 100 1000 900 50 0 111 "));

        // Analyzer 5 takes 9600; the station asks and follows it.
        st.dialogs.clear();
        QVERIFY(f->block().confirmCommand(extended->getDocument().slot, zta::Command::NewBaud, 8));
        QTRY_VERIFY_WITH_TIMEOUT(!st.dialogs.boxes().empty(), kWaitMs);
        QCOMPARE(st.dialogs.boxes()[0].text,
                 QStringLiteral("Скорость прибора № 5 была изменена. Установить скорость 9600 ?"));
        QCOMPARE(st.dialogs.boxes()[0].caption, QStringLiteral("Смена скорости"));
        QVERIFY(f->station().isPolling());
        QCOMPARE(f->block().baudRate(), 9600u);
        QTRY_COMPARE_WITH_TIMEOUT(extended->iconOf(FormField::LinkIcon), int(IconLinkUp), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(extended->getDocument().linkUp, kWaitMs);
        // The other analyzer stayed at 19200 and is silent now.
        QTRY_COMPARE_WITH_TIMEOUT(standard->iconOf(FormField::LinkIcon), int(IconLinkDown),
                                  kWaitMs);

        // A silenced analyzer loses its link icon; disconnect empties every window.
        bus->setFault(5, zta::sim::Fault::Silent);
        QTRY_COMPARE_WITH_TIMEOUT(extended->iconOf(FormField::LinkIcon), int(IconLinkDown),
                                  kWaitMs);
        f->disconnectLine();
        QVERIFY(!f->station().isPolling());
        QCOMPARE(extended->text(FormField::GasName), QStringLiteral(" - "));
        QCOMPARE(extended->numberField()->text(), QStringLiteral("5"));
        bus->stop();
    }

    void numberFieldStaysInTheVisibleArea() {
        TestStation st({QStringLiteral("ttyS0")}, std::make_unique<FormWindowFactory>());
        MainWindow* f = st.frame;
        f->resize(900, 600);
        QMdiArea* area = f->mdiArea();
        const auto allInView = [&](const char* when) {
            QCoreApplication::processEvents();
            const QRect visible = area->viewport()->rect();
            for (QMdiSubWindow* child : area->subWindowList()) {
                QLineEdit* field = viewIn(child)->numberField();
                const QRect shown(field->mapTo(area->viewport(), QPoint(0, 0)), field->size());
                if (!visible.contains(shown)) {
                    qWarning("%s: number field at %d,%d outside %dx%d", when, shown.x(), shown.y(),
                             visible.width(), visible.height());
                    return false;
                }
            }
            return true;
        };
        QCOMPARE(area->subWindowList().size(), 1);
        QVERIFY(allInView("start"));
        QVERIFY(f->router().dispatch(CommandId::NewDocument));
        QCOMPARE(area->subWindowList().size(), 2);
        QVERIFY(allInView("new window"));
        QVERIFY(f->router().dispatch(CommandId::WindowTile));
        QVERIFY(allInView("tiled"));
    }

    void maximizedWindowKeepsTheCaption() {
        // Where a maximized window draws no title bar of its own (the Windows style), Qt would
        // carry its title into the main window's. The style outlives the station.
        std::unique_ptr<QStyle> windows(QStyleFactory::create(QStringLiteral("Windows")));
        QVERIFY(windows);
        TestStation st({QStringLiteral("ttyS0")}, std::make_unique<FormWindowFactory>());
        MainWindow* f = st.frame;
        const QString caption = f->windowTitle();
        QMdiSubWindow* child = f->mdiArea()->subWindowList().at(0);
        child->setStyle(windows.get());
        viewIn(child)->numberField()->setText(QStringLiteral("4"));
        child->showMaximized();
        QCoreApplication::processEvents();
        QCOMPARE(f->windowTitle(), caption);
        // A new number while maximized, and a second window opening maximized.
        viewIn(child)->numberField()->setText(QStringLiteral("6"));
        QVERIFY(f->router().dispatch(CommandId::NewDocument));
        QCoreApplication::processEvents();
        QCOMPARE(f->windowTitle(), caption);
        child->showNormal();
        QCOMPARE(f->windowTitle(), caption);
    }

    void allWindowsCommandsReachEveryView() {
        auto bus = zta::sim::Bus::openPty();
        QVERIFY(bus);
        for (int address : {1, 2}) {
            zta::sim::AnalyzerConfig a;
            a.address = address;
            bus->addAnalyzer(a);
        }
        bus->start();
        TestStation st({QString::fromStdString(bus->portPath())},
                       std::make_unique<FormWindowFactory>());
        ScriptedDialogs& dialogs = st.dialogs;
        MainWindow* f = st.frame;
        f->station().setPollTiming(fastTiming());
        f->openNewDocument();
        const auto children = f->mdiArea()->subWindowList();
        AnalyzerView* views[2] = {viewIn(children[0]), viewIn(children[1])};
        views[0]->numberField()->setText(QStringLiteral("1"));
        views[1]->numberField()->setText(QStringLiteral("2"));
        f->connectLine();
        for (AnalyzerView* v : views)
            QTRY_COMPARE_WITH_TIMEOUT(v->iconOf(FormField::LinkIcon), int(IconLinkUp), kWaitMs);

        // A note for all windows, then a timer for all windows: each first timer line ends
        // with the note.
        dialogs.notes.push_back(QStringLiteral("все"));
        QVERIFY(f->router().dispatch(CommandId::InsertAll));
        dialogs.periods.push_back(3600);
        QVERIFY(f->router().query(CommandId::TimerAll).enabled);
        QVERIFY(f->router().dispatch(CommandId::TimerAll));
        QCOMPARE(f->windows().runningTimers, 2);
        f->router().refresh();
        QVERIFY(!f->router().query(CommandId::TimerAll).enabled);
        QVERIFY(f->router().query(CommandId::TimerOffAll).enabled);
        for (AnalyzerView* v : views) {
            QVERIFY(v->timerRunning);
            QFile file(v->timerFile);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY(file.readAll().endsWith(" \xe2\xf1\xe5\r\n"));
        }
        // The active window's period shows in the second status bar.
        f->mdiArea()->setActiveSubWindow(children[1]);
        QCOMPARE(f->timerPaneText(1), QStringLiteral("Таймер - 3600 сек."));

        QVERIFY(f->router().dispatch(CommandId::TimerOffAll));
        QCOMPARE(f->windows().runningTimers, 0);
        QVERIFY(!views[0]->timerRunning && !views[1]->timerRunning);
        QCOMPARE(f->timerPaneText(1), QStringLiteral("Таймер не установлен"));

        // Software information in every window, and the active window's dialog.
        QVERIFY(f->router().dispatch(CommandId::SoftwareInfoAll));
        for (AnalyzerView* v : views) {
            QVERIFY(!v->control(FormField::SoftwareGroup)->isHidden());
            QTRY_COMPARE_WITH_TIMEOUT(v->text(FormField::SoftwareVersion), QStringLiteral("v1.2"),
                                      kWaitMs);
        }
        QVERIFY(f->router().query(CommandId::SoftwareInfoActive).enabled);
        QVERIFY(f->router().dispatch(CommandId::SoftwareInfoActive));
        QCOMPARE(dialogs.shown.size(), size_t(1));
        QCOMPARE(dialogs.shown[0].networkNumber, 2);
        f->disconnectLine();
        bus->stop();
    }
};

QTEST_MAIN(AnalyzerWindowsE2eTest)
#include "analyzer_windows_e2e_test.moc"
