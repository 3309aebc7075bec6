// SPDX-License-Identifier: GPL-3.0-or-later
// The bench tools in the station: the gas warning before a calibration, command states in the
// audit log and the window, the overview's rows and double click, the found analyzers without a
// window, the fast-polling item.

#include "app/bus_tools.h"

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <memory>

#include "device/analyzer_document.h"
#include "device/analyzer_view.h"
#include "device/audit_log.h"
#include "device/trend_view.h"
#include "sim/bus.h"
#include "station_support.h"
#include "ui/bus_overview_dock.h"

namespace {

constexpr int kWaitMs = 20000;

QStringList numbers(BusOverviewModel& model) {
    model.refresh();
    QStringList out;
    for (int r = 0; r < model.rowCount(); ++r)
        out << model.index(r, BusOverviewModel::Number).data().toString();
    return out;
}

}  // namespace

class BusToolsTest : public QObject {
    Q_OBJECT

  private slots:
    void exitClosesTheToolWindows() {
        TestStation st;
        BusTools& tools = toolOf<BusTools>(st.frame);
        tools.showMonitor();
        QPointer<TrafficMonitor> monitor = tools.monitor();
        QVERIFY(monitor && monitor->isVisible() && !monitor->parent());
        QVERIFY(st.frame->router().dispatch(CommandId::Exit));
        QVERIFY(!st.frame->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!monitor || !monitor->isVisible(), kWaitMs);
        for (QWidget* w : QApplication::topLevelWidgets()) QVERIFY(!w->isVisible());
    }

    void gasWarningBeforeCalibrationAndTheCommandsOutcomeInTheAuditLog() {
        auto bus = zta::sim::Bus::openPty();
        QVERIFY(bus);
        zta::sim::AnalyzerConfig a;
        a.model = zta::sim::Model::Standard;
        a.address = 3;
        a.gasCode = 2;  // propane, where the station calibrates methane
        bus->addAnalyzer(a);
        a.address = 4;
        a.gasCode = 1;
        bus->addAnalyzer(a);
        bus->start();
        TestStation st({QString::fromStdString(bus->portPath())},
                       std::make_unique<FormWindowFactory>());
        MainWindow* f = st.frame;
        f->station().setPollTiming(fastTiming());
        f->openNewDocument();
        const auto children = f->mdiArea()->subWindowList();
        QCOMPARE(children.size(), 2);
        for (int i = 0; i < 2; ++i)
            viewIn(children[i])->numberField()->setText(QString::number(3 + i));
        f->connectLine();
        for (QMdiSubWindow* child : children)
            QVERIFY(
                QTest::qWaitFor([child] { return viewIn(child)->getDocument().linkUp; }, kWaitMs));

        const QString confirmation = QStringLiteral(
            "Установить газ максимальной концентрации (4.40 Об. долей) в приборе № %1 ?");
        // A mismatch: the warning names both gases; Cancel there stops before the confirmation.
        f->mdiArea()->setActiveSubWindow(children[0]);
        st.dialogs.answer(Dialogs::ResultCancel);
        QVERIFY(f->router().dispatch(CommandId::HighGas));
        QCOMPARE(st.dialogs.boxes().size(), size_t(1));
        QCOMPARE(st.dialogs.boxes()[0].text,
                 QStringLiteral("Прибор № 3 измеряет газ «Пропан», а для калибровки выбран газ "
                                "«Метан».\nПродолжить?"));
        QCOMPARE(st.dialogs.boxes()[0].caption, QStringLiteral("Внимание"));
        QCOMPARE(st.dialogs.boxes()[0].buttons, Dialogs::Ok | Dialogs::Cancel);
        QVERIFY(!f->block().snapshot(0).pending.isPending(zta::Command::MaxGas));
        // OK there leads to the confirmation the command always had.
        st.dialogs.clear();
        QVERIFY(f->router().dispatch(CommandId::HighGas));
        QCOMPARE(st.dialogs.boxes().size(), size_t(2));
        QCOMPARE(st.dialogs.boxes()[1].text, confirmation.arg(3));

        // The same gas: no warning, only the confirmation.
        st.dialogs.clear();
        f->mdiArea()->setActiveSubWindow(children[1]);
        QVERIFY(f->router().dispatch(CommandId::HighGas));
        QCOMPARE(st.dialogs.boxes().size(), size_t(1));
        QCOMPARE(st.dialogs.boxes()[0].text, confirmation.arg(4));

        // Every state of both commands reaches the audit log and the window.
        const QString audit = auditFilePath(f->station().recordFolder() + QStringLiteral("audit/"),
                                            QDate::currentDate());
        auto auditText = [&] {
            QFile file(audit);
            return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
        };
        QVERIFY(QTest::qWaitFor(
            [&] { return auditText().count(QStringLiteral(";выполнена;4.40 %;\r\n")) == 2; },
            kWaitMs));
        const QStringList lines = auditText().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        // The header, the connection, the warning passed over, three states for each command.
        QCOMPARE(lines.size(), 9);
        const QString port = QString::fromStdString(f->block().portName());
        QVERIFY(lines[1].endsWith(QStringLiteral(";%1;;;подключение;;;;;").arg(port)));
        QVERIFY(lines[2].endsWith(
            QStringLiteral(";%1;3;1234;газ не совпадает: продолжено;;;;;").arg(port)));
        for (int address : {3, 4}) {
            QStringList states;
            for (const QString& line : lines.mid(3)) {
                const QStringList fields = line.split(QLatin1Char(';'));
                if (fields.size() != 10 || fields[2] != QString::number(address)) continue;
                QCOMPARE(fields[1], port);
                QCOMPARE(fields[3], QStringLiteral("1234"));
                QCOMPARE(fields[4], QStringLiteral("Газ высокой концентрации"));
                QCOMPARE(fields[5], QStringLiteral("3"));
                QCOMPARE(fields[6], QStringLiteral("4400"));
                states << fields[7];
            }
            QCOMPARE(states, (QStringList{QStringLiteral("ожидает"), QStringLiteral("отправлена"),
                                          QStringLiteral("выполнена")}));
        }
        QCOMPARE(viewIn(children[0])->commandStateText(),
                 QStringLiteral("Газ высокой концентрации:\nвыполнена"));
        f->disconnectLine();
    }

