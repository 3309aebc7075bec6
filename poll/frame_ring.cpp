// SPDX-License-Identifier: GPL-3.0-or-later
#include "poll/frame_ring.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace zta {

namespace {

std::string clockText(std::chrono::system_clock::time_point at) {
    const std::time_t t = std::chrono::system_clock::to_time_t(at);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count() % 1000;
    std::tm tm{};
#if defined(_WIN32)
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(ms < 0 ? ms + 1000 : ms));
    return buf;
}

std::string hexBytes(const uint8_t* data, size_t n) {
    std::string s;
    s.reserve(n * 3);
    char buf[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", data[i]);
        s += buf;
    }
    return s;
}

unsigned word(const uint8_t* p) { return (unsigned(p[0]) << 8) | p[1]; }

}  // namespace

FrameRecord makeFrameRecord(const Request& request, const uint8_t* reply,
                            const ExchangeResult& result) {
    FrameRecord f;
    f.sentAt = result.sentAt;
    f.request = request;
    f.count = static_cast<uint8_t>(std::min(result.count, f.reply.size()));
    std::copy_n(reply, f.count, f.reply.begin());
    // The length asked for follows from the request: an echo, or 5 + 2 bytes a register.
    const size_t expected = request[1] == kFnWriteSingle ? kEchoLength : 5 + 2 * word(&request[4]);
    f.expected = static_cast<uint8_t>(std::min<size_t>(expected, 255));
    f.replyUs = result.replyUs;
    f.waitedUs = result.waitedUs;
    f.strayBytes = static_cast<uint16_t>(std::min<size_t>(result.strayBytes, 65535));
    f.lineCopies = static_cast<uint8_t>(std::clamp(result.lineCopies, 0, 255));
    f.foreignFrames = static_cast<uint8_t>(std::clamp(result.foreignFrames, 0, 255));
    f.kind = classifyReply(request, reply, f.count, expected, result.foreignFrames);
    return f;
}

std::string requestTraceLine(const FrameRecord& f) {
    const Request& r = f.request;
    char what[48];
    if (r[1] == kFnWriteSingle)
        std::snprintf(what, sizeof what, "write %u=%u", word(&r[2]), word(&r[4]));
    else if (r[1] == kFnReadInput)
        std::snprintf(what, sizeof what, "read %u..%u", word(&r[2]), word(&r[2]) + word(&r[4]) - 1);
    else
        std::snprintf(what, sizeof what, "function %u", unsigned(r[1]));
    char head[40];
    std::snprintf(head, sizeof head, " -> %d  ", f.address());
    return clockText(f.sentAt) + head + hexBytes(r.data(), r.size()) + "  " + what;
}

// What the line did besides the answer, for the end of the reply line.
static std::string lineNotes(const FrameRecord& f) {
    std::string notes;
    char buf[48];
    if (f.lineCopies == 1) notes += "  line echo";
    if (f.lineCopies > 1) {
        std::snprintf(buf, sizeof buf, "  line echo x%u", unsigned(f.lineCopies));
        notes += buf;
    }
    if (f.foreignFrames > 0) {
        std::snprintf(buf, sizeof buf, "  foreign frames %u set aside", unsigned(f.foreignFrames));
        notes += buf;
    }
    if (f.strayBytes > 0) {
        std::snprintf(buf, sizeof buf, "  stray bytes %u", unsigned(f.strayBytes));
        notes += buf;
    }
    return notes;
}

std::string replyTraceLine(const FrameRecord& f) {
    auto at = f.sentAt;
    if (f.replyUs > 0)
        at += std::chrono::microseconds(f.replyUs);
    else if (f.count == 0 && f.waitedUs > 0)
        at += std::chrono::microseconds(f.waitedUs);
    char head[40];
    std::snprintf(head, sizeof head, " <- %d  ", f.address());
    std::string line = clockText(at) + head;
    if (f.count == 0) return line + "-  no reply" + lineNotes(f);
    line += hexBytes(f.reply.data(), f.count);
    char buf[64];
    switch (f.kind) {
        case FrameKind::Reply:
            std::snprintf(buf, sizeof buf, "  reply %u bytes  CRC ok", unsigned(f.count));
            break;
        case FrameKind::Echo:
            std::snprintf(buf, sizeof buf, "  echo  CRC ok");
            break;
        case FrameKind::Refusal:
            std::snprintf(buf, sizeof buf, "  refusal %02X  CRC ok", unsigned(f.reply[2]));
            break;
        case FrameKind::WrongCrc:
            std::snprintf(buf, sizeof buf, "  reply %u bytes  CRC wrong", unsigned(f.count));
            break;
        case FrameKind::Foreign:
            std::snprintf(buf, sizeof buf, "  reply from %d  CRC ok", int(f.reply[0]));
            break;
        default:
            std::snprintf(buf, sizeof buf, "  malformed %u of %u bytes  CRC %s", unsigned(f.count),
                          unsigned(f.expected),
                          crcPasses(f.reply.data(), f.count) ? "ok" : "wrong");
            break;
    }
    line += buf;
    if (f.replyUs >= 0) {
        std::snprintf(buf, sizeof buf, "  %.1f ms", f.replyUs / 1000.0);
        line += buf;
    }
    return line + lineNotes(f);
}

FrameRing::FrameRing(size_t capacity) : frames_(std::max<size_t>(capacity, 1)) {}

void FrameRing::exchanged(const Request& request, const uint8_t* reply,
                          const ExchangeResult& result) {
    FrameRecord f = makeFrameRecord(request, reply, result);
    std::lock_guard lock(mutex_);
    f.sequence = ++last_;
    frames_[f.sequence % frames_.size()] = f;
}

std::vector<FrameRecord> FrameRing::since(uint64_t sequence) const {
    std::lock_guard lock(mutex_);
    std::vector<FrameRecord> out;
    const uint64_t oldest = last_ >= frames_.size() ? last_ - frames_.size() + 1 : 1;
    const uint64_t from = std::max({sequence + 1, oldest, cleared_ + 1});
    if (from > last_) return out;
    out.reserve(last_ - from + 1);
    for (uint64_t s = from; s <= last_; ++s) out.push_back(frames_[s % frames_.size()]);
    return out;
}

uint64_t FrameRing::lastSequence() const {
    std::lock_guard lock(mutex_);
    return last_;
}

void FrameRing::clear() {
    std::lock_guard lock(mutex_);
    // Sequences go on, so a reader's position stays meaningful.
    const uint64_t keep = last_;
    std::fill(frames_.begin(), frames_.end(), FrameRecord{});
    last_ = keep;
    cleared_ = keep;
}

}  // namespace zta
