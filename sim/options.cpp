// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/options.h"

#include <set>

#include "link/cp1251.h"
#include "link/number_text.h"
#include "link/regmap.h"

namespace zta::sim {

const char* const kUsage =
    "usage: zta-sim [--link PATH | --device PATH [--device-baud RATE]] [--analyzer SPEC ...] "
    "[--line-echo MS] [--log]\n"
    "               [--control PATH] [--time-scale K]\n"
    "       zta-sim ctl PATH COMMAND...\n"
    "       zta-sim --help | --version\n"
    "  --line-echo MS: the line hands back a copy of every request MS milliseconds after it,\n"
    "    answered or not, as an echoing RS-485 adapter does (0 to 1000, decimals allowed)\n"
    "  SPEC: comma-separated key=value, keys:\n"
    "    address=0..255  also=N;N;...  baud=1200|2400|4800|9600|19200\n"
    "    model=extended|standard|old  gas=0..255  text=\"440 270 440 CH4 %\" (30 characters at "
    "most)\n"
    "    conc=%LEL  wave=constant|ramp|sine|noise|gas  amp=%LEL  period=seconds\n"
    "    wave=gas: t90=s dead=s gain= offset=%LEL noise=%LEL drift=%LEL/h warmup=s\n"
    "      sensor=ok|slow|stuck  relay=ok|dead;  hyst=%LEL (relays, every wave)\n"
    "    thr1=0..255  thr2=0..255  factory=0..65535  version=0..255\n"
    "    aux= ref= work= d= temp= (-32768..32767)\n"
    "    fault=none|silent|wrongcrc|short|long|late|echo|noise\n"
    "  Without --analyzer: one extended analyzer at address 1.\n"
    "  --control PATH: a local socket taking one command a line (gas, power, set, state);\n"
    "  zta-sim ctl PATH sends one. --time-scale K: the gas model runs K times faster (K <= 100).\n"
    "  The first line of output is \"port: PATH\".\n";

namespace {

bool parseLong(const std::string& s, long lo, long hi, long* out) {
    return parseWholeNumber(s, lo, hi, out);
}

bool parseDouble(const std::string& s, double* out) { return parseDecimalNumber(s, out); }

// Splits at commas outside double quotes; the quotes themselves are dropped.
bool splitPairs(const std::string& text, std::vector<std::string>* parts, std::string* error) {
    std::string cur;
    bool quoted = false;
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            parts->push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (quoted) {
        *error = "unbalanced quote in \"" + text + "\"";
        return false;
    }
    parts->push_back(cur);
    return true;
}

}  // namespace

bool parseAnalyzer(const std::string& text, AnalyzerConfig* config, std::string* error) {
    AnalyzerConfig c;
    std::vector<std::string> parts;
    if (!splitPairs(text, &parts, error)) return false;
    for (const std::string& part : parts) {
        if (part.empty()) continue;
        const size_t eq = part.find('=');
        if (eq == std::string::npos) {
            *error = "expected key=value, got \"" + part + "\"";
            return false;
        }
        const std::string key = part.substr(0, eq);
        const std::string value = part.substr(eq + 1);
        long n = 0;
        double d = 0;
        auto bad = [&](const std::string& what) {
            *error = "bad value for " + key + ": \"" + value + "\" (" + what + ")";
            return false;
        };
        auto intIn = [&](long lo, long hi, int* out) {
            if (!parseLong(value, lo, hi, &n))
                return bad("a whole number " + std::to_string(lo) + ".." + std::to_string(hi));
            *out = static_cast<int>(n);
            return true;
        };
        bool ok = true;
        if (key == "address") {
            ok = intIn(0, 255, &c.address);
        } else if (key == "also") {
            c.extraAddresses.clear();
            size_t start = 0;
            while (ok) {
                const size_t semi = value.find(';', start);
                const std::string item = value.substr(start, semi - start);
                if (!parseLong(item, 0, 255, &n)) {
                    ok = bad("numbers 0..255 separated by ';'");
                    break;
                }
                c.extraAddresses.push_back(static_cast<int>(n));
                if (semi == std::string::npos) break;
                start = semi + 1;
            }
        } else if (key == "baud") {
            ok = parseLong(value, 0, 1000000, &n) && baudCode(static_cast<unsigned>(n)) != 0
                     ? (c.baud = static_cast<unsigned>(n), true)
                     : bad("1200, 2400, 4800, 9600 or 19200");
        } else if (key == "model") {
            if (value == "extended")
                c.model = Model::Extended;
            else if (value == "standard")
                c.model = Model::Standard;
            else if (value == "old")
                c.model = Model::OldSoftware;
            else
                ok = bad("extended, standard or old");
        } else if (key == "gas") {
            ok = intIn(0, 255, &c.gasCode);
        } else if (key == "text") {
            if (utf8ToCp1251(value).size() > kTextBlockLength)
                ok = bad("at most 30 characters");
            else
                c.textBlock = value;
        } else if (key == "conc") {
            ok = parseDouble(value, &d) && d >= -32768 && d <= 32767
                     ? (c.concentration = d, true)
                     : bad("a number -32768..32767");
        } else if (key == "wave") {
            if (value == "constant")
                c.wave = Wave::Constant;
            else if (value == "ramp")
                c.wave = Wave::Ramp;
            else if (value == "sine")
                c.wave = Wave::Sine;
            else if (value == "noise")
                c.wave = Wave::Noise;
            else if (value == "gas")
                c.wave = Wave::Gas;
            else
                ok = bad("constant, ramp, sine, noise or gas");
        } else if (key == "amp") {
            ok = parseDouble(value, &d) && d >= 0 && d <= 65535 ? (c.amplitude = d, true)
                                                                : bad("a number 0..65535");
        } else if (key == "period") {
            ok = parseDouble(value, &d) && d > 0 && d <= 1e6 ? (c.periodS = d, true)
                                                             : bad("seconds above 0");
        } else if (key == "thr1") {
            ok = intIn(0, 255, &c.threshold1);
        } else if (key == "thr2") {
            ok = intIn(0, 255, &c.threshold2);
        } else if (key == "factory") {
            ok = intIn(0, 65535, &c.factoryNumber);
        } else if (key == "version") {
            ok = intIn(0, 255, &c.softwareVersion);
        } else if (key == "aux") {
            ok = intIn(-32768, 32767, &c.auxValue);
        } else if (key == "ref") {
            ok = intIn(-32768, 32767, &c.refChannel);
        } else if (key == "work") {
            ok = intIn(-32768, 32767, &c.workChannel);
        } else if (key == "d") {
            ok = intIn(-32768, 32767, &c.dValue);
        } else if (key == "temp") {
            ok = intIn(-32768, 32767, &c.temperature);
        } else if (key == "fault") {
            static const std::pair<const char*, Fault> kFaults[] = {
                {"none", Fault::None},         {"silent", Fault::Silent},
                {"wrongcrc", Fault::WrongCrc}, {"short", Fault::ShortReply},
                {"long", Fault::LongReply},    {"late", Fault::LateReply},
                {"echo", Fault::EchoRequest},  {"noise", Fault::Noise}};
            ok = false;
            for (const auto& [name, f] : kFaults)
                if (value == name) {
                    c.fault = f;
                    ok = true;
                }
            if (!ok) bad("none, silent, wrongcrc, short, long, late, echo or noise");
        } else if (const KeyResult r = applyGasKey(key, value, &c.gas, error);
                   r != KeyResult::Unknown) {
            ok = r == KeyResult::Applied;
        } else {
            *error = "unknown key \"" + key + "\"";
            return false;
        }
        if (!ok) return false;
    }
    std::set<int> taken{c.address};
    for (int extra : c.extraAddresses)
        if (!taken.insert(extra).second) {
            *error = "also: network number " + std::to_string(extra) +
                     " is given twice for one analyzer";
            return false;
        }
    *config = c;
    return true;
}

bool parseProgramOptions(const std::vector<std::string>& args, ProgramOptions* options,
                         std::string* error) {
    ProgramOptions o;
    bool deviceBaudGiven = false;
    std::set<std::string> given;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto next = [&](std::string* out) {
            if (i + 1 >= args.size()) {
                *error = a + " needs a value";
                return false;
            }
            // Only --analyzer may come more than once: a second value of any other would
            // silently replace the first.
            if (a != "--analyzer" && !given.insert(a).second) {
                *error = a + " is given twice";
                return false;
            }
            *out = args[++i];
            return true;
        };
        std::string v;
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (a == "--log") {
            o.log = true;
        } else if (a == "--link" || a == "--device") {
            std::string& path = a == "--link" ? o.link : o.device;
            if (!next(&path)) return false;
            if (path.empty()) {
                *error = a + " needs a path, not an empty text";
                return false;
            }
        } else if (a == "--line-echo") {
            double ms = 0;
            if (!next(&v)) return false;
            if (!parseDouble(v, &ms) || ms < 0 || ms > 1000) {
                *error = "--line-echo: \"" + v + "\" is not a time of 0 to 1000 ms";
                return false;
            }
            o.lineEchoMs = ms;
        } else if (a == "--device-baud") {
            long n = 0;
            if (!next(&v)) return false;
            if (!parseLong(v, 0, 1000000, &n) || baudCode(static_cast<unsigned>(n)) == 0) {
                *error = "--device-baud: \"" + v + "\" is not 1200, 2400, 4800, 9600 or 19200";
                return false;
            }
            o.deviceBaud = static_cast<unsigned>(n);
            deviceBaudGiven = true;
        } else if (a == "--control") {
            if (!next(&o.control)) return false;
        } else if (a == "--time-scale") {
            if (!next(&v)) return false;
            if (!parseDouble(v, &o.timeScale) || !(o.timeScale > 0) || o.timeScale > 100) {
                *error = "--time-scale: \"" + v + "\" is not a factor above 0, at most 100";
                return false;
            }
        } else if (a == "--analyzer") {
            if (!next(&v)) return false;
            AnalyzerConfig c;
            std::string why;
            if (!parseAnalyzer(v, &c, &why)) {
                *error = "--analyzer " + v + ": " + why;
                return false;
            }
            o.analyzers.push_back(c);
        } else {
            *error = "unknown option \"" + a + "\"";
            return false;
        }
    }
    if (o.link.size() && o.device.size()) {
        *error = "--link and --device exclude each other";
        return false;
    }
    if (deviceBaudGiven && o.device.empty()) {
        *error = "--device-baud is the rate of a --device: without one it means nothing";
        return false;
    }
    // One analyzer per network number: a second would answer the same request at once.
    std::set<int> taken;
    for (const AnalyzerConfig& c : o.analyzers) {
        std::vector<int> numbers{c.address};
        numbers.insert(numbers.end(), c.extraAddresses.begin(), c.extraAddresses.end());
        for (int n : numbers)
            if (!taken.insert(n).second) {
                *error = "two analyzers at network number " + std::to_string(n);
                return false;
            }
    }
    if (o.analyzers.empty()) o.analyzers.push_back(AnalyzerConfig{});
    *options = o;
    return true;
}

}  // namespace zta::sim
