// SPDX-License-Identifier: GPL-3.0-or-later
// The station on an engineer's 1600x1000 screen (the offscreen platform's own is 800x600):
// fifty windows beside the overview, the main window kept on the screen, and texts that fit
// their widgets.

#include <QApplication>
#include <QChart>
#include <QDoubleSpinBox>
#include <QFile>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsTextItem>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <memory>

#include "app/bench_file.h"
#include "device/analyzer_document.h"
#include "device/analyzer_view.h"
#include "device/form_window_factory.h"
#include "device/trend_view.h"
#include "search/scan.h"
#include "station_support.h"
#include "ui/bus_overview_dock.h"
#include "ui/command_texts.h"

namespace {

constexpr int kWaitMs = 10000;
const QRect kScreen(0, 0, 1600, 1000);

// The whole text is drawn: on one line, or wrapped within the label's height.
bool fits(const QLabel* label) {
    const QRect room = label->contentsRect().adjusted(label->margin(), label->margin(),
                                                      -label->margin(), -label->margin());
    const QFontMetrics m = label->fontMetrics();
    if (label->wordWrap())
        return m.boundingRect(room, Qt::TextWordWrap, label->text()).height() <= room.height();
    return m.horizontalAdvance(label->text()) <= room.width();
}

QString describe(const QWidget* w) {
    const auto* label = qobject_cast<const QLabel*>(w);
    return QStringLiteral("%1 «%2» %3,%4 %5x%6 frame %7,%8 %9x%10")
        .arg(w->objectName(), label ? label->text() : QString())
        .arg(w->x())
        .arg(w->y())
        .arg(w->width())
        .arg(w->height())
        .arg(w->frameGeometry().x())
        .arg(w->frameGeometry().y())
        .arg(w->frameGeometry().width())
        .arg(w->frameGeometry().height());
}

// A station with real analyzer windows, maximized on the screen.
struct BigStation : TestStation {
    BigStation() : TestStation({QStringLiteral("ttyS0")}, std::make_unique<FormWindowFactory>()) {
        frame->showMaximized();
    }
    bool settled() {
        return QTest::qWaitFor([this] { return frame->width() > 1500; }, kWaitMs);
    }
};

// The time labels drawn under a trend's plot.
int timeLabels(const TrendView& trend) {
    static const QRegularExpression time(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$"));
    int n = 0;
    for (QGraphicsItem* item : trend.chart()->scene()->items())
        if (auto* text = dynamic_cast<QGraphicsTextItem*>(item))
            n += text->isVisible() && time.match(text->toPlainText()).hasMatch();
    return n;
}

}  // namespace

class ScreenFitTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { QLocale::setDefault(QLocale::c()); }

    void theScreenIsAnEngineers() {
        QCOMPARE(QGuiApplication::primaryScreen()->geometry(), kScreen);
    }

    void fiftyWindowsBesideTheOverview() {
        BigStation st;
        MainWindow* f = st.frame;
        QVERIFY(st.settled());
        // As a search leaves them: ten windows tiled, forty found analyzers without one.
        for (int n = 2; n <= 10; ++n) QVERIFY(f->openWindowFor(n));
        QVERIFY(f->router().dispatch(CommandId::WindowTile));
        BusTools& tools = toolOf<BusTools>(f);
        std::vector<int> found;
        for (int n = 11; n <= 50; ++n) found.push_back(n);
        tools.setFoundWithoutWindow(found);
        QTableView* table = tools.overview().table();
        QCOMPARE(tools.overview().model().rowCount(), 50);
        QTRY_VERIFY2_WITH_TIMEOUT(
            table->rowViewportPosition(49) + table->rowHeight(49) <= table->viewport()->height(),
            qPrintable(
                QStringLiteral("%1 of %2").arg(table->viewport()->height()).arg(f->height())),
            kWaitMs);

        // The rest opened, the main window still on the screen; then every window tiled, each
        // at least its form, the rest of the column scrolling.
        QVERIFY(f->router().dispatch(CommandId::OpenFoundRest));
        QCOMPARE(f->block().windowCount(), 50);
        QCoreApplication::processEvents();
        QVERIFY2(kScreen.contains(f->frameGeometry()), qPrintable(describe(f)));
        QVERIFY(f->router().dispatch(CommandId::WindowTile));
        const QList<QMdiSubWindow*> children = f->mdiArea()->subWindowList();
        QCOMPARE(children.size(), 50);
        int y = 0;
        for (QMdiSubWindow* child : children) {
            QVERIFY2(child->height() >= child->minimumSizeHint().height(),
                     qPrintable(describe(child)));
            QVERIFY(child->width() >= child->minimumSizeHint().width());
            QVERIFY(child->y() >= y);  // one under the other
            y = child->y() + child->height();
        }
        QVERIFY(f->mdiArea()->verticalScrollBar()->maximum() > 0);

        // A window tiled to nothing and pushed out of sight comes back whole and in view.
        QMdiSubWindow* lost = children[30];
        lost->setGeometry(5000, 5000, 60, 1);
        lost->showMinimized();
        QCoreApplication::processEvents();
        QCOMPARE(tools.overview().viewAtTableRow(30), analyzerIdOf(viewIn(lost)));
        emit table->doubleClicked(table->model()->index(30, 0));
        QVERIFY(!lost->isMinimized());
        QCOMPARE(f->mdiArea()->activeSubWindow(), lost);
        QVERIFY(lost->width() >= lost->sizeHint().width());
        QVERIFY(lost->height() >= lost->sizeHint().height());
        QTRY_VERIFY2_WITH_TIMEOUT(f->mdiArea()->viewport()->rect().contains(lost->geometry()),
                                  qPrintable(describe(lost)), kWaitMs);
    }

