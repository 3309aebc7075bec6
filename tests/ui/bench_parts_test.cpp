// SPDX-License-Identifier: GPL-3.0-or-later
// The parts of a bench of many analyzers: audit lines, the calibration gas check, the bus
// overview's rows, the traffic monitor.

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include "device/audit_log.h"
#include "gas/gas_check.h"
#include "poll/frame_ring.h"
#include "ui/bus_overview_model.h"
#include "ui/traffic_monitor.h"

using namespace zta;

namespace {

CommandTrack track(CommandStatus state, uint16_t reg, uint16_t value,
                   CommandFailure failure = CommandFailure::None) {
    CommandTrack t;
    t.state = state;
    t.reg = reg;
    t.value = value;
    t.failure = failure;
    t.id = 1;
    return t;
}

std::vector<OverviewRow> rows(const PollBlock& block) {
    std::vector<OverviewRow> rows;
    for (int i = 0; i < block.windowCount(); ++i)
        rows.push_back({block.view(i), block.snapshot(i), true});
    return rows;
}

QStringList columnTexts(const BusOverviewModel& model, int column) {
    QStringList out;
    for (int r = 0; r < model.rowCount(); ++r) out << model.index(r, column).data().toString();
    return out;
}

void exchange(FrameRing& ring, uint8_t address) {
    const Request request = readRequest(address, kReadingsRegister, kShortReadCount);
    ExchangeResult x;
    x.writeOk = true;
    x.sentAt = std::chrono::system_clock::now();
    ring.exchanged(request, request.data(), x);
}

}  // namespace

class BenchPartsTest : public QObject {
    Q_OBJECT

  private slots:
    void auditLinesByteForByte() {
        const QDateTime at(QDate(2026, 12, 10), QTime(16, 4, 38, 7), QTimeZone(3 * 3600));
        auto event = [&](const char* text, bool analyzer = false) {
            AuditEntry e{at, QStringLiteral("COM1"), 7, 40000, Command::Zero, {}};
            e.event = QString::fromUtf8(text);
            e.hasAnalyzer = analyzer;
            return e;
        };
        struct Case {
            AuditEntry entry;
            QByteArray line;
        };
        Case cases[] = {
            {{at, QStringLiteral("/dev/ttyUSB0"), 3, 1234, Command::Zero,
              track(CommandStatus::Confirmed, 1, 0)},
             "2026-12-10T16:04:38.007+03:00;/dev/ttyUSB0;3;1234;Установка "
             "нуля;1;0;выполнена;;\r\n"},
            // The factory number as the analyzer holds it: unsigned 16 bits.
            {{at, QStringLiteral("COM3"), 255, -1, Command::MaxGas,
              track(CommandStatus::Failed, 3, 4400, CommandFailure::NoEcho)},
             "2026-12-10T16:04:38.007+03:00;COM3;255;65535;Газ высокой концентрации;3;4400;"
             "не выполнена: нет ответа после 5 попыток;4.40 %;\r\n"},
            {{at.toUTC(), QStringLiteral("/tmp/a;b"), 0, 0, Command::NewAddress,
              track(CommandStatus::Pending, 0, 0x0708)},
             "2026-12-10T13:04:38.007Z;\"/tmp/a;b\";0;0;Изменить сетевой номер;0;1800;ожидает;"
             "№ 7, 9600 бод;\r\n"},
            {{at, QStringLiteral("COM1"), 7, 40000, Command::Threshold2,
              track(CommandStatus::Failed, 6, 60, CommandFailure::PollingStopped)},
             "2026-12-10T16:04:38.007+03:00;COM1;7;40000;Порог 2;6;60;"
             "не выполнена: опрос остановлен;60 %НКПР;\r\n"},
            // Events of the station: their name where the command goes, the state empty.
            {event("подключение"), "2026-12-10T16:04:38.007+03:00;COM1;;;подключение;;;;;\r\n"},
            {event("газ не совпадает: продолжено", true),
             "2026-12-10T16:04:38.007+03:00;COM1;7;40000;газ не совпадает: продолжено;;;;;\r\n"},
        };
        cases[3].entry.operatorName = QStringLiteral("Иванов И.И.");
        cases[3].line.replace(";\r\n", ";Иванов И.И.\r\n");
        for (const Case& c : cases) QCOMPARE(buildAuditLine(c.entry), c.line);

        // One file per day in the log's own folder, opened by the header, the operator added.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString folder = dir.path() + QStringLiteral("/audit/");
        AuditLog log(folder);
        log.setOperatorName(QStringLiteral(" Иванов И.И. "));
        QVERIFY(log.write(cases[3].entry));
        AuditEntry nextDay = cases[0].entry;
        nextDay.time = at.addDays(1);
        QVERIFY(log.write(nextDay));
        QFile file(auditFilePath(folder, at.date()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), auditFileStart() + cases[3].line);
        QVERIFY(auditFileStart().startsWith("\xEF\xBB\xBF"));
        QVERIFY(auditFileStart().endsWith(";состояние;значение в единицах;оператор\r\n"));
        QVERIFY(QFile::exists(folder + QStringLiteral("audit-2026-12-11.csv")));
    }

