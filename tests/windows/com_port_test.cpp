// SPDX-License-Identifier: GPL-3.0-or-later
// The Win32 backend on a real COM port: zta-sim behind two port names, one short and one that
// needs the device prefix (ZTA_TEST_PORT and ZTA_TEST_LONG_PORT, set by the Windows test
// script). The simulator plays, at 9600 baud: an extended analyzer at 1 (also at 2), one that
// answers with half a reply at 3; nobody answers at 9.
// Without the variables every test is skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>

#include "link/modbus.h"
#include "link/serial_line.h"

namespace zta {
namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned kBaud = 9600;
// A Windows timer may fire up to one tick (15.6 ms) before the asked time.
constexpr int kTimerTickMs = 16;

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

class ComPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        shortName_ = variable("ZTA_TEST_PORT");
        longName_ = variable("ZTA_TEST_LONG_PORT");
        if (shortName_.empty() || longName_.empty())
            GTEST_SKIP() << "no simulator behind a COM port (ZTA_TEST_PORT, ZTA_TEST_LONG_PORT)";
    }

    struct Timed {
        ExchangeResult result;
        int ms;
    };

    static Timed read(SerialLine& line, uint8_t address) {
        const auto t0 = Clock::now();
        const ExchangeResult r =
            line.exchange(readRequest(address, kReadingsRegister, kShortReadCount),
                          kShortReplyLength, kPollSettleMs);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0);
        return {r, static_cast<int>(ms.count())};
    }

    std::string shortName_, longName_;
};

TEST_F(ComPortTest, ShortAndLongNamesOpenByTheWindowsRuleAndGetFullReplies) {
    const struct {
        std::string chosen, stored;
    } cases[] = {{shortName_, shortName_}, {longName_, "\\\\.\\" + longName_}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chosen);
        const std::string stored = storedPortName(c.chosen);
        EXPECT_EQ(stored, c.stored);
        SerialLine line;
        const OpenResult opened = line.open(stored, kBaud);
        ASSERT_TRUE(opened.ok()) << "code " << opened.platformCode;
        // The driver switches the direction (toggle), or RTS cannot be switched at all (Wine).
        EXPECT_EQ(line.mode(), DirectionMode::Driver);
        for (uint8_t address : {1, 2}) {
            const Timed t = read(line, address);
            EXPECT_TRUE(t.result.writeOk);
            ASSERT_EQ(t.result.count, kShortReplyLength) << "address " << int(address);
            EXPECT_EQ(line.reply()[0], address);
            EXPECT_TRUE(crcPasses(line.reply(), t.result.count));
        }
    }
}

TEST_F(ComPortTest, AFullReplyEndsTheReadAndAMissingOrShortOneLastsTheWholeTimeOut) {
    SerialLine line;
    ASSERT_TRUE(line.open(storedPortName(shortName_), kBaud).ok());
    const int timeoutMs = timingFor(kBaud).replyTimeoutMs;

    int fastest = timeoutMs * 10;
    for (int i = 0; i < 5; ++i) {
        const Timed t = read(line, 1);
        ASSERT_EQ(t.result.count, kShortReplyLength);
        fastest = std::min(fastest, t.ms);
    }
    EXPECT_LT(fastest, timeoutMs) << "the read waited although every byte had come";

    const struct {
        uint8_t address;
        size_t count;
    } cases[] = {{9, 0}, {3, kShortReplyLength / 2}};
    for (const auto& c : cases) {
        const Timed t = read(line, c.address);
        EXPECT_EQ(t.result.count, c.count) << "address " << int(c.address);
        EXPECT_GE(t.ms, timeoutMs - kTimerTickMs) << "address " << int(c.address);
        EXPECT_LT(t.ms, timeoutMs + 5000) << "address " << int(c.address);
    }

    // A caller's own time-out replaces the rate's for this opening.
    LineOptions options;
    options.replyTimeoutMs = 1200;
    ASSERT_TRUE(line.open(storedPortName(shortName_), kBaud, options).ok());
    const Timed t = read(line, 9);
    EXPECT_EQ(t.result.count, 0u);
    EXPECT_GE(t.ms, 1200 - kTimerTickMs);
}

TEST_F(ComPortTest, ProgramDirectionStillExchangesWhereRtsCannotBeSwitched) {
    LineOptions options;
    options.direction = DirectionSetting::Program;
    SerialLine line;
    ASSERT_TRUE(line.open(storedPortName(longName_), kBaud, options).ok());
    EXPECT_EQ(line.mode(), DirectionMode::Program);
    const Timed t = read(line, 1);
    EXPECT_EQ(t.result.count, kShortReplyLength);
}

TEST_F(ComPortTest, OpeningFailuresNameTheStoredPort) {
    SerialLine holder;
    ASSERT_TRUE(holder.open(storedPortName(shortName_), kBaud).ok());
    const struct {
        std::string chosen;
        OpenFailure failure;
        std::string text;
    } cases[] = {
        {shortName_, OpenFailure::Busy, "Порт " + shortName_ + " занят."},
        {"COM5", OpenFailure::WrongPort, "Порт COM5 указан неверно"},
        {"COM42", OpenFailure::WrongPort, "Порт \\\\.\\COM42 указан неверно"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chosen);
        const std::string stored = storedPortName(c.chosen);
        SerialLine line;
        const OpenResult r = line.open(stored, kBaud);
        EXPECT_EQ(r.failure, c.failure) << "code " << r.platformCode;
        EXPECT_EQ(openFailureText(r, stored), c.text);
        EXPECT_FALSE(line.isOpen());
    }
    // The holder's line is unharmed by the refused openers.
    const Timed t = read(holder, 1);
    EXPECT_EQ(t.result.count, kShortReplyLength);
}

TEST_F(ComPortTest, ARateNoAnalyzerTakesIsRefusedAndLeavesThePortFree) {
    const std::string stored = storedPortName(shortName_);
    SerialLine line;
    for (unsigned baud : {38400u, 115200u, 9601u}) {
        SCOPED_TRACE(baud);
        const OpenResult r = line.open(stored, baud);
        EXPECT_EQ(r.failure, OpenFailure::SettingsRefused);
        EXPECT_EQ(openFailureText(r, stored), "Ошибка SetCommState № 87");
        EXPECT_FALSE(line.isOpen());
    }
    ASSERT_TRUE(line.open(stored, kBaud).ok());
    EXPECT_EQ(read(line, 1).result.count, kShortReplyLength);
}

}  // namespace
}  // namespace zta
