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
    Open({At(1)});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bus->ClearLog();
        const Request request = WriteRequest(1, c.reg, c.value);
        EXPECT_EQ(line.Exchange(request, 8), Of(request));
        ASSERT_TRUE(WaitKind(Kind::WriteApplied, 1));
        const auto log = bus->Log();
        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(log[1].reg, c.reg);
        EXPECT_EQ(log[1].value, c.value);
        EXPECT_EQ(log[1].address, 1);
        c.check(*bus->State(1));
    }
    // The readings show what was written.
    const Bytes reply = line.Exchange(ReadRequest(1, 1, 10), 25);
    ASSERT_EQ(reply.size(), 25u);
    const Readings r = DecodeReadings(reply.data());
    EXPECT_EQ(r.concentration, 0.0);
    EXPECT_EQ(r.threshold1, 25);
    EXPECT_EQ(r.threshold2, 70);
    EXPECT_EQ(r.factoryNumber, 54321);
}

TEST_F(WritesTest, NewAddressTakesEffectAfterTheEcho) {
    Open({At(3)});
    // A read queued right behind the write is still answered at the old number.
    const Request write = WriteRequest(3, 0, 0x0708);
    const Request read = ReadRequest(3, 1, 10);
    Bytes both = Of(write);
    both.insert(both.end(), read.begin(), read.end());
    ASSERT_TRUE(line.Write(both));
    const Bytes replies = line.Read(8 + 25, 2000);
    ASSERT_EQ(replies.size(), 33u) << Hex(replies);
    EXPECT_EQ(Bytes(replies.begin(), replies.begin() + 8), Of(write));
    EXPECT_EQ(replies[8], 3);
    ASSERT_TRUE(WaitKind(Kind::WriteApplied, 1));

    EXPECT_EQ(bus->State(7)->address, 7);
    EXPECT_FALSE(bus->State(3));
    EXPECT_EQ(line.Exchange(ReadRequest(7, 1, 10), 25).size(), 25u);
    EXPECT_TRUE(line.Exchange(ReadRequest(3, 1, 10), 25, 300).empty());
}

TEST_F(WritesTest, NewBaudTakesEffectAfterTheEcho) {
    Open({At(5)});
    const Request write = WriteRequest(5, 0, 0x0510);  // 19200
    EXPECT_EQ(line.Exchange(write, 8), Of(write));     // the echo still at 9600
    ASSERT_TRUE(WaitKind(Kind::WriteApplied, 1));
    EXPECT_EQ(bus->State(5)->baud, 19200u);

    EXPECT_TRUE(line.Exchange(ReadRequest(5, 1, 10), 25, 300).empty());
    ASSERT_TRUE(WaitKind(Kind::Ignored, 1));
    EXPECT_EQ(bus->Log().back().lineBaud, 9600u);

    ASSERT_TRUE(line.SetBaud(19200));
    EXPECT_EQ(line.Exchange(ReadRequest(5, 1, 10), 25).size(), 25u);
    EXPECT_EQ(bus->Log().back().lineBaud, 19200u);
}

TEST_F(WritesTest, RefusedRequestsChangeNothing) {
    struct Case {
        const char* name;
        Request request;
        uint8_t function, code;
    } cases[] = {
        {"register 8", WriteRequest(1, 8, 1), 0x86, 0x02},
        {"baud code 3", WriteRequest(1, 0, 0x0103), 0x86, 0x03},
        {"threshold above 255", WriteRequest(1, 5, 0x0100), 0x86, 0x03},
        {"function 3", BuildRequest(1, 0x03, 1, 10), 0x83, 0x01},
    };
    Open({At(1)});
    for (const auto& c : cases) {
        const Bytes reply = line.Exchange(c.request, 5);
        ASSERT_EQ(reply.size(), 5u) << c.name;
        EXPECT_EQ(reply[1], c.function) << c.name;
        EXPECT_EQ(reply[2], c.code) << c.name;
        EXPECT_TRUE(CrcPasses(reply.data(), 5)) << c.name;
    }
    EXPECT_EQ(CountKind(Kind::WriteApplied), 0u);
    const AnalyzerState s = *bus->State(1);
    EXPECT_EQ(s.baud, 9600u);
    EXPECT_EQ(s.threshold1, 20);
    EXPECT_EQ(s.writeCount, 0);
}

TEST_F(WritesTest, OnlyTheAnalyzerAtTheLineRateAnswers) {
    AnalyzerConfig analyzers[5];
    for (int i = 0; i < 5; ++i) {
        analyzers[i] = At(i + 1);
        analyzers[i].baud = kBaudRates[i];
    }
    Open({analyzers[0], analyzers[1], analyzers[2], analyzers[3], analyzers[4]});
    for (int rate = 0; rate < 5; ++rate) {
        SCOPED_TRACE(kBaudRates[rate]);
        ASSERT_TRUE(line.SetBaud(kBaudRates[rate]));
        bus->ClearLog();
        Bytes all;
        for (int i = 0; i < 5; ++i) {
            const Request r = ReadRequest(static_cast<uint8_t>(i + 1), 2, 8);
            all.insert(all.end(), r.begin(), r.end());
        }
        ASSERT_TRUE(line.Write(all));
        const Bytes reply = line.ReadUntilQuiet(300, 3000);
        ASSERT_EQ(reply.size(), 21u) << Hex(reply);
        EXPECT_EQ(reply[0], rate + 1);
        const auto log = bus->Log();
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
