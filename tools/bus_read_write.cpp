// SPDX-License-Identifier: GPL-3.0-or-later
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "link/modbus.h"
#include "link/net_address.h"
#include "link/number_text.h"
#include "link/regmap.h"
#include "link/serial_line.h"
#include "tools/bus_commands.h"
#include "tools/bus_common.h"

namespace zta::bus {
namespace {

int fail(int status, const std::string& message) {
    std::fprintf(stderr, "zta-bus: %s\n", message.c_str());
    return status;
}

// Opens the line or says why not; the texts are the station's own.
int openLine(SerialLine& line, const Options& o, size_t bufferSize) {
    const std::string port = portPathFor(o.port);
    const OpenResult r = line.open(port, o.baud, lineOptionsFor(o, bufferSize));
    if (r.ok()) return kOk;
    std::string text = openFailureText(r, port);
    if (text.empty())
        text = "cannot open " + port + " (error " + std::to_string(r.platformCode) + ")";
    return fail(kPortError, text);
}

std::string hex(const uint8_t* data, size_t n) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", data[i]);
        s += buf;
    }
    return s;
}

// A reply that is no answer: says what it was.
int judge(const uint8_t* reply, size_t n, size_t expected, int address) {
    if (n == 0) return fail(kNoReply, "no reply from network number " + std::to_string(address));
    if (n == kExceptionLength && crcPasses(reply, n) && (reply[1] & 0x80))
        return fail(kRefused, "network number " + std::to_string(address) +
                                  " refused the request (exception " + std::to_string(reply[2]) +
                                  ")");
    if (n != expected)
        return fail(kBadReply, "short or garbled reply (" + std::to_string(n) + " of " +
                                   std::to_string(expected) + " bytes): " + hex(reply, n));
    if (reply[0] != address)
        return fail(kBadReply, "reply from network number " + std::to_string(reply[0]) +
                                   " instead of " + std::to_string(address));
    return fail(kBadReply, "CRC error in the reply: " + hex(reply, n));
}

// The analyzer takes thousandths: below 0.001 it would receive 0, above 65.535 an overflow.
bool parseVolume(const std::string& text, double& value) {
    double v = 0;
    if (!parseDecimalNumber(text, &v) || v < 0.001 || v > 65.535) return false;
    value = v;
    return true;
}

bool usage(std::string& error, const std::string& text) {
    error = text;
    return false;
}

}  // namespace

bool parseWriteCommand(const Options& o, RegisterWrite& w, std::string& error) {
    const int address = o.addresses.empty() ? 0 : o.addresses[0];
    const std::string command = o.positional.empty() ? std::string() : o.positional[0];
    const bool hasValue = o.positional.size() > 1;
    const std::string value = hasValue ? o.positional[1] : "";
    auto needValue = [&](long lo, long hi, long& out) {
        if (!hasValue) {
            error = command + " needs a value";
            return false;
        }
        if (!parseInt(value, lo, hi, out)) {
            error = command + " takes a whole number from " + std::to_string(lo) + " to " +
                    std::to_string(hi);
            return false;
        }
        return true;
    };
    long n = 0;
    double volume = 0;
    if (command == "zero" || command == "typical") {
        if (hasValue) return usage(error, command + " takes no value");
        w = command == "zero" ? encodeZero() : encodeTypical();
    } else if (command == "high" || command == "middle") {
        volume = command == "high" ? 4.4 : 2.7;
        if (hasValue && !parseVolume(value, volume))
            return usage(error, command + " takes a volume fraction from 0.001 to 65.535");
        w = command == "high" ? encodeMaxGas(volume) : encodeMidGas(volume);
    } else if (command == "threshold1" || command == "threshold2") {
        if (!needValue(0, 255, n)) return false;
        w = command == "threshold1" ? encodeThreshold1(static_cast<uint8_t>(n))
                                    : encodeThreshold2(static_cast<uint8_t>(n));
    } else if (command == "factory") {
        if (!needValue(0, 65535, n)) return false;
        w = encodeFactoryNumber(static_cast<int>(n));
    } else if (command == "address") {
        if (!needValue(0, 255, n)) return false;
        w = encodeNewAddress(static_cast<int>(n), o.baud);
    } else if (command == "baud") {
        if (!needValue(0, 1000000, n) || baudCode(static_cast<unsigned>(n)) == 0)
            return usage(error, "baud takes 1200, 2400, 4800, 9600 or 19200");
        w = encodeNewBaud(address, baudCode(static_cast<unsigned>(n)));
    } else {
        return usage(error, "unknown command " + command);
    }
    return true;
}

}  // namespace zta::bus