    void overviewFollowsTheWindowsAndBringsThemUp() {
        TestStation st;
        MainWindow* f = st.frame;
        BusOverviewModel& model = toolOf<BusTools>(f).overview().model();
        qDeleteAll(f->mdiArea()->subWindowList());  // the window the station starts with
        for (int n : {5, 9, 30}) {
            QMdiSubWindow* child = f->openNewDocument();
            QVERIFY(child);
            f->block().setAddress(f->block().windowCount() - 1, n);
        }
        QCOMPARE(numbers(model), (QStringList{"5", "9", "30"}));
        const QList<QMdiSubWindow*> children = f->mdiArea()->subWindowList();
        delete children[0];  // the later windows move up
        QCOMPARE(numbers(model), (QStringList{"9", "30"}));
        f->block().setAddress(0, 10);
        QCOMPARE(numbers(model), (QStringList{"10", "30"}));

        // A double click on a row brings up its window, minimized or not.
        toolOf<BusTools>(f).showOverview();
        QTableView* table = toolOf<BusTools>(f).overview().table();
        children[2]->showMinimized();
        f->mdiArea()->setActiveSubWindow(children[1]);
        // Sorted by network number, descending: the row of 30 comes first.
        table->sortByColumn(BusOverviewModel::Number, Qt::DescendingOrder);
        QCOMPARE(table->model()->index(0, BusOverviewModel::Number).data().toString(),
                 QStringLiteral("30"));
        emit table->doubleClicked(table->model()->index(0, BusOverviewModel::Gas));
        QCOMPARE(f->mdiArea()->activeSubWindow(), children[2]);
        QVERIFY(!children[2]->isMinimized());

        // Found by a search beyond the windows it opened: listed, and opened with one action.
        toolOf<BusTools>(f).setFoundWithoutWindow({200, 201});
        QCOMPARE(numbers(model), (QStringList{"10", "30", "200", "201"}));
        QCOMPARE(model.index(2, BusOverviewModel::Link).data().toString(),
                 QStringLiteral("окна нет"));
        QVERIFY(f->router().query(CommandId::OpenFoundRest).enabled);
        QVERIFY(f->router().dispatch(CommandId::OpenFoundRest));
        QCOMPARE(f->block().windowCount(), 4);
        QCOMPARE(numbers(model), (QStringList{"10", "30", "200", "201"}));
        QCOMPARE(model.viewAt(3), f->block().view(3));
        QVERIFY(!f->router().query(CommandId::OpenFoundRest).enabled);
    }

