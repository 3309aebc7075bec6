// SPDX-License-Identifier: GPL-3.0-or-later
// Pseudo-terminals: POSIX only.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <functional>

#include "link/modbus.h"
#include "link/regmap.h"
#include "sim_fixture.h"

namespace zta::sim::testing {
namespace {

using WritesTest = SimTest;
using Kind = LogEntry::Kind;

TEST_F(WritesTest, EachWriteIsEchoedExactlyThenApplied) {
    struct Case {
        const char* name;
        uint16_t reg, value;
        std::function<void(const AnalyzerState&)> check;
    } cases[] = {
        {"zero", 1, 0,
         [](const AnalyzerState& s) {
             EXPECT_EQ(s.zeroCount, 1);
             EXPECT_EQ(s.baseConcentration, 0.0);
         }},
        {"mid gas", 2, 2700, [](const AnalyzerState& s) { EXPECT_EQ(s.midGasValue, 2700); }},
        {"max gas", 3, 4400, [](const AnalyzerState& s) { EXPECT_EQ(s.maxGasValue, 4400); }},
        {"typical", 4, 1, [](const AnalyzerState& s) { EXPECT_EQ(s.typicalCount, 1); }},
        {"threshold 1", 5, 25, [](const AnalyzerState& s) { EXPECT_EQ(s.threshold1, 25); }},
        {"threshold 2", 6, 70, [](const AnalyzerState& s) { EXPECT_EQ(s.threshold2, 70); }},
        {"factory number", 7, 54321,
         [](const AnalyzerState& s) { EXPECT_EQ(s.factoryNumber, 54321); }},
    };
    open({at(1)});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bus->clearLog();
        const Request request = writeRequest(1, c.reg, c.value);
        EXPECT_EQ(line.exchange(request, 8), of(request));
        ASSERT_TRUE(waitKind(Kind::WriteApplied, 1));
        const auto log = bus->log();
        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(log[1].reg, c.reg);
        EXPECT_EQ(log[1].value, c.value);
        EXPECT_EQ(log[1].address, 1);
        c.check(*bus->state(1));
    }
    // The readings show what was written.
    const Bytes reply = line.exchange(readRequest(1, 1, 10), 25);
    ASSERT_EQ(reply.size(), 25u);
    const ReplyReadings r = decodeReadings(reply.data());
    EXPECT_EQ(r.concentration, 0.0);
    EXPECT_EQ(r.threshold1, 25);
    EXPECT_EQ(r.threshold2, 70);
    EXPECT_EQ(r.factoryNumber, 54321);
}

TEST_F(WritesTest, NewAddressTakesEffectAfterTheEcho) {
    open({at(3)});
    // A read queued right behind the write is still answered at the old number.
    const Request write = writeRequest(3, 0, 0x0708);
    const Request read = readRequest(3, 1, 10);
    Bytes both = of(write);
    both.insert(both.end(), read.begin(), read.end());
    ASSERT_TRUE(line.write(both));
    const Bytes replies = line.read(8 + 25, 2000);
    ASSERT_EQ(replies.size(), 33u) << hex(replies);
    EXPECT_EQ(Bytes(replies.begin(), replies.begin() + 8), of(write));
    EXPECT_EQ(replies[8], 3);
    ASSERT_TRUE(waitKind(Kind::WriteApplied, 1));

    EXPECT_EQ(bus->state(7)->address, 7);
    EXPECT_FALSE(bus->state(3));
    EXPECT_EQ(line.exchange(readRequest(7, 1, 10), 25).size(), 25u);
    EXPECT_TRUE(line.exchange(readRequest(3, 1, 10), 25, 300).empty());
}

TEST_F(WritesTest, NewBaudTakesEffectAfterTheEcho) {
    open({at(5)});
    const Request write = writeRequest(5, 0, 0x0510);  // 19200
    EXPECT_EQ(line.exchange(write, 8), of(write));     // the echo still at 9600
    ASSERT_TRUE(waitKind(Kind::WriteApplied, 1));
    EXPECT_EQ(bus->state(5)->baud, 19200u);

    EXPECT_TRUE(line.exchange(readRequest(5, 1, 10), 25, 300).empty());
    ASSERT_TRUE(waitKind(Kind::Ignored, 1));
    EXPECT_EQ(bus->log().back().lineBaud, 9600u);

    ASSERT_TRUE(line.setBaud(19200));
    EXPECT_EQ(line.exchange(readRequest(5, 1, 10), 25).size(), 25u);
    EXPECT_EQ(bus->log().back().lineBaud, 19200u);
}

TEST_F(WritesTest, RefusedRequestsChangeNothing) {
    struct Case {
        const char* name;
        Request request;
        uint8_t function, code;
    } cases[] = {
        {"register 8", writeRequest(1, 8, 1), 0x86, 0x02},
        {"baud code 3", writeRequest(1, 0, 0x0103), 0x86, 0x03},
        {"threshold above 255", writeRequest(1, 5, 0x0100), 0x86, 0x03},
        {"function 3", buildRequest(1, 0x03, 1, 10), 0x83, 0x01},
    };
    open({at(1)});
    for (const auto& c : cases) {
        const Bytes reply = line.exchange(c.request, 5);
        ASSERT_EQ(reply.size(), 5u) << c.name;
        EXPECT_EQ(reply[1], c.function) << c.name;
        EXPECT_EQ(reply[2], c.code) << c.name;
        EXPECT_TRUE(crcPasses(reply.data(), 5)) << c.name;
    }
    EXPECT_EQ(countKind(Kind::WriteApplied), 0u);
    const AnalyzerState s = *bus->state(1);
    EXPECT_EQ(s.baud, 9600u);
    EXPECT_EQ(s.threshold1, 20);
    EXPECT_EQ(s.writeCount, 0);
}

TEST_F(WritesTest, OnlyTheAnalyzerAtTheLineRateAnswers) {
    AnalyzerConfig analyzers[5];
    for (int i = 0; i < 5; ++i) {
        analyzers[i] = at(i + 1);
        analyzers[i].baud = kBaudRates[i];
    }
    open({analyzers[0], analyzers[1], analyzers[2], analyzers[3], analyzers[4]});
    for (int rate = 0; rate < 5; ++rate) {
        SCOPED_TRACE(kBaudRates[rate]);
        ASSERT_TRUE(line.setBaud(kBaudRates[rate]));
        bus->clearLog();
        Bytes all;
        for (int i = 0; i < 5; ++i) {
            const Request r = readRequest(static_cast<uint8_t>(i + 1), 2, 8);
            all.insert(all.end(), r.begin(), r.end());
        }
        ASSERT_TRUE(line.write(all));
        const Bytes reply = line.readUntilQuiet(300, 3000);
        ASSERT_EQ(reply.size(), 21u) << hex(reply);
        EXPECT_EQ(reply[0], rate + 1);
        const auto log = bus->log();
        ASSERT_EQ(log.size(), 5u);
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(log[i].kind, i == rate ? Kind::Request : Kind::Ignored) << i;
            EXPECT_EQ(log[i].address, i + 1);
            EXPECT_EQ(log[i].lineBaud, kBaudRates[rate]);
        }
    }
}

}  // namespace
}  // namespace zta::sim::testing

#endif  // _WIN32
