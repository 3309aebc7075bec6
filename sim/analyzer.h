// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One simulated analyzer and the framing of requests on the line, without any I/O, so that the
// bus thread only moves bytes and keeps time.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <vector>

#include "link/modbus.h"
#include "sim/bus.h"
#include "sim/gas_model.h"

namespace zta::sim {

// What an analyzer does with one request addressed to it.
struct Response {
    std::vector<uint8_t> reply;  // empty: no answer
    bool isWrite = false;        // an accepted write (its effect follows the echo)
    int reg = -1;
    int value = -1;
};

class Analyzer {
  public:
    // `modelNow`: the gas model's time when it is switched on.
    explicit Analyzer(const AnalyzerConfig& config, uint32_t seed = 1, double modelNow = 0.0);

    bool answers(int address) const;
    const AnalyzerConfig& config() const { return config_; }
    unsigned baud() const { return config_.baud; }

    // The concentration at t seconds after start, by the wave.
    double concentrationAt(double t);

    // The reply to an 8-byte request (CRC already checked) addressed to `address`, t seconds
    // after start (modelT on the gas model's clock). Nothing changes yet: a write's effect is
    // applied with applyWrite.
    Response respond(const Request& request, double t, double modelT);
    void applyWrite(int reg, int value, double modelT);

    GasModel& gas() { return gas_; }
    bool powered() const { return gas_.powered(); }
    void setPower(bool on, double modelT);

    void setConcentration(double value) { config_.concentration = value; }
    void setFault(Fault fault, int count) {
        fault_ = fault;
        faultCount_ = count;
    }
    // The fault for the next reply, counting it down.
    Fault takeFault();
    void countRequest() { ++requestCount_; }

    AnalyzerState state(double t, double modelT);

    // Applies a fault to a reply; `rng` supplies noise.
    static std::vector<uint8_t> distort(std::vector<uint8_t> reply, Fault fault, std::mt19937& rng);

  private:
    uint16_t registerSlot(int reg, double concentration, uint8_t relays) const;
    std::vector<uint8_t> readReply(uint8_t address, int first, int count, double t, double modelT);
    // The threshold relays for a reading, each with its hysteresis; bit 0 is the health relay.
    uint8_t relaysFor(double concentration);
    // Register 2 or 3: the gas written, in %НКПР of the analyzer's gas (nothing without one).
    std::optional<double> spanTarget(int value) const;
    static std::vector<uint8_t> exception(uint8_t address, uint8_t function, uint8_t code);

    AnalyzerConfig config_;
    std::vector<uint8_t> text_;  // Windows-1251, 30 bytes
    std::mt19937 rng_;
    Fault fault_ = Fault::None;
    int faultCount_ = -1;
    int zeroCount_ = 0;
    int midGasValue_ = -1;
    int maxGasValue_ = -1;
    int typicalCount_ = 0;
    int requestCount_ = 0;
    int writeCount_ = 0;
    GasModel gas_;
    bool relayOn_[2] = {false, false};
};

// Finds 8-byte requests in the received bytes: a frame starts where 8 bytes pass the CRC;
// bytes before it are dropped one by one, and an incomplete remainder is dropped after a
// silence.
class Framer {
  public:
    void push(const uint8_t* data, size_t n);
    std::optional<Request> next();
    size_t pending() const { return buffer_.size(); }
    void clear() { buffer_.clear(); }
    size_t dropped() const { return dropped_; }

  private:
    std::deque<uint8_t> buffer_;
    size_t dropped_ = 0;
};

}  // namespace zta::sim