    void fiftyRowsFitAt1600x1000AndTheSelectedRowShowsItsTrend() {
        TestStation st({QStringLiteral("ttyS0")}, std::make_unique<FormWindowFactory>());
        MainWindow* f = st.frame;
        f->resize(1600, 1000);
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f));
        while (f->block().windowCount() < 50) QVERIFY(f->openNewDocument());
        for (int i = 0; i < 50; ++i) f->block().setAddress(i, i + 1);
        for (QMdiSubWindow* child : f->mdiArea()->subWindowList()) child->showMinimized();
        toolOf<BusTools>(f).showOverview();
        BusOverviewDock& overview = toolOf<BusTools>(f).overview();
        QTableView* table = overview.table();
        QTRY_VERIFY_WITH_TIMEOUT(table->isVisible(), kWaitMs);
        QCOMPARE(table->model()->rowCount(), 50);
        const auto lastRow = [table] { return table->visualRect(table->model()->index(49, 0)); };
        QTRY_VERIFY_WITH_TIMEOUT(table->viewport()->rect().contains(lastRow()), kWaitMs);
        const QRect last = lastRow();
        QVERIFY2(table->viewport()->rect().contains(last),
                 qPrintable(QStringLiteral("row 50 at %1..%2 in a viewport of %3")
                                .arg(last.top())
                                .arg(last.bottom())
                                .arg(table->viewport()->height())));

        // The trend panel follows the selected row's readings, and lets go of a closed window.
        const auto historyOf = [f](int slot) {
            auto* view = dynamic_cast<zta::AnalyzerView*>(f->viewOfSlot(slot));
            return view ? view->getDocument().records().trend().get() : nullptr;
        };
        zta::TrendView& trend = toolOf<BusTools>(f).overviewTrend();
        QVERIFY(!trend.isVisible());
        table->selectRow(6);
        QCOMPARE(trend.history(), nullptr);  // hidden until asked for
        overview.trendButton()->click();
        QVERIFY(trend.isVisible());
        QCOMPARE(trend.history(), historyOf(6));
        table->selectRow(20);
        QCOMPARE(trend.history(), historyOf(20));
        QVERIFY(historyOf(20) != historyOf(6));
        const AnalyzerId shown = f->block().view(20);
        const zta::TrendHistory* closed = historyOf(20);
        for (QMdiSubWindow* child : f->mdiArea()->subWindowList())
            if (zta::analyzerIdOf(f->windowFactory().viewOf(child)) == shown) delete child;
        QVERIFY(!f->findView(shown));
        overview.model().refresh();
        QVERIFY(toolOf<BusTools>(f).overviewTrendView() != shown);
        QVERIFY(trend.history() != closed);
        overview.trendButton()->click();
        QCOMPARE(trend.history(), nullptr);
    }

    void fastPollingIsACheckableItemOffByDefault() {
        TestStation st;
        MainWindow* f = st.frame;
        QVERIFY(!f->block().fastPolling());
        QVERIFY(!f->router().query(CommandId::FastPolling).checked);
        QVERIFY(f->router().dispatch(CommandId::FastPolling));
        QVERIFY(f->block().fastPolling());
        QVERIFY(f->router().query(CommandId::FastPolling).checked);
        QAction* item = f->router().action(CommandId::FastPolling);
        QVERIFY(item && item->isCheckable());
        QCOMPARE(item->text(), QStringLiteral("Быстрый опрос"));
    }
};

QTEST_MAIN(BusToolsTest)
#include "bus_tools_test.moc"
