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

// What a network line adds to the reply time-out: a device server may hold a reply for tens of
// milliseconds before it sends it on (ser2net's default holds one up to about 56 ms).
constexpr int kDefaultNetTimeoutMs = 100;

struct LineOptions {
    DirectionSetting direction = DirectionSetting::Auto;
    size_t bufferSize = kPollBufferSize;
    int replyTimeoutMs = 0;  // > 0 overrides the rate's reply time-out (tests only)
    // Added to the reply time-out on a network line (tcp://, rfc2217://, mbtcp://).
    int netTimeoutMs = kDefaultNetTimeoutMs;
    FrameObserver* observer = nullptr;  // not owned; must outlive the opening
    // A whole frame from any network number is the answer (the search's probe); otherwise one
    // from another number is set aside and the read goes on.
    bool anyNumberAnswers = false;
};

// Whether the line hands back a copy of every request (many USB RS-485 adapters do). Learned
// from the exchanges of one opening.
enum class LineEcho { Unknown, Quiet, Echoing };

// "auto", "driver" or "program" (any case); false for anything else, leaving `setting` as is.
bool parseDirectionSetting(const std::string& text, DirectionSetting& setting);

// The direction setting named by the environment (ZTA_RS485=driver|program), else Auto.
DirectionSetting directionFromEnvironment();

// The stored form of a chosen port name, which is what is opened and what messages show.
// Windows: up to four characters as is, else "\\.\" + name (a name that already has the
// prefix is kept). Elsewhere: a name with a '/' as given, else "/dev/" + name.
// storedPortName applies the rule of the platform it was built for; both are plain functions.
std::string storedPortName(const std::string& chosen);
std::string storedPortNameWindows(const std::string& chosen);
std::string storedPortNamePosix(const std::string& chosen);

// The operator's text for a failed opening; empty for OpenFailure::Other.
std::string openFailureText(const OpenResult& result, const std::string& storedPortName);

// How a line that went away during a run is reported: a device as a wrong port, a network
// line as one that does not answer.
OpenResult lineGoneFailure(const std::string& storedPortName);

struct ExchangeResult {
    size_t count = 0;  // bytes of the answer (or of what came before the time-out)
    bool writeOk = false;
    bool vanished = false;  // the device went away during this exchange
    // When the request had left (wall clock), and how long the reply took from then until its
    // last byte; -1 when nothing came.
    std::chrono::system_clock::time_point sentAt{};
    long replyUs = -1;
    long waitedUs = 0;      // from the request's end until the read ended
    size_t strayBytes = 0;  // dropped before the reply read: no part of this exchange
    int lineCopies = 0;     // copies of the request handed back by the line, dropped
    int foreignFrames = 0;  // whole frames from other network numbers, set aside
    LineEcho lineEcho = LineEcho::Unknown;  // what the line is known to do after this exchange
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
    // Request, pauses, purge, read; see the step order in serial_line.cpp. The read ends as
    // soon as a frame's header says it is complete; `expectedLength` bounds a frame whose
    // header names no function the station knows.
    ExchangeResult exchange(const Request& request, size_t expectedLength, int settleMs);
    void close();

    bool isOpen() const { return open_; }
    // Whether the line rate can be changed through this line (not behind a Modbus TCP gateway).
    bool canSetLineRate() const { return port_ && port_->canSetLineRate(); }
    bool isNetwork() const { return port_ && port_->isNetwork(); }
    DirectionMode mode() const { return mode_; }
    const LineTiming& timing() const { return timing_; }
    const uint8_t* reply() const { return buffer_.data(); }
    LineEcho lineEcho() const { return echo_; }

  private:
    struct Collected;
    // Reads frames until the answer to `request` is whole or the time is up.
    void readAnswer(const Request& request, size_t expectedLength, Collected& c);
    std::unique_ptr<SerialPort> port_;
    Pauser& pauser_;
    bool open_ = false;
    DirectionMode mode_ = DirectionMode::Program;
    LineTiming timing_{};
    FrameObserver* observer_ = nullptr;
    bool anyNumberAnswers_ = false;
    LineEcho echo_ = LineEcho::Unknown;
    std::vector<uint8_t> buffer_;
    std::vector<uint8_t> dropped_;
};

}  // namespace zta
