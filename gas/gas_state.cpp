// SPDX-License-Identifier: GPL-3.0-or-later
#include "gas/gas_state.h"

namespace zta {

void selectGas(GasState& state, const GasInfo& gas) {
    if (gas.code < 1 || gas.code >= kGasCodeCount) return;
    state.maxGas = gas.highVol;
    state.midGas = gas.midVol;
    state.gasMarks.fill(false);
    state.gasMarks[gas.code - 1] = true;
    state.gasMenuChoice = true;
    state.calGasName = QString::fromUtf8(gas.name);
}

void markGasByName(std::array<bool, kMarkedGasCount>& marks, const QString& name) {
    for (int i = 0; i < kMarkedGasCount; ++i)
        marks[i] = name == QString::fromUtf8(GasTable[i + 1].name);
}

bool applyConnectedDevicesChoice(GasState& state, const QString& name, double maximum,
                                 double middle) {
    if (name.isEmpty() || maximum == 0.0 || middle == 0.0) return false;
    state.calGasName = name;
    state.maxGas = maximum;
    state.midGas = middle;
    state.gasMenuChoice = false;
    markGasByName(state.gasMarks, name);
    return true;
}

AnalyzerGasParams gasParamsOf(const Slot& slot) {
    AnalyzerGasParams p;
    p.gasCode = slot.readings.gasCode;
    p.gasName = slot.texts.gasName;
    p.extendedModel = slot.readings.extendedModel;
    p.unitName = slot.texts.unitName;
    p.deviceRange = slot.readings.deviceRange;
    p.deviceMidGas = slot.readings.deviceMidGas;
    p.deviceMaxGas = slot.readings.deviceMaxGas;
    return p;
}

GasDeviceRow makeGasDeviceRow(const AnalyzerGasParams& params) {
    GasDeviceRow row;
    row.gasName = QString::fromStdString(params.gasName);
    if (params.extendedModel) {
        row.units = QString::fromStdString(params.unitName);
        row.range = params.deviceRange;
        row.middle = params.deviceMidGas;
        row.maximum = params.deviceMaxGas;
        return row;
    }
    row.units = QStringLiteral("об.доли");
    if (const GasInfo* gas = gasByCode(params.gasCode)) {
        row.range = gas->highVol;
        row.maximum = gas->highVol;
        row.middle = gas->midVol;
    }
    return row;
}

QString gasPaneValue(double value) { return QString::asprintf("%.2f", value); }

}  // namespace zta
