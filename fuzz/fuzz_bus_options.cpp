// SPDX-License-Identifier: GPL-3.0-or-later
// zta-bus's command line: arguments separated by NUL bytes, sub-command first. Whatever is
// accepted holds only values the analyzers can take.
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_args.h"
#include "tools/bus_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args{"zta-bus"};
    for (auto& a : zta::fuzz::splitArgs(data, size)) args.push_back(std::move(a));
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    zta::bus::Options o;
    std::string error;
    if (!zta::bus::parseOptions(static_cast<int>(args.size()) - 1, argv.data() + 1, o, error)) {
        if (error.empty()) __builtin_trap();
        return 0;
    }
    if (o.port.empty() || zta::baudCode(o.baud) == 0) __builtin_trap();
    std::set<int> seen;
    for (int a : o.addresses)
        if (a < 0 || a > 255 || !seen.insert(a).second) __builtin_trap();
    if (o.replyTimeoutMs < 0 || o.replyTimeoutMs > 60000) __builtin_trap();

    zta::RegisterWrite w{};
    if (!zta::bus::parseWriteCommand(o, w, error)) {
        if (error.empty()) __builtin_trap();
        return 0;
    }
    const std::string& command = o.positional[0];
    if ((command == "high" || command == "middle") && (w.value == 0 || w.value > 65535))
        __builtin_trap();
    return 0;
}
