// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include "ui/command_ids.h"

namespace zta {

// Status prompt (first line) and tool tip (after the line break) of a command; empty when the
// command has none.
QString commandPrompt(CommandId id);
QString commandToolTip(CommandId id);

// Why the rate of a line behind a Modbus TCP gateway cannot be changed from the station.
QString gatewayRateText(const QString& port);

}  // namespace zta
