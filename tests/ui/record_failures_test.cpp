// SPDX-License-Identifier: GPL-3.0-or-later
// Files that fail under the station: a write cut short by a full file system (a file size limit
// stands in for it) is undone in every log, lines reach the disk within a second, the audit
// keeps what it could not write, exports keep the old file, and what is not a regular file is
// refused before it is read.

#include <sys/resource.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <functional>

#include "app/bench_file.h"
#include "app/cal_data_file.h"
#include "device/audit_log.h"
#include "device/csv_log.h"
#include "device/record_writer.h"
#include "device/trend_view.h"
#include "poll/frame_ring.h"
#include "ui/file_io.h"
#include "ui/traffic_monitor.h"

using namespace zta;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Files of this process may not grow past `bytes` while it lives: a write that crosses the
// limit is cut short, as on a file system that fills up.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old_);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old_); }

  private:
    rlimit old_{};
};

AuditEntry entry(int number) {
    AuditEntry e;
    e.time = QDateTime(QDate(2026, 12, 10), QTime(9, 0, number));
    e.port = QStringLiteral("/dev/ttyUSB0");
    e.networkNumber = number;
    e.event = QStringLiteral("подключение");
    return e;
}

}  // namespace

class RecordFailuresTest : public QObject {
    Q_OBJECT

  private slots:
    void cleanup() { setSyncObserver({}); }

    // Each log on a file system that fills mid-line: the file stays as it was, the message
    // names the reason, and the next line starts on a line of its own.
    void shortWriteIsUndoneInEveryLog() {
        QTemporaryDir dir;
        const QString folder = dir.path() + QLatin1Char('/');
        const QByteArray longLine = QByteArray(300, 'x') + "\r\n";
        struct Case {
            const char* name;
            QString path;
            std::function<bool()> write;  // one line of at least 100 bytes
            qsizetype linesAfter;         // the audit writes the line it kept before the next
        };
        RecordWriter writer;
        CsvLog csv(writer);
        csv.setEnabled(true);
        CsvRecord record;
        record.time = QDateTime(QDate(2026, 12, 10), QTime(9, 0));
        record.note = QString(200, QLatin1Char('n'));
        AuditLog audit(folder + QStringLiteral("audit/"));
        AuditEntry event = entry(1);
        event.event = QString(200, QLatin1Char('e'));
        const Case cases[] = {
            {"record file", folder + QStringLiteral("7.zta"),
             [&] { return writer.append(folder + QStringLiteral("7.zta"), longLine); }, 1},
            {"CSV log", csvLogPath(folder, record.time.date()),
             [&] { return csv.write(folder, record); }, 1},
            {"audit", auditFilePath(audit.folder(), event.time.date()),
             [&] { return audit.write(event); }, 2},
        };
        for (const Case& c : cases) {
            QVERIFY2(c.write(), c.name);  // a first line, whole
            const QByteArray before = readAll(c.path);
            {
                FileSizeLimit limit(rlim_t(before.size() + 50));
                QVERIFY2(!c.write(), c.name);
            }
            QCOMPARE(readAll(c.path), before);
            QVERIFY2(c.write(), c.name);
            const QByteArray after = readAll(c.path);
            QVERIFY2(after.startsWith(before) && after.endsWith("\r\n"), c.name);
            QCOMPARE(after.mid(before.size()).count("\r\n"), c.linesAfter);
        }
        QCOMPARE(writer.lastReason(), QStringLiteral("Файл слишком велик"));
    }

    void linesReachTheDiskWithinASecond() {
        QTemporaryDir dir;
        QStringList synced;
        setSyncObserver([&](const QString& path) { synced << path; });
        RecordWriter writer;
        const QString path = dir.filePath(QStringLiteral("3timer.zta"));
        QVERIFY(writer.append(path, "1\r\n"));
        QVERIFY(writer.append(path, "2\r\n"));
        AuditLog audit(dir.path() + QStringLiteral("/audit/"));
        QVERIFY(audit.write(entry(1)));
        QVERIFY(audit.write(entry(2)));
        const QString trail = auditFilePath(audit.folder(), entry(1).time.date());
        QTRY_VERIFY_WITH_TIMEOUT(synced.contains(path) && synced.contains(trail), 10000);
        QCOMPARE(synced.count(path), 1);  // once for both lines
        QCOMPARE(synced.count(trail), 1);
    }

