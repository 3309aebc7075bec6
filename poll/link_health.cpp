// SPDX-License-Identifier: GPL-3.0-or-later
#include "poll/link_health.h"

#include <algorithm>
#include <chrono>

#include "link/reply_view.h"
#include "link/serial_line.h"

namespace zta {

FrameKind classifyReply(const Request& request, const uint8_t* reply, size_t n,
                        size_t expectedLength, int foreignFrames) {
    if (n == 0) return foreignFrames > 0 ? FrameKind::Foreign : FrameKind::NoReply;
    const bool isWrite = request[1] == kFnWriteSingle;
    const ReplyView v(reply, n);
    if (isWrite && v.isEchoOf(request)) return FrameKind::Echo;
    // The poll thread decodes either reading length whichever read asked, so it counts as
    // data here too: the counters and the readings agree.
    const bool decoded = v.hasLength(kShortReplyLength) || v.hasLength(kLongReplyLength);
    const bool asked = v.hasLength(expectedLength);
    if (!asked && !decoded && !v.isException()) return FrameKind::Malformed;
    if (!v.crcMatches())
        return v.address() == request[0] ? FrameKind::WrongCrc : FrameKind::Malformed;
    if (v.address() != request[0]) return FrameKind::Foreign;
    if (v.isException()) return FrameKind::Refusal;
    if (decoded) return FrameKind::Reply;
    // A write answered with anything but its echo is no answer to it.
    if (isWrite || v.function() != request[1]) return FrameKind::Malformed;
    return FrameKind::Reply;
}

const char* outcomeName(FrameKind kind) {
    switch (kind) {
        case FrameKind::NoReply:
            return "timeout";
        case FrameKind::Reply:
            return "data";
        case FrameKind::Echo:
            return "echo";
        case FrameKind::Refusal:
            return "refused";
        case FrameKind::WrongCrc:
            return "crc";
        case FrameKind::Foreign:
            return "foreign";
        case FrameKind::Malformed:
            break;
    }
    return "short";
}

const char* lineEchoName(LineEcho echo) {
    switch (echo) {
        case LineEcho::Quiet:
            return "no";
        case LineEcho::Echoing:
            return "yes";
        case LineEcho::Unknown:
            break;
    }
    return "unknown";
}

void LineHealth::count(const ExchangeResult& x) {
    strayBytes += static_cast<long>(x.strayBytes);
    foreignFrames += x.foreignFrames;
    lineCopies += x.lineCopies;
    echo = x.lineEcho;
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
