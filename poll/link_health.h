// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/modbus.h"
#include "link/serial_line.h"

namespace zta {

// What came back for one request, judged from the bytes alone.
enum class FrameKind {
    NoReply,    // nothing within the reply time-out
    Reply,      // a read reply of the asked length from the asked number, CRC right
    Echo,       // the exact echo of a write
    Refusal,    // an exception reply (function | 0x80) from the asked number, CRC right
    WrongCrc,   // the asked length from the asked number, CRC wrong
    Foreign,    // a whole frame from another network number (and nothing else came)
    Malformed,  // anything else: short, long, garbled
};

// A reply the poll thread decodes (25 or 55 bytes from the asked number, CRC right) is a Reply
// whichever read asked for it. `foreignFrames`: frames from other numbers set aside meanwhile.
FrameKind classifyReply(const Request& request, const uint8_t* reply, size_t count,
                        size_t expectedLength, int foreignFrames = 0);

// The exchange's outcome in one word: data, echo, timeout, crc, refused, foreign, short.
const char* outcomeName(FrameKind kind);
// "unknown", "no" or "yes".
const char* lineEchoName(LineEcho echo);

// Communication health of one slot, kept beside its reply and request counts and cleared with
// them. Reply times count from the end of the request to the last byte of a reply or an echo; a
// refusal is shorter than the reply asked for, so its read ends only with the time-out.
struct LinkHealth {
    long requests = 0;  // written requests
    long goodReplies = 0;
    long timeouts = 0;
    long wrongCrc = 0;
    long foreign = 0;  // foreign or malformed
    long refusals = 0;
    long echoes = 0;
    long lastReplyUs = -1;
    long maxReplyUs = -1;
    long long replyUsSum = 0;
    long timedReplies = 0;
    // Steady-clock milliseconds of the last answer; 0: none yet.
    int64_t lastAnswerMs = 0;

    long meanReplyUs() const {
        return timedReplies ? static_cast<long>(replyUsSum / timedReplies) : -1;
    }
    long badReplies() const { return wrongCrc + foreign; }
    void count(FrameKind kind, const ExchangeResult& exchange);
};

// What the line itself did, over all its analyzers: bytes dropped before reply reads that
// belonged to no exchange, whole frames from other numbers inside a reply window, copies of
// requests handed back by an echoing adapter.
struct LineHealth {
    long strayBytes = 0;
    long foreignFrames = 0;
    long lineCopies = 0;
    LineEcho echo = LineEcho::Unknown;

    void count(const ExchangeResult& exchange);
};

int64_t steadyNowMs();

}  // namespace zta
