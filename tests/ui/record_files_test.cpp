// SPDX-License-Identifier: GPL-3.0-or-later
// Record files, the record timer and notes: line bytes, file names, appending, the timer's
// first line and ticks, stopping, notes for one and for all windows, unwritable folders.

#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTest>
#include <algorithm>
#include <memory>
#include <thread>

#include "device/analyzer_document.h"
#include "device/analyzer_sub_window.h"
#include "device/analyzer_view.h"
#include "device/csv_log.h"
#include "device/record_file.h"
#include "device_support.h"
#include "ui/command_ids.h"
#include "ui/dialogs.h"

using namespace zta;

namespace {

QList<QByteArray> linesOf(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QList<QByteArray> lines = f.readAll().split('\n');
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.pop_back();
    return lines;
}

// A line as written, with the time replaced by "T".
QByteArray withoutTime(QByteArray line) {
    static const QRegularExpression time(QStringLiteral("\\d\\d:\\d\\d:\\d\\d"));
    return QString::fromLatin1(line).replace(time, QStringLiteral("T")).toLatin1();
}

}  // namespace

class RecordFilesTest : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeHost> host_;
    std::unique_ptr<ScriptedDialogs> dialogs_;

    AnalyzerView* open(int number) {
        AnalyzerSubWindow* w = openAnalyzerWindow(*host_, host_->area);
        w->view()->numberField()->setText(QString::number(number));
        return w->view();
    }

    void feed(AnalyzerView* v, double concentration, int relays) {
        host_->store(v->getDocument().slot, [&](zta::Slot& s) {
            s.errorCount = 0;
            s.readings.temperature = 21;
            s.readings.dValue = -3;
            s.readings.refChannel = 1500;
            s.readings.workChannel = 1480;
            s.readings.concentration = concentration;
            s.readings.auxValue = 7;
            s.readings.relayState = static_cast<uint8_t>(relays);
        });
        host_->deliver(v);
    }

  private slots:
    void init() {
        host_ = std::make_unique<FakeHost>();
        dialogs_ = std::make_unique<ScriptedDialogs>();
        setDialogs(dialogs_.get());
    }

    void cleanup() {
        host_.reset();
        setDialogs(nullptr);
        dialogs_.reset();
    }

    void recordLineBytes_data() {
        QTest::addColumn<double>("concentration");
        QTest::addColumn<int>("relays");
        QTest::addColumn<QString>("note");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("relays 5, 49.6")
            << 49.6 << 5 << QString() << QByteArray("21 -3 1500 1480 50 7 101 12:34:56 \r\n");
        QTest::newRow("relays 2") << 0.0 << 2 << QString()
                                  << QByteArray("21 -3 1500 1480 0 7 10 12:34:56 \r\n");
        QTest::newRow("relays 0") << 12.4 << 0 << QString()
                                  << QByteArray("21 -3 1500 1480 12 7 0 12:34:56 \r\n");
        QTest::newRow("Cyrillic note")
            << 1.0 << 1 << QStringLiteral("Газ подан")
            << QByteArray("21 -3 1500 1480 1 7 1 12:34:56 \xc3\xe0\xe7 \xef\xee\xe4\xe0\xed\r\n");
        QTest::newRow("note of two lines")
            << 1.0 << 1 << QStringLiteral("a\nb")
            << QByteArray("21 -3 1500 1480 1 7 1 12:34:56 a\r\nb\r\n");
        const QByteArray head("21 -3 1500 1480 1 7 1 12:34:56 ");
        QTest::newRow("note over the limit") << 1.0 << 1 << QString(40000, QLatin1Char('n'))
                                             << head + QByteArray(1000, 'n') + "\r\n";
        QTest::newRow("no half character at the limit")
            << 1.0 << 1
            << QString(999, QLatin1Char('n')) + QString::fromUtf8("\xF0\x9F\x94\xA5 tail")
            << head + QByteArray(999, 'n') + "\r\n";
    }

    void recordLineBytes() {
        QFETCH(double, concentration);
        QFETCH(int, relays);
        QFETCH(QString, note);
        QFETCH(QByteArray, expected);
        RecordValues v{21, -3, 1500, 1480, concentration, 7, static_cast<uint8_t>(relays)};
        QCOMPARE(buildRecordLine(v, QTime(12, 34, 56), note), expected);
    }

    // Two writers on one file (two stations, or two windows with the same number): every line
    // arrives whole and none is overwritten.
    void concurrentAppendsNeitherInterleaveNorOverwrite() {
        const QString path = host_->folder + QStringLiteral("shared.zta");
        const QByteArray a = QByteArray(300, 'a') + "\r\n";
        const QByteArray b = QByteArray(300, 'b') + "\r\n";
        constexpr int kEach = 500;
        std::thread other([&] {
            for (int i = 0; i < kEach; ++i) appendRecordLine(path, a);
        });
        for (int i = 0; i < kEach; ++i) appendRecordLine(path, b);
        other.join();
        const auto lines = linesOf(path);
        QCOMPARE(lines.size(), 2 * kEach);
        int as = 0;
        for (const QByteArray& line : lines) {
            QVERIFY(line == a.chopped(1) || line == b.chopped(1));
            as += line.startsWith('a');
        }
        QCOMPARE(as, kEach);
    }

    // The default record folder of an installed station is made by its first record.
    void theFirstRecordMakesItsFolder() {
        const QString path = host_->folder + QStringLiteral("Documents/ZTA-K7/3.zta");
        QString error;
        QVERIFY2(appendRecordLine(path, "1\r\n", &error), qPrintable(error));
        QCOMPARE(linesOf(path), QList<QByteArray>({"1\r"}));
    }

    void singleRecordsAppendToTheNumbersFile() {
        AnalyzerView* v = open(12);
        QCOMPARE(v->recordFile, host_->folder + QStringLiteral("12.zta"));
        QCOMPARE(v->timerFile, host_->folder + QStringLiteral("12timer.zta"));
        {
            QFile old(v->recordFile);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old line\r\n");
        }
        feed(v, 49.6, 5);
        QVERIFY(v->onCommand(CommandId::Record));
        QVERIFY(v->onCommand(CommandId::ToolRecord));
        const auto lines = linesOf(v->recordFile);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QByteArray("old line\r"));
        QCOMPARE(withoutTime(lines[1]), QByteArray("21 -3 1500 1480 50 7 101 T \r"));
        QVERIFY(!QFile::exists(v->timerFile));

        v->numberField()->setText(QStringLiteral("13"));
        v->writeRecord();
        QCOMPARE(linesOf(host_->folder + QStringLiteral("13.zta")).size(), 1);
        QCOMPARE(linesOf(host_->folder + QStringLiteral("12.zta")).size(), 3);
    }

    void noteEndsTheNextLineOnly() {
        AnalyzerView* v = open(4);
        dialogs_->notes.push_back(QStringLiteral("калибровка"));
        QVERIFY(v->onCommand(CommandId::InsertActive));
        QCOMPARE(dialogs_->asked, std::vector<int>{4});
        QVERIFY(QFileInfo::exists(v->recordFile) == false);  // nothing written yet
        v->writeRecord();
        v->writeRecord();
        const auto lines = linesOf(v->recordFile);
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[0].endsWith(" \xea\xe0\xeb\xe8\xe1\xf0\xee\xe2\xea\xe0\r"));
        QVERIFY(lines[1].endsWith(" \r"));
        QCOMPARE(withoutTime(lines[1]), QByteArray("0 0 0 0 0 0 0 T \r"));

        dialogs_->notes.push_back(std::nullopt);  // Cancel keeps no note
        v->onCommand(CommandId::ToolInsertActive);
        QVERIFY(v->pendingText.isEmpty());
    }

    void noteForAllWindowsReachesEachWindowsNextLine() {
        AnalyzerView* a = open(1);
        AnalyzerView* b = open(2);
        host_->shared.note = QStringLiteral("все");
        for (AnalyzerView* v : {a, b}) v->onNoteForAll();
        host_->polling = true;
        a->startRecordTimer(3600);  // its next line goes to the timer file
        b->writeRecord();
        QVERIFY(linesOf(a->timerFile).at(0).endsWith(" \xe2\xf1\xe5\r"));
        QVERIFY(linesOf(b->recordFile).at(0).endsWith(" \xe2\xf1\xe5\r"));
        a->writeRecord();
        QCOMPARE(withoutTime(linesOf(a->recordFile).at(0)), QByteArray("0 0 0 0 0 0 0 T \r"));
    }

    void timerWritesAtOnceAndOnTicksAndStopWritesNothing() {
        host_->polling = true;
        AnalyzerView* v = open(5);
        feed(v, 10, 1);
        dialogs_->periods.push_back(1);
        QVERIFY(v->onCommand(CommandId::TimerActive));
        QCOMPARE(dialogs_->asked, std::vector<int>{5});
        QVERIFY(v->timerRunning);
        QVERIFY(v->getDocument().timerRunning);
        QCOMPARE(v->timerPeriod(), 1);
        QCOMPARE(host_->timerPane, 1);
        QCOMPARE(host_->shared.runningTimers, 1);
        QVERIFY(host_->anyTimerRunning);
        QCOMPARE(linesOf(v->timerFile).size(), 1);
        QVERIFY(!QFile::exists(v->recordFile));

        CommandState st;
        QVERIFY(v->onUpdateCommand(CommandId::TimerActive, st));
        QVERIFY(!st.enabled);
        QVERIFY(v->onUpdateCommand(CommandId::ToolStopTimer, st));
        QVERIFY(st.enabled);

        // Ticks go to the timer file too; a single record in between goes to the plain one.
        QTRY_VERIFY_WITH_TIMEOUT(linesOf(v->timerFile).size() >= 2, 10000);
        v->writeRecord();
        QCOMPARE(linesOf(v->recordFile).size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(linesOf(v->timerFile).size() >= 3, 10000);

        QVERIFY(v->onCommand(CommandId::ToolStopTimer));
        const auto written = linesOf(v->timerFile).size();
        QVERIFY(!v->timerRunning);
        QCOMPARE(v->timerPeriod(), 0);
        QCOMPARE(host_->timerPane, 0);
        QCOMPARE(host_->shared.runningTimers, 0);
        QVERIFY(!host_->anyTimerRunning);
        QVERIFY(!v->recordTimer().isActive());
        QCOMPARE(linesOf(v->timerFile).size(), written);
        v->stopRecordTimer();  // a second stop changes nothing
        QCOMPARE(host_->shared.runningTimers, 0);
    }

    void setTimerRefusals() {
        AnalyzerView* v = open(8);
        QVERIFY(v->onCommand(CommandId::ToolSetTimer));
        QCOMPARE(dialogs_->boxes().at(0).text,
                 QStringLiteral("Установка таймера для прибора № 8 не может быть произведена.\r\n"
                                "    \t         Проверьте подключение прибора. "));
        QCOMPARE(dialogs_->boxes().at(0).caption, QStringLiteral("Ошибка"));
        QVERIFY(dialogs_->asked.empty());

        host_->polling = true;
        dialogs_->periods = {std::nullopt, 0};
        v->onCommand(CommandId::TimerActive);  // Cancel
        v->onCommand(CommandId::TimerActive);  // 0
        QVERIFY(!v->timerRunning);
        QCOMPARE(dialogs_->boxes().size(), size_t(1));

        v->startRecordTimer(60);
        v->onCommand(CommandId::TimerActive);
        QCOMPARE(dialogs_->boxes().back().text, QStringLiteral("Таймер уже установлен"));
        QCOMPARE(dialogs_->boxes().back().caption, QStringLiteral("Ошибка"));
        QCOMPARE(host_->shared.runningTimers, 1);
    }

    void timerForAllWindowsAndNegativePeriods() {
        host_->polling = true;
        AnalyzerView* a = open(1);
        AnalyzerView* b = open(2);
        for (AnalyzerView* v : {a, b}) v->onStartTimer(30);
        QCOMPARE(host_->shared.runningTimers, 2);
        QCOMPARE(linesOf(a->timerFile).size(), 1);
        QCOMPARE(linesOf(b->timerFile).size(), 1);
        for (AnalyzerView* v : {a, b}) v->onStopTimer();
        QCOMPARE(host_->shared.runningTimers, 0);

        a->onStartTimer(-5);
        QVERIFY(!a->timerRunning);
        QCOMPARE(dialogs_->boxes().size(), size_t(1));
        QCOMPARE(dialogs_->boxes()[0].caption, QStringLiteral("Таймер"));
        a->onStartTimer(0);
        QVERIFY(!a->timerRunning);
        QCOMPARE(dialogs_->boxes().size(), size_t(1));
        QCOMPARE(host_->shared.runningTimers, 0);
        QCOMPARE(linesOf(a->timerFile).size(), 1);

        // A period the platform timer cannot hold is refused as the platform would.
        a->onStartTimer(3000000);
        QVERIFY(!a->timerRunning);
        QCOMPARE(dialogs_->boxes().back().text, QStringLiteral("Таймер не установлен"));
        QCOMPARE(dialogs_->boxes().back().icon, Dialogs::Icon::Error);
    }

    void unwritableFolderIsReportedOnceAndTheNoteWaits() {
        AnalyzerView* v = open(3);
        // A folder below a plain file cannot be made, whoever runs the test.
        QFile blocker(host_->folder + QStringLiteral("plain"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        host_->folder = blocker.fileName() + QStringLiteral("/");
        v->onRecordFolderChanged();
        v->pendingText = QStringLiteral("note");

        QVERIFY(!v->writeRecord());
        QVERIFY(!v->writeRecord());
        QCOMPARE(dialogs_->boxes().size(), size_t(1));
        QVERIFY(dialogs_->boxes()[0].text.contains(QStringLiteral("3.zta")));
        QVERIFY(dialogs_->boxes()[0].text.contains(QStringLiteral("не является папкой")));
        QCOMPARE(dialogs_->boxes()[0].icon, Dialogs::Icon::Error);
        // Told without a modal box: a record timer's tick that failed is not held by it.
        QVERIFY(!dialogs_->boxes()[0].modal);
        QCOMPARE(v->pendingText, QStringLiteral("note"));

        // The timer file lies in the same folder: the folder has been reported already.
        host_->polling = true;
        v->startRecordTimer(3600);
        QCOMPARE(dialogs_->boxes().size(), size_t(1));

        host_->folder = QDir(host_->tempDir.path()).absolutePath() + QStringLiteral("/");
        v->onRecordFolderChanged();
        QVERIFY(v->writeRecord());
        QVERIFY(linesOf(v->recordFile).at(0).endsWith(" note\r"));
        QVERIFY(v->pendingText.isEmpty());
    }

    // The timer whose tick failed goes on: once the cause is gone its next tick writes, with
    // no one answering a box.
    void failedTickRetriesOnTheNextTick() {
        host_->polling = true;
        AnalyzerView* v = open(4);
        QFile blocker(host_->folder + QStringLiteral("4timer.zta"));
        QVERIFY(QDir().mkdir(blocker.fileName()));  // a folder where the timer file goes
        v->startRecordTimer(1);
        QVERIFY(v->timerRunning);
        QCOMPARE(dialogs_->boxes().size(), size_t(1));
        QVERIFY(!dialogs_->boxes()[0].modal);
        QVERIFY(QDir().rmdir(blocker.fileName()));
        QTRY_VERIFY_WITH_TIMEOUT(linesOf(v->timerFile).size() >= 1, 15000);
        QVERIFY(v->recordTimer().isActive());
        QCOMPARE(dialogs_->boxes().size(), size_t(1));
        v->stopRecordTimer();
    }

    // The note reaches each file once: a failure of one file keeps it for that file alone.
    void noteReachesTheRecordFileAndTheCsvLogOnce() {
        host_->csv.setEnabled(true);
        for (const bool csvBlocked : {true, false}) {
            AnalyzerView* v = open(csvBlocked ? 11 : 12);
            const QString csv = csvLogPath(host_->folder, QDate::currentDate());
            const QString blocked = csvBlocked ? csv : v->recordFile;
            QFile::remove(csv);
            QVERIFY(QDir().mkdir(blocked));
            v->setNote(QStringLiteral("точка 1"));
            QVERIFY(!v->writeRecord());
            QVERIFY(QDir().rmdir(blocked));
            QVERIFY(v->writeRecord());
            const QList<QByteArray> record = linesOf(v->recordFile);
            const QList<QByteArray> log = linesOf(csv);
            QCOMPARE(record.size(), csvBlocked ? 2 : 1);
            QCOMPARE(log.size(), csvBlocked ? 2 : 3);  // the header, then the lines
            QCOMPARE(std::count_if(record.begin(), record.end(),
                                   [](const QByteArray& l) {
                                       return l.endsWith(" \xF2\xEE\xF7\xEA\xE0 1\r");
                                   }),
                     1);
            QCOMPARE(std::count_if(log.begin(), log.end(),
                                   [](const QByteArray& l) { return l.endsWith(";точка 1\r"); }),
                     1);
        }
    }

    // Who the analyzer is stays on its CSV rows; the link column says why nothing is read.
    void csvRowsBeforeTheFirstPollAndAfterADisconnect() {
        host_->csv.setEnabled(true);
        host_->csv.setDecimalPoint(QLatin1Char('.'));
        AnalyzerView* v = open(6);
        const QString csv = csvLogPath(host_->folder, QDate::currentDate());
        QVERIFY(v->writeRecord());
        host_->polling = true;
        host_->store(v->getDocument().slot, [](zta::Slot& s) {
            s.errorCount = 0;
            s.readings.factoryNumber = 4321;
            s.readings.concentration = 12;
            s.readings.relayState = 4;
            s.readings.gasCode = 1;
            s.readings.extendedModel = false;
            s.texts.gasName = "Метан ";
        });
        host_->deliver(v);
        QVERIFY(v->writeRecord());
        host_->polling = false;
        v->onDisconnected();
        QVERIFY(v->writeRecord());
        const QList<QByteArray> rows = linesOf(csv);
        QCOMPARE(rows.size(), 4);
        auto after = [](const QByteArray& row) { return row.mid(row.indexOf(';')); };
        QCOMPARE(after(rows[1]), QByteArray(";6;;;;;;;;;;;;;;;ещё не опрошен;\r"));
        QCOMPARE(after(rows[2]),
                 QByteArray(";6;4321;Метан;12.0;0.53;% об.;0;0;0;0;1;0;0;0;0;отвечает;\r"));
        QCOMPARE(after(rows[3]), QByteArray(";6;4321;Метан;;;;;;;;;;;;;не опрашивается;\r"));
    }

    // A timer faster than the poll cycle is set, with a word naming the cycle.
    void timerFasterThanThePollCycleWarns() {
        host_->polling = true;
        AnalyzerView* v = open(7);
        feed(v, 10, 1);
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        v->getDocument().records().onReload(0, 10, now - 8000);
        v->getDocument().records().onReload(0, 10, now);
        QCOMPARE(v->pollCycleMs(), 8000LL);
        const struct {
            int period;
            bool warned;
        } cases[] = {{5, true}, {8, false}, {60, false}};
        for (const auto& c : cases) {
            dialogs_->clear();
            dialogs_->periods.push_back(c.period);
            QVERIFY(v->onCommand(CommandId::TimerActive));
            QVERIFY(v->timerRunning);
            QCOMPARE(dialogs_->boxes().size(), size_t(c.warned ? 1 : 0));
            if (c.warned) {
                QCOMPARE(dialogs_->boxes()[0].caption, QStringLiteral("Таймер"));
                QVERIFY2(dialogs_->boxes()[0].text.contains(QStringLiteral("(8")),
                         qPrintable(dialogs_->boxes()[0].text));
            }
            v->stopRecordTimer();
        }
    }
};

QTEST_MAIN(RecordFilesTest)
#include "record_files_test.moc"
