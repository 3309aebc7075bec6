// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The gas side of one simulated analyzer: what reaches its inlet, how its sensor follows, and
// how its own adjustment turns the sensed value into the reading. No I/O and no clock: every
// call is given the model time in seconds, which only moves forward.

#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <utility>

namespace zta::sim {

// One %НКПР of gas `code` in volume percent x 100, i.e. the lower limit in volume percent;
// 0 for a code without a gas.
double lowerLimitVolume(int gasCode);

enum class SensorFault { None, Slow, Stuck };

struct GasSettings {
    double t90S = 15.0;  // the first-order part of the response, after the dead time
    double deadS = 1.0;
    double gain = 1.0;
    double offset = 0.0;        // %НКПР
    double noise = 0.0;         // %НКПР, the reading wanders within +- this
    double driftPerHour = 0.0;  // %НКПР per hour since the last adjustment
    double hysteresis = 0.0;    // %НКПР below a threshold before its relay lets go
    double warmupS = 60.0;
    SensorFault sensor = SensorFault::None;
    bool relayDead = false;  // the threshold relays keep the state they have
};

enum class KeyResult { Unknown, Applied, Bad };

// One key=value of the gas settings (t90, dead, gain, offset, noise, drift, hyst, warmup,
// sensor, relay). Bad: *error says what the key takes and `settings` is unchanged.
KeyResult applyGasKey(const std::string& key, const std::string& value, GasSettings* settings,
                      std::string* error);

// During the warm-up the reading starts this much high and comes down to the true value by
// its end, and wanders by this much more.
inline constexpr double kWarmupExcursion = 8.0;
inline constexpr double kWarmupNoise = 3.0;
// A span needs at least this much sensed gas: a gain from next to nothing is no calibration.
inline constexpr double kMinSpanSensed = 1.0;

class GasModel {
  public:
    GasModel(const GasSettings& settings, uint32_t seed, double now = 0.0);

    const GasSettings& settings() const { return settings_; }
    void setSettings(const GasSettings& settings, double t);

    // Gas at the inlet from t on, in %НКПР (0: clean air); the sensor sees it a dead time later.
    void setInlet(double lel, double t);
    double inlet() const { return inlet_; }

    double sensed(double t);
    // gain x sensed + offset + drift + warm-up, with noise when `noisy`.
    double indicated(double t, bool noisy);

    void setPower(bool on, double t);
    bool powered() const { return powered_; }
    double sincePowerOn(double t) const { return t - poweredAt_; }

    void zero(double t);
    // The gain that makes the sensed value of the moment read `targetLel`; nothing when too
    // little gas is sensed or the gain would not be one a sensor can have (above 0, at most 100).
    std::optional<double> spanGain(double targetLel, double t);
    // Sets that gain; false (nothing changed) where there is none.
    bool span(double targetLel, double t);
    void typical(double t);

  private:
    void advance(double t);
    void follow(double dt);
    double warmth(double t) const;

    GasSettings settings_;
    std::mt19937 rng_;
    double now_;
    double inlet_ = 0.0;
    double input_ = 0.0;  // what the sensor sees now (the inlet a dead time ago)
    double sensed_ = 0.0;
    std::deque<std::pair<double, double>> arriving_;  // (time at the sensor, %НКПР)
    double adjustedAt_;
    bool powered_ = true;
    double poweredAt_;
};

}  // namespace zta::sim
