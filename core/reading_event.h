// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>

#include "poll/link_health.h"
#include "poll/poll_block.h"
#include "poll/readings.h"

namespace zta {

// One turn of one analyzer as the poll thread ended it: posted, never waited for.
struct ReadingEvent {
    AnalyzerId analyzer = 0;
    std::uint64_t generation = 0;  // the analyzer's registration (a new number: a new one)
    int line = 0;                  // the line's index in the core
    std::uint64_t run = 0;         // the connection it came from; an ended run's events are dropped
    std::int64_t steadyMs = 0;
    std::int64_t turnStartMs = 0;  // when the turn's request went out (steady)
    std::chrono::system_clock::time_point wallTime{};
    int address = 0;
    Readings readings;
    SlotTexts texts;
    int errorCount = 0;  // consecutive missed replies; out of contact from kLostContactLimit on
    int cycleMs = 0;     // the analyzer's poll cycle, 0 until measured
    int replyCount = 0;
    int requestCount = 0;
    bool exchanged = false;  // false: the line was away and nothing was sent
    FrameKind outcome = FrameKind::NoReply;
    LinkHealth health;

    bool inContact() const { return errorCount < kLostContactLimit; }
    bool answered() const { return errorCount == 0; }
};

// The event for the analyzer in `slot` as it stands (no run, no outcome, the times of now).
ReadingEvent readingOfSlot(const Slot& slot);

}  // namespace zta
