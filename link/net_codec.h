// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The byte streams of the network lines, apart from any socket: telnet with serial port
// control (RFC 2217) and Modbus TCP framing. Both take their input in pieces of any size.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zta::net {

namespace telnet {
constexpr uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                  kSe = 240;
constexpr uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;
// Client commands of the serial port option; the server answers each with the code + 100.
constexpr uint8_t kSetBaud = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4, kSetControl = 5;
constexpr uint8_t kParityNone = 1, kStopOne = 1, kControlNoFlow = 1, kControlDtrOff = 9;
}  // namespace telnet

// Appends `data` as telnet data: 0xFF doubled.
void appendTelnetData(std::vector<uint8_t>& out, const uint8_t* data, size_t length);
// Appends one serial port command (IAC SB 44 code value IAC SE), 0xFF in the value doubled.
void appendComPortCommand(std::vector<uint8_t>& out, uint8_t code, const uint8_t* value,
                          size_t length);
// What a client sends first: binary both ways, suppressed go-ahead, and the port option, then
// the rate and 8N1 without flow control, DTR off.
std::vector<uint8_t> telnetOpening(uint32_t baud);

// The server's side of a telnet stream: data with the doubling undone, the options it asks
// for answered, the serial port option's answers noted.
class TelnetDecoder {
  public:
    // Data bytes go to `data`; what the client must send back goes to `answer`.
    void feed(const uint8_t* bytes, size_t length, std::vector<uint8_t>& data,
              std::vector<uint8_t>& answer);
    // The rate the server last reported for the line, 0 before any report.
    uint32_t reportedBaud() const { return reportedBaud_; }
    // The server declined the serial port option.
    bool comPortRefused() const { return comPortRefused_; }
    // Marks an option the client has already offered (WILL) or asked for (DO), so that the
    // server's agreement is not answered again.
    void offered(uint8_t option) { willSent_[option] = true; }
    void askedFor(uint8_t option) { doSent_[option] = true; }

  private:
    enum class State { Data, Iac, Option, Sub, SubIac };
    void subnegotiationEnded();
    State state_ = State::Data;
    uint8_t verb_ = 0;
    std::vector<uint8_t> sub_;
    std::array<bool, 256> willSent_{};
    std::array<bool, 256> doSent_{};
    uint32_t reportedBaud_ = 0;
    bool comPortRefused_ = false;
};

constexpr size_t kMbapHeaderLength = 7;  // transaction, protocol, length, unit

// An RTU request (address, PDU, CRC) as a Modbus TCP request with the unit id = the address.
// False when the frame is too short or its CRC is wrong.
bool mbapFromRtu(const uint8_t* rtu, size_t length, uint16_t transaction,
                 std::vector<uint8_t>& out);

// Modbus TCP replies back into RTU frames with their CRC computed. Only the reply to the
// transaction awaited is an answer; any other is stray.
class MbapDecoder {
  public:
    void expect(uint16_t transaction) {
        awaited_ = transaction;
        noReply_ = false;
        answered_ = false;
    }
    // Whole replies to the awaited transaction are appended to `rtu` as RTU frames.
    void feed(const uint8_t* bytes, size_t length, std::vector<uint8_t>& rtu);
    // Bytes dropped since the last call: other transactions, malformed headers.
    size_t takeStray() {
        const size_t n = stray_;
        stray_ = 0;
        return n;
    }
    // The gateway said that nothing answered behind it (exception 0x0A or 0x0B).
    bool noReply() const { return noReply_; }
    // The stream broke the framing: no frame boundary can be found in it again.
    bool broken() const { return broken_; }
    void reset();

  private:
    std::vector<uint8_t> pending_;
    uint16_t awaited_ = 0;
    size_t stray_ = 0;
    bool noReply_ = false;
    bool answered_ = false;
    bool broken_ = false;
};

}  // namespace zta::net
