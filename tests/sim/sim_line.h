// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The station's end of the line for simulator tests: raw POSIX calls, every read bounded.

#include <cstdint>
#include <string>
#include <vector>

#include "link/modbus.h"

namespace zta::sim::testing {

using Bytes = std::vector<uint8_t>;

class TestLine {
  public:
    TestLine() = default;
    ~TestLine();
    TestLine(const TestLine&) = delete;
    TestLine& operator=(const TestLine&) = delete;

    // Opens raw 8N1 at the rate; false with errno text in *error.
    bool open(const std::string& path, unsigned baud, std::string* error = nullptr);
    bool setBaud(unsigned baud);
    void close();
    int fd() const { return fd_; }

    bool write(const Bytes& bytes);
    bool write(const Request& request) { return write(Bytes(request.begin(), request.end())); }
    // Reads until `count` bytes have come or `timeoutMs` has passed since the call.
    Bytes read(size_t count, int timeoutMs);
    // Reads whatever comes until `quietMs` pass without a byte (at most `timeoutMs` in all).
    Bytes readUntilQuiet(int quietMs, int timeoutMs);
    // Sends and reads the expected count, with a generous bound.
    Bytes exchange(const Request& request, size_t expected, int timeoutMs = 2000);

    // Waits for a hang-up or an error on the open fd; true when it came in time.
    bool waitHangup(int timeoutMs);

  private:
    int fd_ = -1;
};

Bytes of(const Request& r);
std::string hex(const Bytes& b);

}  // namespace zta::sim::testing
