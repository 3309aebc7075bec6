#pragma once

#include <cstdint>

namespace zta {

// Every line rate the station and the simulator know, with the code an analyzer takes for it
// in its speed register (0: an analyzer cannot be set to that rate).
struct LineRate {
    unsigned baud;
    uint8_t deviceCode;
};

inline constexpr LineRate kLineRates[] = {{1200, 1},  {2400, 2},  {4800, 4},  {9600, 8},
                                          {19200, 16}, {38400, 0}, {57600, 0}, {115200, 0}};

// A rate an analyzer can be set to: the only rates the station opens a line at.
constexpr bool AnalyzerRate(unsigned baud) {
    for (const LineRate& r : kLineRates) {
        if (r.baud == baud) return r.deviceCode != 0;
    }
    return false;
}

}  // namespace zta
