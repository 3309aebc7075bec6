#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "link/modbus.h"
#include "link/number_text.h"
#include "link/regmap.h"
#include "link/serial_line.h"
#include "tools/bus_commands.h"
#include "tools/bus_common.h"

namespace zta::bus {
namespace {

int Fail(int status, const std::string& message) {
    std::fprintf(stderr, "zta-bus: %s\n", message.c_str());
    return status;
}

// Opens the line or says why not; the texts are the station's own.
int OpenLine(SerialLine& line, const Options& o, size_t bufferSize) {
    const std::string port = StoredPortName(o.port);
    const OpenResult r = line.Open(port, o.baud, LineOptionsFor(o, bufferSize));
    if (r.ok()) return kOk;
    std::string text = OpenFailureText(r, port);
    if (text.empty()) text = "cannot open " + port + " (error " + std::to_string(r.platformCode) + ")";
    return Fail(kPortError, text);
}

std::string Hex(const uint8_t* data, size_t n) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", data[i]);
        s += buf;
    }
    return s;
}

// A reply that is no answer: says what it was.
int Judge(const uint8_t* reply, size_t n, size_t expected, int address) {
    if (n == 0) return Fail(kNoReply, "no reply from network number " + std::to_string(address));
    if (n == kExceptionLength && CrcPasses(reply, n) && (reply[1] & 0x80))
        return Fail(kRefused, "network number " + std::to_string(address) +
                                  " refused the request (exception " + std::to_string(reply[2]) +
                                  ")");
    if (n != expected)
        return Fail(kBadReply, "short or garbled reply (" + std::to_string(n) + " of " +
                                   std::to_string(expected) + " bytes): " + Hex(reply, n));
    if (reply[0] != address)
        return Fail(kBadReply, "reply from network number " + std::to_string(reply[0]) +
                                   " instead of " + std::to_string(address));
    return Fail(kBadReply, "CRC error in the reply: " + Hex(reply, n));
}

// The analyzer takes thousandths: below 0.001 it would receive 0, above 65.535 an overflow.
bool ParseVolume(const std::string& text, double& value) {
    double v = 0;
    if (!ParseDecimalNumber(text, &v) || v < 0.001 || v > 65.535) return false;
    value = v;
    return true;
}

bool Usage(std::string& error, const std::string& text) {
    error = text;
    return false;
}

}  // namespace

bool ParseWriteCommand(const Options& o, RegisterWrite& w, std::string& error) {
    const int address = o.addresses.empty() ? 0 : o.addresses[0];
    const std::string command = o.positional.empty() ? std::string() : o.positional[0];
    const bool hasValue = o.positional.size() > 1;
    const std::string value = hasValue ? o.positional[1] : "";
    auto needValue = [&](long lo, long hi, long& out) {
        if (!hasValue) {
            error = command + " needs a value";
            return false;
        }
        if (!ParseInt(value, lo, hi, out)) {
            error = command + " takes a whole number from " + std::to_string(lo) + " to " +
                    std::to_string(hi);
            return false;
        }
        return true;
    };
    long n = 0;
    double volume = 0;
    if (command == "zero" || command == "typical") {
        if (hasValue) return Usage(error, command + " takes no value");
        w = command == "zero" ? EncodeZero() : EncodeTypical();
    } else if (command == "high" || command == "middle") {
        volume = command == "high" ? 4.4 : 2.7;
        if (hasValue && !ParseVolume(value, volume))
            return Usage(error, command + " takes a volume fraction from 0.001 to 65.535");
        w = command == "high" ? EncodeMaxGas(volume) : EncodeMidGas(volume);
    } else if (command == "threshold1" || command == "threshold2") {
        if (!needValue(0, 255, n)) return false;
        w = command == "threshold1" ? EncodeThreshold1(static_cast<uint8_t>(n))
                                    : EncodeThreshold2(static_cast<uint8_t>(n));
    } else if (command == "factory") {
        if (!needValue(0, 65535, n)) return false;
        w = EncodeFactoryNumber(static_cast<int>(n));
    } else if (command == "address") {
        if (!needValue(0, 255, n)) return false;
        w = EncodeNewAddress(static_cast<int>(n), o.baud);
    } else if (command == "baud") {
        if (!needValue(0, 1000000, n) || BaudCode(static_cast<unsigned>(n)) == 0)
            return Usage(error, "baud takes 1200, 2400, 4800, 9600 or 19200");
        w = EncodeNewBaud(address, BaudCode(static_cast<unsigned>(n)));
    } else {
        return Usage(error, "unknown command " + command);
    }
    return true;
}

}  // namespace zta::bus

