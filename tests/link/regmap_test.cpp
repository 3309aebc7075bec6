// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/regmap.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/baud.h"
#include "link/cp1251.h"
#include "link/modbus.h"

namespace zta {
namespace {

std::vector<uint8_t> reply(size_t length) {
    std::vector<uint8_t> r(length, 0);
    r[0] = 1;
    r[1] = kFnReadInput;
    r[2] = static_cast<uint8_t>(length - 5);
    return r;
}

TEST(decodeReadings, SignedValuesVersionMarkerAndRelays) {
    auto r = reply(kShortReplyLength);
    r[3] = 2;                    // gas code
    r[4] = 5;                    // relays
    r[5] = 0xFF, r[6] = 0x9C;    // -100 %LEL
    r[7] = 20, r[8] = 200;       // thresholds are unsigned bytes
    r[9] = 0x00, r[10] = 0x64;   // aux 100
    r[11] = 0x80, r[12] = 0x00;  // ref -32768
    r[13] = 0x7F, r[14] = 0xFF;  // work 32767
    r[15] = 0x00, r[16] = 0x01;  // d
    r[17] = 0xFF, r[18] = 0xFE;  // temperature -2
    r[19] = 0xFF, r[20] = 0xFF;  // factory number: a serial number, never negative
    r[21] = 0xA5, r[22] = 0x0C;
    const ReplyReadings d = decodeReadings(r.data());
    EXPECT_EQ(d.relayState, 5);
    EXPECT_EQ(d.concentration, -100.0);
    EXPECT_EQ(d.threshold1, 20);
    EXPECT_EQ(d.threshold2, 200);
    EXPECT_EQ(d.auxValue, 100);
    EXPECT_EQ(d.refChannel, -32768);
    EXPECT_EQ(d.workChannel, 32767);
    EXPECT_EQ(d.dValue, 1);
    EXPECT_EQ(d.temperature, -2);
    EXPECT_EQ(d.factoryNumber, 65535);
    EXPECT_EQ(d.softwareVersion, 12);
    EXPECT_EQ(decodeGasCode(r.data()), 2);

    r[5] = 0x00, r[6] = 0x64;
    r[21] = 0x00;  // no marker: old software, whatever byte 22 holds
    const ReplyReadings old = decodeReadings(r.data());
    EXPECT_EQ(old.concentration, 100.0);
    EXPECT_EQ(old.softwareVersion, -1);
}

TEST(GasNames, CodesZeroToEightOnly) {
    EXPECT_STREQ(gasNameForCode(0), "-");
    EXPECT_STREQ(gasNameForCode(1), "Метан");
    EXPECT_STREQ(gasNameForCode(7), "Циклопентан");
    EXPECT_STREQ(gasNameForCode(8), "Пропилен");
    EXPECT_EQ(gasNameForCode(9), nullptr);
    EXPECT_EQ(gasNameForCode(-1), nullptr);
}

std::string padded(std::string text) {
    text.resize(kTextBlockLength, ' ');
    return text;
}

TEST(TextBlock, Cases) {
    struct Case {
        std::string text;
        double range, mid, max;
        std::string gas, unit;
    } cases[] = {
        {padded("440 270 440 CH4 %"), 4.4, 2.7, 4.4, "CH4", "%" + std::string(13, ' ')},
        {padded("NoSpacesAtAllInThisTextBlock!!"), 0, 0, 0, "", "NoSpacesAtAllInThisTextBlock!!"},
        {padded("100 50 100 C3H8 %-LEL"), 1.0, 0.5, 1.0, "C3H8", "%НКПР"},
        {padded("-5 +7 x9 gas"), -0.05, 0.07, 0.0, "gas", std::string(17, ' ')},
        // A zero byte ends every search: no further space is found, the unit is the whole text.
        {std::string("440\0 270 440 CH4 %", 19) + std::string(11, ' '), 0, 0, 0, "",
         std::string("440\0 270 440 CH4 %", 19) + std::string(11, ' ')},
    };
    for (const auto& c : cases) {
        const TextBlock t = parseTextBlock(c.text);
        EXPECT_DOUBLE_EQ(t.deviceRange, c.range) << c.text;
        EXPECT_DOUBLE_EQ(t.deviceMidGas, c.mid) << c.text;
        EXPECT_DOUBLE_EQ(t.deviceMaxGas, c.max) << c.text;
        EXPECT_EQ(t.gasName, c.gas) << c.text;
        EXPECT_EQ(t.unitName, c.unit) << c.text;
    }
    // Windows-1251 bytes of the block come out as UTF-8.
    const TextBlock ru = parseTextBlock(padded(utf8ToCp1251("440 270 440 Метан об.%")));
    EXPECT_EQ(ru.gasName, "Метан");
    EXPECT_EQ(ru.unitName.substr(0, 6), "об.%");
}

TEST(leadingDecimal, Saturates) {
    EXPECT_EQ(leadingDecimal("  42abc"), 42);
    EXPECT_EQ(leadingDecimal(""), 0);
    EXPECT_EQ(leadingDecimal("-"), 0);
    EXPECT_EQ(leadingDecimal("99999999999999999999"), 2147483647);
    EXPECT_EQ(leadingDecimal("-99999999999999999999"), -2147483647 - 1);
}

TEST(Commands, EncodeAndBaudCodes) {
    struct Case {
        const char* name;
        RegisterWrite got;
        uint16_t reg, value;
    } cases[] = {
        {"new number 7 on 9600", encodeNewAddress(7, 9600), 0, 0x0708},
        {"baud 9600 at 5", encodeNewBaud(5, 8), 0, 0x0508},
        {"zero", encodeZero(), 1, 0},
        {"mid 2.7", encodeMidGas(2.7), 2, 2700},
        {"max 4.4", encodeMaxGas(4.4), 3, 4400},
        {"max 0.64", encodeMaxGas(0.64), 3, 640},
        {"typical", encodeTypical(), 4, 1},
        {"threshold1 25", encodeThreshold1(25), 5, 0x0019},
        {"threshold2 255", encodeThreshold2(255), 6, 255},
        {"factory 65535", encodeFactoryNumber(65535), 7, 0xFFFF},
        {"factory 70000 low bits", encodeFactoryNumber(70000), 7, 70000 & 0xFFFF},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.got.reg, c.reg) << c.name;
        EXPECT_EQ(c.got.value, c.value) << c.name;
    }
    // New number 7 for the analyzer at 3 on a 9600-baud line.
    const RegisterWrite w = encodeNewAddress(7, 9600);
    const Request r = writeRequest(3, w.reg, w.value);
    EXPECT_EQ(r[4], 0x07);
    EXPECT_EQ(r[5], 0x08);
    for (unsigned rate : kBaudRates) EXPECT_EQ(baudForCode(baudCode(rate)), rate);
    EXPECT_EQ(baudCode(38400), 0);
    EXPECT_EQ(baudForCode(3), 0u);
}

// The one rate table: the analyzer's rates are exactly the coded rows, and every termios speed
// reads back as its rate (the simulator learns the station's rate that way).
TEST(BaudTable, CodesRatesAndSpeedsAgree) {
    std::vector<unsigned> coded;
    for (const BaudRow& row : kBaudTable) {
        SCOPED_TRACE(row.rate);
        if (row.code != 0) coded.push_back(row.rate);
        EXPECT_EQ(analyzerRate(row.rate), row.code != 0);
        EXPECT_EQ(baudRowForRate(row.rate), &row);
#ifndef _WIN32
        EXPECT_EQ(rateForSpeed(row.speed), row.rate);
#endif
    }
    EXPECT_EQ(coded, std::vector<unsigned>(std::begin(kBaudRates), std::end(kBaudRates)));
    EXPECT_EQ(baudRowForRate(600), nullptr);
    EXPECT_FALSE(analyzerRate(38400));
}

// Every value with up to three decimals that the register holds goes out as exactly its digits,
// as the operator typed it (4.06 once went out as 4059), and truncation toward zero stays.
TEST(GasValues, EveryDecimalValueGoesOutAsItsDigits) {
    int wrong = 0;
    for (int n = 0; n <= 65535; ++n) {
        char text[16];
        std::snprintf(text, sizeof text, "%d.%03d", n / 1000, n % 1000);
        const double typed = std::strtod(text, nullptr);
        const uint16_t mid = encodeMidGas(typed).value, max = encodeMaxGas(typed).value;
        if (mid != n || max != n) {
            if (++wrong <= 10) ADD_FAILURE() << text << " went out as " << mid << " / " << max;
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(gasRegisterValue(4.0599), 4059);
    EXPECT_EQ(gasRegisterValue(2.0109), 2010);
    EXPECT_EQ(truncateDecimal(0.58, 50.0), 29.0);
    EXPECT_EQ(truncateDecimal(-2.01, 1000.0), -2010.0);
    EXPECT_EQ(truncateDecimal(37.9, 1.0), 37.0);
}

TEST(cp1251, RoundTripAndReplacement) {
    const std::string ru = "Прибор №5 Ёё %НКПР";
    EXPECT_EQ(cp1251ToUtf8(utf8ToCp1251(ru)), ru);
    EXPECT_EQ(utf8ToCp1251("Т(у.е.)"), std::string("\xD2(\xF3.\xE5.)"));
    EXPECT_EQ(utf8ToCp1251("€"), "\x88");
    EXPECT_EQ(utf8ToCp1251("漢"), "?");
    EXPECT_EQ(utf8ToCp1251("\xFF\xC3"), "??");  // malformed UTF-8 never reads past the end
    EXPECT_EQ(cp1251ToUtf8("\x98"), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace zta
