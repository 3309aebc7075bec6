// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/gas_model.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "link/number_text.h"

namespace zta::sim {
namespace {

// Volume percent at 100 %НКПР, by gas code 1..8.
constexpr double kLowerLimits[] = {4.4, 1.7, 1.0, 1.4, 1.3, 1.4, 1.4, 2.0};

struct NumberKey {
    const char* key;
    double GasSettings::*field;
    double lo, hi;
    bool loOpen;  // lo itself is refused
    const char* what;
};

constexpr NumberKey kNumberKeys[] = {
    {"t90", &GasSettings::t90S, 0, 3600, false, "seconds 0..3600"},
    {"dead", &GasSettings::deadS, 0, 600, false, "seconds 0..600"},
    {"gain", &GasSettings::gain, 0, 100, true, "a factor above 0, at most 100"},
    {"offset", &GasSettings::offset, -1000, 1000, false, "%НКПР -1000..1000"},
    {"noise", &GasSettings::noise, 0, 100, false, "%НКПР 0..100"},
    {"drift", &GasSettings::driftPerHour, -1000, 1000, false, "%НКПР per hour -1000..1000"},
    {"hyst", &GasSettings::hysteresis, 0, 100, false, "%НКПР 0..100"},
    {"warmup", &GasSettings::warmupS, 0, 3600, false, "seconds 0..3600"},
};

}  // namespace

double lowerLimitVolume(int gasCode) {
    return gasCode >= 1 && gasCode <= 8 ? kLowerLimits[gasCode - 1] : 0.0;
}

KeyResult applyGasKey(const std::string& key, const std::string& value, GasSettings* settings,
                      std::string* error) {
    auto bad = [&](const std::string& what) {
        *error = "bad value for " + key + ": \"" + value + "\" (" + what + ")";
        return KeyResult::Bad;
    };
    for (const NumberKey& k : kNumberKeys) {
        if (key != k.key) continue;
        double d = 0;
        if (!parseDecimalNumber(value, &d) || d < k.lo || d > k.hi || (k.loOpen && d == k.lo))
            return bad(k.what);
        settings->*k.field = d;
        return KeyResult::Applied;
    }
    if (key == "sensor") {
        if (value == "ok")
            settings->sensor = SensorFault::None;
        else if (value == "slow")
            settings->sensor = SensorFault::Slow;
        else if (value == "stuck")
            settings->sensor = SensorFault::Stuck;
        else
            return bad("ok, slow or stuck");
        return KeyResult::Applied;
    }
    if (key == "relay") {
        if (value != "ok" && value != "dead") return bad("ok or dead");
        settings->relayDead = value == "dead";
        return KeyResult::Applied;
    }
    return KeyResult::Unknown;
}

GasModel::GasModel(const GasSettings& settings, uint32_t seed, double now)
    : settings_(settings), rng_(seed), now_(now), adjustedAt_(now), poweredAt_(now) {}

void GasModel::setSettings(const GasSettings& settings, double t) {
    advance(t);
    settings_ = settings;
}

void GasModel::setInlet(double lel, double t) {
    advance(t);
    inlet_ = lel;
    // Gas already on its way arrives first, whatever the dead time is now.
    double at = std::max(t, now_) + settings_.deadS;
    if (!arriving_.empty()) at = std::max(at, arriving_.back().first);
    arriving_.emplace_back(at, lel);
}

void GasModel::follow(double dt) {
    if (settings_.sensor == SensorFault::Stuck) return;
    const double t90 = settings_.t90S * (settings_.sensor == SensorFault::Slow ? 4.0 : 1.0);
    // Without a response time the sensor is where its gas is, the moment the gas arrives.
    if (t90 <= 0) {
        sensed_ = input_;
        return;
    }
    if (dt <= 0) return;
    // First order: 90 % of a step after t90, so the time constant is t90 / ln 10.
    sensed_ = input_ + (sensed_ - input_) * std::exp(-dt * std::numbers::ln10 / t90);
}

void GasModel::advance(double t) {
    while (!arriving_.empty() && arriving_.front().first <= t) {
        const auto [at, lel] = arriving_.front();
        arriving_.pop_front();
        if (at > now_) {
            follow(at - now_);
            now_ = at;
        }
        input_ = lel;
        follow(0);
    }
    if (t > now_) {
        follow(t - now_);
        now_ = t;
    }
}

double GasModel::sensed(double t) {
    advance(t);
    return sensed_;
}

double GasModel::warmth(double t) const {
    if (!powered_ || settings_.warmupS <= 0) return 0.0;
    return std::clamp(1.0 - (t - poweredAt_) / settings_.warmupS, 0.0, 1.0);
}

double GasModel::indicated(double t, bool noisy) {
    const double s = sensed(t);
    const double warm = warmth(t);
    double value = settings_.gain * s + settings_.offset +
                   settings_.driftPerHour * std::max(t - adjustedAt_, 0.0) / 3600.0 +
                   warm * kWarmupExcursion;
    const double amplitude = settings_.noise + warm * kWarmupNoise;
    if (noisy && amplitude > 0)
        value += std::uniform_real_distribution<double>(-1, 1)(rng_) * amplitude;
    return value;
}

void GasModel::setPower(bool on, double t) {
    advance(t);
    if (on && !powered_) poweredAt_ = t;
    powered_ = on;
}

void GasModel::zero(double t) {
    advance(t);
    settings_.offset = -settings_.gain * sensed_;
    adjustedAt_ = t;
}

std::optional<double> GasModel::spanGain(double targetLel, double t) {
    advance(t);
    if (sensed_ < kMinSpanSensed) return std::nullopt;
    const double gain = (targetLel - settings_.offset) / sensed_;
    if (!(gain > 0 && gain <= 100)) return std::nullopt;
    return gain;
}

bool GasModel::span(double targetLel, double t) {
    const auto gain = spanGain(targetLel, t);
    if (!gain) return false;
    settings_.gain = *gain;
    adjustedAt_ = t;
    return true;
}

void GasModel::typical(double t) {
    advance(t);
    settings_.gain = 1.0;
    settings_.offset = 0.0;
    adjustedAt_ = t;
}

}  // namespace zta::sim