    // The audit folder cannot be made (a file stands in its way, even for root): the lines are
    // kept in order, the operator told once, and they are written when the way is free,
    // without a new line to carry them.
    void auditKeepsWhatItCouldNotWrite() {
        QTemporaryDir dir;
        const QString blocker = dir.filePath(QStringLiteral("audit"));
        QVERIFY(writeFile(blocker, "not a folder"));
        QStringList reports;
        AuditLog audit(blocker + QLatin1Char('/'), [&](const QString& t) { reports << t; });
        for (int i = 1; i <= 3; ++i) QVERIFY(!audit.write(entry(i)));
        QCOMPARE(audit.heldLines(), std::size_t(3));
        QCOMPARE(reports.size(), 1);
        QVERIFY(reports[0].contains(QStringLiteral("Часть пути не является папкой")));

        QVERIFY(QFile::remove(blocker));
        QTRY_COMPARE_WITH_TIMEOUT(audit.heldLines(), std::size_t(0), 15000);
        QByteArray expected = auditFileStart();
        for (int i = 1; i <= 3; ++i) expected += buildAuditLine(entry(i));
        QCOMPARE(readAll(auditFilePath(blocker + QLatin1Char('/'), entry(1).time.date())),
                 expected);
        QCOMPARE(reports.size(), 1);
    }

    // Trend CSV and PNG and the traffic save on a disk that fills: the old file stays whole and
    // the reason is given.
    void exportsKeepTheOldFile() {
        QTemporaryDir dir;
        auto history = std::make_shared<TrendHistory>();
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        for (int i = 0; i < 600; ++i) history->add(now - 600'000 + i * 1000, float(i % 50));
        TrendView trend;
        trend.resize(600, 300);
        trend.setHistory(history, 100.0);
        FrameRing ring;
        TrafficMonitor monitor(ring);
        for (int i = 0; i < 40; ++i)
            monitor.lines()->appendPlainText(QString(80, QLatin1Char('r')));

        const struct {
            const char* name;
            std::function<bool(const QString&, QString*)> save;
        } cases[] = {
            {"trend CSV",
             [&](const QString& p, QString* r) { return trend.exportCsv(p, QLatin1Char(','), r); }},
            {"trend PNG", [&](const QString& p, QString* r) { return trend.exportPng(p, r); }},
            {"traffic", [&](const QString& p, QString* r) { return monitor.saveTo(p, r); }},
        };
        for (const auto& c : cases) {
            const QString path = dir.filePath(QString::fromLatin1(c.name));
            QVERIFY(writeFile(path, "old"));
            QString reason;
            {
                FileSizeLimit limit(100);
                QVERIFY2(!c.save(path, &reason), c.name);
            }
            QCOMPARE(readAll(path), QByteArray("old"));
            QCOMPARE(reason, QStringLiteral("Файл слишком велик"));
            QVERIFY2(c.save(path, &reason), c.name);
            QVERIFY(readAll(path).size() > 100);
        }
        // A device is not a file to save into.
        QString reason;
        QVERIFY(!saveWholeFile(QStringLiteral("/dev/null"), "x", &reason));
        QCOMPARE(reason, QStringLiteral("это не обычный файл"));
    }

    // A FIFO, a device or a folder under a bench's or the calibration file's name is refused at
    // once, and a real file is read only up to the limit.
    void onlyRegularFilesAreRead() {
        QTemporaryDir dir;
        const QString fifo = dir.filePath(QStringLiteral("CalDataK7.cfg"));
        QVERIFY(mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        for (const QString& path : {fifo, QStringLiteral("/dev/zero"), dir.path()}) {
            QString error;
            QVERIFY(!readBenchFile(path, &error));
            QVERIFY2(error.endsWith(QStringLiteral("это не обычный файл")), qPrintable(error));
            CalData data;
            data.maxGas = 9;
            QCOMPARE(readCalDataFile(path, data).status, CalReadStatus::Missing);
            QCOMPARE(data.maxGas, 4.4);
        }
        const QString big = dir.filePath(QStringLiteral("big.json"));
        QVERIFY(writeFile(big, QByteArray(3 * 1024 * 1024, ' ')));
        QByteArray bytes;
        bool truncated = false;
        QCOMPARE(readRegularFile(big, 1000, &bytes, &truncated), ReadStatus::Read);
        QCOMPARE(bytes.size(), 1000);
        QVERIFY(truncated);
        QString error;
        QVERIFY(!readBenchFile(big, &error));
        QVERIFY2(error.endsWith(QStringLiteral("это не файл стенда")), qPrintable(error));
    }

    // The bench and the calibration file are renamed into place; their folder reaches the disk.
    void savedFilesSyncTheirFolder() {
        QTemporaryDir dir;
        QStringList synced;
        setSyncObserver([&](const QString& path) { synced << path; });
        QVERIFY(
            writeBenchFile(dir.filePath(QStringLiteral("bench.json")), BenchSettings{}, nullptr));
        QVERIFY(writeCalDataFile(dir.filePath(QStringLiteral("CalDataK7.cfg")), CalData{}));
        QCOMPARE(synced, (QStringList{dir.path(), dir.path()}));
    }
};

QTEST_MAIN(RecordFailuresTest)
#include "record_failures_test.moc"
