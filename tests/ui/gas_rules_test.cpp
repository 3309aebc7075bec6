// SPDX-License-Identifier: GPL-3.0-or-later
// Rules of the gas table and the two gas dialogs, without widgets.
#include <QTest>
#include <cmath>

#include "gas/connected_gas_parameters_dialog.h"
#include "gas/gas_parameters_dialog.h"
#include "gas/gas_state.h"
#include "gas/gas_table.h"

using namespace zta;

Q_DECLARE_METATYPE(zta::GasEntryCheck)
Q_DECLARE_METATYPE(zta::ChoiceCheck)

namespace {
QString two(double v) { return QString::asprintf("%.2f", v); }
}  // namespace

class GasRulesTest : public QObject {
    Q_OBJECT
  private slots:
    void tableIsConsistent();
    void concentrationEntry_data();
    void concentrationEntry();
    void lelToVolumeTruncates_data();
    void lelToVolumeTruncates();
    void deviceConversions();
    void deviceLines();
    void fieldsForLine();
    void typedValues();
    void deviceChoice_data();
    void deviceChoice();
    void confirmationText();
    void gasState();
    void deviceRows();
    void deviceRowOfASlot();
};

void GasRulesTest::tableIsConsistent() {
    for (int code = 1; code < kGasCodeCount; ++code) {
        const GasInfo& gas = GasTable[code];
        QCOMPARE(gas.code, code);
        QCOMPARE(gasByCode(code), &gas);
        QCOMPARE(gasByMenuId(gas.menuId), &gas);
        QCOMPARE(gasByName(gas.name), &gas);
        // The volume limit is 1.2 times the default high value; %НКПР limits 120 or 60.
        QVERIFY(std::abs(gas.volLimit - gas.highVol * 1.2) < 1e-9);
        QCOMPARE(gas.lelLimit, code <= 2 ? 120.0 : 60.0);
        QVERIFY(gas.midVol < gas.highVol && gas.midLel < gas.highLel);
    }
    QCOMPARE(gasByCode(0)->name, "-");
    QVERIFY(gasByCode(9) == nullptr && gasByCode(-1) == nullptr && gasByCode(255) == nullptr);
    QVERIFY(gasByMenuId(0) == nullptr && gasByMenuId(144) == nullptr);
    QVERIFY(gasByName("-") == nullptr && gasByName("метан") == nullptr);
    std::array<bool, kMarkedGasCount> marks{};
    QVERIFY(markedGas(marks) == nullptr);
    marks[7] = true;
    QCOMPARE(markedGas(marks)->name, "Пропилен");
}

void GasRulesTest::concentrationEntry_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("lel");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<double>("middle");
    QTest::addColumn<GasEntryCheck>("check");
    QTest::addColumn<QString>("maxVol");
    QTest::addColumn<QString>("midVol");
    const auto ok = GasEntryCheck::Accepted;
    const auto range = GasEntryCheck::OutOfRange;
    const auto order = GasEntryCheck::MiddleNotBelowMaximum;
    QTest::newRow("methane vol at limit") << 1 << false << 5.28 << 2.7 << ok << "5.28"
                                          << "2.70";
    QTest::newRow("methane vol above") << 1 << false << 5.29 << 2.7 << range << ""
                                       << "";
    QTest::newRow("methane equal") << 1 << false << 2.7 << 2.7 << order << ""
                                   << "";
    QTest::newRow("middle above max, out of range too") << 1 << false << 9.0 << 9.5 << order << ""
                                                        << "";
    QTest::newRow("negative middle") << 1 << false << 4.4 << -1.0 << ok << "4.40"
                                     << "-1.00";
    QTest::newRow("methane lel defaults") << 1 << true << 100.0 << 61.4 << ok << "4.40"
                                          << "2.70";
    QTest::newRow("methane lel at limit") << 1 << true << 120.0 << 50.0 << ok << "5.28"
                                          << "2.20";
    QTest::newRow("methane lel above") << 1 << true << 120.01 << 50.0 << range << ""
                                       << "";
    QTest::newRow("propane lel 47 truncates") << 2 << true << 100.0 << 47.0 << ok << "1.70"
                                              << "0.79";
    QTest::newRow("hexane lel above 60") << 3 << true << 61.0 << 25.0 << range << ""
                                         << "";
    QTest::newRow("isobutane lel") << 5 << true << 50.0 << 24.6 << ok << "0.64"
                                   << "0.30";
    QTest::newRow("propylene vol at limit") << 8 << false << 1.2 << 0.5 << ok << "1.20"
                                            << "0.50";
    QTest::newRow("propylene vol above") << 8 << false << 1.21 << 0.5 << range << ""
                                         << "";
    QTest::newRow("propylene lel 60") << 8 << true << 60.0 << 25.0 << ok << "1.20"
                                      << "0.50";
    QTest::newRow("propylene lel no truncation") << 8 << true << 50.0 << 24.7 << ok << "1.00"
                                                 << "0.49";
    QTest::newRow("no gas marked") << 0 << false << 1.0 << 0.5 << range << ""
                                   << "";
}

