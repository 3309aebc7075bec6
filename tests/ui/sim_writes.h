// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a simulated analyzer received of the station's service writes.

#include <QTest>
#include <cstdint>
#include <vector>

#include "link/modbus.h"
#include "poll/poll_block.h"
#include "sim/bus.h"

using namespace zta;

// The request bytes of the write of `reg` that the analyzer at `address` applied, returned once
// the station has taken its echo and no command of any slot is left pending. Empty when the
// write never came. The window thread keeps serving events meanwhile: the poll thread waits for
// each data notice to be taken.
inline std::vector<uint8_t> appliedWrite(const zta::sim::Bus& bus, const zta::PollBlock& block,
                                         int address, int reg, int timeoutMs = 15000) {
    std::vector<uint8_t> bytes;
    const bool applied = QTest::qWaitFor(
        [&] {
            for (const auto& e : bus.log())
                if (e.kind == zta::sim::LogEntry::Kind::WriteApplied && e.address == address &&
                    e.reg == reg) {
                    bytes = e.bytes;
                    return true;
                }
            return false;
        },
        timeoutMs);
    if (!applied) return {};
    (void)QTest::qWaitFor(
        [&] {
            for (int slot = 0; slot < block.windowCount(); ++slot)
                if (block.snapshot(slot).pending.anyPending()) return false;
            return true;
        },
        timeoutMs);
    return bytes;
}

inline std::vector<uint8_t> writeFrame(int address, int reg, int value) {
    const zta::Request r = zta::writeRequest(
        static_cast<uint8_t>(address), static_cast<uint16_t>(reg), static_cast<uint16_t>(value));
    return {r.begin(), r.end()};
}
