// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "link/serial_line.h"
#include "poll/link_health.h"

namespace zta {

// One exchange as it went over the line: the request and what came back.
struct FrameRecord {
    uint64_t sequence = 0;  // 1, 2, ... in the order of the exchanges
    std::chrono::system_clock::time_point sentAt{};
    Request request{};
    std::array<uint8_t, kPollBufferSize> reply{};
    uint8_t count = 0;
    uint8_t expected = 0;
    long replyUs = -1;
    long waitedUs = 0;  // until the read ended: the time-out when nothing came
    uint16_t strayBytes = 0;
    uint8_t lineCopies = 0;
    uint8_t foreignFrames = 0;
    FrameKind kind = FrameKind::NoReply;

    int address() const { return request[0]; }
};

FrameRecord makeFrameRecord(const Request& request, const uint8_t* reply,
                            const ExchangeResult& result);

// The two trace lines of an exchange, without line ends: the request, then the reply, with
// what the line did besides (its own copy of the request, stray bytes dropped, frames from
// other numbers set aside). "no reply" is stamped at the end of the wait.
//   12:00:01.234 -> 3  03 04 00 01 00 19 60 00  read 1..25
//   12:00:01.290 <- 3  03 04 32 ... 9A 1B  reply 55 bytes  CRC ok  56.1 ms  line echo
std::string requestTraceLine(const FrameRecord& frame);
std::string replyTraceLine(const FrameRecord& frame);

// The last exchanges of the line, for the traffic monitor. Storage is allocated once; an
// exchange costs one copy under a lock, whether anyone reads or not.
class FrameRing : public FrameObserver {
  public:
    explicit FrameRing(size_t capacity = 4096);

    void exchanged(const Request& request, const uint8_t* reply,
                   const ExchangeResult& result) override;

    // The frames after `sequence`, oldest first; at most the ring's capacity.
    std::vector<FrameRecord> since(uint64_t sequence) const;
    uint64_t lastSequence() const;
    size_t capacity() const { return frames_.size(); }
    void clear();

  private:
    mutable std::mutex mutex_;
    std::vector<FrameRecord> frames_;
    uint64_t last_ = 0;     // sequence of the newest frame
    uint64_t cleared_ = 0;  // frames up to this one were cleared
};

}  // namespace zta
