// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/analyzer.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "link/cp1251.h"
#include "link/regmap.h"

namespace zta::sim {
namespace {

constexpr uint8_t kIllegalFunction = 0x01;
constexpr uint8_t kIllegalAddress = 0x02;
constexpr uint8_t kIllegalValue = 0x03;
constexpr int kHoldingRegisters = 8;

std::vector<uint8_t> textBytes(const std::string& utf8) {
    std::string text = utf8ToCp1251(utf8);
    text.resize(kTextBlockLength, ' ');
    return {text.begin(), text.end()};
}

uint16_t word(int value) { return static_cast<uint16_t>(value); }

}  // namespace

Analyzer::Analyzer(const AnalyzerConfig& config, uint32_t seed, double modelNow)
    : config_(config),
      text_(textBytes(config.textBlock)),
      rng_(seed),
      fault_(config.fault),
      gas_(config.gas, seed * 7919u + 1u, modelNow) {}

bool Analyzer::answers(int address) const {
    return address == config_.address ||
           std::find(config_.extraAddresses.begin(), config_.extraAddresses.end(), address) !=
               config_.extraAddresses.end();
}

double Analyzer::concentrationAt(double t) {
    const double base = config_.concentration;
    const double amp = config_.amplitude;
    const double period = config_.periodS > 0 ? config_.periodS : 60.0;
    switch (config_.wave) {
        case Wave::Constant:
            return base;
        case Wave::Ramp: {
            const double phase = t / period - std::floor(t / period);
            return base - amp + 2.0 * amp * phase;
        }
        case Wave::Sine:
            return base + amp * std::sin(2.0 * std::numbers::pi * t / period);
        case Wave::Noise: {
            std::uniform_real_distribution<double> d(-1.0, 1.0);
            return base + amp * d(rng_);
        }
        case Wave::Gas:
            break;
    }
    return base;
}

uint8_t Analyzer::relaysFor(double c) {
    const GasSettings& s = gas_.settings();
    if (!s.relayDead) {
        const int thresholds[2] = {config_.threshold1, config_.threshold2};
        for (int k = 0; k < 2; ++k) {
            if (!relayOn_[k] && c >= thresholds[k])
                relayOn_[k] = true;
            else if (relayOn_[k] && c < thresholds[k] - s.hysteresis)
                relayOn_[k] = false;
        }
    }
    return static_cast<uint8_t>(0x01 | (relayOn_[0] ? 0x02 : 0) | (relayOn_[1] ? 0x04 : 0));
}

void Analyzer::setPower(bool on, double modelT) {
    // Switched off, the relays drop; they pick up again from the first reading.
    if (!on && !gas_.settings().relayDead) relayOn_[0] = relayOn_[1] = false;
    gas_.setPower(on, modelT);
}

std::optional<double> Analyzer::spanTarget(int value) const {
    const double limit = lowerLimitVolume(config_.gasCode);
    if (limit <= 0) return std::nullopt;
    return value / 1000.0 / limit * 100.0;
}

uint16_t Analyzer::registerSlot(int reg, double c, uint8_t relays) const {
    switch (reg) {
        case 1:
            return static_cast<uint16_t>((config_.gasCode & 0xFF) << 8 | relays);
        case 2:
            return word(static_cast<int>(c));
        case 3:
            return static_cast<uint16_t>((config_.threshold1 & 0xFF) << 8 |
                                         (config_.threshold2 & 0xFF));
        case 4:
            return word(config_.auxValue);
        case 5:
            return word(config_.refChannel);
        case 6:
            return word(config_.workChannel);
        case 7:
            return word(config_.dValue);
        case 8:
            return word(config_.temperature);
        case 9:
            return word(config_.factoryNumber);
        case 10: {
            const uint8_t marker = config_.model == Model::OldSoftware ? 0x00 : kVersionMarker;
            return static_cast<uint16_t>(marker << 8 | (config_.softwareVersion & 0xFF));
        }
        default:
            if (reg >= 11 && reg <= 25) {
                const size_t i = static_cast<size_t>(reg - 11) * 2;
                return static_cast<uint16_t>(text_[i] << 8 | text_[i + 1]);
            }
            return 0;
    }
}

std::vector<uint8_t> Analyzer::readReply(uint8_t address, int first, int count, double t,
                                         double modelT) {
    std::vector<uint8_t> reply(5 + 2 * static_cast<size_t>(count));
    reply[0] = address;
    reply[1] = kFnReadInput;
    reply[2] = static_cast<uint8_t>(2 * count);
    // One sample per reply, so the relays agree with the concentration sent with them.
    const double raw =
        config_.wave == Wave::Gas ? gas_.indicated(modelT, true) : concentrationAt(t);
    const double c = std::clamp(std::round(raw), -32768.0, 32767.0);
    const uint8_t relays = relaysFor(c);
    for (int i = 0; i < count; ++i) {
        const uint16_t v = registerSlot(first + i, c, relays);
        reply[3 + 2 * i] = static_cast<uint8_t>(v >> 8);
        reply[4 + 2 * i] = static_cast<uint8_t>(v);
    }
    sealFrame(reply.data(), reply.size());
    return reply;
}

std::vector<uint8_t> Analyzer::exception(uint8_t address, uint8_t function, uint8_t code) {
    std::vector<uint8_t> reply{address, static_cast<uint8_t>(function | 0x80), code, 0, 0};
    sealFrame(reply.data(), reply.size());
    return reply;
}

Response Analyzer::respond(const Request& request, double t, double modelT) {
    Response r;
    const uint8_t address = request[0];
    const uint8_t function = request[1];
    const int reg = request[2] << 8 | request[3];
    const int word = request[4] << 8 | request[5];
    if (function == kFnReadInput) {
        if (reg == kReadingsRegister && word == kShortReadCount) {
            r.reply = readReply(address, reg, word, t, modelT);
        } else if (reg == kReadingsRegister && word == kLongReadCount) {
            r.reply = config_.model == Model::Extended
                          ? readReply(address, reg, word, t, modelT)
                          : exception(address, function, kIllegalAddress);
        } else if (reg == kProbeRegister && word == kProbeCount) {
            r.reply = readReply(address, reg, word, t, modelT);
        } else {
            r.reply = exception(address, function, kIllegalAddress);
        }
        return r;
    }
    if (function == kFnWriteSingle) {
        if (reg >= kHoldingRegisters) {
            r.reply = exception(address, function, kIllegalAddress);
            return r;
        }
        const bool badBaud = reg == 0 && baudForCode(word & 0xFF) == 0;
        const bool badThreshold = (reg == 5 || reg == 6) && word > 0xFF;
        // A span the sensor cannot take (no gas of its own, next to no gas sensed) is refused
        // rather than turned into a gain that makes every later reading nonsense.
        bool badSpan = false;
        if (config_.wave == Wave::Gas && (reg == 2 || reg == 3)) {
            const auto target = spanTarget(word);
            badSpan = !target || !gas_.spanGain(*target, modelT);
        }
        if (badBaud || badThreshold || badSpan) {
            r.reply = exception(address, function, kIllegalValue);
            return r;
        }
        r.reply.assign(request.begin(), request.end());
        r.isWrite = true;
        r.reg = reg;
        r.value = word;
        return r;
    }
    r.reply = exception(address, function, kIllegalFunction);
    return r;
}

void Analyzer::applyWrite(int reg, int value, double modelT) {
    ++writeCount_;
    const bool gasWave = config_.wave == Wave::Gas;
    switch (reg) {
        case 0:
            config_.address = value >> 8;
            config_.baud = baudForCode(value & 0xFF);
            break;
        case 1:
            // The reading is taken as the new zero: the steady part goes to 0, the wave stays.
            ++zeroCount_;
            if (gasWave)
                gas_.zero(modelT);
            else
                config_.concentration = 0.0;
            break;
        case 2:
        case 3:
            (reg == 2 ? midGasValue_ : maxGasValue_) = value;
            if (gasWave)
                if (const auto target = spanTarget(value)) gas_.span(*target, modelT);
            break;
        case 4:
            ++typicalCount_;
            if (gasWave) gas_.typical(modelT);
            break;
        case 5:
            config_.threshold1 = value & 0xFF;
            break;
        case 6:
            config_.threshold2 = value & 0xFF;
            break;
        case 7:
            config_.factoryNumber = value;
            break;
        default:
            break;
    }
}

Fault Analyzer::takeFault() {
    const Fault f = fault_;
    if (f != Fault::None && faultCount_ > 0 && --faultCount_ == 0) fault_ = Fault::None;
    return f;
}

AnalyzerState Analyzer::state(double t, double modelT) {
    AnalyzerState s;
    s.address = config_.address;
    s.extraAddresses = config_.extraAddresses;
    s.baud = config_.baud;
    s.model = config_.model;
    s.gasCode = config_.gasCode;
    s.baseConcentration = config_.concentration;
    s.concentration = config_.wave == Wave::Noise ? config_.concentration : concentrationAt(t);
    s.threshold1 = config_.threshold1;
    s.threshold2 = config_.threshold2;
    s.factoryNumber = config_.factoryNumber;
    s.softwareVersion = config_.softwareVersion;
    s.zeroCount = zeroCount_;
    s.midGasValue = midGasValue_;
    s.maxGasValue = maxGasValue_;
    s.typicalCount = typicalCount_;
    s.requestCount = requestCount_;
    s.writeCount = writeCount_;
    s.fault = fault_;
    s.powered = gas_.powered();
    s.sincePowerOn = gas_.sincePowerOn(modelT);
    s.inletLel = gas_.inlet();
    s.sensedLel = gas_.sensed(modelT);
    if (config_.wave == Wave::Gas) s.concentration = gas_.indicated(modelT, false);
    s.indicatedLel = s.concentration;
    s.gain = gas_.settings().gain;
    s.offset = gas_.settings().offset;
    s.relay1 = relayOn_[0];
    s.relay2 = relayOn_[1];
    return s;
}

std::vector<uint8_t> Analyzer::distort(std::vector<uint8_t> reply, Fault fault, std::mt19937& rng) {
    if (reply.empty()) return reply;
    switch (fault) {
        case Fault::WrongCrc:
            reply.back() = static_cast<uint8_t>(~reply.back());
            break;
        case Fault::ShortReply:
            reply.resize(reply.size() / 2);
            break;
        case Fault::LongReply:
            reply.push_back(0x00);
            break;
        case Fault::Noise: {
            std::uniform_int_distribution<int> d(0, 255);
            for (auto& b : reply) b = static_cast<uint8_t>(d(rng));
            // Random bytes that happen to pass the CRC would not be noise.
            if (crcPasses(reply.data(), reply.size())) reply.back() ^= 0x01;
            break;
        }
        case Fault::Silent:
            reply.clear();
            break;
        default:
            break;
    }
    return reply;
}

void Framer::push(const uint8_t* data, size_t n) { buffer_.insert(buffer_.end(), data, data + n); }

std::optional<Request> Framer::next() {
    while (buffer_.size() >= 8) {
        Request r;
        std::copy_n(buffer_.begin(), 8, r.begin());
        if (crcPasses(r.data(), r.size())) {
            buffer_.erase(buffer_.begin(), buffer_.begin() + 8);
            return r;
        }
        buffer_.pop_front();
        ++dropped_;
    }
    return std::nullopt;
}

}  // namespace zta::sim
