// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Simulated ZTA-K7 analyzers on one serial line: a pseudo-terminal (the station opens its slave
// side or a symbolic link to it) or a real serial device. One worker thread serves the line.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/gas_model.h"

namespace zta::sim {

// Standard: refuses the 25-register read with 01 84 02 + CRC and answers the 10-register read.
// OldSoftware: like Standard, without the 0xA5 version marker in register 10.
enum class Model { Extended, Standard, OldSoftware };

// Gas: the reading is the gas model's (gas at the inlet, sensor, adjustment); the others move
// by themselves for a demonstration.
enum class Wave { Constant, Ramp, Sine, Noise, Gas };

// Faults apply to the replies of one analyzer (all its numbers). Silent: no answer. WrongCrc:
// last byte flipped. ShortReply: first half only. LongReply: one extra byte. LateReply: written
// after 1 s. EchoRequest: the request is written back at once (an echoing adapter), the reply
// follows as usual. Noise: random bytes of the reply's length instead of the reply.
enum class Fault { None, Silent, WrongCrc, ShortReply, LongReply, LateReply, EchoRequest, Noise };

struct AnalyzerConfig {
    int address = 1;
    std::vector<int> extraAddresses;  // the same analyzer also answers at these numbers
    unsigned baud = 9600;
    Model model = Model::Extended;
    int gasCode = 1;
    std::string textBlock = "440 270 440 CH4 %";  // UTF-8; sent as Windows-1251 padded to 30
    double concentration = 20.0;                  // %LEL, register 2 signed
    Wave wave = Wave::Constant;
    double amplitude = 0.0;
    double periodS = 60.0;
    // Relay bits: bit0 health (always 1), bit1 conc >= threshold1, bit2 conc >= threshold2.
    int threshold1 = 20, threshold2 = 50;
    int factoryNumber = 1234;
    int softwareVersion = 12;  // x10; register 10 low byte, high byte 0xA5 unless OldSoftware
    int auxValue = 0, refChannel = 1000, workChannel = 900, dValue = 100, temperature = 25;
    Fault fault = Fault::None;  // from the start, until changed with setFault
    GasSettings gas;            // the sensor and its adjustment (Wave::Gas), relays and warm-up
};

struct LogEntry {
    enum class Kind { Request, WriteApplied, Ignored };
    Kind kind = Kind::Request;
    std::vector<uint8_t> bytes;  // the request as received
    int address = -1;            // analyzer address that handled it (-1 none)
    int reg = -1;                // for writes
    int value = -1;
    unsigned lineBaud = 0;  // line rate seen when it arrived
    std::chrono::steady_clock::time_point when;
};

// The analyzer's current settings and what the service writes did to it.
struct AnalyzerState {
    int address = 1;
    std::vector<int> extraAddresses;
    unsigned baud = 9600;
    Model model = Model::Extended;
    int gasCode = 1;
    double baseConcentration = 20.0;  // before the wave; zero setting moves it to 0
    double concentration = 20.0;      // the value the next reply would carry
    int threshold1 = 20, threshold2 = 50;
    int factoryNumber = 1234;
    int softwareVersion = 12;
    int zeroCount = 0;
    int midGasValue = -1;  // last value written to register 2 (-1: never)
    int maxGasValue = -1;  // last value written to register 3 (-1: never)
    int typicalCount = 0;
    int requestCount = 0;  // requests it answered or refused
    int writeCount = 0;    // writes applied
    Fault fault = Fault::None;
    // The gas model, on its own clock.
    bool powered = true;
    double sincePowerOn = 0.0;  // model seconds
    double inletLel = 0.0;      // gas at the inlet
    double sensedLel = 0.0;
    double indicatedLel = 0.0;  // without noise
    double gain = 1.0, offset = 0.0;
    bool relay1 = false, relay2 = false;  // as last reported
};

class Bus {
  public:
    // Opens a pseudo-terminal; linkPath non-empty: a symbolic link to the slave is made there
    // (replaced if present). Returns nullptr and fills *error on failure.
    static std::unique_ptr<Bus> openPty(const std::string& linkPath = "",
                                        std::string* error = nullptr);
    // Serves a real serial device; the line rate is the device's own setting, set with
    // setDeviceBaud (default 9600).
    static std::unique_ptr<Bus> openDevice(const std::string& path, std::string* error = nullptr);

    ~Bus();  // stops and closes; removes its link
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;

    // The link path if given, else the slave path. Without a link the path changes on Replug:
    // take it again after one.
    const std::string& portPath() const;
    std::string slavePath() const;  // the current pty slave (changes on replug)

    void addAnalyzer(const AnalyzerConfig&);  // before or after Start
    bool removeAnalyzer(int address);         // as if switched off
    // The wave's base; with Wave::Gas, the gas at the inlet.
    bool setConcentration(int address, double percentLel);

    void start();
    void stop();

    // The gas model runs k times faster than the clock from now on (the line does not).
    void setTimeScale(double k);
    // One line of the control channel; the answer is one JSON line without its newline.
    std::string control(const std::string& line);

    // count -1: until cleared with None. False when no analyzer answers at the address.
    bool setFault(int address, Fault fault, int count = -1);

    // The line hands back a copy of every request `ms` after it arrived, whether an analyzer
    // answers it or not (an echoing RS-485 adapter); below 0: no copy (the default).
    void setLineEcho(double ms);

    void unplug();  // closes its side (and removes its link): the station sees a vanished device
    // A new pty behind the same link path (a device: opened again).
    bool replug(std::string* error = nullptr);
    bool plugged() const;

    // Only for openDevice: the rate the device is set to (a pty reports the station's rate).
    bool setDeviceBaud(unsigned baud, std::string* error = nullptr);

    std::vector<LogEntry> log() const;
    void clearLog();
    // Waits until pred(log) holds or the time is up; true when it holds. pred runs under the
    // bus's lock: it must not call the bus.
    bool waitFor(std::function<bool(const std::vector<LogEntry>&)> pred, int timeoutMs) const;

    std::optional<AnalyzerState> state(int address) const;

    // Optional sink for each log entry as it is made (the program's --log); called on the
    // worker thread without the lock held.
    void setLogSink(std::function<void(const LogEntry&)> sink);

    struct Impl;

  private:
    explicit Bus(std::unique_ptr<Impl> impl);
    // The wake-up pipe of the worker, then the port.
    static std::unique_ptr<Bus> open(std::unique_ptr<Impl> impl, std::string* error);
    std::unique_ptr<Impl> impl_;
};

}  // namespace zta::sim
