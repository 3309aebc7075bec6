// SPDX-License-Identifier: GPL-3.0-or-later
// Any 30 bytes in the text block must parse without reading past them, and the UTF-8 that
// comes out must survive the way back to Windows-1251.
#include <cstdint>
#include <cstring>
#include <string>

#include "link/cp1251.h"
#include "link/regmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char text[zta::kTextBlockLength];
    std::memset(text, ' ', sizeof text);
    std::memcpy(text, data, size < sizeof text ? size : sizeof text);
    const auto block = zta::parseTextBlock(std::string_view(text, sizeof text));
    if (block.unitName != "%НКПР") {
        const std::string back = zta::utf8ToCp1251(block.unitName);
        if (back.size() > sizeof text) __builtin_trap();
    }
    (void)zta::utf8ToCp1251(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
