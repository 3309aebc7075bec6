// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/control.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "link/number_text.h"
#include "sim/analyzer.h"
#include "sim/gas_model.h"

namespace zta::sim {
namespace {

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : line) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

bool parseNumbers(const std::string& text, std::vector<int>* out, std::string* error) {
    std::vector<int> numbers;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma - start);
        long n = 0;
        if (!parseWholeNumber(item, 0, 255, &n)) {
            *error = "bad network numbers \"" + text + "\" (0..255 separated by ',')";
            return false;
        }
        if (std::find(numbers.begin(), numbers.end(), n) == numbers.end())
            numbers.push_back(static_cast<int>(n));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    *out = numbers;
    return true;
}

std::string number(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3f", v);
    std::string s = buf;
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
    return s == "-0" ? "0" : s;
}

std::string numberList(const std::vector<int>& numbers) {
    std::string s = "[";
    for (size_t i = 0; i < numbers.size(); ++i) s += (i ? "," : "") + std::to_string(numbers[i]);
    return s + "]";
}

std::string stateOf(Analyzer& a, double t, double modelT) {
    const AnalyzerState s = a.state(t, modelT);
    std::string j = "{\"address\":" + std::to_string(s.address);
    j += ",\"power\":" + std::string(s.powered ? "\"on\"" : "\"off\"");
    j += ",\"gas\":" + number(s.inletLel);
    j += ",\"sensed\":" + number(s.sensedLel);
    j += ",\"indicated\":" + number(s.indicatedLel);
    j += ",\"gain\":" + number(s.gain);
    j += ",\"offset\":" + number(s.offset);
    j += ",\"relay1\":" + std::string(s.relay1 ? "true" : "false");
    j += ",\"relay2\":" + std::string(s.relay2 ? "true" : "false");
    j += ",\"sincePowerOn\":" + (s.powered ? number(s.sincePowerOn) : std::string("null"));
    return j + "}";
}

}  // namespace

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c == '"' || c == '\\') {
                out += '\\';
                out += static_cast<char>(c);
            } else if (c < 0x20 || c == 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        // A well-formed sequence of 2 to 4 bytes goes as it is (overlong forms and surrogates
        // included: the answer stays valid UTF-8 for any reader that takes them).
        const size_t length = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        bool good = length > 0 && i + length <= text.size() && c < 0xF5;
        for (size_t k = 1; good && k < length; ++k)
            good = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (good) {
            out.append(text, i, length);
            i += length;
        } else {
            out += '?';
            ++i;
        }
    }
    return out + "\"";
}

std::string controlRefusal(const std::string& error) {
    return "{\"ok\":false,\"error\":" + jsonString(error) + "}";
}

