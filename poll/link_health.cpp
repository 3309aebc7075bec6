// SPDX-License-Identifier: GPL-3.0-or-later
#include "poll/link_health.h"

#include <algorithm>
#include <chrono>

#include "link/reply_view.h"
#include "link/serial_line.h"

namespace zta {

FrameKind classifyReply(const Request& request, const uint8_t* reply, size_t n,
                        size_t expectedLength) {
    if (n == 0) return FrameKind::NoReply;
    const bool isWrite = request[1] == kFnWriteSingle;
    const ReplyView v(reply, n);
    if (isWrite && v.isEchoOf(request)) return FrameKind::Echo;
    const bool whole = v.hasLength(expectedLength) || v.isException();
    if (!whole) return FrameKind::Malformed;
    if (!v.crcMatches())
        return v.address() == request[0] ? FrameKind::WrongCrc : FrameKind::Malformed;
    if (v.address() != request[0]) return FrameKind::Foreign;
    if (v.function() & 0x80) return FrameKind::Refusal;
    // A write answered with anything but its echo is no answer to it.
    if (isWrite || v.function() != request[1]) return FrameKind::Malformed;
    return FrameKind::Reply;
}

void LinkHealth::count(FrameKind kind, const ExchangeResult& x) {
    if (!x.writeOk) return;
    ++requests;
    bool answered = false;
    switch (kind) {
        case FrameKind::NoReply:
            ++timeouts;
            break;
        case FrameKind::Reply:
            ++goodReplies;
            answered = true;
            break;
        case FrameKind::Echo:
            ++echoes;
            answered = true;
            break;
        case FrameKind::Refusal:
            ++refusals;
            break;
        case FrameKind::WrongCrc:
            ++wrongCrc;
            break;
        case FrameKind::Foreign:
        case FrameKind::Malformed:
            ++foreign;
            break;
    }
    if (kind == FrameKind::Refusal) lastAnswerMs = steadyNowMs();
    if (!answered || x.replyUs < 0) return;
    lastAnswerMs = steadyNowMs();
    lastReplyUs = x.replyUs;
    maxReplyUs = std::max(maxReplyUs, x.replyUs);
    replyUsSum += x.replyUs;
    ++timedReplies;
}

int64_t steadyNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace zta
