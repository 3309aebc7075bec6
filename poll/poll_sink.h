// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "poll/poll_block.h"

namespace zta {

inline constexpr const char* kPollCaption = "Опрос";
inline constexpr const char* kWriteFailedText = "Ошибка записи";

// One turn's exchange as it ended, for whoever follows the bus turn by turn (zta-bus poll).
struct TurnReport {
    AnalyzerId analyzer = 0;
    int slot = -1;
    int address = 0;                      // the number the request went to
    bool exchanged = false;               // false: the line was away, nothing was sent
    FrameKind kind = FrameKind::NoReply;  // the answer as the slot's health counted it
    ExchangeResult exchange;
};

// One analyzer's slot as a turn (or the loss of the line) left it, copied under the block's lock.
struct SlotUpdate {
    int slot = -1;
    Slot data;
    FrameKind outcome = FrameKind::NoReply;
    bool exchanged = false;  // false: the line was away, nothing was sent
};

// How the poll thread reaches the windows. Called on the poll thread.
class PollSink {
  public:
    virtual ~PollSink() = default;
    // The slot's values changed (a reply, a missed one, the line lost). The receiver must not
    // wait for anyone: the bus goes on while the windows catch up. The analyzer may have been
    // removed a moment before; a receiver ignores one it no longer knows.
    virtual void dataChanged(const SlotUpdate& update) = 0;
    // Posted: the analyzer accepted a new baud rate.
    virtual void baudAccepted(AnalyzerId view, int baudCode, int address) = 0;
    // Posted: the line could not be opened; the thread ends right after.
    virtual void lineFailed() = 0;
    // Posted: shows an error box; never waits for the operator. An empty caption means the
    // application's title.
    virtual void showError(const std::string& text, const std::string& caption) = 0;
    // Posted: a confirmed command was sent, confirmed or failed.
    virtual void commandChanged(const CommandReport& report) { (void)report; }
    // Posted: the open line went away (the poll thread waits for the port and sends nothing;
    // every analyzer on it is out of contact), or came back.
    virtual void lineStateChanged(bool up) { (void)up; }
    // After every turn of a registered slot, once its outcome is stored and noticed. Must be
    // quick: it holds up the bus.
    virtual void turnDone(const TurnReport& report) { (void)report; }
};

}  // namespace zta
