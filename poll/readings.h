// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

#include "link/regmap.h"

namespace zta {

// What the analyzer reports: the values of its last read reply, plus what its model adds (the
// gas code of a standard model, the device values of an extended one).
struct Readings : ReplyReadings {
    uint8_t gasCode = 0;
    double deviceMaxGas = 0.0;
    double deviceMidGas = 0.0;
    double deviceRange = 0.0;
    bool extendedModel = false;

    // What lost contact or a disconnect empties; the model and its device values stay.
    void clearReported();
};

// The unit a standard analyzer's concentration is also shown in (UTF-8).
inline constexpr const char* kVolumeUnitName = "Об. доли";

// The concentration in the analyzer's own unit: an extended model scales it by its range, a
// standard model gives the volume fraction of its gas.
double unitValue(const Readings& readings);

struct SlotTexts {
    std::string gasName;         // UTF-8
    std::string unitName = "-";  // UTF-8
};

}  // namespace zta
