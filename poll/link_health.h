// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/modbus.h"

namespace zta {

struct ExchangeResult;

// What came back for one request, judged from the bytes alone.
enum class FrameKind {
    NoReply,    // nothing within the reply time-out
    Reply,      // a read reply of the asked length from the asked number, CRC right
    Echo,       // the exact echo of a write
    Refusal,    // an exception reply (function | 0x80) from the asked number, CRC right
    WrongCrc,   // the asked length from the asked number, CRC wrong
    Foreign,    // a whole frame from another network number
    Malformed,  // anything else: short, long, garbled
};

FrameKind classifyReply(const Request& request, const uint8_t* reply, size_t count,
                        size_t expectedLength);

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

int64_t steadyNowMs();

}  // namespace zta
