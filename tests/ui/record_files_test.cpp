// Record files, the record timer and notes: line bytes, file names, appending, the timer's
// first line and ticks, stopping, notes for one and for all windows, unwritable folders.

#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTest>

#include <memory>
#include <thread>

#include "ui/command_ids.h"
#include "ui/dialogs.h"
#include "device/analyzer_sub_window.h"
#include "device/analyzer_document.h"
#include "device/analyzer_view.h"
#include "device/record_file.h"
#include "device_support.h"

using namespace zta;

namespace {

QList<QByteArray> Lines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QList<QByteArray> lines = f.readAll().split('\n');
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.pop_back();
    return lines;
}

// A line as written, with the time replaced by "T".
QByteArray WithoutTime(QByteArray line) {
    static const QRegularExpression time(QStringLiteral("\\d\\d:\\d\\d:\\d\\d"));
    return QString::fromLatin1(line).replace(time, QStringLiteral("T")).toLatin1();
}

}  // namespace

class RecordFilesTest : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeHost> host_;
    std::unique_ptr<ScriptedDialogs> dialogs_;

    AnalyzerView* Open(int number) {
        AnalyzerSubWindow* w = OpenAnalyzerWindow(*host_, host_->area);
        w->view()->numberField()->setText(QString::number(number));
        return w->view();
    }

    void Feed(AnalyzerView* v, double concentration, int relays) {
        host_->Store(v->GetDocument().slot, [&](zta::Slot& s) {
            s.errorCount = 0;
            s.temperature = 21;
            s.dValue = -3;
            s.refChannel = 1500;
            s.workChannel = 1480;
            s.concentration = concentration;
            s.auxValue = 7;
            s.relayState = static_cast<uint8_t>(relays);
        });
        v->OnViewNotice(NoticeDataChanged, 0);
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
        QTest::newRow("relays 5, 49.6") << 49.6 << 5 << QString() << QByteArray("21 -3 1500 1480 50 7 101 12:34:56 \r\n");
        QTest::newRow("relays 2") << 0.0 << 2 << QString() << QByteArray("21 -3 1500 1480 0 7 10 12:34:56 \r\n");
        QTest::newRow("relays 0") << 12.4 << 0 << QString() << QByteArray("21 -3 1500 1480 12 7 0 12:34:56 \r\n");
        QTest::newRow("Cyrillic note") << 1.0 << 1 << QStringLiteral("Газ подан")
                                       << QByteArray("21 -3 1500 1480 1 7 1 12:34:56 \xc3\xe0\xe7 \xef\xee\xe4\xe0\xed\r\n");
        QTest::newRow("note of two lines") << 1.0 << 1 << QStringLiteral("a\nb")
                                           << QByteArray("21 -3 1500 1480 1 7 1 12:34:56 a\r\nb\r\n");
        const QByteArray head("21 -3 1500 1480 1 7 1 12:34:56 ");
        QTest::newRow("note over the limit") << 1.0 << 1 << QString(40000, QLatin1Char('n'))
                                             << head + QByteArray(1000, 'n') + "\r\n";
        QTest::newRow("no half character at the limit")
            << 1.0 << 1 << QString(999, QLatin1Char('n')) + QString::fromUtf8("\xF0\x9F\x94\xA5 tail")
            << head + QByteArray(999, 'n') + "\r\n";
    }

    void recordLineBytes() {
        QFETCH(double, concentration);
        QFETCH(int, relays);
        QFETCH(QString, note);
        QFETCH(QByteArray, expected);
        RecordValues v{21, -3, 1500, 1480, concentration, 7, static_cast<uint8_t>(relays)};
        QCOMPARE(BuildRecordLine(v, QTime(12, 34, 56), note), expected);
    }

    // Two writers on one file (two stations, or two windows with the same number): every line
    // arrives whole and none is overwritten.
    void concurrentAppendsNeitherInterleaveNorOverwrite() {
        const QString path = host_->folder + QStringLiteral("shared.zta");
        const QByteArray a = QByteArray(300, 'a') + "\r\n";
        const QByteArray b = QByteArray(300, 'b') + "\r\n";
        constexpr int kEach = 500;
        std::thread other([&] {
            for (int i = 0; i < kEach; ++i) AppendRecordLine(path, a);
        });
        for (int i = 0; i < kEach; ++i) AppendRecordLine(path, b);
        other.join();
        const auto lines = Lines(path);
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
        QVERIFY2(AppendRecordLine(path, "1\r\n", &error), qPrintable(error));
        QCOMPARE(Lines(path), QList<QByteArray>({"1\r"}));
    }

    void singleRecordsAppendToTheNumbersFile() {
        AnalyzerView* v = Open(12);
        QCOMPARE(v->recordFile, host_->folder + QStringLiteral("12.zta"));
        QCOMPARE(v->timerFile, host_->folder + QStringLiteral("12timer.zta"));
        {
            QFile old(v->recordFile);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old line\r\n");
        }
        Feed(v, 49.6, 5);
        QVERIFY(v->OnCommand(CommandId::Record));
        QVERIFY(v->OnCommand(CommandId::ToolRecord));
        const auto lines = Lines(v->recordFile);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QByteArray("old line\r"));
        QCOMPARE(WithoutTime(lines[1]), QByteArray("21 -3 1500 1480 50 7 101 T \r"));
        QVERIFY(!QFile::exists(v->timerFile));

        v->numberField()->setText(QStringLiteral("13"));
        v->WriteRecord();
        QCOMPARE(Lines(host_->folder + QStringLiteral("13.zta")).size(), 1);
        QCOMPARE(Lines(host_->folder + QStringLiteral("12.zta")).size(), 3);
    }

    void noteEndsTheNextLineOnly() {
        AnalyzerView* v = Open(4);
        dialogs_->notes.push_back(QStringLiteral("калибровка"));
        QVERIFY(v->OnCommand(CommandId::InsertActive));
        QCOMPARE(dialogs_->asked, std::vector<int>{4});
        QVERIFY(QFileInfo::exists(v->recordFile) == false);  // nothing written yet
        v->WriteRecord();
        v->WriteRecord();
        const auto lines = Lines(v->recordFile);
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[0].endsWith(" \xea\xe0\xeb\xe8\xe1\xf0\xee\xe2\xea\xe0\r"));
        QVERIFY(lines[1].endsWith(" \r"));
        QCOMPARE(WithoutTime(lines[1]), QByteArray("0 0 0 0 0 0 0 T \r"));

        dialogs_->notes.push_back(std::nullopt);  // Cancel keeps no note
        v->OnCommand(CommandId::ToolInsertActive);
        QVERIFY(v->pendingText.isEmpty());
    }

    void noteForAllWindowsReachesEachWindowsNextLine() {
        AnalyzerView* a = Open(1);
        AnalyzerView* b = Open(2);
        host_->pollBlock.SetInsertText("все");
        for (AnalyzerView* v : {a, b}) v->OnViewNotice(NoticeInsertText, 0);
        host_->polling = true;
        a->StartTimer(3600);  // its next line goes to the timer file
        b->WriteRecord();
        QVERIFY(Lines(a->timerFile).at(0).endsWith(" \xe2\xf1\xe5\r"));
        QVERIFY(Lines(b->recordFile).at(0).endsWith(" \xe2\xf1\xe5\r"));
        a->WriteRecord();
        QCOMPARE(WithoutTime(Lines(a->recordFile).at(0)), QByteArray("0 0 0 0 0 0 0 T \r"));
    }

    void timerWritesAtOnceAndOnTicksAndStopWritesNothing() {
        host_->polling = true;
        AnalyzerView* v = Open(5);
        Feed(v, 10, 1);
        dialogs_->periods.push_back(1);
        QVERIFY(v->OnCommand(CommandId::TimerActive));
        QCOMPARE(dialogs_->asked, std::vector<int>{5});
        QVERIFY(v->timerRunning);
        QVERIFY(v->GetDocument().timerRunning);
        QCOMPARE(v->timerPeriod(), 1);
        QCOMPARE(host_->timerPane, 1);
        QCOMPARE(host_->pollBlock.RunningTimers(), 1);
        QVERIFY(host_->anyTimerRunning);
        QCOMPARE(Lines(v->timerFile).size(), 1);
        QVERIFY(!QFile::exists(v->recordFile));

        CommandState st;
        QVERIFY(v->OnUpdateCommand(CommandId::TimerActive, st));
        QVERIFY(!st.enabled);
        QVERIFY(v->OnUpdateCommand(CommandId::ToolStopTimer, st));
        QVERIFY(st.enabled);

        // Ticks go to the timer file too; a single record in between goes to the plain one.
        QTRY_VERIFY_WITH_TIMEOUT(Lines(v->timerFile).size() >= 2, 10000);
        v->WriteRecord();
        QCOMPARE(Lines(v->recordFile).size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(Lines(v->timerFile).size() >= 3, 10000);

        QVERIFY(v->OnCommand(CommandId::ToolStopTimer));
        const auto written = Lines(v->timerFile).size();
        QVERIFY(!v->timerRunning);
        QCOMPARE(v->timerPeriod(), 0);
        QCOMPARE(host_->timerPane, 0);
        QCOMPARE(host_->pollBlock.RunningTimers(), 0);
        QVERIFY(!host_->anyTimerRunning);
        QVERIFY(!v->recordTimer().isActive());
        QCOMPARE(Lines(v->timerFile).size(), written);
        v->StopTimer();  // a second stop changes nothing
        QCOMPARE(host_->pollBlock.RunningTimers(), 0);
    }

    void setTimerRefusals() {
        AnalyzerView* v = Open(8);
        QVERIFY(v->OnCommand(CommandId::ToolSetTimer));
        QCOMPARE(dialogs_->boxes().at(0).text,
                 QStringLiteral("Установка таймера для прибора № 8 не может быть произведена.\r\n"
                                "    \t         Проверьте подключение прибора. "));
        QCOMPARE(dialogs_->boxes().at(0).caption, QStringLiteral("Ошибка"));
        QVERIFY(dialogs_->asked.empty());

        host_->polling = true;
        dialogs_->periods = {std::nullopt, 0};
        v->OnCommand(CommandId::TimerActive);  // Cancel
        v->OnCommand(CommandId::TimerActive);  // 0
        QVERIFY(!v->timerRunning);
        QCOMPARE(dialogs_->boxes().size(), size_t(1));

        v->StartTimer(60);
        v->OnCommand(CommandId::TimerActive);
        QCOMPARE(dialogs_->boxes().back().text, QStringLiteral("Таймер уже установлен"));
        QCOMPARE(dialogs_->boxes().back().caption, QStringLiteral("Ошибка"));
        QCOMPARE(host_->pollBlock.RunningTimers(), 1);
    }

    void timerForAllWindowsAndNegativePeriods() {
        host_->polling = true;
        AnalyzerView* a = Open(1);
        AnalyzerView* b = Open(2);
        for (AnalyzerView* v : {a, b}) v->OnViewNotice(NoticeStartTimer, 30);
        QCOMPARE(host_->pollBlock.RunningTimers(), 2);
        QCOMPARE(Lines(a->timerFile).size(), 1);
        QCOMPARE(Lines(b->timerFile).size(), 1);
        for (AnalyzerView* v : {a, b}) v->OnViewNotice(NoticeStopTimer, 0);
        QCOMPARE(host_->pollBlock.RunningTimers(), 0);

        a->OnViewNotice(NoticeStartTimer, -5);
        QVERIFY(!a->timerRunning);
        QCOMPARE(dialogs_->boxes().size(), size_t(1));
        QCOMPARE(dialogs_->boxes()[0].caption, QStringLiteral("Таймер"));
        a->OnViewNotice(NoticeStartTimer, 0);
        QVERIFY(!a->timerRunning);
        QCOMPARE(dialogs_->boxes().size(), size_t(1));
        QCOMPARE(host_->pollBlock.RunningTimers(), 0);
        QCOMPARE(Lines(a->timerFile).size(), 1);

        // A period the platform timer cannot hold is refused as the platform would.
        a->OnViewNotice(NoticeStartTimer, 3000000);
        QVERIFY(!a->timerRunning);
        QCOMPARE(dialogs_->boxes().back().text, QStringLiteral("Таймер не установлен"));
        QCOMPARE(dialogs_->boxes().back().icon, Dialogs::Icon::Error);
    }

    void unwritableFolderIsReportedOnceAndTheNoteWaits() {
        AnalyzerView* v = Open(3);
        // A folder below a plain file cannot be made, whoever runs the test.
        QFile blocker(host_->folder + QStringLiteral("plain"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        host_->folder = blocker.fileName() + QStringLiteral("/");
        v->OnRecordFolderChanged();
        v->pendingText = QStringLiteral("note");

        QVERIFY(!v->WriteRecord());
        QVERIFY(!v->WriteRecord());
        QCOMPARE(dialogs_->boxes().size(), size_t(1));
        QVERIFY(dialogs_->boxes()[0].text.contains(QStringLiteral("3.zta")));
        QCOMPARE(dialogs_->boxes()[0].icon, Dialogs::Icon::Error);
        QCOMPARE(v->pendingText, QStringLiteral("note"));

        // The timer file lies in the same folder: the folder has been reported already.
        host_->polling = true;
        v->StartTimer(3600);
        QCOMPARE(dialogs_->boxes().size(), size_t(1));

        host_->folder = QDir(host_->tempDir.path()).absolutePath() + QStringLiteral("/");
        v->OnRecordFolderChanged();
        QVERIFY(v->WriteRecord());
        QVERIFY(Lines(v->recordFile).at(0).endsWith(" note\r"));
        QVERIFY(v->pendingText.isEmpty());
    }
};

QTEST_MAIN(RecordFilesTest)
#include "record_files_test.moc"
