// SPDX-License-Identifier: GPL-3.0-or-later
// Pseudo-terminals: POSIX only.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "link/modbus.h"
#include "link/regmap.h"
#include "link/serial_line.h"
#include "sim/bus.h"

namespace zta::sim {
namespace {

// The station's own line against the simulator at each rate, and an unplugged simulator is a
// vanished device to it. A reply that comes before the station's purge is lost, as on a real
// line; a machine under heavy load can delay the purge that long, so each exchange gets the
// few tries the poll thread would give it on later turns.
size_t exchange(SerialLine& line, const Request& request, size_t expected, int settleMs) {
    ExchangeResult x;
    for (int attempt = 0; attempt < 3; ++attempt) {
        x = line.exchange(request, expected, settleMs);
        if (x.count == expected &&
            (request[1] != kFnWriteSingle || isExactEcho(request, line.reply(), x.count)))
            break;
    }
    return x.count;
}

TEST(StationLine, ExchangesAtEachRateAndSeesTheUnplug) {
    std::string error;
    auto bus = Bus::openPty("", &error);
    ASSERT_TRUE(bus) << error;
    for (int i = 0; i < 5; ++i) {
        AnalyzerConfig a;
        a.address = i + 1;
        a.baud = kBaudRates[i];
        a.model = i % 2 ? Model::Standard : Model::Extended;
        bus->addAnalyzer(a);
    }
    bus->start();
    for (int i = 0; i < 5; ++i) {
        const unsigned baud = kBaudRates[i];
        SCOPED_TRACE(baud);
        const uint8_t address = static_cast<uint8_t>(i + 1);
        SerialLine line;
        ASSERT_TRUE(line.open(bus->portPath(), baud).ok());
        const size_t longLength = i % 2 ? kExceptionLength : kLongReplyLength;
        EXPECT_EQ(
            exchange(line, readRequest(address, 1, kLongReadCount), longLength, kPollSettleMs),
            longLength);
        EXPECT_EQ(exchange(line, readRequest(address, 1, kShortReadCount), kShortReplyLength,
                           kPollSettleMs),
                  kShortReplyLength);
        const Request write = writeRequest(address, 5, 30);
        EXPECT_EQ(exchange(line, write, kEchoLength, kPollSettleMs), kEchoLength);
        EXPECT_TRUE(isExactEcho(write, line.reply(), kEchoLength));
        EXPECT_EQ(exchange(line, readRequest(address, kProbeRegister, kProbeCount),
                           kProbeReplyLength, kSearchSettleMs),
                  kProbeReplyLength);
        line.close();
    }
    SerialLine line;
    ASSERT_TRUE(line.open(bus->portPath(), 9600).ok());
    bus->unplug();
    const ExchangeResult gone =
        line.exchange(readRequest(4, 1, kShortReadCount), kShortReplyLength, kPollSettleMs);
    EXPECT_EQ(gone.count, 0u);
    EXPECT_TRUE(gone.vanished);
}

long msSince(std::chrono::steady_clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
}

// The station's line at 9600 baud against one simulated analyzer at 9600.
class StationAgainstSim : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/zta-station-line-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        std::string error;
        bus = Bus::openPty(dir_ + "/line", &error);
        ASSERT_TRUE(bus) << error;
        AnalyzerConfig a;
        a.address = 4;
        bus->addAnalyzer(a);
        bus->start();
        good = readReplyNow();
        ASSERT_EQ(good.size(), kShortReplyLength);
    }
    void TearDown() override {
        bus.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    // A reply the analyzer gives without a fault, as reference.
    std::vector<uint8_t> readReplyNow() {
        SerialLine line;
        if (!line.open(bus->portPath(), 9600).ok()) return {};
        const size_t n = exchange(line, read, kShortReplyLength, kPollSettleMs);
        return std::vector<uint8_t>(line.reply(), line.reply() + n);
    }

    // Each attempt arms the fault for one reply. A reply is only lost to the station's purge when
    // the machine delays the station past the reply's wire time; a fault of the line would show
    // on every attempt.
    template <typename Accept>
    ExchangeResult tryWithFault(SerialLine& line, Fault fault, Accept accept, long* ms) {
        ExchangeResult x;
        for (int attempt = 0; attempt < 4; ++attempt) {
            bus->setFault(4, fault, 1);
            const auto start = std::chrono::steady_clock::now();
            x = line.exchange(read, kShortReplyLength, kPollSettleMs);
            *ms = msSince(start);
            if (accept(x)) break;
            bus->setFault(4, Fault::None);
        }
        return x;
    }

    std::string dir_;
    std::unique_ptr<Bus> bus;
    const Request read = readRequest(4, 1, kShortReadCount);
    std::vector<uint8_t> good;
};

TEST_F(StationAgainstSim, AFullReplyEndsTheReadAtOnceAShortOneAtTheTimeOut) {
    // A long time-out, so that "at once" has a wide margin on a loaded machine.
    LineOptions options;
    options.replyTimeoutMs = 3000;
    SerialLine line;
    ASSERT_TRUE(line.open(bus->portPath(), 9600, options).ok());
    long ms = 0;
    ExchangeResult x = tryWithFault(
        line, Fault::None, [](const ExchangeResult& r) { return r.count == kShortReplyLength; },
        &ms);
    ASSERT_EQ(x.count, kShortReplyLength);
    EXPECT_LT(ms, options.replyTimeoutMs / 2);
    line.close();

    // The analyzer sends the first half of its reply only.
    ASSERT_TRUE(line.open(bus->portPath(), 9600).ok());
    x = tryWithFault(
        line, Fault::ShortReply, [](const ExchangeResult& r) { return r.count > 0; }, &ms);
    ASSERT_EQ(x.count, kShortReplyLength / 2);
    EXPECT_TRUE(std::equal(line.reply(), line.reply() + x.count, good.begin()));
    EXPECT_GE(ms, timingFor(9600).replyTimeoutMs);
}

// The simulator echoes once it has the whole request, as an adapter does while the station
// still holds the bus in Program mode. (With driver switching a pseudo-terminal's echo can only
// come after the station's purge; the line's own tests cover that order with a scripted peer.)
TEST_F(StationAgainstSim, AnEchoOfTheRequestNeverReachesTheReply) {
    {
        LineOptions options;
        options.direction = DirectionSetting::Program;
        SerialLine line;
        ASSERT_TRUE(line.open(bus->portPath(), 9600, options).ok());
        long ms = 0;
        const ExchangeResult x = tryWithFault(
            line, Fault::EchoRequest,
            [&](const ExchangeResult& r) {
                return r.count == kShortReplyLength &&
                       std::equal(line.reply(), line.reply() + r.count, good.begin());
            },
            &ms);
        ASSERT_EQ(x.count, kShortReplyLength);
        // Readings move with time; the frame around them does not.
        EXPECT_EQ(line.reply()[0], 4);
        EXPECT_EQ(line.reply()[1], kFnReadInput);
        EXPECT_TRUE(crcPasses(line.reply(), x.count));
    }
}

TEST_F(StationAgainstSim, OpeningFailuresAndAForeignRate) {
    // Held by another opener: busy, and free again once it is closed.
    {
        SerialLine holder;
        ASSERT_TRUE(holder.open(bus->portPath(), 9600).ok());
        SerialLine second;
        const OpenResult r = second.open(bus->portPath(), 9600);
        EXPECT_EQ(r.failure, OpenFailure::Busy);
        EXPECT_EQ(openFailureText(r, bus->portPath()), "Порт " + bus->portPath() + " занят.");
    }
    {
        // At 4800 the analyzer set to 9600 does not understand the station: no reply, and the
        // simulator logs the request as ignored at the station's rate.
        SerialLine line;
        ASSERT_TRUE(line.open(bus->portPath(), 4800).ok());
        bus->clearLog();
        const ExchangeResult x = line.exchange(read, kShortReplyLength, kPollSettleMs);
        EXPECT_EQ(x.count, 0u);
        ASSERT_TRUE(
            bus->waitFor([](const std::vector<LogEntry>& log) { return !log.empty(); }, 2000));
        const auto log = bus->log();
        EXPECT_EQ(log[0].kind, LogEntry::Kind::Ignored);
        EXPECT_EQ(log[0].lineBaud, 4800u);
        for (const auto& e : log) EXPECT_NE(e.kind, LogEntry::Kind::Request);
    }
    // The simulator's port gone (its link removed with it): a wrong port.
    const std::string path = bus->portPath();
    bus->unplug();
    SerialLine line;
    const OpenResult r = line.open(path, 9600);
    EXPECT_EQ(r.failure, OpenFailure::WrongPort);
    EXPECT_EQ(openFailureText(r, path), "Порт " + path + " указан неверно");
}

}  // namespace
}  // namespace zta::sim

#endif  // _WIN32
