// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/gas_control.h"

#include "app/main_window.h"
#include "gas/connected_gas_parameters_dialog.h"
#include "gas/gas_parameters_dialog.h"
#include "ui/command_ids.h"
#include "ui/dialogs.h"

namespace zta {

GasControl::GasControl(MainWindow& frame)
    : QObject(&frame),
      station_(frame.station()),
      concentrationDialog_(new GasParametersDialog(&frame)),
      devicesGasDialog_(new ConnectedGasParametersDialog(&frame)) {}

bool GasControl::onCommand(CommandId id) {
    if (const GasInfo* gas = gasByMenuId(int(id))) {
        GasState state = station_.gasState();
        selectGas(state, *gas);
        station_.applyGasState(state);
        return true;
    }
    switch (id) {
        case CommandId::Concentration:
            onConcentration();
            return true;
        case CommandId::ConnectedDevicesGas:
            onConnectedDevicesGas();
            return true;
        default:
            return false;
    }
}

bool GasControl::onUpdateCommand(CommandId id, CommandState& state) {
    for (int i = 0; i < kGasCount; ++i) {
        if (kGasMenuIds[i] != id) continue;
        state.checked = station_.gasState().gasMarks[i];
        return true;
    }
    switch (id) {
        case CommandId::Concentration:
            state.enabled = station_.gasState().gasMenuChoice;
            return true;
        case CommandId::ConnectedDevicesGas:
            state.enabled = station_.isPolling();
            return true;
        default:
            return false;
    }
}

void GasControl::onConcentration() {
    GasParametersDialog& dialog = *concentrationDialog_;
    dialog.setMaximum(station_.block().maxGas());
    dialog.setMiddle(station_.block().midGas());
    dialog.setGasMarks(station_.gasState().gasMarks);
    zta::GasState state = station_.gasState();
    if (dialogs().run(dialog) == QDialog::Accepted) {
        state.maxGas = dialog.maximum();
        state.midGas = dialog.middle();
    }
    station_.applyGasState(state);
}

void GasControl::onConnectedDevicesGas() {
    std::vector<zta::AnalyzerGasParams> analyzers;
    const int count = station_.block().windowCount();
    for (int slot = 0; slot < count; ++slot)
        analyzers.push_back(gasParamsOf(station_.block().snapshot(slot)));
    ConnectedGasParametersDialog& dialog = *devicesGasDialog_;
    dialog.setAnalyzers(analyzers);
    if (dialogs().run(dialog) != QDialog::Accepted) return;
    zta::GasState state = station_.gasState();
    if (zta::applyConnectedDevicesChoice(state, dialog.chosenGasName(), dialog.chosenMaximum(),
                                         dialog.chosenMiddle()))
        station_.applyGasState(state);
}

}  // namespace zta
