// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/serial_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace zta {
namespace {

using Steps = std::vector<std::string>;

using Ms = std::chrono::milliseconds;

// Port calls and pauses land in one list, so the test sees their relative order. Time moves
// only by the pauses and by what the fake port says its calls take.
class FakePauser : public Pauser {
  public:
    explicit FakePauser(Steps& steps) : steps_(steps) {}
    void pauseMs(int ms) override {
        steps_.push_back("pause " + std::to_string(ms));
        now += Ms(ms);
    }
    Clock::time_point timeNow() override { return now; }
    Clock::time_point now{};

  private:
    Steps& steps_;
};

class FakePort : public SerialPort {
  public:
    FakePort(Steps& steps, Pauser::Clock::time_point& now) : steps_(steps), now_(now) {}

    OpenResult openResult;
    DirectionMode modeGiven = DirectionMode::Program;
    bool writeOk = true;
    bool vanishOnWrite = false;
    bool vanishOnRead = false;
    std::vector<uint8_t> reply;
    DirectionSetting directionAsked = DirectionSetting::Auto;
    std::chrono::microseconds writeTakes{0}, drainTakes{0};

    OpenResult open(const std::string& path, unsigned baud, DirectionSetting direction,
                    DirectionMode& mode) override {
        steps_.push_back("open " + path + " " + std::to_string(baud));
        directionAsked = direction;
        mode = modeGiven;
        if (openResult.ok()) vanished_ = false;
        return openResult;
    }
    bool write(const uint8_t*, size_t length) override {
        steps_.push_back("write " + std::to_string(length));
        now_ += writeTakes;
        if (vanishOnWrite) vanished_ = true;
        return writeOk && !vanishOnWrite;
    }
    size_t read(uint8_t* buffer, size_t length, int timeoutMs) override {
        steps_.push_back("read " + std::to_string(length) + " " + std::to_string(timeoutMs));
        const size_t n = std::min(length, reply.size());
        std::copy(reply.begin(), reply.begin() + static_cast<long>(n), buffer);
        reply.erase(reply.begin(), reply.begin() + static_cast<long>(n));
        if (vanishOnRead) vanished_ = true;
        return n;
    }
    void purge() override { steps_.push_back("purge"); }
    // What the drop before the reply read finds waiting.
    std::vector<uint8_t> waiting;
    size_t takeInput(std::vector<uint8_t>& dropped) override {
        purge();
        dropped = waiting;
        waiting.clear();
        return dropped.size();
    }
    void drain() override {
        steps_.push_back("drain");
        now_ += drainTakes;
    }
    void setRts(bool on) override { steps_.push_back(on ? "rts on" : "rts off"); }
    void close() override { steps_.push_back("close"); }
    bool vanished() const override { return vanished_; }

  private:
    Steps& steps_;
    Pauser::Clock::time_point& now_;
    bool vanished_ = false;
};

class SerialLineTest : public ::testing::Test {
  protected:
    SerialLineTest() {
        auto port = std::make_unique<FakePort>(steps, pauser.now);
        fake = port.get();
        line = std::make_unique<SerialLine>(std::move(port), pauser);
    }

    // Opens and forgets the opening's own steps, leaving the exchange's alone in `steps`.
    void openAt(unsigned baud, DirectionMode mode, LineOptions options = {}) {
        fake->modeGiven = mode;
        ASSERT_TRUE(line->open("/dev/ttyX", baud, options).ok());
        steps.clear();
    }

