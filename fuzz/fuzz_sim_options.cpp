// SPDX-License-Identifier: GPL-3.0-or-later
// zta-sim's command line: arguments separated by NUL bytes. Whatever is accepted gives every
// network number to one analyzer at most, and texts the text block can hold.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_args.h"
#include "link/cp1251.h"
#include "link/regmap.h"
#include "sim/options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> args = zta::fuzz::splitArgs(data, size);

    zta::sim::ProgramOptions o;
    std::string error;
    if (!zta::sim::parseProgramOptions(args, &o, &error)) {
        if (error.empty()) __builtin_trap();
        return 0;
    }
    if (o.analyzers.empty() || (!o.link.empty() && !o.device.empty())) __builtin_trap();
    if (!(o.timeScale > 0) || o.timeScale > 100) __builtin_trap();
    std::set<int> taken;
    for (const auto& a : o.analyzers) {
        if (!taken.insert(a.address).second || zta::baudCode(a.baud) == 0) __builtin_trap();
        for (int extra : a.extraAddresses)
            if (extra < 0 || extra > 255 || !taken.insert(extra).second) __builtin_trap();
        if (zta::utf8ToCp1251(a.textBlock).size() > zta::kTextBlockLength) __builtin_trap();
        if (!(a.periodS > 0)) __builtin_trap();
        if (!(a.gas.gain > 0) || a.gas.t90S < 0 || a.gas.deadS < 0 || a.gas.warmupS < 0)
            __builtin_trap();
    }
    return 0;
}
