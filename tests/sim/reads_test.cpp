// SPDX-License-Identifier: GPL-3.0-or-later
// Pseudo-terminals: POSIX only.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "link/cp1251.h"
#include "link/modbus.h"
#include "link/regmap.h"
#include "sim_fixture.h"

namespace zta::sim::testing {
namespace {

using ReadsTest = SimTest;

TEST_F(ReadsTest, EachModelAnswersTheReadsItShould) {
    open({at(1, Model::Extended), at(2, Model::Standard), at(3, Model::OldSoftware)});
    const Bytes refused1 = {0x01, 0x84, 0x02, 0xC2, 0xC1};
    struct Case {
        int address;
        uint16_t reg, count;
        size_t length;  // 5: exception 0x84 02
    } cases[] = {
        {1, 1, 10, 25}, {1, 1, 25, 55}, {1, 2, 8, 21},  //
        {2, 1, 10, 25}, {2, 1, 25, 5},  {2, 2, 8, 21},  //
        {3, 1, 10, 25}, {3, 1, 25, 5},  {3, 2, 8, 21},  //
        {1, 1, 5, 5},   {2, 3, 8, 5},   {3, 0, 1, 5},   // reads the station never makes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "address " << c.address << " reg " << c.reg << " count " << c.count);
        const Bytes reply =
            line.exchange(readRequest(static_cast<uint8_t>(c.address), c.reg, c.count), c.length);
        ASSERT_EQ(reply.size(), c.length) << hex(reply);
        EXPECT_TRUE(crcPasses(reply.data(), reply.size()));
        EXPECT_EQ(reply[0], c.address);
        if (c.length == 5) {
            EXPECT_EQ(reply[1], 0x84);
            EXPECT_EQ(reply[2], 0x02);
            if (c.address == 1) {
                EXPECT_EQ(reply, refused1);
            }
        } else {
            EXPECT_EQ(reply[1], 0x04);
            EXPECT_EQ(reply[2], 2 * c.count);
        }
        // Nothing beyond the reply.
        EXPECT_TRUE(line.readUntilQuiet(30, 200).empty());
    }
}

TEST_F(ReadsTest, ReplyValuesDecodeToTheConfiguration) {
    AnalyzerConfig a = at(7);
    a.concentration = -100;
    a.threshold1 = 15;
    a.threshold2 = 60;
    a.auxValue = -2;
    a.refChannel = 3210;
    a.workChannel = -3210;
    a.dValue = 77;
    a.temperature = -40;
    a.factoryNumber = 40000;  // above 0x7FFF: still a plain serial number
    a.softwareVersion = 15;
    a.gasCode = 9;
    AnalyzerConfig old = at(8, Model::OldSoftware);
    open({a, old});

    for (uint16_t count : {kShortReadCount, kLongReadCount}) {
        const Bytes reply = line.exchange(readRequest(7, 1, count), 5 + 2 * count);
        ASSERT_EQ(reply.size(), 5u + 2 * count);
        const ReplyReadings r = decodeReadings(reply.data());
        EXPECT_EQ(r.concentration, -100.0);
        EXPECT_EQ(reply[5], 0xFF);
        EXPECT_EQ(reply[6], 0x9C);
        EXPECT_EQ(r.relayState, 0x01);
        EXPECT_EQ(r.threshold1, 15);
        EXPECT_EQ(r.threshold2, 60);
        EXPECT_EQ(r.auxValue, -2);
        EXPECT_EQ(r.refChannel, 3210);
        EXPECT_EQ(r.workChannel, -3210);
        EXPECT_EQ(r.dValue, 77);
        EXPECT_EQ(r.temperature, -40);
        EXPECT_EQ(r.factoryNumber, 40000);
        EXPECT_EQ(r.softwareVersion, 15);
        EXPECT_EQ(decodeGasCode(reply.data()), 9);
    }
    const Bytes oldReply = line.exchange(readRequest(8, 1, 10), 25);
    ASSERT_EQ(oldReply.size(), 25u);
    EXPECT_EQ(decodeReadings(oldReply.data()).softwareVersion, -1);
    EXPECT_EQ(decodeReadings(oldReply.data()).factoryNumber, 1234);

    // The presence probe carries registers 2..9: concentration first, factory number last.
    const Bytes probe = line.exchange(readRequest(7, kProbeRegister, kProbeCount), 21);
    ASSERT_EQ(probe.size(), 21u);
    EXPECT_EQ(probe[3], 0xFF);
    EXPECT_EQ(probe[4], 0x9C);
    EXPECT_EQ(probe[17] << 8 | probe[18], 40000);
}

TEST_F(ReadsTest, TextBlockIsSentAsWindows1251AndParses) {
    AnalyzerConfig methane = at(1);  // the default text
    AnalyzerConfig propane = at(2);
    propane.textBlock = "170 85 170 Пропан %-НКПР";
    open({methane, propane});

    const Bytes r1 = line.exchange(readRequest(1, 1, 25), 55);
    ASSERT_EQ(r1.size(), 55u);
    const std::string text1(r1.begin() + kTextBlockOffset,
                            r1.begin() + kTextBlockOffset + kTextBlockLength);
    EXPECT_EQ(text1, "440 270 440 CH4 %" + std::string(13, ' '));
    const TextBlock t1 = parseTextBlock(text1);
    EXPECT_DOUBLE_EQ(t1.deviceRange, 4.4);
    EXPECT_DOUBLE_EQ(t1.deviceMidGas, 2.7);
    EXPECT_DOUBLE_EQ(t1.deviceMaxGas, 4.4);
    EXPECT_EQ(t1.gasName, "CH4");

    const Bytes r2 = line.exchange(readRequest(2, 1, 25), 55);
    ASSERT_EQ(r2.size(), 55u);
    const std::string text2(r2.begin() + kTextBlockOffset,
                            r2.begin() + kTextBlockOffset + kTextBlockLength);
    EXPECT_EQ(static_cast<uint8_t>(text2[11]), 0xCF);  // 'П' in Windows-1251: one byte
    const TextBlock t2 = parseTextBlock(text2);
    EXPECT_DOUBLE_EQ(t2.deviceRange, 1.7);
    EXPECT_DOUBLE_EQ(t2.deviceMidGas, 0.85);
    EXPECT_EQ(t2.gasName, "Пропан");
    EXPECT_EQ(t2.unitName, "%НКПР");
}

TEST_F(ReadsTest, RelaysFollowTheThresholds) {
    struct Case {
        double conc;
        uint8_t relays;
    } cases[] = {{-5, 0x01}, {19.4, 0x01}, {19.6, 0x03}, {20, 0x03},
                 {49, 0x03}, {50, 0x07},   {90, 0x07}};
    open({at(1)});
    for (const auto& c : cases) {
        ASSERT_TRUE(bus->setConcentration(1, c.conc));
        const Bytes reply = line.exchange(readRequest(1, 1, 10), 25);
        ASSERT_EQ(reply.size(), 25u);
        // Relays agree with the concentration sent with them, which is rounded.
        EXPECT_EQ(reply[4], c.relays) << c.conc;
        EXPECT_EQ(decodeReadings(reply.data()).concentration, std::round(c.conc)) << c.conc;
    }
}

TEST_F(ReadsTest, OneAnalyzerAtSeveralNumbersAndNoneAtOthers) {
    AnalyzerConfig a = at(3);
    a.extraAddresses = {4, 200};
    open({a});
    for (int address : {3, 4, 200}) {
        const Bytes reply = line.exchange(readRequest(static_cast<uint8_t>(address), 2, 8), 21);
        ASSERT_EQ(reply.size(), 21u) << address;
        EXPECT_EQ(reply[0], address);
        EXPECT_TRUE(crcPasses(reply.data(), 21));
    }
    EXPECT_TRUE(line.exchange(readRequest(9, 2, 8), 21, 300).empty());
    const auto log = bus->log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[1].address, 4);
    EXPECT_EQ(log[3].kind, LogEntry::Kind::Request);
    EXPECT_EQ(log[3].address, -1);
    EXPECT_EQ(log[3].lineBaud, 9600u);
    EXPECT_EQ(bus->state(200)->requestCount, 3);
}

TEST_F(ReadsTest, ReplyTakesTheWireTimeOfRequestAndReply) {
    AnalyzerConfig slow = at(1);
    slow.baud = 1200;
    open({slow}, 1200);
    const auto start = std::chrono::steady_clock::now();
    const Bytes reply = line.exchange(readRequest(1, 1, 10), 25);
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(reply.size(), 25u);
    // 33 bytes of 10 bits at 1200 baud; only the lower bound is checked.
    EXPECT_GE(took, std::chrono::microseconds(wireTimeUs(33, 1200)));
}

}  // namespace
}  // namespace zta::sim::testing

#endif  // _WIN32
