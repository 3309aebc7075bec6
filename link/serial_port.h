// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zta {

enum class DirectionMode { Driver, Program };

// Which direction mode an opening uses: Auto picks Driver where the port supports kernel
// (or driver) RS-485 direction switching, else Program.
enum class DirectionSetting { Auto, Driver, Program };

// What a backend found out about an opened port, for the automatic choice.
struct DirectionAbilities {
    bool driverSwitches = false;  // the driver switches the direction itself (kernel RS-485)
    bool modemLines = true;       // RTS can be set and cleared (false: pty, network port)
};

// The one rule every backend applies. Auto takes Driver where the driver switches, and also
// where there are no modem lines: raising RTS there switches nothing, while the pauses around
// it would leave the line deaf to a quick answer.
DirectionMode chooseDirectionMode(DirectionSetting setting, const DirectionAbilities& port);

enum class OpenFailure {
    None,
    WrongPort,        // missing path / file not found / device not functioning
    Busy,             // held by another opener / access denied
    Other,            // the device could not be opened for another reason
    SettingsRefused,  // line settings not applied
    TimeoutsRefused,  // read time-out not applied
    // A port named by a network address:
    BadAddress,    // the name does not parse
    HostNotFound,  // the host does not resolve
    Refused,       // the connection was refused, or closed by the server at once
    NoAnswer,      // unreachable, or no answer in the time
};

struct OpenResult {
    OpenResult() = default;
    OpenResult(OpenFailure why, int code, std::string said = {})
        : failure(why), platformCode(code), detail(std::move(said)) {}
    OpenFailure failure = OpenFailure::None;
    int platformCode = 0;  // errno, GetLastError() or the resolver's code
    std::string detail;    // what a server said when it closed the connection at once
    bool ok() const { return failure == OpenFailure::None; }
};

// The platform side of one serial device. SerialLine drives it; tests substitute a fake.
class SerialPort {
  public:
    virtual ~SerialPort() = default;

    // Opens exclusively and sets raw 8N1, no flow control, DTR off, at the given rate.
    // `direction` decides RS-485 switching; the chosen mode is returned in `mode`.
    virtual OpenResult open(const std::string& path, unsigned baud, DirectionSetting direction,
                            DirectionMode& mode) = 0;
    // True when the driver took all bytes.
    virtual bool write(const uint8_t* data, size_t length) = 0;
    // Blocks until `length` bytes have come or `timeoutMs` has passed since the call began.
    virtual size_t read(uint8_t* buffer, size_t length, int timeoutMs) = 0;
    // Drops unsent output and unread input.
    virtual void purge() = 0;
    // Drops the unread input like purge(), handing back what it dropped (at most a few
    // kilobytes are kept; the count returned covers all of it). A port that cannot see what it
    // drops just purges.
    virtual size_t takeInput(std::vector<uint8_t>& dropped) {
        dropped.clear();
        purge();
        return 0;
    }
    // Waits until the output has left the transmitter (Program mode, before the hold pause).
    virtual void drain() = 0;
    virtual void setRts(bool on) = 0;
    virtual void close() = 0;
    // Set when the device vanished (unplugged adapter); cleared by the next successful open().
    virtual bool vanished() const = 0;
    // The port is a network connection: replies get the network's allowance on top of the
    // line's time.
    virtual bool isNetwork() const { return false; }
    // False where the line rate cannot be set from here (behind a Modbus TCP gateway): a rate
    // switch or a baud command must be refused before it is sent.
    virtual bool canSetLineRate() const { return true; }
};

// A port that takes its kind from the name it opens: a network address (tcp://, rfc2217://,
// mbtcp://) or a local serial device.
std::unique_ptr<SerialPort> makePlatformPort();
// A local serial device of this platform.
std::unique_ptr<SerialPort> makeSerialDevicePort();
// A connection to the network address `name`; nullptr when the name is not one.
std::unique_ptr<SerialPort> makeNetworkPort(const std::string& name);

// Pauses and the clock they are measured on, replaceable so that tests can record them
// instead of sleeping.
class Pauser {
  public:
    using Clock = std::chrono::steady_clock;
    virtual ~Pauser() = default;
    virtual void pauseMs(int ms) = 0;
    virtual Clock::time_point timeNow() { return Clock::now(); }
};

Pauser& realPauser();

}  // namespace zta
