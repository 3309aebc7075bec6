// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/crc.h"
#include "link/modbus.h"
#include "link/reply_view.h"

namespace zta {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes of(const Request& r) { return Bytes(r.begin(), r.end()); }

TEST(crc16Modbus, CheckValueAndWorkedFrames) {
    const std::string check = "123456789";
    EXPECT_EQ(crc16Modbus(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0x4B37);
    const uint8_t head[] = {0x01, 0x04, 0x00, 0x01, 0x00, 0x0A};
    EXPECT_EQ(crc16Modbus(head, sizeof head), 0xCD21);
}

TEST(Requests, WorkedFramesByteForByte) {
    struct Case {
        const char* name;
        Request request;
        Bytes expected;
    } cases[] = {
        {"current readings",
         readRequest(1, kReadingsRegister, kShortReadCount),
         {0x01, 0x04, 0x00, 0x01, 0x00, 0x0A, 0x21, 0xCD}},
        {"readings with text",
         readRequest(1, kReadingsRegister, kLongReadCount),
         {0x01, 0x04, 0x00, 0x01, 0x00, 0x19, 0x60, 0x00}},
        {"presence probe",
         readRequest(1, kProbeRegister, kProbeCount),
         {0x01, 0x04, 0x00, 0x02, 0x00, 0x08, 0x50, 0x0C}},
        {"zero", writeRequest(1, 1, 0), {0x01, 0x06, 0x00, 0x01, 0x00, 0x00, 0xD8, 0x0A}},
        {"typical", writeRequest(1, 4, 1), {0x01, 0x06, 0x00, 0x04, 0x00, 0x01, 0x09, 0xCB}},
        {"baud 9600 at 5",
         writeRequest(5, 0, 0x0508),
         {0x05, 0x06, 0x00, 0x00, 0x05, 0x08, 0x8A, 0xD8}},
    };
    for (const auto& c : cases) EXPECT_EQ(of(c.request), c.expected) << c.name;

    // A template re-addressed in place gets a fresh CRC.
    Request t = readRequest(7, kReadingsRegister, kShortReadCount);
    readdress(t, 1);
    EXPECT_EQ(of(t), cases[0].expected);
}

// A 25-byte read reply from network number 3 with a valid CRC.
Bytes validShortReply(uint8_t address) {
    Bytes r(kShortReplyLength, 0);
    r[0] = address;
    r[1] = kFnReadInput;
    r[2] = 20;
    r[6] = 0x64;
    sealFrame(r.data(), r.size());
    return r;
}

TEST(Acceptance, CrcAndEchoRules) {
    const Bytes good = validShortReply(3);
    EXPECT_TRUE(crcPasses(good.data(), good.size()));

    Bytes swapped = good;
    std::swap(swapped[23], swapped[24]);
    EXPECT_FALSE(crcPasses(swapped.data(), swapped.size()));

    const Bytes exception = {0x01, 0x84, 0x02, 0xC2, 0xC1};
    EXPECT_TRUE(crcPasses(exception.data(), exception.size()));

    EXPECT_FALSE(crcPasses(good.data(), 2));
    EXPECT_FALSE(crcPasses(good.data(), 0));

    const Request zero = writeRequest(1, 1, 0);
    Bytes echo = of(zero);
    EXPECT_TRUE(isExactEcho(zero, echo.data(), echo.size()));
    EXPECT_FALSE(isExactEcho(zero, echo.data(), 7));
    for (size_t byte = 0; byte < echo.size(); ++byte) {
        Bytes bent = echo;
        bent[byte] ^= 0x01;  // one bit off anywhere, value or CRC, leaves the command pending
        EXPECT_FALSE(isExactEcho(zero, bent.data(), bent.size())) << "byte " << byte;
    }
}

Bytes fromHex(const char* hex) {
    Bytes out;
    for (const char* p = hex; *p;) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        out.push_back(static_cast<uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
        p += 2;
    }
    return out;
}

// Frames as they come off the line, and what each named check makes of them.
TEST(ReplyView, HexFramesAndVerdicts) {
    const Request shortRead = readRequest(3, kReadingsRegister, kShortReadCount);
    const Request probe = readRequest(5, kProbeRegister, kProbeCount);
    const Request write = writeRequest(1, 1, 0);
    struct Case {
        const char* name;
        const char* hex;
        const Request* request;
        uint8_t address, function;
        bool crc, expectedLength, exception, echo;
        uint8_t exceptionCode;
    } cases[] = {
        {"read reply", "03 04 14 00 00 00 64 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 66 27",
         &shortRead, 3, 0x04, true, true, false, false, 0},
        {"read reply, CRC bytes swapped",
         "03 04 14 00 00 00 64 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 27 66", &shortRead,
         3, 0x04, false, true, false, false, 0},
        {"read reply cut short", "03 04 14 00 00 00 64", &shortRead, 3, 0x04, false, false, false,
         false, 0},
        {"probe reply", "05 04 10 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 A4 1C", &probe, 5,
         0x04, true, true, false, false, 0},
        {"read refused", "01 84 02 C2 C1", &shortRead, 1, 0x84, true, false, true, false, 0x02},
        {"write refused", "01 86 03 02 61", &write, 1, 0x86, true, false, true, false, 0x03},
        {"write echoed", "01 06 00 01 00 00 D8 0A", &write, 1, 0x06, true, true, false, true, 0},
        {"write echo, one bit off", "01 06 00 01 00 01 D8 0A", &write, 1, 0x06, false, true, false,
         false, 0},
        {"a lone byte", "01", &shortRead, 1, 0, false, false, false, false, 0},
        {"nothing", "", &shortRead, 0, 0, false, false, false, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes frame = fromHex(c.hex);
        const ReplyView v(frame.data(), frame.size());
        EXPECT_EQ(v.address(), c.address);
        EXPECT_EQ(v.function(), c.function);
        EXPECT_EQ(v.crcMatches(), c.crc);
        EXPECT_EQ(v.hasExpectedLength(*c.request), c.expectedLength);
        EXPECT_EQ(v.isException(), c.exception);
        EXPECT_EQ(v.exceptionCode(), c.exceptionCode);
        EXPECT_EQ(v.isEchoOf(*c.request), c.echo);
    }
    EXPECT_EQ(expectedReplyLength(readRequest(1, kReadingsRegister, kLongReadCount)),
              kLongReplyLength);
    EXPECT_EQ(expectedReplyLength(buildRequest(1, 0x03, 0, 1)), 0u);
}

TEST(WireTime, TenBitsPerByte) {
    EXPECT_EQ(wireTimeUs(33, 9600), 34375);
    EXPECT_EQ(wireTimeUs(8, 19200), 4167);
    EXPECT_EQ(wireTimeUs(8, 0), 0);
}

}  // namespace
}  // namespace zta