using namespace zta;
using namespace zta::bus;

int RunRead(int argc, char** argv) {
    Options o;
    std::string error;
    if (!ParseOptions(argc, argv, o, error)) return Fail(kUsage, error);
    if (o.addresses.size() != 1) return Fail(kUsage, "read needs one --address");
    if (!o.positional.empty()) return Fail(kUsage, "unexpected argument " + o.positional[0]);
    const int address = o.addresses[0];

    SerialLine line;
    if (int status = OpenLine(line, o, kPollBufferSize)) return status;
    const size_t expected = o.extended ? kLongReplyLength : kShortReplyLength;
    const Request request = ReadRequest(static_cast<uint8_t>(address), kReadingsRegister,
                                        o.extended ? kLongReadCount : kShortReadCount);
    const ExchangeResult x = line.Exchange(request, expected, kPollSettleMs);
    const uint8_t* reply = line.Reply();
    if (!x.writeOk) return Fail(kPortError, "Ошибка записи");
    if (x.count != expected || reply[0] != address || !CrcPasses(reply, x.count))
        return Judge(reply, x.count, expected, address);

    bus::Readings r;
    r.values = DecodeReadings(reply);
    r.gasCode = DecodeGasCode(reply);
    if (const char* name = GasNameForCode(r.gasCode)) r.gasName = name;
    if (o.extended) {
        r.hasTextBlock = true;
        r.text = ParseTextBlock(std::string_view(reinterpret_cast<const char*>(reply) +
                                                     kTextBlockOffset,
                                                 kTextBlockLength));
        r.gasName = r.text.gasName;
    }
    if (o.json) {
        Json json;
        AddReadings(json, r);
        std::printf("%s\n", JsonLine(json).c_str());
    } else {
        std::printf("%d: %s\n", address, ReadingsText(r).c_str());
    }
    return kOk;
}

int RunWrite(int argc, char** argv) {
    Options o;
    std::string error;
    if (!ParseOptions(argc, argv, o, error)) return Fail(kUsage, error);
    if (o.addresses.size() != 1) return Fail(kUsage, "write needs one --address");
    if (o.positional.empty()) return Fail(kUsage, "write needs a command");
    const int address = o.addresses[0];
    const std::string command = o.positional[0];
    if (o.positional.size() > 2) return Fail(kUsage, "unexpected argument " + o.positional[2]);

    RegisterWrite w{};
    if (!ParseWriteCommand(o, w, error)) return Fail(kUsage, error);

    SerialLine line;
    if (int status = OpenLine(line, o, kPollBufferSize)) return status;
    const Request request = WriteRequest(static_cast<uint8_t>(address), w.reg, w.value);
    const ExchangeResult x = line.Exchange(request, kEchoLength, kPollSettleMs);
    if (!x.writeOk) return Fail(kPortError, "Ошибка записи");
    if (!IsExactEcho(request, line.Reply(), x.count)) {
        if (x.count == kEchoLength)
            return Fail(kBadReply, "the echo differs from the request: " +
                                       Hex(line.Reply(), x.count) + " for " +
                                       Hex(request.data(), request.size()));
        return Judge(line.Reply(), x.count, kEchoLength, address);
    }
    std::printf("%d: %s accepted (register %u, value %u): %s\n", address, command.c_str(),
                unsigned(w.reg), unsigned(w.value), Hex(request.data(), request.size()).c_str());
    return kOk;
}
