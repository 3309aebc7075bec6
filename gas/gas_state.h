// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <array>
#include <string>

#include "gas/gas_table.h"
#include "poll/poll_block.h"

namespace zta {

// The calibration gas the station sends on the calibration commands. maxGas and midGas are
// volume fractions; the poll block holds the copies the poll thread reads.
struct GasState {
    QString calGasName = QStringLiteral("Метан");
    double maxGas = 4.4;
    double midGas = 2.7;
    std::array<bool, kMarkedGasCount> gasMarks{};  // at most one set
    bool gasMenuChoice = false;                    // enables "Концентрация"
};

// A gas picked from the "Вид газа" menu: its default volume values, its mark alone.
void selectGas(GasState& state, const GasInfo& gas);

// Sets the mark of every gas whose name equals `name` exactly and clears the others.
void markGasByName(std::array<bool, kMarkedGasCount>& marks, const QString& name);

// Takes the choice of "Параметры подключенных приборов". A choice without a name or with a
// zero concentration changes nothing; returns whether the state changed.
bool applyConnectedDevicesChoice(GasState& state, const QString& name, double maximum,
                                 double middle);

// What the poll block knows of one connected analyzer's gas.
struct AnalyzerGasParams {
    int gasCode = 0;
    std::string gasName;  // UTF-8
    bool extendedModel = false;
    std::string unitName;  // UTF-8, extended models only
    double deviceRange = 0.0;
    double deviceMidGas = 0.0;
    double deviceMaxGas = 0.0;
};

AnalyzerGasParams gasParamsOf(const Slot& slot);

// One row of the connected-devices dialog; range is volume fraction, middle and maximum are in
// the row's units.
struct GasDeviceRow {
    QString gasName;
    QString units;
    double range = 0.0;
    double middle = 0.0;
    double maximum = 0.0;
};

// Extended models bring their own units, range and concentrations. Standard models report only
// a gas code and get the table's volume defaults; a code the table does not know (0, or above
// 8) gets zeros, which the dialog lists but never applies.
GasDeviceRow makeGasDeviceRow(const AnalyzerGasParams& params);

// Status-bar text of a concentration.
QString gasPaneValue(double value);

}  // namespace zta
