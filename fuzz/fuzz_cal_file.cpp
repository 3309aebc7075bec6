// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as the calibration file. A file that loads is saved and read again: the name and
// both values come back unchanged, and a name in the narrow form keeps its very bytes.
#include <QByteArray>
#include <cstdint>
#include <cstring>

#include "app/cal_data_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray file(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    zta::CalData first;
    const zta::CalReadResult r = zta::decodeCalData(file, first);
    if (r.status != zta::CalReadStatus::Loaded) {
        if (r.warning.isEmpty()) __builtin_trap();
        return 0;
    }
    const QByteArray saved = zta::encodeCalData(first);
    zta::CalData again;
    if (zta::decodeCalData(saved, again).status != zta::CalReadStatus::Loaded) __builtin_trap();
    if (again.calGasName != first.calGasName || again.gasMarks != first.gasMarks) __builtin_trap();
    if (std::memcmp(&again.maxGas, &first.maxGas, sizeof(double)) != 0 ||
        std::memcmp(&again.midGas, &first.midGas, sizeof(double)) != 0)
        __builtin_trap();
    // One-byte prefix: the saved file is the read one up to the second double.
    const auto n = static_cast<qsizetype>(static_cast<uint8_t>(file[0]));
    if (n < 0xFF && saved != file.left(1 + n + 16)) __builtin_trap();
    return 0;
}
