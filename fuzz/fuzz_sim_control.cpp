// SPDX-License-Identifier: GPL-3.0-or-later
// One line of zta-sim's control channel, parsed and run on two analyzers. Whatever comes in,
// the answer is one line of JSON that says ok or not, and an accepted command holds only
// values the analyzers can take.
#include <cmath>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sim/analyzer.h"
#include "sim/control.h"
#include "sim/gas_model.h"

namespace {

// The answer is valid UTF-8 without a raw control character (JSON's own rule for strings).
bool cleanUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x20) return false;
        const size_t n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        if (n == 0 || c > 0xF4 || i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zta::sim;
    const std::string line(reinterpret_cast<const char*>(data), size);
    ControlCommand command;
    std::string error;
    std::string answer;
    if (!parseControlLine(line, &command, &error)) {
        if (error.empty()) __builtin_trap();
        answer = controlRefusal(error);
    } else {
        std::set<int> seen;
        for (int n : command.to)
            if (n < 0 || n > 255 || !seen.insert(n).second) __builtin_trap();
        const double limit = command.volume ? kMaxGasVolume : kMaxGasLel;
        if (!std::isfinite(command.amount) || command.amount < 0 || command.amount > limit)
            __builtin_trap();
        GasSettings s;
        for (const auto& [key, value] : command.settings)
            if (applyGasKey(key, value, &s, &error) != KeyResult::Applied) __builtin_trap();
        if (!(s.gain > 0) || s.t90S < 0 || s.deadS < 0 || s.noise < 0) __builtin_trap();

        AnalyzerConfig a;
        a.address = 1;
        a.wave = Wave::Gas;
        AnalyzerConfig b = a;
        b.address = 2;
        b.gasCode = 0;
        const std::vector<std::shared_ptr<Analyzer>> analyzers{std::make_shared<Analyzer>(a),
                                                               std::make_shared<Analyzer>(b)};
        answer = runControl(command, analyzers, 1.0, 10.0);
        for (const auto& x : analyzers) {
            const AnalyzerState st = x->state(2.0, 20.0);
            if (!std::isfinite(st.indicatedLel) || !std::isfinite(st.sensedLel)) __builtin_trap();
        }
    }
    if (answer.rfind("{\"ok\":", 0) != 0 || answer.back() != '}') __builtin_trap();
    if (!cleanUtf8(answer)) __builtin_trap();
    return 0;
}
