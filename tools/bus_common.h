// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "link/regmap.h"
#include "link/serial_line.h"
#include "poll/readings.h"

namespace zta::bus {

enum Exit {
    kOk = 0,
    kFailure = 1,
    kUsage = 2,
    kPortError = 3,
    kNoReply = 4,
    kBadReply = 5,
    kRefused = 6,
    kVerdictFailed = 7  // verify: the batch was verified, not every analyzer passed
};

struct Options {
    std::string port;
    unsigned baud = 9600;
    std::vector<int> addresses;  // --address A[,A...]
    bool json = false;
    bool extended = false;
    bool trace = false;                       // --trace: every exchange on standard error
    bool fast = false;                        // --fast: poll with the line's own pause only
    long turns = -1;                          // --turns N, -1: until interrupted
    int replyTimeoutMs = 0;                   // --timeout MS, 0: the rate's own
    int netTimeoutMs = kDefaultNetTimeoutMs;  // --net-timeout MS: a network line's allowance
    DirectionSetting direction = directionFromEnvironment();
    std::vector<std::string> positional;
};

// Parses argv[1..] (argv[0] is the sub-command). An option the sub-command does not take, or
// one given twice, is refused. On failure returns false with a one-line message in `error`.
bool parseOptions(int argc, char** argv, Options& options, std::string& error);

// The path --port names: a bare name that exists as a file in the current folder is that file;
// anything else follows the platform's port-name rule.
std::string portPathFor(const std::string& port);

// Parses a whole decimal number in [lo, hi]; false on anything else.
bool parseInt(const std::string& text, long lo, long hi, long& value);

// The register write of `zta-bus write`: positional[0] is the command, positional[1] its value.
// On failure returns false with a one-line message in `error`.
bool parseWriteCommand(const Options& options, RegisterWrite& write, std::string& error);

// The line settings of the options; with --trace the line reports every exchange on
// standard error as the traffic monitor shows it.
LineOptions lineOptionsFor(const Options& options, size_t bufferSize);

// JSON objects keep their keys in insertion order.
using Json = nlohmann::ordered_json;

// The readings under their columns' keys, in the JSON's order.
void addReadings(Json& json, const Readings& readings, const SlotTexts& texts);
// One line of compact JSON; bytes that are not UTF-8 are replaced, never thrown on.
std::string jsonLine(const Json& json);
std::string readingsText(const Readings& readings, const SlotTexts& texts);

}  // namespace zta::bus