    Steps steps;
    FakePauser pauser{steps};
    FakePort* fake = nullptr;
    std::unique_ptr<SerialLine> line;
    const Request request = readRequest(1, kReadingsRegister, kShortReadCount);
};

TEST(LineTiming, OneRowPerRateAndTheRowOf9600ForAnyOther) {
    struct Row {
        unsigned baud;
        int lead, hold, timeout;
    };
    const Row rows[] = {{1200, 10, 25, 600}, {2400, 7, 18, 500}, {4800, 5, 16, 400},
                        {9600, 3, 8, 350},   {19200, 2, 2, 300}, {115200, 3, 8, 350},
                        {0, 3, 8, 350}};
    for (const Row& r : rows) {
        const LineTiming t = timingFor(r.baud);
        EXPECT_EQ(t.rtsLeadMs, r.lead) << r.baud;
        EXPECT_EQ(t.rtsHoldMs, r.hold) << r.baud;
        EXPECT_EQ(t.replyTimeoutMs, r.timeout) << r.baud;
    }
}

TEST_F(SerialLineTest, ProgramModeAt9600RaisesRtsAroundTheRequestThenPurgesAndReads) {
    openAt(9600, DirectionMode::Program);
    line->exchange(request, kShortReplyLength, kPollSettleMs);
    EXPECT_EQ(steps, (Steps{"rts on", "pause 3", "pause 1", "write 8", "drain", "pause 8",
                            "rts off", "pause 1", "purge", "read 5 350"}));
}

TEST_F(SerialLineTest, ProgramModeUsesTheRowOfTheRateAndTheCallersSettlePause) {
    struct Case {
        unsigned baud;
        int settle;
        std::string lead, hold, read;
    };
    // Nothing comes: the read asked for the shortest frame waits out the whole time-out.
    const Case cases[] = {{1200, 3, "pause 10", "pause 25", "read 5 600"},
                          {2400, 1, "pause 7", "pause 18", "read 5 500"},
                          {4800, 3, "pause 5", "pause 16", "read 5 400"},
                          {19200, 1, "pause 2", "pause 2", "read 5 300"}};
    for (const Case& c : cases) {
        openAt(c.baud, DirectionMode::Program);
        line->exchange(request, kProbeReplyLength, c.settle);
        EXPECT_EQ(steps, (Steps{"rts on", c.lead, "pause " + std::to_string(c.settle), "write 8",
                                "drain", c.hold, "rts off", "pause 1", "purge", c.read}))
            << c.baud;
    }
}

TEST_F(SerialLineTest, RtsDropsAtTheLaterOfTheDrainAndTheHoldFromTheWritesReturn) {
    using std::chrono::microseconds;
    struct Case {
        unsigned baud;
        microseconds write, drain;
        Steps afterDrain;
    };
    const Case cases[] = {
        // The request still on the wire when write() returns: the drain covers the hold.
        {9600, microseconds(0), Ms(9), {"rts off"}},
        {1200, microseconds(0), Ms(66), {"rts off"}},
        // A drain shorter than the hold: only the rest of the hold, rounded up.
        {9600, microseconds(0), microseconds(3300), {"pause 5", "rts off"}},
        {1200, microseconds(0), Ms(20), {"pause 5", "rts off"}},
        // A write that blocked: the hold counts from its return, not from its start.
        {9600, Ms(9), Ms(2), {"pause 6", "rts off"}},
        {19200, Ms(5), microseconds(0), {"pause 2", "rts off"}},
    };
    for (const Case& c : cases) {
        openAt(c.baud, DirectionMode::Program);
        fake->writeTakes = c.write;
        fake->drainTakes = c.drain;
        line->exchange(request, kShortReplyLength, kPollSettleMs);
        const auto drain = std::find(steps.begin(), steps.end(), "drain");
        ASSERT_NE(drain, steps.end());
        Steps tail(drain + 1, steps.end());
        Steps expected = c.afterDrain;
        expected.insert(expected.end(), {"pause 1", "purge"});
        tail.pop_back();  // the read
        EXPECT_EQ(tail, expected) << c.baud << " write " << c.write.count() << " drain "
                                  << c.drain.count();
    }
}

TEST(DirectionChoice, AutoTakesDriverModeWhereTheDriverSwitchesOrNoModemLinesExist) {
    struct Case {
        DirectionSetting setting;
        bool driverSwitches, modemLines;
        DirectionMode mode;
    };
    using S = DirectionSetting;
    using M = DirectionMode;
    const Case cases[] = {
        {S::Auto, false, true, M::Program},   {S::Auto, true, true, M::Driver},
        {S::Auto, false, false, M::Driver},   {S::Auto, true, false, M::Driver},
        {S::Program, true, true, M::Program}, {S::Program, false, false, M::Program},
        {S::Driver, false, true, M::Driver},
    };
    for (const Case& c : cases)
        EXPECT_EQ(chooseDirectionMode(c.setting, {c.driverSwitches, c.modemLines}), c.mode)
            << static_cast<int>(c.setting) << c.driverSwitches << c.modemLines;
}

TEST_F(SerialLineTest, DriverModeNeverTouchesRtsAndDrainsBeforeThePurge) {
    openAt(9600, DirectionMode::Driver);
    line->exchange(request, kShortReplyLength, kSearchSettleMs);
    line->exchange(request, kProbeReplyLength, kPollSettleMs);
    EXPECT_EQ(steps, (Steps{"pause 3", "write 8", "drain", "purge", "read 5 350", "pause 1",
                            "write 8", "drain", "purge", "read 5 350"}));
}

TEST_F(SerialLineTest, OpeningPurgesAndGivesAZeroedBufferOfTheAskedSize) {
    fake->modeGiven = DirectionMode::Driver;
    LineOptions options;
    options.direction = DirectionSetting::Program;
    options.bufferSize = kSearchBufferSize;
    options.replyTimeoutMs = 120;
    ASSERT_TRUE(line->open("COM3", 4800, options).ok());
    EXPECT_EQ(steps, (Steps{"open COM3 4800", "purge"}));
    EXPECT_EQ(fake->directionAsked, DirectionSetting::Program);
    EXPECT_EQ(line->mode(), DirectionMode::Driver);  // the port's choice is what counts
    EXPECT_EQ(line->timing().replyTimeoutMs, 120);
    EXPECT_EQ(line->timing().rtsLeadMs, 5);
    for (size_t i = 0; i < kSearchBufferSize; ++i) ASSERT_EQ(line->reply()[i], 0) << i;

    // A reply asked for beyond the buffer is cut to the buffer, never written past it.
    steps.clear();
    fake->reply.assign(kLongReplyLength, 0xAB);
    fake->reply[0] = 1;
    fake->reply[1] = kFnReadInput;
    fake->reply[2] = 2 * kLongReadCount;
    const ExchangeResult x = line->exchange(request, kLongReplyLength, kPollSettleMs);
    EXPECT_EQ(steps.back(), "read 16 120");
    EXPECT_EQ(x.count, kSearchBufferSize);
    EXPECT_EQ(line->reply()[20], 0xAB);
}

TEST_F(SerialLineTest, ReplyBytesAndCountComeBackAsRead) {
    openAt(9600, DirectionMode::Driver);
    const std::vector<uint8_t> sent = {1, 4, 20, 7};
    fake->reply = sent;
    const ExchangeResult x = line->exchange(request, kShortReplyLength, kPollSettleMs);
    EXPECT_TRUE(x.writeOk);
    EXPECT_FALSE(x.vanished);
    ASSERT_EQ(x.count, 4u);
    EXPECT_EQ(std::vector<uint8_t>(line->reply(), line->reply() + 4), sent);
}

// What one exchange makes of the bytes that come back: the answer ends where its header says,
// the line's own copy of the request is dropped (and teaches the line that it echoes), frames
// from other numbers are set aside, and what waited before the reply read is stray.
TEST_F(SerialLineTest, TheAnswerIsReadAsFarAsItsHeaderSays) {
    using Bytes = std::vector<uint8_t>;
    auto sealed = [](Bytes b) {
        b.resize(b.size() + 2);
        sealFrame(b.data(), b.size());
        return b;
    };
    auto reply = [&](uint8_t address) {
        // Built whole, not grown from its header: GCC 12's Release build takes the growth for
        // an out-of-bounds move.
        Bytes b(3 + 2 * kShortReadCount, 0x11);
        b[0] = address;
        b[1] = kFnReadInput;
        b[2] = 2 * kShortReadCount;
        return sealed(b);
    };
    auto join = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const Request write = writeRequest(1, 1, 0);
    const Bytes read(request.begin(), request.end()), zero(write.begin(), write.end());
    const Bytes mine = reply(1), refusal = sealed({1, 0x84, 2}), junk{0xFF, 0x00, 0x7E};
    Bytes damaged = mine;
    damaged.back() ^= 0xFF;
    const Bytes readStart(read.begin(), read.begin() + 3), readRest(read.begin() + 3, read.end());
    Bytes flood;
    for (int i = 0; i < 70; ++i) flood = join({flood, reply(6)});
    using E = LineEcho;
    struct Case {
        const char* name;
        E before;  // what the line was known to do
        bool isWrite;
        Bytes waiting, stream, answer;
        size_t leftOver, stray;
        int copies, foreign;
        E after;
    };
    const Case cases[] = {
        {"a refusal ends at 5 bytes",
         E::Unknown,
         false,
         {},
         join({refusal, junk}),
         refusal,
         3,
         0,
         0,
         0,
         E::Quiet},
        {"a reply ends at its byte count",
         E::Unknown,
         false,
         {},
         join({mine, junk}),
         mine,
         3,
         0,
         0,
         0,
         E::Quiet},
        {"a damaged reply is still the answer",
         E::Unknown,
         false,
         {},
         damaged,
         damaged,
         0,
         0,
         0,
         0,
         E::Quiet},
        {"stray bytes before the read", E::Unknown, false, junk, mine, mine, 0, 3, 0, 0, E::Quiet},
        {"the line's copy, then the reply",
         E::Unknown,
         false,
         {},
         join({read, mine}),
         mine,
         0,
         0,
         1,
         0,
         E::Echoing},
        {"the copy already dropped", E::Unknown, false, join({junk, read}), mine, mine, 0, 3, 1, 0,
         E::Echoing},
        {"the copy begun in the drop", E::Unknown, false, join({junk, readStart}),
         join({readRest, mine}), mine, 0, 3, 1, 0, E::Echoing},
        {"the line's copy alone", E::Unknown, false, {}, read, {}, 0, 0, 1, 0, E::Echoing},
        {"another number's frame, then ours",
         E::Unknown,
         false,
         {},
         join({reply(6), mine}),
         mine,
         0,
         0,
         0,
         1,
         E::Quiet},
        {"another number's frame alone", E::Quiet, false, {}, reply(6), {}, 0, 0, 0, 1, E::Quiet},
        {"a flood of other numbers' frames ends the read",
         E::Quiet,
         false,
         {},
         flood,
         {},
         flood.size() - 64 * mine.size(),
         0,
         0,
         64,
         E::Quiet},
        {"a short reply",
         E::Unknown,
         false,
         {},
         Bytes(mine.begin(), mine.begin() + 9),
         Bytes(mine.begin(), mine.begin() + 9),
         0,
         0,
         0,
         0,
         E::Quiet},
        {"a write's one copy on a quiet line",
         E::Quiet,
         true,
         {},
         zero,
         zero,
         0,
         0,
         0,
         0,
         E::Quiet},
        {"a write's one copy, the line unknown",
         E::Unknown,
         true,
         {},
         zero,
         zero,
         0,
         0,
         0,
         0,
         E::Unknown},
        {"a write's two copies teach the line",
         E::Unknown,
         true,
         {},
         join({zero, zero}),
         zero,
         0,
         0,
         1,
         0,
         E::Echoing},
        {"a write's one copy on an echoing line is no answer",
         E::Echoing,
         true,
         {},
         zero,
         {},
         0,
         0,
         1,
         0,
         E::Echoing},
        {"a write's two copies on an echoing line",
         E::Echoing,
         true,
         {},
         join({zero, zero}),
         zero,
         0,
         0,
         1,
         0,
         E::Echoing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        openAt(9600, DirectionMode::Driver);
        // Teaches the line what it is known to do, by a read that finds nothing or a copy.
        if (c.before != E::Unknown) {
            fake->reply = c.before == E::Echoing ? read : Bytes{};
            line->exchange(request, kShortReplyLength, kPollSettleMs);
            ASSERT_EQ(line->lineEcho(), c.before);
        }
        fake->waiting = c.waiting;
        fake->reply = c.stream;
        const ExchangeResult x =
            line->exchange(c.isWrite ? write : request, c.isWrite ? kEchoLength : kShortReplyLength,
                           kPollSettleMs);
        EXPECT_EQ(Bytes(line->reply(), line->reply() + x.count), c.answer);
        EXPECT_EQ(fake->reply.size(), c.leftOver);
        EXPECT_EQ(x.strayBytes, c.stray);
        EXPECT_EQ(x.lineCopies, c.copies);
        EXPECT_EQ(x.foreignFrames, c.foreign);
        EXPECT_EQ(x.lineEcho, c.after);
        EXPECT_EQ(line->lineEcho(), c.after);
    }
}

TEST_F(SerialLineTest, AFailedWriteStillCompletesTheExchange) {
    openAt(9600, DirectionMode::Program);
    fake->writeOk = false;
    fake->reply.assign(8, 1);
    const ExchangeResult x = line->exchange(request, kEchoLength, kPollSettleMs);
    EXPECT_FALSE(x.writeOk);
    EXPECT_EQ(x.count, 8u);
    EXPECT_EQ(steps, (Steps{"rts on", "pause 3", "pause 1", "write 8", "drain", "pause 8",
                            "rts off", "pause 1", "purge", "read 5 350", "read 3 350"}));
}

TEST_F(SerialLineTest, AVanishedDeviceEndsTheExchangeWithNoReplyAndIsNotAskedAgain) {
    struct Case {
        const char* name;
        bool onWrite;
        Steps expected;
    };
    const Case cases[] = {
        {"write", true, {"rts on", "pause 3", "pause 1", "write 8"}},
        {"read",
         false,
         {"rts on", "pause 3", "pause 1", "write 8", "drain", "pause 8", "rts off", "pause 1",
          "purge", "read 5 350"}},
    };
    for (const Case& c : cases) {
        openAt(9600, DirectionMode::Program);
        fake->vanishOnWrite = c.onWrite;
        fake->vanishOnRead = !c.onWrite;
        fake->reply.assign(10, 7);  // what came before the device went is no reply
        ExchangeResult x = line->exchange(request, kShortReplyLength, kPollSettleMs);
        EXPECT_TRUE(x.vanished) << c.name;
        EXPECT_EQ(x.count, 0u) << c.name;
        EXPECT_EQ(steps, c.expected) << c.name;

        steps.clear();
        x = line->exchange(request, kShortReplyLength, kPollSettleMs);
        EXPECT_TRUE(x.vanished) << c.name;
        EXPECT_EQ(x.count, 0u) << c.name;
        EXPECT_TRUE(steps.empty()) << c.name;
        fake->vanishOnWrite = fake->vanishOnRead = false;
    }
}

TEST_F(SerialLineTest, AFailedOpeningLeavesTheLineClosedAndUntouched) {
    fake->openResult = {OpenFailure::Busy, 16};
    const OpenResult r = line->open("/dev/ttyX", 9600);
    EXPECT_EQ(r.failure, OpenFailure::Busy);
    EXPECT_EQ(r.platformCode, 16);
    EXPECT_FALSE(line->isOpen());
    const ExchangeResult x = line->exchange(request, kShortReplyLength, kPollSettleMs);
    EXPECT_EQ(x.count, 0u);
    EXPECT_FALSE(x.writeOk);
    line->close();
    EXPECT_EQ(steps, (Steps{"open /dev/ttyX 9600"}));
}

TEST_F(SerialLineTest, ClosingClosesThePortOnceAndTheLineThenRefusesExchanges) {
    openAt(9600, DirectionMode::Driver);
    line->close();
    line->close();
    line->exchange(request, kShortReplyLength, kPollSettleMs);
    EXPECT_EQ(steps, (Steps{"close"}));
    EXPECT_FALSE(line->isOpen());

    openAt(9600, DirectionMode::Driver);
    line.reset();
    EXPECT_EQ(steps, (Steps{"close"}));
}

TEST(portName, WindowsRuleKeepsShortNamesAndPrefixesLongOnes) {
    const std::pair<std::string, std::string> cases[] = {
        {"COM1", "COM1"},
        {"COM9", "COM9"},
        {"COM10", "\\\\.\\COM10"},
        {"COM123", "\\\\.\\COM123"},
        {"\\\\.\\COM10", "\\\\.\\COM10"},
        {"", ""},
    };
    for (const auto& [chosen, stored] : cases) EXPECT_EQ(storedPortNameWindows(chosen), stored);
}

TEST(portName, PosixRuleOpensBareNamesUnderDev) {
    const std::pair<std::string, std::string> cases[] = {
        {"ttyUSB0", "/dev/ttyUSB0"},          {"ttyS1", "/dev/ttyS1"},
        {"/dev/pts/4", "/dev/pts/4"},         {"./sim-port", "./sim-port"},
        {"/tmp/zta/ttyV0", "/tmp/zta/ttyV0"}, {"", ""},
    };
    for (const auto& [chosen, stored] : cases) EXPECT_EQ(storedPortNamePosix(chosen), stored);
#ifdef _WIN32
    EXPECT_EQ(storedPortName("COM10"), "\\\\.\\COM10");
#else
    EXPECT_EQ(storedPortName("ttyUSB0"), "/dev/ttyUSB0");
#endif
}

TEST(openFailureText, TextsNameTheStoredPortOrTheCode) {
    const struct {
        OpenResult result;
        const char* port;
        std::string text;
    } cases[] = {
        {{OpenFailure::WrongPort, 2}, "\\\\.\\COM10", "Порт \\\\.\\COM10 указан неверно"},
        {{OpenFailure::WrongPort, 31}, "COM9", "Порт COM9 указан неверно"},
        {{OpenFailure::Busy, 5}, "/dev/ttyUSB0", "Порт /dev/ttyUSB0 занят."},
        {{OpenFailure::Other, 123}, "COM1", ""},
        {{OpenFailure::SettingsRefused, 87}, "COM1", "Ошибка SetCommState № 87"},
        {{OpenFailure::TimeoutsRefused, 1}, "COM1", "Ошибка SetCommTimeouts № 1"},
        {{OpenFailure::None, 0}, "COM1", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(openFailureText(c.result, c.port), c.text);
}

void setRs485Variable(const char* value) {
#ifdef _WIN32
    _putenv_s("ZTA_RS485", value ? value : "");
#else
    if (value) {
        setenv("ZTA_RS485", value, 1);
    } else {
        unsetenv("ZTA_RS485");
    }
#endif
}

TEST(Direction, TheEnvironmentCanForceEitherMode) {
    const struct {
        const char* value;
        DirectionSetting setting;
    } cases[] = {
        {nullptr, DirectionSetting::Auto},      {"driver", DirectionSetting::Driver},
        {"Program", DirectionSetting::Program}, {"auto", DirectionSetting::Auto},
        {"rts", DirectionSetting::Auto},        {"", DirectionSetting::Auto},
    };
    for (const auto& c : cases) {
        setRs485Variable(c.value);
        EXPECT_EQ(directionFromEnvironment(), c.setting) << (c.value ? c.value : "(unset)");
    }
    setRs485Variable(nullptr);

    DirectionSetting s = DirectionSetting::Driver;
    EXPECT_FALSE(parseDirectionSetting("both", s));
    EXPECT_EQ(s, DirectionSetting::Driver);
}

}  // namespace
}  // namespace zta
