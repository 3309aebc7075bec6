// SPDX-License-Identifier: GPL-3.0-or-later
// The bench's CSV log: lines byte for byte in a comma-decimal and a point-decimal locale, for an
// answeringRecord, a missed and a lost analyzer; one file per day opened by its header; a folder or
// a file that cannot be written reported once while the other files go on.

#include "device/csv_log.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

#include "device/record_writer.h"

using zta::CsvRecord;
Q_DECLARE_METATYPE(zta::CsvRecord)

namespace {

const QDateTime kTime(QDate(2026, 12, 10), QTime(14, 3, 5, 42), Qt::OffsetFromUTC, 3 * 3600);

CsvRecord answering() {
    CsvRecord r;
    r.time = kTime;
    r.networkNumber = 7;
    r.factoryNumber = -25536;  // register 7 decoded as signed: the analyzer holds 40000
    r.gas = QStringLiteral("Метан");
    r.concentration = 23.46;
    r.unitValue = 1.0318;
    r.unitName = QStringLiteral("% об.");
    r.threshold1 = 20;
    r.threshold2 = 50;
    r.relayState = 3;
    r.temperature = 25;
    r.dValue = -3;
    r.refChannel = 1500;
    r.workChannel = 1480;
    r.note = QStringLiteral("нуль; проверен");
    return r;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class CsvLogTest : public QObject {
    Q_OBJECT

  private slots:
    void lines_data() {
        QTest::addColumn<CsvRecord>("record");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QByteArray>("line");

        const CsvRecord answeringRecord = answering();
        QTest::newRow("answering, comma")
            << answeringRecord << QString("ru_RU")
            << QByteArray(
                   "2026-12-10T14:03:05.042+03:00;7;40000;Метан;23,5;1,03;% об.;20;50;1;1;0;"
                   "25;-3;1500;1480;отвечает;\"нуль; проверен\"\r\n");
        QTest::newRow("answering, point")
            << answeringRecord << QString("en_US")
            << QByteArray(
                   "2026-12-10T14:03:05.042+03:00;7;40000;Метан;23.5;1.03;% об.;20;50;1;1;0;"
                   "25;-3;1500;1480;отвечает;\"нуль; проверен\"\r\n");

        // Two replies missed since a fresh one: the values are this line's own.
        CsvRecord missed = answeringRecord;
        missed.errorCount = 2;
        missed.note.clear();
        missed.concentration = -0.04;
        missed.unitValue = -0.001;
        missed.time = kTime.toUTC();
        QTest::newRow("missed after a reply, UTC")
            << missed << QString("ru_RU")
            << QByteArray(
                   "2026-12-10T11:03:05.042Z;7;40000;Метан;0,0;0,00;% об.;20;50;1;1;0;25;-3;"
                   "1500;1480;пропуск 2;\r\n");

        // Nothing came since the previous line: no value is repeated as if new, but who the
        // analyzer is stays.
        CsvRecord stale = answeringRecord;
        stale.errorCount = 3;
        stale.fresh = false;
        stale.note.clear();
        QTest::newRow("missed, nothing new")
            << stale << QString("ru_RU")
            << QByteArray("2026-12-10T14:03:05.042+03:00;7;40000;Метан;;;;;;;;;;;;;пропуск 3;\r\n");

        // A relay byte of 5: health and threshold 2, each in its own column; a padded unit
        // is trimmed.
        CsvRecord relays = answeringRecord;
        relays.relayState = 5;
        relays.unitName = QStringLiteral("ppm           ");
        relays.note.clear();
        QTest::newRow("relays apart, unit trimmed")
            << relays << QString("en_US")
            << QByteArray(
                   "2026-12-10T14:03:05.042+03:00;7;40000;Метан;23.5;1.03;ppm;20;50;1;0;1;"
                   "25;-3;1500;1480;отвечает;\r\n");

        CsvRecord unpolled = stale;
        unpolled.identified = false;
        unpolled.polling = zta::CsvPolling::NotYetPolled;
        QTest::newRow("not polled yet")
            << unpolled << QString("ru_RU")
            << QByteArray("2026-12-10T14:03:05.042+03:00;7;;;;;;;;;;;;;;;ещё не опрошен;\r\n");

        CsvRecord stopped = stale;
        stopped.polling = zta::CsvPolling::Stopped;
        QTest::newRow("after a disconnect")
            << stopped << QString("ru_RU")
            << QByteArray(
                   "2026-12-10T14:03:05.042+03:00;7;40000;Метан;;;;;;;;;;;;;не опрашивается;\r\n");

        CsvRecord lost = stale;
        lost.errorCount = 5;
        lost.note = QStringLiteral("газ \"В\"\r\nподан");
        QTest::newRow("lost, quoted note")
            << lost << QString("en_US")
            << QByteArray(
                   "2026-12-10T14:03:05.042+03:00;7;40000;Метан;;;;;;;;;;;;;нет связи;"
                   "\"газ \"\"В\"\"\r\nподан\"\r\n");
    }

    void lines() {
        QFETCH(CsvRecord, record);
        QFETCH(QString, locale);
        QFETCH(QByteArray, line);
        QCOMPARE(zta::buildCsvLine(record, QLocale(locale).decimalPoint().at(0)), line);

        // The log takes the locale's separator and writes the same bytes after the header.
        QTemporaryDir dir;
        const QString folder = dir.path() + QLatin1Char('/');
        zta::RecordWriter writer;
        zta::CsvLog log(writer);
        log.setEnabled(true);
        QLocale::setDefault(QLocale(locale));
        QVERIFY(log.write(folder, record));
        QLocale::setDefault(QLocale::c());
        QCOMPARE(readAll(folder + QStringLiteral("zta-2026-12-10.csv")),
                 zta::csvFileStart() + line);
    }

    // A text a spreadsheet would run as a formula is written as text; numbers stay numbers.
    void formulaTextsAreDisarmed() {
        const struct {
            const char* text;
            const char* field;
        } cases[] = {
            {"=HYPERLINK(\"http://x\",\"click me\")",
             "\"'=HYPERLINK(\"\"http://x\"\",\"\"click me\"\")\""},
            {"=2+2", "'=2+2"},
            {"+7 минут", "'+7 минут"},
            {"-см. журнал", "'-см. журнал"},
            {"@SUM(A1)", "'@SUM(A1)"},
            {"\tзазор", "'\tзазор"},
            {"\rстрока", "\"'\rстрока\""},
            {"-12", "-12"},
            {"+3,5", "+3,5"},
            {"-0.25", "-0.25"},
            {"Метан", "Метан"},
            {"", ""},
        };
        for (const auto& c : cases)
            QCOMPARE(zta::csvField(QString::fromUtf8(c.text)), QString::fromUtf8(c.field));
        // The gas an analyzer reports and the note go through it.
        CsvRecord r = answering();
        r.gas = QStringLiteral("=2+2");
        r.note = QStringLiteral("@x");
        const QByteArray line = zta::buildCsvLine(r, QLatin1Char('.'));
        QVERIFY(line.contains(";40000;'=2+2;"));
        QVERIFY(line.endsWith(";'@x\r\n"));
    }

    // Every line has a cell under every heading, whether its readings are new, stale or of an
    // analyzer not yet identified: a reading added to one and not the other shifts the columns.
    void everyLineFillsTheHeader() {
        const auto cells = [](const QByteArray& line) { return line.count(';') + 1; };
        const QByteArray header = zta::csvFileStart().mid(3);
        CsvRecord fresh = answering();
        fresh.note = QStringLiteral("нуль");
        CsvRecord stale = fresh;
        stale.fresh = false;
        CsvRecord unknown = stale;
        unknown.identified = false;
        for (const CsvRecord& r : {fresh, stale, unknown})
            QCOMPARE(cells(zta::buildCsvLine(r, QLatin1Char(','))), cells(header));
    }

    void oneFilePerDayOpenedByTheHeader() {
        QTemporaryDir dir;
        const QString folder = dir.path() + QLatin1Char('/');
        zta::RecordWriter writer;
        zta::CsvLog log(writer);
        log.setDecimalPoint(QLatin1Char(','));
        CsvRecord r = answering();
        QVERIFY(log.write(folder, r));  // switched off: nothing
        QVERIFY(QDir(folder).isEmpty());

        log.setEnabled(true);
        QVERIFY(log.write(folder, r));
        r.networkNumber = 8;
        QVERIFY(log.write(folder, r));
        r.time = r.time.addDays(1);
        QVERIFY(log.write(folder, r));

        const QByteArray start = zta::csvFileStart();
        QVERIFY(start.startsWith("\xEF\xBB\xBF\xD0\x94"));  // BOM, then "Д"
        QVERIFY(start.endsWith(";Связь;Примечание\r\n"));
        QCOMPARE(start.count(';'), 17);
        QVERIFY(start.contains(
            QStringLiteral(";Порог 2, %НКПР;Реле исправности;Реле порога 1;Реле порога 2;Т(у.е.);")
                .toUtf8()));
        const QByteArray first = readAll(folder + QStringLiteral("zta-2026-12-10.csv"));
        QVERIFY(first.startsWith(start));
        QCOMPARE(first.count(start), 1);
        QCOMPARE(first.count("\r\n"), 3);  // header and two lines
        const QByteArray second = readAll(folder + QStringLiteral("zta-2026-12-11.csv"));
        QCOMPARE(second, start + zta::buildCsvLine(r, QLatin1Char(',')));
    }

    // The day's CSV file cannot be written (a folder stands in its way): one message, the
    // record files of the same folder are written, and the log resumes when the way is free.
    void unwritableFileReportedOnceOthersWritten() {
        QTemporaryDir dir;
        const QString folder = dir.path() + QLatin1Char('/');
        QStringList reports;
        zta::RecordWriter writer([&](const QString& text) { reports << text; });
        zta::CsvLog log(writer);
        log.setEnabled(true);
        log.setDecimalPoint(QLatin1Char('.'));
        const QString csv = zta::csvLogPath(folder, kTime.date());
        QVERIFY(QDir().mkdir(csv));

        for (int i = 0; i < 3; ++i) {
            QVERIFY(!log.write(folder, answering()));
            QVERIFY(writer.append(folder + QStringLiteral("7.zta"), "line\r\n"));
        }
        QCOMPARE(reports.size(), 1);
        // The real reason, in the operator's words.
        QVERIFY(reports[0].startsWith(
            QStringLiteral("Строка не записана в файл %1: На этом месте папка, а не файл.")
                .arg(QDir::toNativeSeparators(csv))));
        QCOMPARE(readAll(folder + QStringLiteral("7.zta")), QByteArray("line\r\nline\r\nline\r\n"));

        QVERIFY(QDir().rmdir(csv));
        QVERIFY(log.write(folder, answering()));
        QCOMPARE(readAll(csv),
                 zta::csvFileStart() + zta::buildCsvLine(answering(), QLatin1Char('.')));
        // Written again: a new failure is news again.
        QVERIFY(QFile::remove(csv));
        QVERIFY(QDir().mkdir(csv));
        QVERIFY(!log.write(folder, answering()));
        QCOMPARE(reports.size(), 2);
    }

    // A record folder that cannot be made at all: every file of every window fails, and the
    // operator hears of it once; a file in another folder is written meanwhile.
    void unwritableFolderReportedOnce() {
        QTemporaryDir dir;
        QFile blocker(dir.path() + QStringLiteral("/plain"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QString folder = blocker.fileName() + QLatin1Char('/');
        int reports = 0;
        zta::RecordWriter writer([&](const QString&) { ++reports; });
        zta::CsvLog log(writer);
        log.setEnabled(true);
        for (int number = 1; number <= 50; ++number) {
            QVERIFY(!writer.append(folder + QStringLiteral("%1.zta").arg(number), "x\r\n"));
            QVERIFY(!writer.append(folder + QStringLiteral("%1timer.zta").arg(number), "x\r\n"));
            QVERIFY(!log.write(folder, answering()));
        }
        QCOMPARE(reports, 1);
        QVERIFY(writer.append(dir.path() + QStringLiteral("/audit.csv"), "x\r\n"));
        QCOMPARE(reports, 1);
    }
};

QTEST_MAIN(CsvLogTest)
#include "csv_log_test.moc"
