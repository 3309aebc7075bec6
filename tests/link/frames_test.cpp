#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/crc.h"
#include "link/modbus.h"

namespace zta {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Of(const Request& r) { return Bytes(r.begin(), r.end()); }

TEST(Crc16Modbus, CheckValueAndWorkedFrames) {
    const std::string check = "123456789";
    EXPECT_EQ(Crc16Modbus(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0x4B37);
    const uint8_t head[] = {0x01, 0x04, 0x00, 0x01, 0x00, 0x0A};
    EXPECT_EQ(Crc16Modbus(head, sizeof head), 0xCD21);
}

TEST(Requests, WorkedFramesByteForByte) {
    struct Case {
        const char* name;
        Request request;
        Bytes expected;
    } cases[] = {
        {"current readings", ReadRequest(1, kReadingsRegister, kShortReadCount),
         {0x01, 0x04, 0x00, 0x01, 0x00, 0x0A, 0x21, 0xCD}},
        {"readings with text", ReadRequest(1, kReadingsRegister, kLongReadCount),
         {0x01, 0x04, 0x00, 0x01, 0x00, 0x19, 0x60, 0x00}},
        {"presence probe", ReadRequest(1, kProbeRegister, kProbeCount),
         {0x01, 0x04, 0x00, 0x02, 0x00, 0x08, 0x50, 0x0C}},
        {"zero", WriteRequest(1, 1, 0), {0x01, 0x06, 0x00, 0x01, 0x00, 0x00, 0xD8, 0x0A}},
        {"typical", WriteRequest(1, 4, 1), {0x01, 0x06, 0x00, 0x04, 0x00, 0x01, 0x09, 0xCB}},
        {"baud 9600 at 5", WriteRequest(5, 0, 0x0508),
         {0x05, 0x06, 0x00, 0x00, 0x05, 0x08, 0x8A, 0xD8}},
    };
    for (const auto& c : cases) EXPECT_EQ(Of(c.request), c.expected) << c.name;

    // A template re-addressed in place gets a fresh CRC.
    Request t = ReadRequest(7, kReadingsRegister, kShortReadCount);
    Readdress(t, 1);
    EXPECT_EQ(Of(t), cases[0].expected);
}

// A 25-byte read reply from network number 3 with a valid CRC.
Bytes ValidShortReply(uint8_t address) {
    Bytes r(kShortReplyLength, 0);
    r[0] = address;
    r[1] = kFnReadInput;
    r[2] = 20;
    r[6] = 0x64;
    SealFrame(r.data(), r.size());
    return r;
}

TEST(Acceptance, CrcAndEchoRules) {
    const Bytes good = ValidShortReply(3);
    EXPECT_TRUE(CrcPasses(good.data(), good.size()));

    Bytes swapped = good;
    std::swap(swapped[23], swapped[24]);
    EXPECT_FALSE(CrcPasses(swapped.data(), swapped.size()));

    const Bytes exception = {0x01, 0x84, 0x02, 0xC2, 0xC1};
    EXPECT_TRUE(CrcPasses(exception.data(), exception.size()));

    EXPECT_FALSE(CrcPasses(good.data(), 2));
    EXPECT_FALSE(CrcPasses(good.data(), 0));

    const Request zero = WriteRequest(1, 1, 0);
    Bytes echo = Of(zero);
    EXPECT_TRUE(IsExactEcho(zero, echo.data(), echo.size()));
    EXPECT_FALSE(IsExactEcho(zero, echo.data(), 7));
    for (size_t byte = 0; byte < echo.size(); ++byte) {
        Bytes bent = echo;
        bent[byte] ^= 0x01;  // one bit off anywhere, value or CRC, leaves the command pending
        EXPECT_FALSE(IsExactEcho(zero, bent.data(), bent.size())) << "byte " << byte;
    }
}

TEST(WireTime, TenBitsPerByte) {
    EXPECT_EQ(WireTimeUs(33, 9600), 34375);
    EXPECT_EQ(WireTimeUs(8, 19200), 4167);
    EXPECT_EQ(WireTimeUs(8, 0), 0);
}

}  // namespace
}  // namespace zta
