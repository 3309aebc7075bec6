// SPDX-License-Identifier: GPL-3.0-or-later
// The network lines behind the serial port interface: raw TCP, telnet with RFC 2217 and Modbus
// TCP. Each hands the line the bytes an RTU line would carry, so that framing, stray counting
// and echo detection stay the line's own.
#include <algorithm>
#include <chrono>

#include "link/baud.h"
#include "link/net_address.h"
#include "link/net_codec.h"
#include "link/net_socket.h"
#include "link/serial_port.h"

namespace zta {
namespace {

using Clock = std::chrono::steady_clock;
using net::Io;

// A device server on a LAN accepts in a millisecond; an unreachable one takes the ARP time-out
// of about three seconds to be reported, and the worker waits no longer than that.
constexpr int kConnectTimeoutMs = 3000;
// A server that refuses a client (its port is taken) says so and closes at once.
constexpr int kRefusalWatchMs = 100;
constexpr int kWriteBoundMs = 2000;
// What takeInput() keeps of what it drops; the count covers all of it.
constexpr size_t kKeep = 4096;

int msUntil(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

// The printable part of what a refusing server sent, for the message.
std::string serverWords(const std::vector<uint8_t>& bytes) {
    std::string text;
    for (uint8_t b : bytes) {
        if (text.size() >= 80) break;
        if (b >= 0x20 && b < 0x7F)
            text.push_back(static_cast<char>(b));
        else if (!text.empty() && text.back() != ' ')
            text.push_back(' ');
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

class NetPort : public SerialPort {
  public:
    ~NetPort() override { close(); }

    OpenResult open(const std::string& path, unsigned baud, DirectionSetting direction,
                    DirectionMode& mode) override {
        close();
        vanished_ = false;
        NetAddress address;
        if (!parseNetAddress(path, address)) return {OpenFailure::BadAddress, 0, {}};
        if (!analyzerRate(baud)) return {OpenFailure::SettingsRefused, 0, {}};
        const net::ConnectResult c = socket_.connect(address.host, address.port, kConnectTimeoutMs);
        switch (c.failure) {
            case net::ConnectFailure::None:
                break;
            case net::ConnectFailure::HostNotFound:
                return {OpenFailure::HostNotFound, c.platformCode, {}};
            case net::ConnectFailure::Refused:
                return {OpenFailure::Refused, c.platformCode, {}};
            case net::ConnectFailure::NoAnswer:
                return {OpenFailure::NoAnswer, c.platformCode, {}};
        }
        OpenResult started = start(baud);
        if (!started.ok()) {
            close();
            return started;
        }
        // No modem lines to switch: the direction is the server's business.
        mode = chooseDirectionMode(direction, DirectionAbilities{false, false});
        return started;
    }

    bool write(const uint8_t* data, size_t length) override {
        if (!socket_.isOpen()) return false;
        // Over a network the answer may be back before the line looks for strays after the
        // write: what is stray is set aside now, and only what comes after the request counts
        // towards its answer.
        setAsideWaiting();
        wrote_ = true;
        out_.clear();
        if (!encode(data, length, out_)) return false;
        return send(out_);
    }

    size_t read(uint8_t* buffer, size_t length, int timeoutMs) override {
        const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
        size_t got = takeData(buffer, length);
        bool lastLook = false;
        while (got < length && !vanished_ && !lastLook && !answerWontCome()) {
            const int wait = msUntil(deadline);
            lastLook = wait == 0;
            receive(wait);
            got += takeData(buffer + got, length - got);
        }
        return got;
    }

    void purge() override {
        std::vector<uint8_t> dropped;
        (void)takeInput(dropped);
    }

    size_t takeInput(std::vector<uint8_t>& dropped) override {
        if (!wrote_) setAsideWaiting();
        wrote_ = false;
        dropped.swap(waiting_);
        waiting_.clear();
        const size_t count = waitingCount_;
        waitingCount_ = 0;
        return count;
    }

    void drain() override {}
    void setRts(bool) override {}

    void close() override {
        socket_.close();
        data_.clear();
        dataAt_ = 0;
        raw_.clear();
        waiting_.clear();
        waitingCount_ = 0;
        wrote_ = false;
    }

    bool vanished() const override { return vanished_; }
    bool isNetwork() const override { return true; }

  protected:
    // After the connection is made: what the protocol asks before the first request.
    virtual OpenResult start(unsigned baud) = 0;
    // The request as the server takes it; false when it cannot be put so.
    virtual bool encode(const uint8_t* data, size_t length, std::vector<uint8_t>& out) = 0;
    // What came from the server, into the line's bytes (appended to `data`).
    virtual void decode(const uint8_t* bytes, size_t length, std::vector<uint8_t>& data) = 0;
    // Bytes the protocol dropped on its own since the last call.
    virtual size_t strayCount() { return 0; }
    // The server has said that no answer is coming to the last request.
    virtual bool answerWontCome() const { return false; }

    bool send(const std::vector<uint8_t>& bytes) {
        const Io io = socket_.sendAll(bytes.data(), bytes.size(), kWriteBoundMs);
        if (io == Io::Gone) vanished_ = true;
        return io == Io::Ok;
    }

    // One wait of up to `ms` for bytes, decoded into data_; false when nothing came.
    bool receive(int ms) {
        raw_.clear();
        const Io io = socket_.receive(raw_, ms);
        if (!raw_.empty()) {
            if (dataAt_ == data_.size()) {
                data_.clear();
                dataAt_ = 0;
            }
            decode(raw_.data(), raw_.size(), data_);
        }
        if (io == Io::Gone) vanished_ = true;
        return !raw_.empty();
    }

    // Waits up to `ms` for the server to close the connection; what it sent before closing
    // names the refusal. A server that keeps the connection is taken as accepting it.
    OpenResult watchForRefusal(int ms) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        while (!vanished_ && msUntil(deadline) > 0) receive(msUntil(deadline));
        if (!vanished_) return {};
        return {OpenFailure::Refused, 0, serverWords(data_)};
    }

    // Moves what is waiting, and what the protocol dropped, to the stray bytes of the next
    // takeInput(). Bounded: a server that never stops sending is left for the next look.
    void setAsideWaiting() {
        if (socket_.isOpen())
            for (int looks = 0; looks < 64 && !vanished_ && receive(0); ++looks) {
            }
        const size_t n = data_.size() - dataAt_;
        const size_t keep = std::min(n, kKeep - std::min(kKeep, waiting_.size()));
        waiting_.insert(waiting_.end(), data_.begin() + static_cast<long>(dataAt_),
                        data_.begin() + static_cast<long>(dataAt_ + keep));
        waitingCount_ += n + strayCount();
        data_.clear();
        dataAt_ = 0;
    }

    size_t takeData(uint8_t* buffer, size_t length) {
        const size_t n = std::min(length, data_.size() - dataAt_);
        std::copy_n(data_.begin() + static_cast<long>(dataAt_), n, buffer);
        dataAt_ += n;
        return n;
    }

    net::TcpSocket socket_;
    std::vector<uint8_t> data_;  // the line's bytes not yet read, from dataAt_ on
    size_t dataAt_ = 0;
    std::vector<uint8_t> raw_;
    std::vector<uint8_t> out_;
    std::vector<uint8_t> waiting_;  // stray, for the next takeInput()
    size_t waitingCount_ = 0;
    bool wrote_ = false;
    bool vanished_ = false;
};

class RawTcpPort : public NetPort {
  protected:
    OpenResult start(unsigned) override { return watchForRefusal(kRefusalWatchMs); }
    bool encode(const uint8_t* data, size_t length, std::vector<uint8_t>& out) override {
        out.assign(data, data + length);
        return true;
    }
    void decode(const uint8_t* bytes, size_t length, std::vector<uint8_t>& data) override {
        data.insert(data.end(), bytes, bytes + length);
    }
};

class TelnetPort : public NetPort {
  protected:
    OpenResult start(unsigned baud) override {
        decoder_ = {};
        for (uint8_t option : {net::telnet::kBinary, net::telnet::kSuppressGoAhead}) {
            decoder_.offered(option);
            decoder_.askedFor(option);
        }
        decoder_.offered(net::telnet::kComPort);
        if (!send(net::telnetOpening(baud))) return {OpenFailure::NoAnswer, 0, {}};
        // The server confirms the rate it set; until then the line is not at the rate asked.
        const auto deadline = Clock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
        while (decoder_.reportedBaud() == 0 && !decoder_.comPortRefused() && !vanished_) {
            const int wait = msUntil(deadline);
            if (wait == 0) return {OpenFailure::NoAnswer, 0, {}};
            receive(wait);
        }
        if (vanished_) return {OpenFailure::Refused, 0, serverWords(data_)};
        if (decoder_.comPortRefused() || decoder_.reportedBaud() != baud)
            return {OpenFailure::SettingsRefused, static_cast<int>(decoder_.reportedBaud()), {}};
        return {};
    }
    bool encode(const uint8_t* data, size_t length, std::vector<uint8_t>& out) override {
        net::appendTelnetData(out, data, length);
        return true;
    }
    void decode(const uint8_t* bytes, size_t length, std::vector<uint8_t>& data) override {
        answer_.clear();
        decoder_.feed(bytes, length, data, answer_);
        // An answer to the server's options is best effort: a server that never reads it
        // shows itself by the replies that do not come.
        if (!answer_.empty()) (void)socket_.sendAll(answer_.data(), answer_.size(), 0);
    }

  private:
    net::TelnetDecoder decoder_;
    std::vector<uint8_t> answer_;
};

class ModbusTcpPort : public NetPort {
  public:
    bool canSetLineRate() const override { return false; }

  protected:
    OpenResult start(unsigned) override {
        decoder_.reset();
        return {};
    }
    bool encode(const uint8_t* data, size_t length, std::vector<uint8_t>& out) override {
        ++transaction_;
        if (!net::mbapFromRtu(data, length, transaction_, out)) return false;
        decoder_.expect(transaction_);
        return true;
    }
    void decode(const uint8_t* bytes, size_t length, std::vector<uint8_t>& data) override {
        decoder_.feed(bytes, length, data);
        // Only a new connection finds the frames again.
        if (decoder_.broken()) vanished_ = true;
    }
    size_t strayCount() override { return decoder_.takeStray(); }
    bool answerWontCome() const override { return decoder_.noReply(); }

  private:
    net::MbapDecoder decoder_;
    uint16_t transaction_ = 0;
};

// Takes its kind from the name at each opening, so that one factory serves every line.
class PortByName : public SerialPort {
  public:
    OpenResult open(const std::string& path, unsigned baud, DirectionSetting direction,
                    DirectionMode& mode) override {
        if (inner_) inner_->close();
        const bool network = isNetworkPortName(path);
        if (network) {
            inner_ = makeNetworkPort(path);
            if (!inner_) return {OpenFailure::BadAddress, 0, {}};
        } else if (!inner_ || inner_->isNetwork()) {
            inner_ = makeSerialDevicePort();
        }
        return inner_->open(path, baud, direction, mode);
    }
    bool write(const uint8_t* data, size_t length) override {
        return inner_ && inner_->write(data, length);
    }
    size_t read(uint8_t* buffer, size_t length, int timeoutMs) override {
        return inner_ ? inner_->read(buffer, length, timeoutMs) : 0;
    }
    void purge() override {
        if (inner_) inner_->purge();
    }
    size_t takeInput(std::vector<uint8_t>& dropped) override {
        if (inner_) return inner_->takeInput(dropped);
        dropped.clear();
        return 0;
    }
    void drain() override {
        if (inner_) inner_->drain();
    }
    void setRts(bool on) override {
        if (inner_) inner_->setRts(on);
    }
    void close() override {
        if (inner_) inner_->close();
    }
    bool vanished() const override { return inner_ && inner_->vanished(); }
    bool isNetwork() const override { return inner_ && inner_->isNetwork(); }
    bool canSetLineRate() const override { return !inner_ || inner_->canSetLineRate(); }

  private:
    std::unique_ptr<SerialPort> inner_;
};

}  // namespace

std::unique_ptr<SerialPort> makeNetworkPort(const std::string& name) {
    NetAddress address;
    if (!parseNetAddress(name, address)) return nullptr;
    switch (address.scheme) {
        case NetScheme::RawTcp:
            return std::make_unique<RawTcpPort>();
        case NetScheme::Telnet:
            return std::make_unique<TelnetPort>();
        case NetScheme::ModbusTcp:
            return std::make_unique<ModbusTcpPort>();
        case NetScheme::None:
            break;
    }
    return nullptr;
}

std::unique_ptr<SerialPort> makePlatformPort() { return std::make_unique<PortByName>(); }

}  // namespace zta