void GasRulesTest::concentrationEntry() {
    QFETCH(int, code);
    QFETCH(bool, lel);
    QFETCH(double, maximum);
    QFETCH(double, middle);
    QFETCH(GasEntryCheck, check);
    QFETCH(QString, maxVol);
    QFETCH(QString, midVol);
    const GasEntryResult result =
        checkGasEntry(code ? gasByCode(code) : nullptr, lel, maximum, middle);
    QCOMPARE(result.check, check);
    if (check == GasEntryCheck::Accepted) {
        QCOMPARE(two(result.maxVol), maxVol);
        QCOMPARE(two(result.midVol), midVol);
    } else {
        QVERIFY(!gasEntryMessage(check).isEmpty());
    }
}

void GasRulesTest::lelToVolumeTruncates_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<double>("lel");
    QTest::addColumn<double>("volume");
    // The high %НКПР default of every gas, and products a hair under a whole number.
    QTest::newRow("methane 100") << 1 << 100.0 << 4.4;
    QTest::newRow("propane 100") << 2 << 100.0 << 1.7;
    QTest::newRow("hexane 50") << 3 << 50.0 << 0.5;
    QTest::newRow("hexane 25 -> 12 steps") << 3 << 25.0 << 0.24;
    QTest::newRow("butane 50") << 4 << 50.0 << 0.7;
    QTest::newRow("butane 90 (62.99.. in binary)") << 4 << 90.0 << 1.26;
    QTest::newRow("isobutane 50") << 5 << 50.0 << 0.64;
    QTest::newRow("pentane 60") << 6 << 60.0 << 0.84;
    QTest::newRow("cyclopentane 25") << 7 << 25.0 << 0.34;
    QTest::newRow("propylene 25") << 8 << 25.0 << 0.5;
    QTest::newRow("methane 0") << 1 << 0.0 << 0.0;
}

void GasRulesTest::lelToVolumeTruncates() {
    QFETCH(int, code);
    QFETCH(double, lel);
    QFETCH(double, volume);
    QVERIFY2(std::abs(lelToVolume(*gasByCode(code), lel) - volume) < 1e-9,
             qPrintable(QString::number(lelToVolume(*gasByCode(code), lel), 'g', 17)));
}

