#pragma once

#include <string>
#include <vector>

#include "link/regmap.h"
#include "link/serial_line.h"

namespace zta::bus {

enum Exit { kOk = 0, kFailure = 1, kUsage = 2, kPortError = 3, kNoReply = 4, kBadReply = 5,
            kRefused = 6 };

struct Options {
    std::string port;
    unsigned baud = 9600;
    std::vector<int> addresses;  // --address A[,A...]
    bool json = false;
    bool extended = false;
    bool trace = false;          // --trace: every exchange on standard error
    bool fast = false;           // --fast: poll with the line's own pause only
    long turns = -1;             // --turns N, -1: until interrupted
    int replyTimeoutMs = 0;      // --timeout MS, 0: the rate's own
    DirectionSetting direction = DirectionFromEnvironment();
    std::vector<std::string> positional;
};

// Parses argv[1..] (argv[0] is the sub-command). On failure returns false with a one-line
// message in `error`.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error);

// Parses a whole decimal number in [lo, hi]; false on anything else.
bool ParseInt(const std::string& text, long lo, long hi, long& value);

// The line settings of the options; with --trace the line reports every exchange on
// standard error as the traffic monitor shows it.
LineOptions LineOptionsFor(const Options& options, size_t bufferSize);

// The decoded state of one analyzer under the poll block's field names.
struct Readings {
    zta::Readings values;
    int gasCode = 0;
    std::string gasName = " - ";
    bool hasTextBlock = false;
    zta::TextBlock text;
};

// One JSON object in the making, keys in insertion order; strings are UTF-8 and escaped.
class JsonObject {
public:
    JsonObject& Add(const std::string& key, long value);
    JsonObject& Add(const std::string& key, double value);
    JsonObject& Add(const std::string& key, const std::string& value);
    JsonObject& AddBool(const std::string& key, bool value);
    JsonObject& AddObject(const std::string& key, const JsonObject& value);
    std::string Str() const { return "{" + body_ + "}"; }

private:
    void Key(const std::string& key);
    std::string body_;
};

void AddReadings(JsonObject& json, const Readings& readings);
std::string ReadingsText(const Readings& readings);
std::string JsonEscape(const std::string& text);

}  // namespace zta::bus
