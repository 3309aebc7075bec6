// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

#ifndef _WIN32
#include <termios.h>
#endif

namespace zta {

// Every line rate the station and the simulator know, with the analyzer's register code
// (0: an analyzer cannot be set to it; the simulator still serves it) and the termios speed.
struct BaudRow {
    unsigned rate;
    uint8_t code;
#ifndef _WIN32
    speed_t speed;
#endif
};

#ifndef _WIN32
#define ZTA_BAUD_ROW(rate, code, speed) \
    BaudRow { rate, code, speed }
#else
#define ZTA_BAUD_ROW(rate, code, speed) \
    BaudRow { rate, code }
#endif

inline constexpr BaudRow kBaudTable[] = {
    ZTA_BAUD_ROW(1200, 1, B1200),    ZTA_BAUD_ROW(2400, 2, B2400),
    ZTA_BAUD_ROW(4800, 4, B4800),    ZTA_BAUD_ROW(9600, 8, B9600),
    ZTA_BAUD_ROW(19200, 16, B19200), ZTA_BAUD_ROW(38400, 0, B38400),
    ZTA_BAUD_ROW(57600, 0, B57600),  ZTA_BAUD_ROW(115200, 0, B115200),
};

#undef ZTA_BAUD_ROW

// The row of a rate, or nullptr.
constexpr const BaudRow* baudRowForRate(unsigned rate) {
    for (const BaudRow& row : kBaudTable)
        if (row.rate == rate) return &row;
    return nullptr;
}

// A rate an analyzer can be set to.
constexpr bool analyzerRate(unsigned rate) {
    const BaudRow* row = baudRowForRate(rate);
    return row && row->code != 0;
}

#ifndef _WIN32
// The rate of a termios speed; 0 for one outside the table.
inline unsigned rateForSpeed(speed_t speed) {
    for (const BaudRow& row : kBaudTable)
        if (row.speed == speed) return row.rate;
    return 0;
}
#endif

}  // namespace zta