void GasRulesTest::deviceConversions() {
    QCOMPARE(two(deviceLelToVolume(100, 4.4)), QString("4.40"));
    QCOMPARE(two(deviceLelToVolume(50, 4.4)), QString("2.20"));
    QCOMPARE(two(deviceLelToVolume(60, 4.4)), QString("2.64"));
    QCOMPARE(deviceVolumeToLel(2.2, 4.4), std::optional<int>(50));
    QCOMPARE(deviceVolumeToLel(2.64, 4.4), std::optional<int>(60));
    // Halves go up: 0.022 of 4.4 is exactly 0.5 %НКПР; 2.5 of 2.0 is 125.
    QCOMPARE(deviceVolumeToLel(0.022, 4.4), std::optional<int>(1));
    QCOMPARE(deviceVolumeToLel(0.01, 2.0), std::optional<int>(1));
    QCOMPARE(deviceVolumeToLel(-0.01, 2.0), std::optional<int>(0));
    // Without a range there is nothing to divide by; a huge quotient does not fit an int.
    QCOMPARE(deviceVolumeToLel(1.0, 0.0), std::nullopt);
    QCOMPARE(deviceVolumeToLel(1.0, -4.4), std::nullopt);
    QCOMPARE(deviceVolumeToLel(1e300, 1e-300), std::nullopt);
}

void GasRulesTest::deviceLines() {
    const GasDeviceRow methane{"Метан", "%НКПР", 4.4, 50, 100};
    // Three analyzers with the same parameters: one line, numbered 1.
    auto lines = buildDeviceLines({methane, methane, methane});
    QCOMPARE(lines.size(), size_t(1));
    QCOMPARE(lines[0].number, QString("1"));
    QCOMPARE(lines[0].gasName, QString("Метан"));
    QCOMPARE(lines[0].rangeText, QString("4.40"));
    QCOMPARE(lines[0].middleText, QString("50"));
    QCOMPARE(lines[0].maximumText, QString("100"));

    // A set seen before, after another, is skipped without a gap in the numbers; values that
    // print the same are the same set.
    const GasDeviceRow propane{"Пропан", "об.доли", 1.7, 0.8, 1.7};
    GasDeviceRow nearlyMethane = methane;
    nearlyMethane.range = 4.401;
    nearlyMethane.middle = 50.4;
    GasDeviceRow otherUnits = methane;
    otherUnits.units = "об.доли";
    lines = buildDeviceLines({methane, propane, nearlyMethane, otherUnits, propane});
    QCOMPARE(lines.size(), size_t(3));
    QCOMPARE(lines[1].number, QString("2"));
    QCOMPARE(lines[1].middleText, QString("0.80"));
    QCOMPARE(lines[2].number, QString("3"));
    QCOMPARE(lines[2].maximumText, QString("100.00"));

    std::vector<GasDeviceRow> many;
    for (int i = 0; i < 60; ++i)
        many.push_back({QString("Газ %1").arg(i), "об.доли", 1.0, 0.5, 1.0});
    QCOMPARE(buildDeviceLines(many).size(), size_t(kMaxDeviceRows));
}

void GasRulesTest::fieldsForLine() {
    auto lel = lineFields(buildDeviceLines({{"Метан", "%НКПР", 4.4, 50, 100}})[0]);
    QVERIFY(lel.lelMode);
    QCOMPARE(lel.range, 4.4);
    QCOMPARE(lel.lelMaximum, QString("100"));
    QCOMPARE(lel.lelMiddle, QString("50"));
    QCOMPARE(lel.volumeMaximum, QString("4.40"));
    QCOMPARE(lel.volumeMiddle, QString("2.20"));

    auto vol = lineFields(buildDeviceLines({{"Пропан", "об.доли", 1.7, 0.8, 1.7}})[0]);
    QVERIFY(!vol.lelMode);
    QCOMPARE(vol.lelMaximum, QString("-1"));
    QCOMPARE(vol.lelMiddle, QString("-1"));
    QCOMPARE(vol.volumeMaximum, QString("1.70"));
    QCOMPARE(vol.volumeMiddle, QString("0.80"));
}

