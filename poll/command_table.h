// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <span>

#include "link/regmap.h"

namespace zta {

// What a command's register write is made from when it goes out.
struct CommandInputs {
    double value = 0.0;     // as confirmed: number, baud code, threshold, factory number or gas
    bool hasValue = false;  // a calibration gas without one takes the station's
    int address = 0;        // the analyzer's number now
    unsigned lineBaud = 0;
    double maxGas = 0.0;  // the station's calibration gases, volume %
    double midGas = 0.0;
};

// What the station does beside the write once a command is on its way or answered.
enum class CommandEffect : std::uint8_t {
    None,
    NewNumber,  // the analyzer answers to the new number from the turn the write goes out
    NewRate,    // its echo asks the operator to follow with the line's rate
};

// One service command as the engine knows it. Adding a command is one row here (and one in the
// window's table of names and menu ids).
struct CommandRow {
    Command command;
    bool takesValue;
    // Thresholds and the factory number are the operator's settings: a new connection keeps
    // them pending; the others were meant for the line as it was.
    bool keptOverConnect;
    CommandEffect effect;
    RegisterWrite (*encode)(const CommandInputs&);
};

// Every command, in the order the poll thread sends pending ones: the first pending goes out.
std::span<const CommandRow> commandTable();
const CommandRow& commandRow(Command command);

}  // namespace zta
