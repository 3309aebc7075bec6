#include "poll/link_health.h"

#include <algorithm>
#include <chrono>

#include "link/serial_line.h"

namespace zta {

FrameKind ClassifyReply(const Request& request, const uint8_t* reply, size_t n,
                        size_t expectedLength) {
    if (n == 0) return FrameKind::NoReply;
    const bool isWrite = request[1] == kFnWriteSingle;
    if (isWrite && IsExactEcho(request, reply, n)) return FrameKind::Echo;
    const bool whole = n == expectedLength || (n == kExceptionLength && (reply[1] & 0x80));
    if (!whole) return FrameKind::Malformed;
    if (!CrcPasses(reply, n)) return reply[0] == request[0] ? FrameKind::WrongCrc : FrameKind::Malformed;
    if (reply[0] != request[0]) return FrameKind::Foreign;
    if (reply[1] & 0x80) return FrameKind::Refusal;
    // A write answered with anything but its echo is no answer to it.
    if (isWrite || reply[1] != request[1]) return FrameKind::Malformed;
    return FrameKind::Reply;
}

void LinkHealth::Count(FrameKind kind, const ExchangeResult& x) {
    if (!x.writeOk) return;
    ++requests;
    bool answered = false;
    switch (kind) {
    case FrameKind::NoReply: ++timeouts; break;
    case FrameKind::Reply: ++goodReplies; answered = true; break;
    case FrameKind::Echo: ++echoes; answered = true; break;
    case FrameKind::Refusal: ++refusals; break;
    case FrameKind::WrongCrc: ++wrongCrc; break;
    case FrameKind::Foreign:
    case FrameKind::Malformed: ++foreign; break;
    }
    if (kind == FrameKind::Refusal) lastAnswerMs = SteadyNowMs();
    if (!answered || x.replyUs < 0) return;
    lastAnswerMs = SteadyNowMs();
    lastReplyUs = x.replyUs;
    maxReplyUs = std::max(maxReplyUs, x.replyUs);
    replyUsSum += x.replyUs;
    ++timedReplies;
}

int64_t SteadyNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace zta
