// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>

namespace zta {

// CRC-16/MODBUS: reflected polynomial 0xA001, initial 0xFFFF, no final inversion.
// Frames are at most 55 bytes, so the bitwise form costs nothing worth a table.
uint16_t crc16Modbus(const uint8_t* data, size_t length);

}  // namespace zta
