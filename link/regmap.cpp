// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/regmap.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>

#include "link/baud.h"
#include "link/cp1251.h"

namespace zta {
namespace {

int signed16(const uint8_t* reply, size_t high) {
    return static_cast<int16_t>(static_cast<uint16_t>(reply[high] << 8 | reply[high + 1]));
}

constexpr const char* kGasNames[] = {"-",        "Метан",  "Пропан",      "Гексан",  "Бутан",
                                     "Изобутан", "Пентан", "Циклопентан", "Пропилен"};

// A zero byte ends any search that reaches it, so a space after it is never found.
long findSpace(std::string_view text, long from) {
    if (from < 0 || from >= static_cast<long>(text.size())) return -1;
    for (long i = from; i < static_cast<long>(text.size()); ++i) {
        if (text[i] == '\0') return -1;
        if (text[i] == ' ') return i;
    }
    return -1;
}

std::string_view between(std::string_view text, long a, long b) {
    if (b < 0 || b < a || a < 0) return {};
    return text.substr(a, b - a);
}

}  // namespace

ReplyReadings decodeReadings(const uint8_t* reply) {
    ReplyReadings r;
    r.relayState = reply[4];
    r.concentration = signed16(reply, 5);
    r.threshold1 = reply[7];
    r.threshold2 = reply[8];
    r.auxValue = signed16(reply, 9);
    r.refChannel = signed16(reply, 11);
    r.workChannel = signed16(reply, 13);
    r.dValue = signed16(reply, 15);
    r.temperature = signed16(reply, 17);
    // A serial number, 0..65535: the only register read unsigned.
    r.factoryNumber = reply[19] << 8 | reply[20];
    r.softwareVersion = reply[21] == kVersionMarker ? reply[22] : -1;
    return r;
}

uint8_t decodeGasCode(const uint8_t* reply) { return reply[3]; }

const char* gasNameForCode(int code) {
    return code >= 0 && code <= kMaxGasCode ? kGasNames[code] : nullptr;
}

int leadingDecimal(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

TextBlock parseTextBlock(std::string_view text) {
    TextBlock t;
    const long p1 = findSpace(text, 0);
    const int n1 = leadingDecimal(between(text, 0, p1));
    long s = p1 + 1;
    const long p2 = findSpace(text, s);
    const int n2 = leadingDecimal(between(text, s, p2));
    s = p2 + 1;
    const long p3 = findSpace(text, s);
    const int n3 = leadingDecimal(between(text, s, p3));
    s = p3 + 1;
    const long p4 = findSpace(text, s);
    t.gasName = cp1251ToUtf8(between(text, s, p4));
    const std::string_view unit = p4 < 0 ? text : text.substr(p4 + 1);
    t.unitName = cp1251ToUtf8(unit);
    if (!unit.empty() && unit.find('-') != std::string_view::npos) t.unitName = "%НКПР";
    t.deviceRange = n1 * 0.01;
    t.deviceMidGas = n2 * 0.01;
    t.deviceMaxGas = n3 * 0.01;
    return t;
}

double truncateDecimal(double value, double scale) {
    const double product = value * scale;
    // Far above the error of one multiplication, far below the last digit anyone types.
    const double tolerance = 1e-9 * std::max(1.0, std::fabs(product));
    return std::trunc(product + (product >= 0 ? tolerance : -tolerance));
}

uint16_t gasRegisterValue(double volumePercent) {
    const double product = truncateDecimal(volumePercent, 1000.0);
    if (!std::isfinite(product)) return 0;
    // Low 16 bits of the truncated integer, as the analyzer expects; out-of-range values are
    // refused by the dialogs long before they get here.
    const long long whole = product > 1e15    ? 0
                            : product < -1e15 ? 0
                                              : static_cast<long long>(product);
    return static_cast<uint16_t>(whole & 0xFFFF);
}

RegisterWrite encodeNewAddress(int newAddress, unsigned lineBaud) {
    return {0, static_cast<uint16_t>((newAddress & 0xFF) << 8 | baudCode(lineBaud))};
}
RegisterWrite encodeNewBaud(int currentAddress, uint8_t newBaudCode) {
    return {0, static_cast<uint16_t>((currentAddress & 0xFF) << 8 | newBaudCode)};
}
RegisterWrite encodeZero() { return {1, 0}; }
RegisterWrite encodeMidGas(double volumePercent) { return {2, gasRegisterValue(volumePercent)}; }
RegisterWrite encodeMaxGas(double volumePercent) { return {3, gasRegisterValue(volumePercent)}; }
RegisterWrite encodeTypical() { return {4, 1}; }
RegisterWrite encodeThreshold1(uint8_t value) { return {5, value}; }
RegisterWrite encodeThreshold2(uint8_t value) { return {6, value}; }
RegisterWrite encodeFactoryNumber(int factoryNumber) {
    return {7, static_cast<uint16_t>(factoryNumber & 0xFFFF)};
}

uint8_t baudCode(unsigned baud) {
    const BaudRow* row = baudRowForRate(baud);
    return row ? row->code : 0;
}

unsigned baudForCode(unsigned code) {
    if (code == 0) return 0;
    for (const BaudRow& row : kBaudTable)
        if (row.code == code) return row.rate;
    return 0;
}

}  // namespace zta
