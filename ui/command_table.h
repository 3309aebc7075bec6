// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <span>

#include "link/regmap.h"
#include "ui/command_ids.h"

namespace zta {

// A command the analyzer confirmed, shown as a mark on its trend.
enum class TrendMarkKind { Zero, HighGas, MiddleGas, Typical, Threshold1, Threshold2 };

// How the audit trail shows a command's register value in units.
enum class AuditUnits {
    None,           // the command carries no value
    NumberAndRate,  // "№ N, R бод"
    GasPercent,     // volume %, two decimals
    ThresholdLel,   // "N %НКПР"
    Plain,          // the number as it is
};

// One service command as the windows show it. Adding a command is one row here, one in the
// engine's table, and its dialog among the service commands.
struct CommandUiRow {
    Command command;
    const char* name;  // UTF-8: the menu's words, also in the audit trail and the overview
    std::optional<TrendMarkKind> mark;
    AuditUnits units;
    CommandId menuId;  // None: no menu item (the factory number is asked by its key)
    CommandId toolId;  // None: no tool button
    // The tool button works only while the analyzer answers (the menu item always does).
    bool toolWhenResponding;
};

std::span<const CommandUiRow> commandUiTable();
const CommandUiRow& commandUi(Command command);
// The row whose menu item or tool button `id` is; nullptr for any other command id.
const CommandUiRow* commandUiOf(CommandId id);

}  // namespace zta
