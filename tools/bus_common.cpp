#include "tools/bus_common.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "poll/frame_ring.h"

namespace zta::bus {

bool ParseInt(const std::string& text, long lo, long hi, long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0' || v < lo || v > hi) return false;
    value = v;
    return true;
}

bool ParseOptions(int argc, char** argv, Options& o, std::string& error) {
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
        std::string v;
        long n = 0;
        if (arg == "--port") {
            if (!next(o.port)) return false;
        } else if (arg == "--baud") {
            if (!next(v)) return false;
            if (!ParseInt(v, 0, 1000000, n) || BaudCode(static_cast<unsigned>(n)) == 0) {
                error = "--baud must be one of 1200, 2400, 4800, 9600, 19200";
                return false;
            }
            o.baud = static_cast<unsigned>(n);
        } else if (arg == "--address") {
            if (!next(v)) return false;
            std::stringstream list(v);
            std::string item;
            while (std::getline(list, item, ',')) {
                if (!ParseInt(item, 0, 255, n)) {
                    error = "network numbers are 0 to 255: " + item;
                    return false;
                }
                o.addresses.push_back(static_cast<int>(n));
            }
            if (o.addresses.empty()) {
                error = "--address needs a network number";
                return false;
            }
        } else if (arg == "--turns") {
            if (!next(v)) return false;
            if (!ParseInt(v, 1, 1000000000, o.turns)) {
                error = "--turns must be a positive number";
                return false;
            }
        } else if (arg == "--timeout") {
            if (!next(v)) return false;
            if (!ParseInt(v, 1, 60000, n)) {
                error = "--timeout must be 1 to 60000 ms";
                return false;
            }
            o.replyTimeoutMs = static_cast<int>(n);
        } else if (arg == "--rs485") {
            if (!next(v)) return false;
            if (v == "driver") o.direction = DirectionSetting::Driver;
            else if (v == "program") o.direction = DirectionSetting::Program;
            else if (v == "auto") o.direction = DirectionSetting::Auto;
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
        } else if (arg.size() > 1 && arg[0] == '-' && !ParseInt(arg, -1000000, 0, n)) {
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

namespace {

class StderrTrace : public FrameObserver {
public:
    void Exchanged(const Request& request, const uint8_t* reply,
                   const ExchangeResult& result) override {
        const FrameRecord f = MakeFrameRecord(request, reply, result);
        std::fprintf(stderr, "%s\n%s\n", RequestTraceLine(f).c_str(), ReplyTraceLine(f).c_str());
        std::fflush(stderr);
    }
};

}  // namespace

LineOptions LineOptionsFor(const Options& options, size_t bufferSize) {
    static StderrTrace trace;
    LineOptions line;
    if (options.trace) line.observer = &trace;
    line.direction = options.direction;
    line.bufferSize = bufferSize;
    line.replyTimeoutMs = options.replyTimeoutMs;
    return line;
}

std::string JsonEscape(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out;
}

void JsonObject::Key(const std::string& key) {
    if (!body_.empty()) body_ += ",";
    body_ += "\"" + JsonEscape(key) + "\":";
}

JsonObject& JsonObject::Add(const std::string& key, long value) {
    Key(key);
    body_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::Add(const std::string& key, double value) {
    Key(key);
    if (!std::isfinite(value)) {
        body_ += "null";
        return *this;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.10g", value);
    body_ += buf;
    return *this;
}

JsonObject& JsonObject::Add(const std::string& key, const std::string& value) {
    Key(key);
    body_ += "\"" + JsonEscape(value) + "\"";
    return *this;
}

JsonObject& JsonObject::AddObject(const std::string& key, const JsonObject& value) {
    Key(key);
    body_ += value.Str();
    return *this;
}

JsonObject& JsonObject::AddBool(const std::string& key, bool value) {
    Key(key);
    body_ += value ? "true" : "false";
    return *this;
}

void AddReadings(JsonObject& json, const Readings& r) {
    const auto& v = r.values;
    json.Add("concentration", v.concentration)
        .Add("relayState", static_cast<long>(v.relayState))
        .Add("threshold1", static_cast<long>(v.threshold1))
        .Add("threshold2", static_cast<long>(v.threshold2))
        .Add("auxValue", static_cast<long>(v.auxValue))
        .Add("refChannel", static_cast<long>(v.refChannel))
        .Add("workChannel", static_cast<long>(v.workChannel))
        .Add("dValue", static_cast<long>(v.dValue))
        .Add("temperature", static_cast<long>(v.temperature))
        .Add("factoryNumber", static_cast<long>(v.factoryNumber))
        .Add("softwareVersion", static_cast<long>(v.softwareVersion))
        .Add("gasCode", static_cast<long>(r.gasCode))
        .Add("gasName", r.gasName);
    if (r.hasTextBlock) {
        json.Add("deviceRange", r.text.deviceRange)
            .Add("deviceMidGas", r.text.deviceMidGas)
            .Add("deviceMaxGas", r.text.deviceMaxGas)
            .Add("unitName", r.text.unitName);
    }
}

std::string ReadingsText(const Readings& r) {
    const auto& v = r.values;
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  "conc=%.0f relays=%d%d%d thr1=%d thr2=%d aux=%d ref=%d work=%d d=%d T=%d "
                  "factory=%d version=%d gas=%d(%s)",
                  v.concentration, (v.relayState >> 2) & 1, (v.relayState >> 1) & 1,
                  v.relayState & 1, v.threshold1, v.threshold2, v.auxValue, v.refChannel,
                  v.workChannel, v.dValue, v.temperature, v.factoryNumber, v.softwareVersion,
                  r.gasCode, r.gasName.c_str());
    std::string text = buf;
    if (r.hasTextBlock) {
        std::snprintf(buf, sizeof buf, " range=%.2f mid=%.2f max=%.2f unit='%s'",
                      r.text.deviceRange, r.text.deviceMidGas, r.text.deviceMaxGas,
                      r.text.unitName.c_str());
        text += buf;
    }
    return text;
}

}  // namespace zta::bus
