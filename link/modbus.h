// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace zta {

using Request = std::array<uint8_t, 8>;

constexpr uint8_t kFnReadInput = 0x04;
constexpr uint8_t kFnWriteSingle = 0x06;
constexpr uint8_t kFnReadInputRefused = 0x84;

constexpr size_t kShortReplyLength = 25;  // 10 registers
constexpr size_t kLongReplyLength = 55;   // 25 registers with the text block
constexpr size_t kProbeReplyLength = 21;  // 8 registers, search only
constexpr size_t kExceptionLength = 5;
constexpr size_t kEchoLength = 8;

constexpr uint16_t kReadingsRegister = 1;
constexpr uint16_t kShortReadCount = 10;
constexpr uint16_t kLongReadCount = 25;
constexpr uint16_t kProbeRegister = 2;
constexpr uint16_t kProbeCount = 8;

// Fills the network number, the function, register and count/value (high byte first) and the
// CRC of the first six bytes (low byte first).
Request buildRequest(uint8_t address, uint8_t function, uint16_t reg, uint16_t countOrValue);
Request readRequest(uint8_t address, uint16_t firstRegister, uint16_t count);
Request writeRequest(uint8_t address, uint16_t reg, uint16_t value);

// Re-addresses a template in place: byte 0 and the CRC.
void readdress(Request& request, uint8_t address);

// Appends the CRC of the first length-2 bytes into the last two (for replies built by the
// simulator and tests).
void sealFrame(uint8_t* frame, size_t length);

// The CRC over bytes 0..n-3 equals bytes n-2 (low) and n-1 (high). False for n < 3.
bool crcPasses(const uint8_t* frame, size_t length);

// A write reply passes only when it is exactly the request, byte for byte.
bool isExactEcho(const Request& request, const uint8_t* reply, size_t length);

// Wire time of a frame at a rate, 10 bits a byte (8N1), in microseconds.
constexpr long wireTimeUs(size_t bytes, unsigned baud) {
    return baud ? static_cast<long>((bytes * 10ull * 1000000ull + baud - 1) / baud) : 0;
}

}  // namespace zta
