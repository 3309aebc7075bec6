// SPDX-License-Identifier: GPL-3.0-or-later
// A reply of any length and content goes through the acceptance tests and, when accepted,
// the decoders, exactly as the poll thread and the scan use them.
#include <cstdint>
#include <string_view>

#include "link/modbus.h"
#include "link/regmap.h"
#include "link/reply_view.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const zta::Request request = zta::readRequest(size ? data[0] : 1, 1, zta::kLongReadCount);
    (void)zta::isExactEcho(request, data, size);
    // However the header reads, the line never asks for more than a byte count can say.
    if (zta::frameLengthFromHeader(data, size, zta::kLongReplyLength) > 5 + 255) __builtin_trap();
    if (!zta::crcPasses(data, size)) return 0;
    if (size == zta::kShortReplyLength || size == zta::kLongReplyLength) {
        const auto r = zta::decodeReadings(data);
        if (r.softwareVersion < -1 || r.softwareVersion > 255) __builtin_trap();
        (void)zta::gasNameForCode(zta::decodeGasCode(data));
        if (size == zta::kLongReplyLength)
            (void)zta::parseTextBlock(
                std::string_view(reinterpret_cast<const char*>(data) + zta::kTextBlockOffset,
                                 zta::kTextBlockLength));
    }
    return 0;
}
