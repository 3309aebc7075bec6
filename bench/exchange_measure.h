// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Timing of our own line's exchanges, shared by the exchange benchmarks.
#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "link/modbus.h"
#include "link/serial_line.h"

namespace zta::bench {

using Clock = std::chrono::steady_clock;

inline double toMs(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

inline double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
}

// A reply still on its way from the previous master would be read as the answer to the first
// request; back to back, every later exchange would then read its predecessor's reply, after
// the purge, and look faster than the wire. The line is let go quiet before each measurement.
inline void letTheLineGoQuiet() { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }

struct ExchangeFigures {
    double median = 0, p90 = 0;
    int stale = 0;
};

// Median and 90th percentile of `rounds` 10-register reads. The requests alternate between
// `address` and `address + 1`, two numbers of one analyzer, so that a reply to an earlier
// request is recognised and not counted.
inline bool measureOurs(const std::string& port, unsigned baud, DirectionSetting dir,
                        uint8_t address, int rounds, ExchangeFigures& figures) {
    letTheLineGoQuiet();
    SerialLine line;
    LineOptions options;
    options.direction = dir;
    if (!line.open(port, baud, options).ok()) return false;
    std::vector<double> times;
    figures.stale = 0;
    for (int i = 0; i < rounds; ++i) {
        const uint8_t asked = static_cast<uint8_t>(address + i % 2);
        const Request request = readRequest(asked, kReadingsRegister, kShortReadCount);
        const auto t0 = Clock::now();
        const auto x = line.exchange(request, kShortReplyLength, kPollSettleMs);
        const auto t1 = Clock::now();
        if (x.count != kShortReplyLength) continue;
        if (line.reply()[0] != asked || !crcPasses(line.reply(), x.count)) {
            ++figures.stale;
            continue;
        }
        times.push_back(toMs(t1 - t0));
    }
    line.close();
    if (times.size() < static_cast<size_t>(rounds) / 2) return false;
    figures.median = percentile(times, 0.5);
    figures.p90 = percentile(times, 0.9);
    return true;
}

// Pauses the line itself takes before the request goes out: settle, and lead in program mode.
// The hold pause overlaps the request's own wire time on the simulator's clock.
inline double pausesMs(unsigned baud, DirectionMode mode) {
    return kPollSettleMs + (mode == DirectionMode::Program ? timingFor(baud).rtsLeadMs : 0);
}

}  // namespace zta::bench
