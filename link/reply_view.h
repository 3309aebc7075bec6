// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/modbus.h"

namespace zta {

// The reply length a request calls for: a read returns two bytes a register, a write its echo.
// 0 for a function the station never sends.
constexpr size_t expectedReplyLength(const Request& request) {
    if (request[1] == kFnWriteSingle) return kEchoLength;
    if (request[1] != kFnReadInput) return 0;
    const size_t count = static_cast<size_t>(request[4]) << 8 | request[5];
    return 5 + 2 * count;
}

static_assert(expectedReplyLength(Request{0, kFnReadInput, 0, 0, 0, kShortReadCount}) ==
              kShortReplyLength);
static_assert(expectedReplyLength(Request{0, kFnReadInput, 0, 0, 0, kLongReadCount}) ==
              kLongReplyLength);
static_assert(expectedReplyLength(Request{0, kFnReadInput, 0, 0, 0, kProbeCount}) ==
              kProbeReplyLength);

// The length of the frame that begins at `frame`, from its header as far as `have` bytes show
// it: an exception is 5 bytes, a write's echo 8, a read reply 5 + its byte count. A read whose
// third byte is 0 has the shape of a read request (no reply counts 0 bytes): 8. 0 while the
// header is not complete enough to tell; `fallback` for a function the station never asks for.
constexpr size_t frameLengthFromHeader(const uint8_t* frame, size_t have, size_t fallback) {
    if (have < 2) return 0;
    const uint8_t function = frame[1];
    if (function & 0x80) return kExceptionLength;
    if (function == kFnWriteSingle) return kEchoLength;
    if (function != kFnReadInput) return fallback;
    if (have < 3) return 0;
    return frame[2] == 0 ? kEchoLength : 5 + static_cast<size_t>(frame[2]);
}

// A received frame as the checks see it; the bytes stay the caller's.
class ReplyView {
  public:
    ReplyView(const uint8_t* data, size_t size) : data_(data), size_(data ? size : 0) {}

    size_t size() const { return size_; }
    const uint8_t* data() const { return data_; }
    // 0 when the frame is too short to hold the byte.
    uint8_t address() const { return size_ > 0 ? data_[0] : 0; }
    uint8_t function() const { return size_ > 1 ? data_[1] : 0; }
    bool crcMatches() const { return crcPasses(data_, size_); }
    bool hasLength(size_t length) const { return size_ == length; }
    bool hasExpectedLength(const Request& request) const {
        return size_ == expectedReplyLength(request);
    }
    // Judged by length alone, as every reply of five bytes is one.
    bool hasExceptionLength() const { return size_ == kExceptionLength; }
    bool isException() const { return hasExceptionLength() && (function() & 0x80) != 0; }
    uint8_t exceptionCode() const { return isException() ? data_[2] : 0; }
    bool isEchoOf(const Request& request) const { return isExactEcho(request, data_, size_); }
    // The bytes between the function and the CRC (the byte count included for a read).
    const uint8_t* payload() const { return size_ > 4 ? data_ + 2 : nullptr; }
    size_t payloadSize() const { return size_ > 4 ? size_ - 4 : 0; }

  private:
    const uint8_t* data_;
    size_t size_;
};

}  // namespace zta