void GasRulesTest::typedValues() {
    QCOMPARE(typedLel(60, 4.4).otherField, std::optional<QString>("2.64"));
    QVERIFY(!typedLel(199, 4.4).tooLarge);
    QVERIFY(typedLel(200, 4.4).tooLarge);
    QVERIFY(!typedLel(200, 4.4).otherField);

    QCOMPARE(typedVolume(2.64, 4.4, true).otherField, std::optional<QString>("60"));
    QCOMPARE(typedVolume(8.79, 4.4, true).otherField, std::optional<QString>("200"));
    QVERIFY(typedVolume(8.8, 4.4, true).tooLarge);
    // A volume line has no %НКПР to follow; a line without a range refuses every value.
    QVERIFY(!typedVolume(1.0, 4.4, false).otherField);
    QVERIFY(typedVolume(0.0, 0.0, true).tooLarge);
    QVERIFY(!typedVolume(-1.0, 0.0, true).otherField);

    QCOMPARE(tooLargeMessage(true), QString("Слишком большое значение газа средней концентрации"));
    QCOMPARE(tooLargeMessage(false),
             QString("Слишком большое значение газа максимальной концентрации"));
}

void GasRulesTest::deviceChoice_data() {
    QTest::addColumn<double>("maximum");
    QTest::addColumn<double>("middle");
    QTest::addColumn<double>("range");
    QTest::addColumn<ChoiceCheck>("check");
    QTest::newRow("defaults") << 4.4 << 2.7 << 4.4 << ChoiceCheck::Confirm;
    QTest::newRow("at 120 %") << 5.28 << 2.7 << 4.4 << ChoiceCheck::Confirm;
    QTest::newRow("5.4 on 4.4") << 5.4 << 2.7 << 4.4 << ChoiceCheck::MaximumAboveRange;
    QTest::newRow("equal") << 2.7 << 2.7 << 4.4 << ChoiceCheck::MiddleNotBelowMaximum;
    QTest::newRow("middle above, both far out")
        << 6.0 << 7.0 << 4.4 << ChoiceCheck::MiddleNotBelowMaximum;
    QTest::newRow("zeros") << 0.0 << 0.0 << 0.0 << ChoiceCheck::MiddleNotBelowMaximum;
}

void GasRulesTest::deviceChoice() {
    QFETCH(double, maximum);
    QFETCH(double, middle);
    QFETCH(double, range);
    QFETCH(ChoiceCheck, check);
    QCOMPARE(checkDeviceChoice(maximum, middle, range), check);
}

void GasRulesTest::confirmationText() {
    const QString text = gasConfirmationText("Метан", 4.4, 5.4, 2.7);
    QCOMPARE(text, QString("Установить новые параметры газов для калибровки?\r\n"
                           "                             Тип газа: Метан\r\n"
                           "                             Диапазон: 4.40\r\n"
                           "          Газ максимальной концентрации: 5.40\r\n"
                           "                Газ средней концентрации: 2.70"));
    const QStringList lines = text.split("\r\n");
    const int indents[] = {0, 29, 29, 10, 16};
    QCOMPARE(lines.size(), 5);
    for (int i = 0; i < 5; ++i) {
        int spaces = 0;
        while (lines[i][spaces] == u' ') ++spaces;
        QCOMPARE(spaces, indents[i]);
    }
}

