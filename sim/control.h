// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The control channel's language: one command a line, one JSON answer a line.
//   gas 50 %НКПР | gas 50 lel | gas 2.2 vol | gas off     [--to 1,2,5]
//   power off | power on                                  [--to ...]
//   set [1,2] t90=30 offset=4 ...                         [--to ...]
//   state                                                 [--to ...]

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zta::sim {

class Analyzer;

struct ControlCommand {
    enum class Kind { Gas, Power, Set, State };
    Kind kind = Kind::State;
    std::vector<int> to;  // network numbers; empty: every analyzer
    double amount = 0.0;  // Gas: 0 is clean air
    bool volume = false;  // Gas: the amount is volume percent of each analyzer's own gas
    bool on = true;       // Power
    std::vector<std::pair<std::string, std::string>> settings;  // Set: keys already checked
};

inline constexpr double kMaxGasLel = 1000.0;
inline constexpr double kMaxGasVolume = 100.0;

// False with *error on anything it does not take; *command is then unchanged.
bool parseControlLine(const std::string& line, ControlCommand* command, std::string* error);

// Runs a command on the analyzers (the caller holds whatever guards them) t seconds after the
// start, modelT on the gas model's clock. All or nothing: a command refused for one target
// changes none.
std::string runControl(const ControlCommand& command,
                       const std::vector<std::shared_ptr<Analyzer>>& analyzers, double t,
                       double modelT);

std::string controlRefusal(const std::string& error);  // {"ok":false,"error":"..."}
// A JSON string literal of `text`: escaped, and any byte that is not UTF-8 replaced by '?'.
std::string jsonString(const std::string& text);

}  // namespace zta::sim