using namespace zta;
using namespace zta::bus;

int runRead(int argc, char** argv) {
    Options o;
    std::string error;
    if (!parseOptions(argc, argv, o, error)) return fail(kUsage, error);
    if (o.addresses.size() != 1) return fail(kUsage, "read needs one --address");
    if (!o.positional.empty()) return fail(kUsage, "unexpected argument " + o.positional[0]);
    const int address = o.addresses[0];

    SerialLine line;
    if (int status = openLine(line, o, kPollBufferSize)) return status;
    const size_t expected = o.extended ? kLongReplyLength : kShortReplyLength;
    const Request request = readRequest(static_cast<uint8_t>(address), kReadingsRegister,
                                        o.extended ? kLongReadCount : kShortReadCount);
    const ExchangeResult x = line.exchange(request, expected, kPollSettleMs);
    const uint8_t* reply = line.reply();
    if (!x.writeOk) return fail(kPortError, "Ошибка записи");
    if (x.count != expected || reply[0] != address || !crcPasses(reply, x.count))
        return judge(reply, x.count, expected, address);

    Readings r;
    static_cast<ReplyReadings&>(r) = decodeReadings(reply);
    r.gasCode = decodeGasCode(reply);
    SlotTexts texts;
    texts.gasName = " - ";
    if (const char* name = gasNameForCode(r.gasCode)) texts.gasName = name;
    if (o.extended) {
        const TextBlock block = parseTextBlock(std::string_view(
            reinterpret_cast<const char*>(reply) + kTextBlockOffset, kTextBlockLength));
        r.extendedModel = true;
        r.deviceRange = block.deviceRange;
        r.deviceMidGas = block.deviceMidGas;
        r.deviceMaxGas = block.deviceMaxGas;
        texts.gasName = block.gasName;
        texts.unitName = block.unitName;
    }
    if (o.json) {
        Json json;
        addReadings(json, r, texts);
        std::printf("%s\n", jsonLine(json).c_str());
    } else {
        std::printf("%d: %s\n", address, readingsText(r, texts).c_str());
    }
    return kOk;
}

int runWrite(int argc, char** argv) {
    Options o;
    std::string error;
    if (!parseOptions(argc, argv, o, error)) return fail(kUsage, error);
    if (o.addresses.size() != 1) return fail(kUsage, "write needs one --address");
    if (o.positional.empty()) return fail(kUsage, "write needs a command");
    const int address = o.addresses[0];
    const std::string command = o.positional[0];
    if (o.positional.size() > 2) return fail(kUsage, "unexpected argument " + o.positional[2]);

    RegisterWrite w{};
    if (!parseWriteCommand(o, w, error)) return fail(kUsage, error);
    // The analyzer would take the new rate, and the gateway's own line would stay at the old one.
    if (command == "baud" && !lineRateSettable(portPathFor(o.port)))
        return fail(kUsage, "the line rate cannot be changed through a Modbus TCP gateway (" +
                                o.port + "): set it at the gateway");

    SerialLine line;
    if (int status = openLine(line, o, kPollBufferSize)) return status;
    // On a line that hands back its own copy of each request, that copy looks exactly like the
    // analyzer's echo of a write. A read tells the two apart (a copy of a read is never an
    // answer), as the station's polling always has before its first write.
    if (line.lineEcho() == LineEcho::Unknown)
        (void)line.exchange(
            readRequest(static_cast<uint8_t>(address), kReadingsRegister, kShortReadCount),
            kShortReplyLength, kPollSettleMs);
    const Request request = writeRequest(static_cast<uint8_t>(address), w.reg, w.value);
    const ExchangeResult x = line.exchange(request, kEchoLength, kPollSettleMs);
    if (!x.writeOk) return fail(kPortError, "Ошибка записи");
    if (!isExactEcho(request, line.reply(), x.count)) {
        if (x.count == kEchoLength)
            return fail(kBadReply,
                        "the echo differs from the request: " + hex(line.reply(), x.count) +
                            " for " + hex(request.data(), request.size()));
        return judge(line.reply(), x.count, kEchoLength, address);
    }
    std::printf("%d: %s accepted (register %u, value %u): %s\n", address, command.c_str(),
                unsigned(w.reg), unsigned(w.value), hex(request.data(), request.size()).c_str());
    return kOk;
}