void GasRulesTest::gasState() {
    GasState state;
    QCOMPARE(state.calGasName, QString("Метан"));
    QCOMPARE(state.maxGas, 4.4);
    QVERIFY(!state.gasMenuChoice);

    selectGas(state, *gasByMenuId(32809));
    QCOMPARE(state.calGasName, QString("Пропилен"));
    QCOMPARE(gasPaneValue(state.maxGas), QString("1.00"));
    QCOMPARE(gasPaneValue(state.midGas), QString("0.50"));
    QCOMPARE(std::count(state.gasMarks.begin(), state.gasMarks.end(), true), 1);
    QVERIFY(state.gasMarks[7] && state.gasMenuChoice);

    // A connected analyzer's choice marks the gas of that name and disables "Концентрация".
    QVERIFY(applyConnectedDevicesChoice(state, "Бутан", 0.84, 0.35));
    QVERIFY(state.gasMarks[3] && !state.gasMarks[7] && !state.gasMenuChoice);
    QCOMPARE(state.maxGas, 0.84);

    // An analyzer's own name is taken as it is, with no mark.
    QVERIFY(applyConnectedDevicesChoice(state, "CH4 (калибр.)", 2.0, 1.0));
    QCOMPARE(std::count(state.gasMarks.begin(), state.gasMarks.end(), true), 0);
    QCOMPARE(state.calGasName, QString("CH4 (калибр.)"));

    // No name or a zero concentration: nothing changes.
    const GasState before = state;
    QVERIFY(!applyConnectedDevicesChoice(state, "", 2.0, 1.0));
    QVERIFY(!applyConnectedDevicesChoice(state, "Метан", 0.0, 1.0));
    QVERIFY(!applyConnectedDevicesChoice(state, "Метан", 2.0, 0.0));
    QCOMPARE(state.calGasName, before.calGasName);
    QCOMPARE(state.maxGas, before.maxGas);
    QCOMPARE(state.midGas, before.midGas);
}

void GasRulesTest::deviceRows() {
    AnalyzerGasParams standard;
    standard.gasCode = 1;
    standard.gasName = "Метан";
    standard.deviceRange = 99;  // ignored for a standard model
    GasDeviceRow row = makeGasDeviceRow(standard);
    QCOMPARE(row.units, QString("об.доли"));
    QCOMPARE(row.range, 4.4);
    QCOMPARE(row.maximum, 4.4);
    QCOMPARE(row.middle, 2.7);

    for (int code : {0, 9, 200}) {
        standard.gasCode = code;
        row = makeGasDeviceRow(standard);
        QCOMPARE(row.range, 0.0);
        QCOMPARE(row.maximum, 0.0);
        QCOMPARE(row.middle, 0.0);
    }

    AnalyzerGasParams extended{3, "Гексан", true, "%НКПР", 0.5, 25, 50};
    row = makeGasDeviceRow(extended);
    QCOMPARE(row.gasName, QString("Гексан"));
    QCOMPARE(row.units, QString("%НКПР"));
    QCOMPARE(row.range, 0.5);
    QCOMPARE(row.middle, 25.0);
    QCOMPARE(row.maximum, 50.0);
}

// What the poll thread stored for an analyzer reaches its row in the connected-devices dialog.
void GasRulesTest::deviceRowOfASlot() {
    const GasInfo* butane = gasByCode(4);
    QVERIFY(butane);
    struct Case {
        bool extended;
        uint8_t gasCode;
        const char* unit;
        GasDeviceRow expected;
    };
    const Case cases[] = {
        {true, 3, "%НКПР", {"Гексан", "%НКПР", 0.5, 25.0, 50.0}},
        {false, 4, "-", {"Гексан", "об.доли", butane->highVol, butane->midVol, butane->highVol}},
    };
    for (const Case& c : cases) {
        Slot s;
        s.readings.extendedModel = c.extended;
        s.readings.gasCode = c.gasCode;
        s.readings.deviceRange = 0.5;
        s.readings.deviceMidGas = 25;
        s.readings.deviceMaxGas = 50;
        s.texts.gasName = "Гексан";
        s.texts.unitName = c.unit;
        const GasDeviceRow row = makeGasDeviceRow(gasParamsOf(s));
        QCOMPARE(row.gasName, c.expected.gasName);
        QCOMPARE(row.units, c.expected.units);
        QCOMPARE(row.range, c.expected.range);
        QCOMPARE(row.middle, c.expected.middle);
        QCOMPARE(row.maximum, c.expected.maximum);
    }
}

QTEST_GUILESS_MAIN(GasRulesTest)
#include "gas_rules_test.moc"
