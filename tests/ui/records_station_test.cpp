// SPDX-License-Identifier: GPL-3.0-or-later
// Records in the real station against simulated analyzers: the CSV log written by "Запись"
// for an answering and a lost analyzer, one box for a record folder that cannot be written,
// trend marks at confirmed commands, and a saved bench opened again.

#include <QFile>
#include <QInputDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "app/bench_control.h"
#include "app/bench_file.h"
#include "app/bus_tools.h"
#include "device/analyzer_document.h"
#include "device/analyzer_sub_window.h"
#include "device/analyzer_view.h"
#include "device/csv_log.h"
#include "device/form_window_factory.h"
#include "device/trend_view.h"
#include "device_support.h"
#include "link/cp1251.h"
#include "sim/bus.h"
#include "station_support.h"
#include "ui/bus_overview_dock.h"
#include "ui/command_ids.h"

namespace {

constexpr int kWaitMs = 15000;

// Analyzer 1 (23 %НКПР) on a simulated bus, and a station with real analyzer windows on it.
struct SimStation {
    SimStation() : bus(zta::sim::Bus::openPty()) {
        if (!bus) return;
        zta::sim::AnalyzerConfig a;
        a.address = 1;
        a.concentration = 23;
        bus->addAnalyzer(a);
        bus->start();
        st = std::make_unique<TestStation>(QStringList{QString::fromStdString(bus->portPath())},
                                           std::make_unique<FormWindowFactory>());
        st->frame->station().setPollTiming(fastTiming());
    }
    ~SimStation() {
        if (!st) return;
        st->frame->disconnectLine();
        bus->stop();
    }
    std::unique_ptr<zta::sim::Bus> bus;
    std::unique_ptr<TestStation> st;
};

// The analyzer windows of `frame` with these numbers, opened in the station's first window on.
std::vector<AnalyzerView*> openWindows(MainWindow& frame, std::initializer_list<int> numbers) {
    std::vector<AnalyzerView*> views;
    for (int number : numbers) {
        const auto children = frame.mdiArea()->subWindowList();
        QMdiSubWindow* child =
            views.empty() && !children.isEmpty() ? children[0] : frame.openNewDocument();
        views.push_back(viewIn(child));
        views.back()->numberField()->setText(QString::number(number));
    }
    return views;
}

QList<QByteArray> csvLines(const QString& folder) {
    QFile f(zta::csvLogPath(folder, QDate::currentDate()));
    if (!f.open(QIODevice::ReadOnly)) return {};
    QList<QByteArray> lines = f.readAll().split('\n');
    lines.removeLast();
    return lines;
}

}  // namespace

class RecordsStationTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { QLocale::setDefault(QLocale::c()); }

    void csvLogBesideTheRecordFiles() {
        SimStation sim;
        QVERIFY(sim.st);
        TestStation& st = *sim.st;
        MainWindow* f = st.frame;
        const QString folder = f->station().recordFolder();
        const auto views = openWindows(*f, {1, 3});  // 3 never answers
        QVERIFY(f->router().dispatch(CommandId::CsvLog));
        QVERIFY(f->station().csvLog().enabled());

        f->connectLine();
        QTRY_VERIFY_WITH_TIMEOUT(views[0]->getDocument().linkUp, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(views[1]->getDocument().records().polled() &&
                                     views[1]->getDocument().errorCount >= zta::kLostContactLimit &&
                                     views[1]->getDocument().records().trend()->version() == 0,
                                 kWaitMs);
        views[0]->setNote(QStringLiteral("после нуля; 2 мин"));
        for (AnalyzerView* v : views) QVERIFY(v->writeRecord());

        const QList<QByteArray> lines = csvLines(folder);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0] + '\n', zta::csvFileStart());
        // Everything after the time, byte for byte.
        const QByteArray answering =
            (QStringLiteral(";1;1234;") + views[0]->text(FormField::GasName).trimmed() +
             QStringLiteral(";23.0;") + views[0]->text(FormField::Concentration) +
             QLatin1Char(';') + views[0]->text(FormField::UnitLabel).trimmed() +
             QStringLiteral(";20;50;1;1;0;25;100;1000;900;отвечает;\"после нуля; 2 мин\"\r"))
                .toUtf8();
        QCOMPARE(lines[1].mid(lines[1].indexOf(';')), answering);
        QCOMPARE(lines[2].mid(lines[2].indexOf(';')), QByteArray(";3;;;;;;;;;;;;;;;нет связи;\r"));
        QVERIFY(QDateTime::fromString(QString::fromUtf8(lines[1].left(lines[1].indexOf(';'))),
                                      Qt::ISODateWithMs)
                    .isValid());
        // The record file got its line as before, note included, in Windows-1251.
        QFile record(views[0]->recordFile);
        QVERIFY(record.open(QIODevice::ReadOnly));
        QVERIFY(record.readAll().endsWith(zta::utf8ToCp1251(" после нуля; 2 мин\r\n").c_str()));

        // A folder that cannot be written: one box for all windows and files.
        QFile blocker(folder + QStringLiteral("plain"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        f->station().setRecordFolder(blocker.fileName());
        st.dialogs.clear();
        for (int round = 0; round < 3; ++round)
            for (AnalyzerView* v : views) QVERIFY(!v->writeRecord());
        QCOMPARE(st.dialogs.boxes().size(), size_t(1));
        QCOMPARE(st.dialogs.boxes()[0].caption, QStringLiteral("Запись"));
        QCOMPARE(st.dialogs.boxes()[0].icon, Dialogs::Icon::Error);
    }

    void recordAllWritesEveryWindowAtOneMoment() {
        SimStation sim;
        QVERIFY(sim.st);
        TestStation& st = *sim.st;
        MainWindow* f = st.frame;
        const QString folder = f->station().recordFolder();
        const auto views = openWindows(*f, {1, 3});  // 3 never answers
        QVERIFY(f->router().dispatch(CommandId::CsvLog));
        f->connectLine();
        QTRY_VERIFY_WITH_TIMEOUT(views[0]->getDocument().linkUp &&
                                     views[1]->getDocument().errorCount >= zta::kLostContactLimit,
                                 kWaitMs);
        views[1]->pendingText = QStringLiteral("до точки");  // a note inserted before stays first

        // Cancel in the label's dialog writes nothing; OK with a label writes every window.
        st.dialogs.notes = {std::nullopt, QStringLiteral("точка 2: 50 %")};
        QVERIFY(f->router().dispatch(CommandId::RecordAll));
        QVERIFY(!QFile::exists(views[0]->recordFile) && csvLines(folder).size() <= 1);
        QVERIFY(f->router().dispatch(CommandId::RecordAll));
        QCOMPARE(st.dialogs.asked, (std::vector<int>{-1, -1}));

        auto lastLine = [](const QString& path) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly)) return QByteArray();
            QList<QByteArray> lines = file.readAll().split('\n');
            lines.removeLast();
            return lines.isEmpty() ? QByteArray() : lines.last() + '\n';
        };
        const QByteArray all0 = lastLine(views[0]->recordFile);
        const QByteArray all1 = lastLine(views[1]->recordFile);
        QVERIFY(all0.endsWith(zta::utf8ToCp1251(" точка 2: 50 %\r\n").c_str()));
        QVERIFY(all1.endsWith(zta::utf8ToCp1251(" до точки точка 2: 50 %\r\n").c_str()));
        QVERIFY(views[0]->pendingText.isEmpty() && views[1]->pendingText.isEmpty());
        const QList<QByteArray> csv = csvLines(folder);
        QCOMPARE(csv.size(), 3);  // the header and one line per window
        const QByteArray moment = csv[1].left(csv[1].indexOf(';'));
        QCOMPARE(csv[2].left(csv[2].indexOf(';')), moment);
        QVERIFY(csv[1].contains(";1;") && csv[2].contains(";3;"));
        for (int row : {1, 2}) QVERIFY(csv[row].contains("точка 2: 50 %"));

        // The line "Запись" writes for the window with that note, but for the time; and one
        // time on every window's line.
        const auto timeOf = [](const QByteArray& line) { return line.split(' ').value(7); };
        const auto withoutTime = [](const QByteArray& line) {
            QList<QByteArray> fields = line.split(' ');
            fields.removeAt(7);
            return fields.join(' ');
        };
        QCOMPARE(timeOf(all0), timeOf(all1));
        views[0]->pendingText = QStringLiteral("точка 2: 50 %");
        QVERIFY(views[0]->writeRecord());
        QCOMPARE(withoutTime(lastLine(views[0]->recordFile)), withoutTime(all0));
    }

    void trendMarksAtConfirmedCommands() {
        SimStation sim;
        QVERIFY(sim.st);
        TestStation& st = *sim.st;
        MainWindow* f = st.frame;
        AnalyzerView* v = openWindows(*f, {1})[0];
        QVERIFY(f->router().dispatch(CommandId::Trend));
        QVERIFY(v->trendShown());
        zta::TrendView* trend = v->trend();
        QVERIFY(trend && trend->isVisible());

        f->connectLine();
        QTRY_VERIFY_WITH_TIMEOUT(trend->history()->samples().size() >= 3, kWaitMs);
        QCOMPARE(trend->history()->samples().back().value, 23.0f);
        st.dialogs.answer(Dialogs::ResultCancel);
        v->getDocument().onCommand(CommandId::SetZero);  // cancelled: no mark
        v->getDocument().onCommand(CommandId::SetZero);
        v->getDocument().onCommand(CommandId::HighGas);
        // Each mark comes with the analyzer's echo: the calibration goes out first.
        QTRY_VERIFY_WITH_TIMEOUT((trend->refresh(), trend->shownMarks().size() == 2), kWaitMs);
        QCOMPARE(trend->shownMarks()[0].kind, zta::TrendMarkKind::HighGas);
        QCOMPARE(trend->shownMarks()[1].kind, zta::TrendMarkKind::Zero);

        QVERIFY(f->router().dispatch(CommandId::Trend));
        QVERIFY(!v->trendShown() && !trend->isVisible());
    }

    void benchTimersStartWhenPollingStarts() {
        SimStation sim;
        QVERIFY(sim.st);
        MainWindow* f = sim.st->frame;
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("bench.json"));
        zta::BenchSettings bench;
        bench.port = QString::fromStdString(sim.bus->portPath());
        for (int number : {1, 3}) {
            zta::BenchSettings::Window w;
            w.networkNumber = number;
            w.timerPeriod = number == 1 ? 60 : 0;
            bench.windows.append(w);
        }
        QVERIFY(zta::writeBenchFile(file, bench, nullptr));

        // Opened while idle: the timer waits for polling, then starts with the operator's
        // "Подключить" and writes its first line at once.
        QVERIFY(toolOf<BenchControl>(f).openBench(file));
        AnalyzerView* timed = viewIn(f->mdiArea()->subWindowList().value(0));
        QVERIFY(timed && !timed->timerRunning);
        QVERIFY(f->router().dispatch(CommandId::Connect));
        QTRY_VERIFY_WITH_TIMEOUT(timed->timerRunning && timed->timerPeriod() == 60, kWaitMs);
        QVERIFY(QFile::exists(timed->timerFile));
        QVERIFY(!viewIn(f->mdiArea()->subWindowList().value(1))->timerRunning);

        // Reconnecting does not start it twice.
        f->disconnectLine();
        QVERIFY(f->router().dispatch(CommandId::Connect));
        QCOMPARE(f->windows().runningTimers, 1);
    }

    void savedBenchOpensAgain() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("bench.json"));
        zta::BenchSettings saved;
        {
            TestStation st({QStringLiteral("ttyS0"), QStringLiteral("ttyUSB1")},
                           std::make_unique<FormWindowFactory>());
            MainWindow* f = st.frame;
            f->resize(760, 600);  // saved on this screen: it opens as it was
            const auto views = openWindows(*f, {4, 9, 17});
            views[1]->showTrend(true);
            views[1]->trend()->setSpan(120'000);
            views[1]->trend()->setSettleRule({2.5, 20});
            f->station().selectPort(1);
            f->station().setBaud(4);
            f->station().setRecordFolder(dir.filePath(QStringLiteral("records")));
            f->router().dispatch(CommandId::CsvLog);
            // The overview sorted by concentration, its trend panel open, fast polling on.
            f->router().dispatch(CommandId::FastPolling);
            BusTools& tools = toolOf<BusTools>(f);
            tools.showOverview();
            tools.overview().table()->sortByColumn(BusOverviewModel::Concentration,
                                                   Qt::DescendingOrder);
            tools.overview().trendButton()->setChecked(true);
            f->resize(760, 560);  // inside the test platform's screen
            QCoreApplication::processEvents();
            st.dialogs.paths.push_back(file);
            QVERIFY(f->router().dispatch(CommandId::SaveBench));
            QCOMPARE(st.dialogs.fileAsks.size(), size_t(1));
            QVERIFY(st.dialogs.fileAsks[0].mode == Dialogs::FileMode::Save);
            QVERIFY(st.dialogs.boxes().empty());
            saved = zta::captureBench(*f);
        }
        QCOMPARE(saved.windows.size(), 3);
        QCOMPARE(saved.port, QStringLiteral("ttyUSB1"));
        QVERIFY(saved.fastPolling && saved.overview.open && saved.overview.trend);
        QVERIFY(saved.overview.size > 0);
        QCOMPARE(saved.overview.sortColumn, int(BusOverviewModel::Concentration));
        QVERIFY(saved.overview.sortDescending);

        TestStation st({QStringLiteral("ttyS0"), QStringLiteral("ttyUSB1")},
                       std::make_unique<FormWindowFactory>());
        MainWindow* f = st.frame;
        QVERIFY(toolOf<BenchControl>(f).openBench(file));
        QVERIFY(st.dialogs.boxes().empty());
        // The dock's height as the window's layout settles it, within a few pixels.
        QTRY_VERIFY_WITH_TIMEOUT(
            std::abs(zta::captureBench(*f).overview.size - saved.overview.size) <= 20, kWaitMs);
        const zta::BenchSettings before = zta::captureBench(*f);
        zta::BenchSettings opened = before;
        opened.overview.size = saved.overview.size;
        QCOMPARE(opened, saved);
        QCOMPARE(f->station().selectedPort(), 1);
        QCOMPARE(f->block().baudRate(), 19200u);
        QCOMPARE(f->block().windowCount(), 3);

        // A malformed bench: one box, and the station stays as it was.
        QFile bad(dir.filePath(QStringLiteral("bad.json")));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("{\"format\": \"zta-k7 bench\", \"version\": 1, \"windows\": [{}]}");
        bad.close();
        QVERIFY(!toolOf<BenchControl>(f).openBench(bad.fileName()));
        QCOMPARE(st.dialogs.boxes().size(), size_t(1));
        QCOMPARE(st.dialogs.boxes()[0].text,
                 QStringLiteral("Файл стенда %1 не прочитан: окно 1: «networkNumber» не указан")
                     .arg(bad.fileName()));
        QCOMPARE(st.dialogs.boxes()[0].caption, QStringLiteral("Стенд"));
        QCOMPARE(zta::captureBench(*f), before);
    }

    // One trail a day in the default record folder's "audit", whatever the record folder; events
    // in the command's column with an empty state, and the operator named from when it is set.
    void auditTrailStaysInOnePlaceWithItsOperator() {
        TestStation st;
        MainWindow* f = st.frame;
        const QString trail = zta::auditFilePath(
            f->station().recordFolder() + QStringLiteral("audit/"), QDate::currentDate());
        f->station().setRecordFolder(st.dir.filePath(QStringLiteral("elsewhere")));
        st.dialogs.runs.push_back([](QDialog& d) {
            auto& input = dynamic_cast<QInputDialog&>(d);
            input.setTextValue(QStringLiteral("Петров"));
            return int(QDialog::Accepted);
        });
        QVERIFY(f->router().dispatch(CommandId::OperatorName));
        QCOMPARE(f->station().operatorName(), QStringLiteral("Петров"));
        f->station().auditEvent(QStringLiteral("линия потеряна"));

        QFile file(trail);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), 4);  // the header, two events, the end of the last line
        auto after = [](const QByteArray& line) {
            return QString::fromUtf8(line.mid(line.indexOf(';') + 1));
        };
        const QString port = QString::fromStdString(f->block().portName());
        QCOMPARE(
            after(lines[1]),
            QStringLiteral("%1;;;папка записи: %2/;;;;;\r")
                .arg(port, QDir::toNativeSeparators(st.dir.filePath(QStringLiteral("elsewhere")))));
        QCOMPARE(after(lines[2]), QStringLiteral("%1;;;линия потеряна;;;;;Петров\r").arg(port));
        QVERIFY(!QFile::exists(st.dir.filePath(QStringLiteral("elsewhere/audit.csv"))));
    }

    // A bench from another screen, or mended by hand: its windows come inside this screen
    // (never below their form), and a record folder no record can go to is told at once.
    void foreignBenchFitsTheScreenAndToldOfItsFolder() {
        TestStation st({QStringLiteral("ttyS0")}, std::make_unique<FormWindowFactory>());
        MainWindow* f = st.frame;
        QFile plain(st.dir.filePath(QStringLiteral("plain")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        const struct {
            QString folder;
            bool told;
        } cases[] = {
            {st.dir.filePath(QStringLiteral("new/records")), false},  // made with the first record
            {plain.fileName(), true},
            {plain.fileName() + QStringLiteral("/below"), true},
            {QStringLiteral("/proc"), true},
        };
        const QRect screen = f->screen()->availableGeometry();
        for (const auto& c : cases) {
            zta::BenchSettings b;
            b.recordFolder = c.folder;
            b.mainGeometry = QRect(-50000, 90000, 100000, 100000);
            zta::BenchSettings::Window w;
            w.networkNumber = 5;
            w.geometry = QRect(90000, 90000, 100000, 100000);
            b.windows = {w};
            const QString file = st.dir.filePath(QStringLiteral("bench.json"));
            QVERIFY(zta::writeBenchFile(file, b, nullptr));
            st.dialogs.clear();
            QVERIFY(toolOf<BenchControl>(f).openBench(file));
            QCOMPARE(st.dialogs.boxes().size(), size_t(c.told ? 1 : 0));
            if (c.told) {
                QVERIFY2(
                    st.dialogs.boxes()[0].text.startsWith(QStringLiteral("Папка записи стенда ")),
                    qPrintable(st.dialogs.boxes()[0].text));
                QCOMPARE(st.dialogs.boxes()[0].caption, QStringLiteral("Стенд"));
            }
            QVERIFY(screen.contains(f->geometry()));
            auto* child = f->mdiArea()->subWindowList().at(0);
            QVERIFY(child->width() <= std::max(screen.width(), 1600));
            QVERIFY(child->height() <= std::max(screen.height(), 1000));
            QVERIFY(child->x() >= 0 && child->y() >= 0);
            QVERIFY(child->width() >= child->sizeHint().width());
        }
        QVERIFY(!QFileInfo::exists(cases[0].folder));  // nothing made by the check
    }
};

QTEST_MAIN(RecordsStationTest)
#include "records_station_test.moc"
