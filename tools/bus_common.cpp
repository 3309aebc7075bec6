// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/bus_common.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <variant>

#include "core/reading_columns.h"
#include "link/net_address.h"
#include "link/number_text.h"
#include "poll/frame_ring.h"

namespace zta::bus {

bool parseInt(const std::string& text, long lo, long hi, long& value) {
    return parseWholeNumber(text, lo, hi, &value);
}

namespace {

// Which sub-commands take an option: an option that means nothing for a command is refused,
// never silently ignored.
enum CommandBit : unsigned { kRead = 1, kWrite = 2, kPoll = 4, kScan = 8, kAll = 15 };

struct OptionRow {
    const char* name;
    unsigned commands;
};

constexpr OptionRow kOptionTable[] = {
    {"--port", kAll},
    {"--baud", kAll},
    {"--timeout", kAll},
    {"--net-timeout", kAll},
    {"--rs485", kAll},
    {"--trace", kAll},
    {"--address", kRead | kWrite | kPoll},
    {"--json", kRead | kPoll | kScan},
    {"--extended", kRead},
    {"--turns", kPoll},
    {"--fast", kPoll},
};

unsigned commandBit(const std::string& command) {
    if (command == "read") return kRead;
    if (command == "write") return kWrite;
    if (command == "poll") return kPoll;
    if (command == "scan") return kScan;
    return kAll;
}

const OptionRow* optionRow(const std::string& name) {
    for (const OptionRow& row : kOptionTable)
        if (name == row.name) return &row;
    return nullptr;
}

}  // namespace

bool parseOptions(int argc, char** argv, Options& o, std::string& error) {
    const std::string command = argc > 0 ? argv[0] : "";
    const unsigned bit = commandBit(command);
    std::vector<std::string> seen;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = "option " + arg + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        if (const OptionRow* row = optionRow(arg)) {
            if (!(row->commands & bit)) {
                error = command + " does not take " + arg;
                return false;
            }
            // A second value would silently win over the first.
            if (std::find(seen.begin(), seen.end(), arg) != seen.end()) {
                error = arg + " is given twice";
                return false;
            }
            seen.push_back(arg);
        }
        std::string v;
        long n = 0;
        if (arg == "--port") {
            if (!next(o.port)) return false;
        } else if (arg == "--baud") {
            if (!next(v)) return false;
            if (!parseInt(v, 0, 1000000, n) || baudCode(static_cast<unsigned>(n)) == 0) {
                error = "--baud must be one of 1200, 2400, 4800, 9600, 19200";
                return false;
            }
            o.baud = static_cast<unsigned>(n);
        } else if (arg == "--address") {
            if (!next(v)) return false;
            size_t start = 0;
            while (true) {
                const size_t comma = v.find(',', start);
                const std::string item = v.substr(start, comma - start);
                if (!parseInt(item, 0, 255, n)) {
                    error = "network numbers are 0 to 255, separated by commas: \"" + item + "\"";
                    return false;
                }
                for (int taken : o.addresses)
                    if (taken == n) {
                        error = "network number " + item + " is given twice";
                        return false;
                    }
                o.addresses.push_back(static_cast<int>(n));
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
        } else if (arg == "--turns") {
            if (!next(v)) return false;
            if (!parseInt(v, 1, 1000000000, o.turns)) {
                error = "--turns must be a positive number";
                return false;
            }
        } else if (arg == "--timeout") {
            if (!next(v)) return false;
            if (!parseInt(v, 1, 60000, n)) {
                error = "--timeout must be 1 to 60000 ms";
                return false;
            }
            o.replyTimeoutMs = static_cast<int>(n);
        } else if (arg == "--net-timeout") {
            if (!next(v)) return false;
            if (!parseInt(v, 0, 60000, n)) {
                error = "--net-timeout must be 0 to 60000 ms";
                return false;
            }
            o.netTimeoutMs = static_cast<int>(n);
        } else if (arg == "--rs485") {
            if (!next(v)) return false;
            if (v == "driver")
                o.direction = DirectionSetting::Driver;
            else if (v == "program")
                o.direction = DirectionSetting::Program;
            else if (v == "auto")
                o.direction = DirectionSetting::Auto;
            else {
                error = "--rs485 is driver, program or auto";
                return false;
            }
        } else if (arg == "--json") {
            o.json = true;
        } else if (arg == "--extended") {
            o.extended = true;
        } else if (arg == "--trace") {
            o.trace = true;
        } else if (arg == "--fast") {
            o.fast = true;
        } else if (arg.size() > 1 && arg[0] == '-' && !parseInt(arg, -1000000, 0, n)) {
            error = "unknown option " + arg;
            return false;
        } else {
            o.positional.push_back(arg);
        }
    }
    if (o.port.empty()) {
        error = "--port is required";
        return false;
    }
    return true;
}

std::string portPathFor(const std::string& port) {
#ifndef _WIN32
    // A bare name that exists in the current folder is that file, not a device under /dev.
    std::error_code ec;
    if (isNetworkPortName(port)) return port;
    if (port.find('/') == std::string::npos && std::filesystem::exists(port, ec)) return port;
#endif
    return storedPortName(port);
}

namespace {

class StderrTrace : public FrameObserver {
  public:
    void exchanged(const Request& request, const uint8_t* reply,
                   const ExchangeResult& result) override {
        const FrameRecord f = makeFrameRecord(request, reply, result);
        std::fprintf(stderr, "%s\n%s\n", requestTraceLine(f).c_str(), replyTraceLine(f).c_str());
        std::fflush(stderr);
    }
};

}  // namespace

LineOptions lineOptionsFor(const Options& options, size_t bufferSize) {
    static StderrTrace trace;
    LineOptions line;
    if (options.trace) line.observer = &trace;
    line.direction = options.direction;
    line.bufferSize = bufferSize;
    line.replyTimeoutMs = options.replyTimeoutMs;
    line.netTimeoutMs = options.netTimeoutMs;
    return line;
}

void addReadings(Json& json, const Readings& r, const SlotTexts& texts) {
    for (ReadingColumn column : kJsonReadingColumns) {
        const ReadingColumnInfo& info = readingColumn(column);
        if (info.extendedOnly && !r.extendedModel) continue;
        const ReadingValue value = info.value(r, texts);
        // Hundredths on the wire: 4.4, not the nearest binary fraction's 4.4000000000000004.
        const bool hundredths = column == ReadingColumn::DeviceRange ||
                                column == ReadingColumn::DeviceMidGas ||
                                column == ReadingColumn::DeviceMaxGas;
        if (hundredths)
            json[info.key] = std::round(std::get<double>(value) * 100.0) / 100.0;
        else
            std::visit([&](const auto& v) { json[info.key] = v; }, value);
    }
}

std::string jsonLine(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string readingsText(const Readings& r, const SlotTexts& texts) {
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  "conc=%.0f relays=%d%d%d thr1=%d thr2=%d aux=%d ref=%d work=%d d=%d T=%d "
                  "factory=%d version=%d gas=%d(%s)",
                  r.concentration, (r.relayState >> 2) & 1, (r.relayState >> 1) & 1,
                  r.relayState & 1, r.threshold1, r.threshold2, r.auxValue, r.refChannel,
                  r.workChannel, r.dValue, r.temperature, r.factoryNumber, r.softwareVersion,
                  r.gasCode, texts.gasName.c_str());
    std::string text = buf;
    if (r.extendedModel) {
        std::snprintf(buf, sizeof buf, " range=%.2f mid=%.2f max=%.2f unit='%s'", r.deviceRange,
                      r.deviceMidGas, r.deviceMaxGas, texts.unitName.c_str());
        text += buf;
    }
    return text;
}

}  // namespace zta::bus
