// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "sim/bus.h"

namespace zta::sim {

// One --analyzer value: comma-separated key=value pairs, e.g.
//   address=5,baud=9600,model=standard,text="440 270 440 CH4 %",wave=sine,amp=5,also=6;7
// Returns false and fills *error (naming the key) on anything it does not understand.
bool parseAnalyzer(const std::string& text, AnalyzerConfig* config, std::string* error);

struct ProgramOptions {
    std::string link;    // --link PATH
    std::string device;  // --device PATH
    unsigned deviceBaud = 9600;
    double lineEchoMs = -1;  // --line-echo MS: the line copies every request back; -1: off
    bool log = false;
    bool help = false;
    bool version = false;                   // --version
    std::string control;                    // --control PATH
    double timeScale = 1.0;                 // --time-scale K
    std::vector<AnalyzerConfig> analyzers;  // one extended analyzer at 1 when none is given
};

bool parseProgramOptions(const std::vector<std::string>& args, ProgramOptions* options,
                         std::string* error);

extern const char* const kUsage;

}  // namespace zta::sim
