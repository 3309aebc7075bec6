// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "core/reading_event.h"
#include "poll/command_track.h"

namespace zta {

// What the core tells whoever follows the bench: the windows, the overview, the records, the
// audit trail, the verification and the lab link. Called on the thread that drains the core's
// event queue, in the order things happened on each line.
class BenchListener {
  public:
    virtual ~BenchListener() = default;
    virtual void readingArrived(const ReadingEvent& event) { (void)event; }
    // A command was confirmed, sent, answered or failed. `line` is the analyzer's line.
    virtual void commandChanged(int line, const CommandReport& report) { (void)line, (void)report; }
    // The analyzer took the new baud code its command carried.
    virtual void baudAccepted(AnalyzerId analyzer, int baudCode, int address) {
        (void)analyzer, (void)baudCode, (void)address;
    }
    // Polling of the line started or ended (asked for, or the line could not be opened).
    virtual void pollingChanged(int line) { (void)line; }
    // The polled line went away (every analyzer on it out of contact) or came back.
    virtual void lineStateChanged(int line, bool up) { (void)line, (void)up; }
    // Polling was stopped on request: the readings of the line's analyzers are void.
    virtual void disconnected(int line) { (void)line; }
    // Analyzers of the line were added, removed or moved to other slots.
    virtual void analyzersChanged(int line) { (void)line; }
    // A worker's error for the operator. An empty caption means the application's title.
    virtual void errorRaised(const std::string& text, const std::string& caption) {
        (void)text, (void)caption;
    }
};

}  // namespace zta
