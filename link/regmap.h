// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zta {

// Decoded from bytes 3..22 of an accepted 25- or 55-byte reply.
struct ReplyReadings {
    uint8_t relayState = 0;
    double concentration = 0.0;  // %LEL
    uint8_t threshold1 = 0;
    uint8_t threshold2 = 0;
    int auxValue = 0;
    int refChannel = 0;
    int workChannel = 0;
    int dValue = 0;
    int temperature = 0;
    int factoryNumber = 0;    // 0..65535
    int softwareVersion = 0;  // version x 10, or -1 without the 0xA5 marker
};

// The 30-character text block of the long read; texts are UTF-8.
struct TextBlock {
    double deviceRange = 0.0;
    double deviceMidGas = 0.0;
    double deviceMaxGas = 0.0;
    std::string gasName;
    std::string unitName;
};

constexpr size_t kTextBlockOffset = 23;
constexpr size_t kTextBlockLength = 30;
constexpr uint8_t kVersionMarker = 0xA5;
constexpr int kMaxGasCode = 8;

ReplyReadings decodeReadings(const uint8_t* reply);
uint8_t decodeGasCode(const uint8_t* reply);

// The name for codes 0..8 (UTF-8), nullptr above: such a code leaves the stored name alone.
const char* gasNameForCode(int code);

// Parses the Windows-1251 text block (exactly kTextBlockLength bytes).
TextBlock parseTextBlock(std::string_view cp1251Text);

// The decimal value of the leading part of a text: leading white space, an optional sign, then
// digits; no digits give 0. Values beyond int saturate rather than wrap.
int leadingDecimal(std::string_view text);

struct RegisterWrite {
    uint16_t reg;
    uint16_t value;
};

enum class Command {
    NewAddress,     // register 0: new number << 8 | baud code of the line rate
    NewBaud,        // register 0: current number << 8 | new baud code
    Zero,           // register 1
    MidGas,         // register 2
    MaxGas,         // register 3
    Typical,        // register 4
    Threshold1,     // register 5
    Threshold2,     // register 6
    FactoryNumber,  // register 7
};

RegisterWrite encodeNewAddress(int newAddress, unsigned lineBaud);
RegisterWrite encodeNewBaud(int currentAddress, uint8_t newBaudCode);
RegisterWrite encodeZero();
RegisterWrite encodeMidGas(double volumePercent);
RegisterWrite encodeMaxGas(double volumePercent);
RegisterWrite encodeTypical();
RegisterWrite encodeThreshold1(uint8_t value);
RegisterWrite encodeThreshold2(uint8_t value);
RegisterWrite encodeFactoryNumber(int factoryNumber);

// value x scale truncated toward zero, as the decimal number the operator typed or saw: a
// product that binary floating point leaves a hair short of a whole number (4.06 x 1000 gives
// 4059.9999...) is that whole number. The one rule for every value sent to an analyzer.
double truncateDecimal(double value, double scale);

// Gas value x 1000 truncated toward zero (truncateDecimal), low 16 bits.
uint16_t gasRegisterValue(double volumePercent);

// 1200:1, 2400:2, 4800:4, 9600:8, 19200:16; 0 for any other rate / code.
uint8_t baudCode(unsigned baud);
unsigned baudForCode(unsigned code);

constexpr unsigned kBaudRates[] = {1200, 2400, 4800, 9600, 19200};

}  // namespace zta
