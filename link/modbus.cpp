// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/modbus.h"

#include "link/crc.h"

namespace zta {

Request buildRequest(uint8_t address, uint8_t function, uint16_t reg, uint16_t countOrValue) {
    Request r{address,
              function,
              static_cast<uint8_t>(reg >> 8),
              static_cast<uint8_t>(reg & 0xFF),
              static_cast<uint8_t>(countOrValue >> 8),
              static_cast<uint8_t>(countOrValue & 0xFF),
              0,
              0};
    sealFrame(r.data(), r.size());
    return r;
}

Request readRequest(uint8_t address, uint16_t firstRegister, uint16_t count) {
    return buildRequest(address, kFnReadInput, firstRegister, count);
}

Request writeRequest(uint8_t address, uint16_t reg, uint16_t value) {
    return buildRequest(address, kFnWriteSingle, reg, value);
}

void readdress(Request& request, uint8_t address) {
    request[0] = address;
    sealFrame(request.data(), request.size());
}

void sealFrame(uint8_t* frame, size_t length) {
    if (length < 2) return;
    const uint16_t crc = crc16Modbus(frame, length - 2);
    frame[length - 2] = static_cast<uint8_t>(crc & 0xFF);
    frame[length - 1] = static_cast<uint8_t>(crc >> 8);
}

bool crcPasses(const uint8_t* frame, size_t length) {
    if (length < 3) return false;
    const uint16_t crc = crc16Modbus(frame, length - 2);
    return frame[length - 2] == (crc & 0xFF) && frame[length - 1] == (crc >> 8);
}

bool isExactEcho(const Request& request, const uint8_t* reply, size_t length) {
    if (length != request.size()) return false;
    for (size_t i = 0; i < request.size(); ++i)
        if (reply[i] != request[i]) return false;
    return true;
}

}  // namespace zta
