// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/modbus.h"
#include "link/serial_port.h"

namespace zta {

struct LineTiming {
    int rtsLeadMs;
    int rtsHoldMs;
    int replyTimeoutMs;
};

// The row for one of the five rates; 9600's row for anything else.
LineTiming timingFor(unsigned baud);

constexpr int kPollSettleMs = 1;
constexpr int kSearchSettleMs = 3;
constexpr size_t kPollBufferSize = 80;
constexpr size_t kSearchBufferSize = 21;

struct ExchangeResult;

// Told of every exchange on a line, on the line owner's thread, right after it: the frame ring
// and the shell's trace. Must be quick; it holds up the bus.
class FrameObserver {
  public:
    virtual ~FrameObserver() = default;
    virtual void exchanged(const Request& request, const uint8_t* reply,
                           const ExchangeResult& result) = 0;
};

struct LineOptions {
    DirectionSetting direction = DirectionSetting::Auto;
    size_t bufferSize = kPollBufferSize;
    int replyTimeoutMs = 0;             // > 0 overrides the rate's reply time-out (tests only)
    FrameObserver* observer = nullptr;  // not owned; must outlive the opening
};

// "auto", "driver" or "program" (any case); false for anything else, leaving `setting` as is.
bool parseDirectionSetting(const std::string& text, DirectionSetting& setting);

// The direction setting named by the environment (ZTA_RS485=driver|program), else Auto.
DirectionSetting directionFromEnvironment();

// The stored form of a chosen port name, which is what is opened and what messages show.
// Windows: up to four characters as is, else "\\.\" + name (a name that already has the
// prefix is kept). Elsewhere: a name with a '/' as given, else "/dev/" + name.
// StoredPortName applies the rule of the platform it was built for; both are plain functions.
std::string storedPortName(const std::string& chosen);
std::string storedPortNameWindows(const std::string& chosen);
std::string storedPortNamePosix(const std::string& chosen);

// The operator's text for a failed opening; empty for OpenFailure::Other.
std::string openFailureText(const OpenResult& result, const std::string& storedPortName);

struct ExchangeResult {
    size_t count = 0;  // bytes read, 0..expectedLength
    bool writeOk = false;
    bool vanished = false;  // the device went away during this exchange
    // When the request had left (wall clock), and how long the reply took from then until its
    // last byte; -1 when nothing came.
    std::chrono::system_clock::time_point sentAt{};
    long replyUs = -1;
};

// One opening of the line, owned by one worker for its run.
class SerialLine {
  public:
    explicit SerialLine(std::unique_ptr<SerialPort> port = makePlatformPort(),
                        Pauser& pauser = realPauser());
    ~SerialLine();
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    OpenResult open(const std::string& storedPortName, unsigned baud,
                    const LineOptions& options = {});
    // Request, pauses, purge, read; see the step order in serial_line.cpp.
    ExchangeResult exchange(const Request& request, size_t expectedLength, int settleMs);
    void close();

    bool isOpen() const { return open_; }
    DirectionMode mode() const { return mode_; }
    const LineTiming& timing() const { return timing_; }
    const uint8_t* reply() const { return buffer_.data(); }

  private:
    std::unique_ptr<SerialPort> port_;
    Pauser& pauser_;
    bool open_ = false;
    DirectionMode mode_ = DirectionMode::Program;
    LineTiming timing_{};
    FrameObserver* observer_ = nullptr;
    std::vector<uint8_t> buffer_;
};

}  // namespace zta
