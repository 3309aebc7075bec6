// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/net_codec.h"

#include "link/crc.h"
#include "link/modbus.h"

namespace zta::net {

using namespace telnet;

void appendTelnetData(std::vector<uint8_t>& out, const uint8_t* data, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        out.push_back(data[i]);
        if (data[i] == kIac) out.push_back(kIac);
    }
}

void appendComPortCommand(std::vector<uint8_t>& out, uint8_t code, const uint8_t* value,
                          size_t length) {
    // Byte by byte: GCC 12 at -O3 takes a range insert into the grown vector for an overflow.
    for (uint8_t b : {kIac, kSb, kComPort, code}) out.push_back(b);
    appendTelnetData(out, value, length);
    out.push_back(kIac);
    out.push_back(kSe);
}

std::vector<uint8_t> telnetOpening(uint32_t baud) {
    std::vector<uint8_t> out;
    out.reserve(96);
    for (uint8_t b : {kIac, kWill, kBinary, kIac, kDo, kBinary, kIac, kWill, kSuppressGoAhead, kIac,
                      kDo, kSuppressGoAhead, kIac, kWill, kComPort})
        out.push_back(b);
    const uint8_t rate[4] = {static_cast<uint8_t>(baud >> 24), static_cast<uint8_t>(baud >> 16),
                             static_cast<uint8_t>(baud >> 8), static_cast<uint8_t>(baud)};
    appendComPortCommand(out, kSetBaud, rate, 4);
    const uint8_t eight = 8;
    appendComPortCommand(out, kSetDataSize, &eight, 1);
    appendComPortCommand(out, kSetParity, &kParityNone, 1);
    appendComPortCommand(out, kSetStopSize, &kStopOne, 1);
    appendComPortCommand(out, kSetControl, &kControlNoFlow, 1);
    appendComPortCommand(out, kSetControl, &kControlDtrOff, 1);
    return out;
}

void TelnetDecoder::feed(const uint8_t* bytes, size_t length, std::vector<uint8_t>& data,
                         std::vector<uint8_t>& answer) {
    // A subnegotiation that never ends must not grow without bound.
    constexpr size_t kSubLimit = 64;
    for (size_t i = 0; i < length; ++i) {
        const uint8_t b = bytes[i];
        switch (state_) {
            case State::Data:
                if (b == kIac)
                    state_ = State::Iac;
                else
                    data.push_back(b);
                break;
            case State::Iac:
                if (b == kIac) {
                    data.push_back(b);
                    state_ = State::Data;
                } else if (b == kWill || b == kWont || b == kDo || b == kDont) {
                    verb_ = b;
                    state_ = State::Option;
                } else if (b == kSb) {
                    sub_.clear();
                    state_ = State::Sub;
                } else {
                    state_ = State::Data;  // a command without an option: nothing for a line
                }
                break;
            case State::Option: {
                const bool wanted =
                    b == kBinary || b == kSuppressGoAhead || (b == kComPort && verb_ == kDo);
                if (verb_ == kDo && !willSent_[b]) {
                    for (uint8_t x : {kIac, wanted ? kWill : kWont, b}) answer.push_back(x);
                    willSent_[b] = true;
                } else if (verb_ == kWill && !doSent_[b]) {
                    for (uint8_t x : {kIac, wanted ? kDo : kDont, b}) answer.push_back(x);
                    doSent_[b] = true;
                } else if (verb_ == kDont && b == kComPort) {
                    comPortRefused_ = true;
                }
                state_ = State::Data;
                break;
            }
            case State::Sub:
                if (b == kIac)
                    state_ = State::SubIac;
                else if (sub_.size() < kSubLimit)
                    sub_.push_back(b);
                break;
            case State::SubIac:
                if (b == kIac) {
                    if (sub_.size() < kSubLimit) sub_.push_back(b);
                    state_ = State::Sub;
                } else {
                    // SE, or anything else that a broken server puts here: the subnegotiation
                    // is over either way.
                    subnegotiationEnded();
                    state_ = State::Data;
                }
                break;
        }
    }
}

void TelnetDecoder::subnegotiationEnded() {
    if (sub_.size() >= 6 && sub_[0] == kComPort && sub_[1] == kSetBaud + 100) {
        reportedBaud_ = static_cast<uint32_t>(sub_[2]) << 24 |
                        static_cast<uint32_t>(sub_[3]) << 16 | static_cast<uint32_t>(sub_[4]) << 8 |
                        sub_[5];
    }
    sub_.clear();
}

bool mbapFromRtu(const uint8_t* rtu, size_t length, uint16_t transaction,
                 std::vector<uint8_t>& out) {
    if (length < 4 || !crcPasses(rtu, length)) return false;
    const size_t pdu = length - 3;  // the function and its data
    const size_t following = pdu + 1;
    out.assign({static_cast<uint8_t>(transaction >> 8), static_cast<uint8_t>(transaction), 0, 0,
                static_cast<uint8_t>(following >> 8), static_cast<uint8_t>(following), rtu[0]});
    out.insert(out.end(), rtu + 1, rtu + 1 + pdu);
    return true;
}

void MbapDecoder::feed(const uint8_t* bytes, size_t length, std::vector<uint8_t>& rtu) {
    // The longest reply a Modbus PDU allows: 253 bytes and the unit id.
    constexpr size_t kLongestFollowing = 254;
    if (broken_) {
        stray_ += length;
        return;
    }
    pending_.insert(pending_.end(), bytes, bytes + length);
    size_t at = 0;
    while (pending_.size() - at >= kMbapHeaderLength) {
        const uint8_t* h = pending_.data() + at;
        const size_t following = static_cast<size_t>(h[4]) << 8 | h[5];
        if (h[2] != 0 || h[3] != 0 || following < 2 || following > kLongestFollowing) {
            // A stream that is not Modbus TCP has no frame boundary to find again.
            stray_ += pending_.size() - at;
            at = pending_.size();
            broken_ = true;
            break;
        }
        const size_t whole = 6 + following;
        if (pending_.size() - at < whole) break;
        const uint16_t transaction = static_cast<uint16_t>(h[0] << 8 | h[1]);
        if (transaction != awaited_ || noReply_ || answered_) {
            stray_ += whole;
        } else {
            const uint8_t function = h[7];
            const bool gatewayFault =
                (function & 0x80) && following >= 3 && (h[8] == 0x0A || h[8] == 0x0B);
            if (gatewayFault) {
                noReply_ = true;
            } else {
                const size_t start = rtu.size();
                rtu.insert(rtu.end(), h + 6, h + whole);
                const uint16_t crc = crc16Modbus(rtu.data() + start, following);
                rtu.push_back(static_cast<uint8_t>(crc & 0xFF));
                rtu.push_back(static_cast<uint8_t>(crc >> 8));
                answered_ = true;  // a repeat of the answer is stray
            }
        }
        at += whole;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(at));
}

void MbapDecoder::reset() {
    pending_.clear();
    stray_ = 0;
    noReply_ = false;
    answered_ = false;
    broken_ = false;
}

}  // namespace zta::net