bool parseControlLine(const std::string& line, ControlCommand* command, std::string* error) {
    std::vector<std::string> args = words(line);
    if (args.empty()) {
        *error = "empty command (gas, power, set or state)";
        return false;
    }
    ControlCommand c;
    const std::string verb = args.front();
    args.erase(args.begin());
    // --to is taken wherever it stands after the command word.
    bool toGiven = false;
    for (size_t i = 0; i < args.size();) {
        if (args[i] != "--to") {
            ++i;
            continue;
        }
        if (toGiven) {
            *error = "--to is given twice";
            return false;
        }
        if (i + 1 >= args.size()) {
            *error = "--to needs network numbers";
            return false;
        }
        if (!parseNumbers(args[i + 1], &c.to, error)) return false;
        toGiven = true;
        args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
    }
    auto usage = [&](const std::string& form) {
        *error = verb + ": expected \"" + form + "\"";
        return false;
    };
    if (verb == "gas") {
        c.kind = ControlCommand::Kind::Gas;
        if (args.size() == 1 && args[0] == "off") {
            c.amount = 0.0;
        } else if (args.size() == 2) {
            const std::string& unit = args[1];
            if (unit == "vol")
                c.volume = true;
            else if (unit != "lel" && unit != "%НКПР")
                return usage("gas N %НКПР|lel|vol");
            const double limit = c.volume ? kMaxGasVolume : kMaxGasLel;
            if (!parseDecimalNumber(args[0], &c.amount) || c.amount < 0 || c.amount > limit) {
                *error =
                    "bad amount of gas \"" + args[0] + "\" (0.." + number(limit) + " " + unit + ")";
                return false;
            }
        } else {
            return usage("gas N %НКПР|lel|vol\" or \"gas off");
        }
    } else if (verb == "power") {
        c.kind = ControlCommand::Kind::Power;
        if (args.size() != 1 || (args[0] != "on" && args[0] != "off")) return usage("power on|off");
        c.on = args[0] == "on";
    } else if (verb == "set") {
        c.kind = ControlCommand::Kind::Set;
        if (!args.empty() && args[0].find('=') == std::string::npos) {
            if (toGiven) {
                *error = "set: the network numbers are given twice";
                return false;
            }
            if (!parseNumbers(args[0], &c.to, error)) return false;
            args.erase(args.begin());
        }
        if (args.empty()) return usage("set [N,N,...] key=value ...");
        GasSettings scratch;
        for (const std::string& arg : args) {
            const size_t eq = arg.find('=');
            if (eq == std::string::npos) return usage("set [N,N,...] key=value ...");
            const std::string key = arg.substr(0, eq), value = arg.substr(eq + 1);
            switch (applyGasKey(key, value, &scratch, error)) {
                case KeyResult::Unknown:
                    *error = "unknown key \"" + key +
                             "\" (t90, dead, gain, offset, noise, drift, hyst, warmup, sensor, "
                             "relay)";
                    return false;
                case KeyResult::Bad:
                    return false;
                case KeyResult::Applied:
                    c.settings.emplace_back(key, value);
                    break;
            }
        }
    } else if (verb == "state") {
        c.kind = ControlCommand::Kind::State;
        if (!args.empty()) return usage("state [--to N,N,...]");
    } else {
        *error = "unknown command \"" + verb + "\" (gas, power, set or state)";
        return false;
    }
    *command = c;
    return true;
}

std::string runControl(const ControlCommand& command,
                       const std::vector<std::shared_ptr<Analyzer>>& analyzers, double t,
                       double modelT) {
    std::vector<std::shared_ptr<Analyzer>> targets;
    if (command.to.empty()) {
        targets = analyzers;
    } else {
        for (int n : command.to) {
            const auto it = std::find_if(analyzers.begin(), analyzers.end(),
                                         [n](const auto& a) { return a->answers(n); });
            if (it == analyzers.end())
                return controlRefusal("no analyzer at network number " + std::to_string(n));
            if (std::find(targets.begin(), targets.end(), *it) == targets.end())
                targets.push_back(*it);
        }
    }
    std::vector<int> numbers;
    for (const auto& a : targets) numbers.push_back(a->config().address);

    switch (command.kind) {
        case ControlCommand::Kind::Gas: {
            std::vector<double> lel;
            for (const auto& a : targets) {
                if (!command.volume) {
                    lel.push_back(command.amount);
                    continue;
                }
                const double limit = lowerLimitVolume(a->config().gasCode);
                if (limit <= 0)
                    return controlRefusal("analyzer " + std::to_string(a->config().address) +
                                          " has no gas of its own (gas code " +
                                          std::to_string(a->config().gasCode) +
                                          "): give the gas in %НКПР");
                lel.push_back(command.amount / limit * 100.0);
            }
            for (size_t i = 0; i < targets.size(); ++i) targets[i]->gas().setInlet(lel[i], modelT);
            break;
        }
        case ControlCommand::Kind::Power:
            for (const auto& a : targets) a->setPower(command.on, modelT);
            break;
        case ControlCommand::Kind::Set:
            for (const auto& a : targets) {
                GasSettings s = a->gas().settings();
                std::string ignored;
                for (const auto& [key, value] : command.settings)
                    applyGasKey(key, value, &s, &ignored);
                a->gas().setSettings(s, modelT);
            }
            break;
        case ControlCommand::Kind::State: {
            std::string j = "{\"ok\":true,\"analyzers\":[";
            for (size_t i = 0; i < targets.size(); ++i)
                j += (i ? "," : "") + stateOf(*targets[i], t, modelT);
            return j + "]}";
        }
    }
    return "{\"ok\":true,\"analyzers\":" + numberList(numbers) + "}";
}

}  // namespace zta::sim