    void gasWarningOnlyForAReportedMismatch() {
        const GasInfo* methane = gasByCode(1);
        const GasInfo* propane = gasByCode(2);
        struct Case {
            const char* name;
            const GasInfo* chosen;
            bool linkUp;
            bool extended;
            int code;
            const char* text;
            const char* reported;  // nullptr: no warning
        };
        const Case cases[] = {
            {"standard, other code", methane, true, false, 2, "", "Пропан"},
            {"standard, same code", propane, true, false, 2, "", nullptr},
            {"extended, formula", propane, true, true, 0, "CH4 ", "Метан (CH4)"},
            {"extended, name", methane, true, true, 0, "Пропан", "Пропан"},
            {"extended, same formula", methane, true, true, 0, " ch4", nullptr},
            {"extended, unknown text", methane, true, true, 0, "XYZ", nullptr},
            {"standard, no gas code", methane, true, false, 0, "", nullptr},
            {"no contact", methane, false, false, 2, "", nullptr},
            {"no gas chosen", nullptr, true, false, 2, "", nullptr},
        };
        for (const Case& c : cases) {
            const auto m = checkCalibrationGas(c.chosen, c.linkUp, c.extended, c.code, c.text);
            QVERIFY2(m.has_value() == (c.reported != nullptr), c.name);
            if (!m) continue;
            QCOMPARE(m->reported, QString::fromUtf8(c.reported));
            QCOMPARE(m->chosen, QString::fromUtf8(c.chosen->name));
        }
        const auto m = checkCalibrationGas(methane, true, false, 2, "");
        QCOMPARE(gasMismatchText(12, *m),
                 QStringLiteral("Прибор № 12 измеряет газ «Пропан», а для калибровки выбран газ "
                                "«Метан».\nПродолжить?"));
    }

    // The unit column shows what the analyzer's window shows beside %НКПР, for either model.
    void overviewUnitColumn() {
        struct Case {
            const char* name;
            bool extended;
            int gasCode;
            double range;
            const char* unit;
            int errorCount;
            const char* shown;
        };
        const Case cases[] = {
            {"standard methane", false, 1, 0.0, "-", 0, "2.20 Об. доли"},
            {"standard, gas code outside the table", false, 9, 0.0, "-", 0, "50.00 Об. доли"},
            {"extended", true, 0, 5.0, "ppm", 0, "2.50 ppm"},
            {"extended without a unit", true, 0, 5.0, "-", 0, ""},
            {"no contact", false, 1, 0.0, "-", kLostContactLimit, ""},
        };
        for (const Case& c : cases) {
            OverviewRow row{1, {}, true};
            row.slot.errorCount = c.errorCount;
            row.slot.readings.concentration = 50;
            row.slot.readings.extendedModel = c.extended;
            row.slot.readings.gasCode = uint8_t(c.gasCode);
            row.slot.readings.deviceRange = c.range;
            row.slot.texts.unitName = c.unit;
            BusOverviewModel model;
            model.setSource([&] { return std::vector<OverviewRow>{row}; });
            model.refresh();
            QVERIFY2(model.index(0, BusOverviewModel::UnitValue).data().toString() ==
                         QString::fromUtf8(c.shown),
                     c.name);
        }
    }

    void overviewRowsFollowTheWindows() {
        PollBlock block;
        BusOverviewModel model;
        model.setSource([&] { return rows(block); });
        for (int n : {5, 9, 30}) block.setAddress(*block.registerSlot(100 + n), n);
        model.refresh();
        QCOMPARE(columnTexts(model, BusOverviewModel::Number), (QStringList{"5", "9", "30"}));
        QCOMPARE(model.viewAt(2), AnalyzerId(130));

        block.close(0);  // the later windows move up
        model.refresh();
        QCOMPARE(columnTexts(model, BusOverviewModel::Number), (QStringList{"9", "30"}));
        QCOMPARE(model.rowOfView(130), 1);
        QCOMPARE(model.rowOfView(105), -1);

        block.setAddress(1, 31);  // renumbered in its window
        block.setAddress(*block.registerSlot(200), 2);
        model.refresh();
        QCOMPARE(columnTexts(model, BusOverviewModel::Number), (QStringList{"9", "31", "2"}));
        QCOMPARE(columnTexts(model, BusOverviewModel::Link),
                 (QStringList{"нет связи", "нет связи", "нет связи"}));

        block.confirmCommand(0, Command::Threshold1, 40);
        model.refresh();
        QCOMPARE(model.index(0, BusOverviewModel::LastCommand).data().toString(),
                 QStringLiteral("Порог 1"));
        QCOMPARE(model.index(0, BusOverviewModel::CommandStateColumn).data().toString(),
                 QStringLiteral("ожидает"));
        QCOMPARE(model.index(0, BusOverviewModel::Number).data(BusOverviewModel::SortRole).toInt(),
                 9);

        // However many notices, one refresh per tick.
        const int before = model.refreshes();
        for (int i = 0; i < 500; ++i) model.markDirty();
        QTRY_VERIFY_WITH_TIMEOUT(model.refreshes() > before, 10000);
        QCOMPARE(model.refreshes(), before + 1);
    }

    void monitorShowsFiltersPausesAndSaves() {
        FrameRing ring(64);
        TrafficMonitor monitor(ring);
        for (uint8_t a : {1, 2, 1}) exchange(ring, a);
        monitor.pull();
        QCOMPARE(monitor.lines()->blockCount(), 6);
        QVERIFY(monitor.text().contains(QStringLiteral(" -> 2  02 04 00 01 00 0A")));

        monitor.setFilter(1);
        QCOMPARE(monitor.lines()->blockCount(), 4);
        QVERIFY(!monitor.text().contains(QStringLiteral(" -> 2 ")));

        monitor.setPaused(true);
        exchange(ring, 1);
        monitor.pull();
        QCOMPARE(monitor.lines()->blockCount(), 4);
        monitor.setPaused(false);
        QCOMPARE(monitor.lines()->blockCount(), 6);

        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/trace.txt");
        QVERIFY(monitor.saveTo(path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()), monitor.text() + QLatin1Char('\n'));
        QVERIFY(!monitor.saveTo(dir.path() + QStringLiteral("/missing/trace.txt")));
    }
};

QTEST_MAIN(BenchPartsTest)
#include "bench_parts_test.moc"
