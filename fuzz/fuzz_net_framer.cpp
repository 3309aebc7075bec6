// SPDX-License-Identifier: GPL-3.0-or-later
// The network lines' framing with the stream cut into pieces of any size: the telnet decoder and
// the Modbus TCP decoder give the same result whatever the pieces, every frame the Modbus TCP
// side hands on carries a right CRC, and what comes out is read by the line's own framer.
//
// Input: byte 0 picks the stream kind, byte 1 the number of piece sizes that follow (each
// 1..256), the rest is the stream, cut by those sizes in turn.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "link/modbus.h"
#include "link/net_codec.h"
#include "link/serial_line.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Hands out a fixed stream; a read that finds nothing more is a time-out.
class StreamPort : public zta::SerialPort {
  public:
    explicit StreamPort(Bytes stream) : stream_(std::move(stream)) {}
    zta::OpenResult open(const std::string&, unsigned, zta::DirectionSetting,
                         zta::DirectionMode& mode) override {
        mode = zta::DirectionMode::Driver;
        return {};
    }
    bool write(const uint8_t*, size_t) override { return true; }
    size_t read(uint8_t* buffer, size_t length, int) override {
        const size_t n = std::min(length, stream_.size() - at_);
        std::memcpy(buffer, stream_.data() + at_, n);
        at_ += n;
        return n;
    }
    void purge() override {}
    void drain() override {}
    void setRts(bool) override {}
    void close() override {}
    bool vanished() const override { return false; }
    bool isNetwork() const override { return true; }

  private:
    Bytes stream_;
    size_t at_ = 0;
};

template <class Feed>
void inPieces(const Bytes& stream, const std::vector<size_t>& sizes, Feed feed) {
    size_t at = 0;
    for (size_t i = 0; at < stream.size(); ++i) {
        const size_t n =
            std::min(sizes.empty() ? stream.size() : sizes[i % sizes.size()], stream.size() - at);
        feed(stream.data() + at, n);
        at += n;
    }
}

struct TelnetOut {
    Bytes data, answer;
    uint32_t baud;
    bool refused;
};

TelnetOut decodeTelnet(const Bytes& stream, const std::vector<size_t>& sizes) {
    zta::net::TelnetDecoder d;
    TelnetOut out;
    inPieces(stream, sizes,
             [&](const uint8_t* p, size_t n) { d.feed(p, n, out.data, out.answer); });
    out.baud = d.reportedBaud();
    out.refused = d.comPortRefused();
    return out;
}

struct MbapOut {
    Bytes rtu;
    size_t stray;
    bool noReply;
    bool broken;
};

MbapOut decodeMbap(const Bytes& stream, const std::vector<size_t>& sizes, uint16_t awaited) {
    zta::net::MbapDecoder d;
    d.expect(awaited);
    MbapOut out;
    inPieces(stream, sizes, [&](const uint8_t* p, size_t n) { d.feed(p, n, out.rtu); });
    out.stray = d.takeStray();
    out.noReply = d.noReply();
    out.broken = d.broken();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const bool telnet = data[0] & 1;
    size_t at = 2;
    std::vector<size_t> sizes;
    for (size_t i = 0; i < data[1] % 16 && at < size; ++i) sizes.push_back(size_t{data[at++]} + 1);
    const Bytes stream(data + at, data + size);

    Bytes line;
    if (telnet) {
        const TelnetOut whole = decodeTelnet(stream, {});
        const TelnetOut cut = decodeTelnet(stream, sizes);
        if (cut.data != whole.data || cut.answer != whole.answer || cut.baud != whole.baud ||
            cut.refused != whole.refused)
            __builtin_trap();
        if (whole.data.size() > stream.size() || whole.answer.size() > 3 * stream.size())
            __builtin_trap();
        line = whole.data;
    } else {
        const uint16_t awaited =
            stream.size() >= 2 ? static_cast<uint16_t>(stream[0] << 8 | stream[1]) : 0;
        const MbapOut whole = decodeMbap(stream, {}, awaited);
        const MbapOut cut = decodeMbap(stream, sizes, awaited);
        if (cut.rtu != whole.rtu || cut.stray != whole.stray || cut.noReply != whole.noReply ||
            cut.broken != whole.broken)
            __builtin_trap();
        // At most one answer, and only a whole frame with its CRC.
        if (!whole.rtu.empty() &&
            (whole.rtu.size() < 4 || !zta::crcPasses(whole.rtu.data(), whole.rtu.size())))
            __builtin_trap();
        if (whole.rtu.size() + whole.stray > stream.size() + 2) __builtin_trap();
        line = whole.rtu;
    }

    // What the network side hands on, read as an answer by the line.
    zta::SerialLine serial(std::make_unique<StreamPort>(line));
    zta::LineOptions options;
    options.replyTimeoutMs = 1;
    options.netTimeoutMs = 0;
    if (!serial.open("fuzz", 9600, options).ok()) __builtin_trap();
    const zta::Request request = zta::readRequest(line.empty() ? 1 : line[0], 1, 25);
    const zta::ExchangeResult x = serial.exchange(request, zta::kLongReplyLength, 0);
    if (x.count > zta::kPollBufferSize) __builtin_trap();
    return 0;
}
