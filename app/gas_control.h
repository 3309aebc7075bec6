// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include "ui/command_router.h"

namespace zta {

class ConnectedGasParametersDialog;
class GasParametersDialog;
class MainWindow;
class Station;

// The "Параметры газа" menu: the kind of calibration gas, its concentrations, and the choice
// among the connected analyzers' own gases. The station keeps the result and its file.
class GasControl : public QObject, public CommandTarget {
    Q_OBJECT
  public:
    explicit GasControl(MainWindow& frame);

    bool onCommand(CommandId id) override;
    bool onUpdateCommand(CommandId id, CommandState& state) override;

  private:
    void onConcentration();
    void onConnectedDevicesGas();

    Station& station_;
    GasParametersDialog* concentrationDialog_;
    ConnectedGasParametersDialog* devicesGasDialog_;
};

}  // namespace zta