    void mainWindowStaysOnTheScreen_data() {
        QTest::addColumn<QRect>("saved");
        QTest::newRow("wider than the screen") << QRect(0, 0, 2500, 800);
        QTest::newRow("off to the right") << QRect(1400, 100, 900, 600);
        QTest::newRow("above and left") << QRect(-300, -200, 900, 600);
        QTest::newRow("inside") << QRect(100, 100, 900, 600);
    }
    void mainWindowStaysOnTheScreen() {
        QFETCH(QRect, saved);
        QCOMPARE(placedInside(saved, kScreen).size(), saved.size().boundedTo(kScreen.size()));
        QVERIFY(kScreen.contains(placedInside(saved, kScreen)));
        if (kScreen.contains(saved)) QCOMPARE(placedInside(saved, kScreen), saved);

        // A bench saved that way opens with the main window on the screen.
        TestStation st;
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("bench.json"));
        BenchSettings bench;
        bench.mainGeometry = saved;
        bench.windows.append(BenchSettings::Window{});
        QVERIFY(writeBenchFile(file, bench, nullptr));
        QVERIFY(toolOf<BenchControl>(st.frame).openBench(file));
        QVERIFY2(kScreen.contains(st.frame->frameGeometry()), qPrintable(describe(st.frame)));
    }

    void statusPanesFitAtTheDefaultSize() {
        TestStation st({QStringLiteral("/dev/ttyUSB0")});
        MainWindow* f = st.frame;
        f->resize(900, 600);  // the station's first size
        QVERIFY(f->router().dispatch(CommandId::GasCyclopentane));
        f->setPaneText(0, QStringLiteral("Опрос приборов"));
        f->showTimerPane(3600);
        QCoreApplication::processEvents();
        for (int pane = 1; pane < StatusPanes::kPaneCount; ++pane)
            QVERIFY2(fits(f->pane(pane)), qPrintable(describe(f->pane(pane))));
        QVERIFY2(fits(f->timerPane(1)), qPrintable(describe(f->timerPane(1))));

        // The search's progress bar stands beside its text, not over it.
        BusTools& tools = toolOf<BusTools>(f);
        f->setPaneText(0, QString::fromStdString(zta::searchProgressText(
                              200, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12})));
        tools.searchProgress(200);
        QCoreApplication::processEvents();
        QLabel* text = f->pane(0);
        QVERIFY2(fits(text), qPrintable(describe(text)));
        const QRect bar = tools.searchProgress()->geometry();
        QVERIFY2(text->x() + text->fontMetrics().horizontalAdvance(text->text()) <= bar.x(),
                 qPrintable(describe(text)));
    }

    void trendTextsFitAndTakeThePoint() {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        auto history = std::make_shared<TrendHistory>();
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        for (int s = 60; s >= 0; --s) history->add(now - s * 1000, 40.0 + 0.05 * s);
        history->mark(now - 20'000, TrendMarkKind::Threshold2);
        history->mark(now - 19'000, TrendMarkKind::Threshold2);
        TrendView trend;
        trend.setClock([now] { return now; });
        trend.setHistory(history);
        trend.setSettleRule({2.5, 30});
        trend.resize(1200, 400);
        trend.show();
        QVERIFY(QTest::qWaitForWindowExposed(&trend));
        trend.refresh();

        // The point, as the windows show numbers; the CSV keeps the locale's separator.
        QVERIFY2(trend.settlingText().contains(QStringLiteral("изменение 1.5 %")) &&
                     trend.settlingText().contains(QStringLiteral("допуск 2.5 %")),
                 qPrintable(trend.settlingText()));
        const auto* band = trend.findChild<QDoubleSpinBox*>();
        QCOMPARE(band->text(), QStringLiteral("2.5 %"));
        QTemporaryDir dir;
        QVERIFY(
            trend.exportCsv(dir.filePath(QStringLiteral("t.csv")), QLocale().decimalPoint().at(0)));
        QFile csv(dir.filePath(QStringLiteral("t.csv")));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        QVERIFY(csv.readAll().contains(";42,5;"));

        // Two marks a second apart: their names do not overlap.
        std::vector<QRectF> names;
        for (QGraphicsItem* item : trend.chart()->childItems())
            if (auto* text = dynamic_cast<QGraphicsSimpleTextItem*>(item);
                text && text->isVisible())
                names.push_back(text->mapRectToScene(text->boundingRect()));
        QCOMPARE(names.size(), size_t(2));
        QVERIFY(!names[0].intersects(names[1]));

        // Narrow as beside the overview's table: the settling line wraps, whole.
        for (int width : {1200, 700, 420}) {
            trend.resize(width, 400);
            QCoreApplication::processEvents();
            QVERIFY2(fits(trend.settlingLabel()), qPrintable(describe(trend.settlingLabel())));
            auto* csvButton = trend.findChild<QToolButton*>(QStringLiteral("exportCsv"));
            QVERIFY2(csvButton->width() >= csvButton->sizeHint().width(),
                     qPrintable(describe(csvButton)));
        }
        QLocale::setDefault(QLocale::c());
    }

    void windowTrendAndOverviewTextsFit() {
        BigStation st;
        MainWindow* f = st.frame;
        QVERIFY(st.settled());
        AnalyzerView* view = viewIn(f->mdiArea()->subWindowList().value(0));
        QVERIFY(view);
        view->showTrend(true);
        QCoreApplication::processEvents();
        auto* csvButton = view->trend()->findChild<QToolButton*>(QStringLiteral("exportCsv"));
        QVERIFY2(csvButton->width() >= csvButton->sizeHint().width() &&
                     view->trend()->geometry().right() <= view->width(),
                 qPrintable(describe(csvButton)));
        QVERIFY2(fits(view->trend()->settlingLabel()),
                 qPrintable(describe(view->trend()->settlingLabel())));
        const auto labels = view->findChildren<QLabel*>();
        for (QLabel* label : labels)
            if (label->isVisible() && !label->text().isEmpty())
                QVERIFY2(fits(label), qPrintable(describe(label)));

        // A failed command's state in the overview, whole, and in full in its tooltip; the
        // trend panel open beside the table.
        BusTools& tools = toolOf<BusTools>(f);
        tools.overview().trendButton()->setChecked(true);
        tools.showOverview();
        // Its trend panel has a time axis before the row's first reading.
        tools.overview().table()->selectRow(0);
        QTRY_VERIFY_WITH_TIMEOUT(timeLabels(tools.overviewTrend()) >= 2, kWaitMs);
        BusOverviewModel& model = tools.overview().model();
        model.setSource([] {
            OverviewRow row;
            row.view = 1;
            row.polling = true;
            row.slot.address = 7;
            CommandTrack& t = row.slot.commands[0];
            t.state = CommandStatus::Failed;
            t.failure = CommandFailure::PollingStopped;
            t.id = 1;
            return std::vector<OverviewRow>{row};
        });
        QCoreApplication::processEvents();
        const QModelIndex cell =
            tools.overview().table()->model()->index(0, BusOverviewModel::CommandStateColumn);
        const QString text = cell.data().toString();
        QVERIFY(text.startsWith(QStringLiteral("не выполнена: опрос остановлен")));
        QCOMPARE(cell.data(Qt::ToolTipRole).toString(), text);
        QTableView* table = tools.overview().table();
        QVERIFY2(
            table->columnWidth(BusOverviewModel::CommandStateColumn) >=
                table->fontMetrics().horizontalAdvance(text),
            qPrintable(QString::number(table->columnWidth(BusOverviewModel::CommandStateColumn))));
        QVERIFY(tools.overviewTrend().isVisible());
        QVERIFY2(fits(tools.overviewTrend().settlingLabel()),
                 qPrintable(describe(tools.overviewTrend().settlingLabel())));
    }
};

int main(int argc, char** argv) {
    // One screen of 1600x1000 for the offscreen platform, from a file it reads at start.
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("screen.json"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) return 1;
    file.write(R"({"screens": [{"name": "bench", "x": 0, "y": 0, "width": 1600, "height": 1000,
                 "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toLocal8Bit());
    QApplication app(argc, argv);
    ScreenFitTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "screen_fit_test.moc"
