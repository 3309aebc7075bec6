// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/reading_event.h"

namespace zta {

ReadingEvent readingOfSlot(const Slot& slot) {
    ReadingEvent event;
    event.analyzer = slot.analyzer;
    event.generation = slot.generation;
    event.steadyMs = steadyNowMs();
    event.turnStartMs = slot.lastTurnMs;
    event.wallTime = std::chrono::system_clock::now();
    event.address = slot.address;
    event.readings = slot.readings;
    event.texts = slot.texts;
    event.errorCount = slot.errorCount;
    event.cycleMs = slot.cycleMs;
    event.replyCount = slot.replyCount;
    event.requestCount = slot.requestCount;
    event.health = slot.health;
    return event;
}

}  // namespace zta
