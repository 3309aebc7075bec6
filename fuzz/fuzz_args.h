// SPDX-License-Identifier: GPL-3.0-or-later
// A fuzzer's input read as a command line: arguments separated by NUL bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zta::fuzz {

inline std::vector<std::string> splitArgs(const uint8_t* data, size_t size) {
    std::vector<std::string> args;
    std::string cur;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(cur);
            cur.clear();
        } else {
            cur += static_cast<char>(data[i]);
        }
    }
    args.push_back(cur);
    return args;
}

}  // namespace zta::fuzz
