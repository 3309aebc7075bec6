// SPDX-License-Identifier: GPL-3.0-or-later
// Link health, command states and trace lines of the poll thread against the simulator.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <thread>

#include "engine/engine_support.h"
#include "engine/sim_bus_fixture.h"
#include "poll/frame_ring.h"
#include "poll/poll_thread.h"
#include "program_run.h"
#include "sim/bus.h"

namespace zta {
namespace {

constexpr int kWaitMs = 20000;

std::string hexText(const test::Bytes& bytes) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
        s += buf;
    }
    return s;
}

class CommandSink : public test::RecordingSink {
  public:
    using RecordingSink::RecordingSink;
    void commandChanged(const CommandReport& report) override {
        {
            std::lock_guard lock(mutex_);
            reports_.push_back(report);
        }
        changed_.notify_all();
    }
    std::vector<CommandReport> reports() const {
        std::lock_guard lock(mutex_);
        return reports_;
    }
    bool waitFor(CommandStatus state, CommandFailure failure = CommandFailure::None) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] {
            for (const CommandReport& r : reports_)
                if (r.track.state == state && r.track.failure == failure) return true;
            return false;
        });
    }

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<CommandReport> reports_;
};

class LinkHealthSim : public test::SimBusTest<CommandSink> {
  protected:
    void SetUp() override {
        SimBusTest::SetUp();
        timing.line.observer = &ring;
    }
    void add(int address, sim::Model model = sim::Model::Extended) {
        sim::AnalyzerConfig a;
        a.address = address;
        a.model = model;
        a.baud = 19200;
        bus->addAnalyzer(a);
        slot = *block.registerSlot(1);
        block.setAddress(slot, address);
    }
    // Polls until the slot has made `n` requests, then stops; the health as it is then.
    LinkHealth pollRequests(long n) {
        start();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
        while (block.snapshot(slot).health.requests < n &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_TRUE(poll->stop(kWaitMs));
        poll.reset();
        const LinkHealth h = block.snapshot(slot).health;
        EXPECT_GE(h.requests, n);
        return h;
    }

    FrameRing ring;
    int slot = -1;
};

struct FaultCase {
    const char* name;
    sim::Fault fault;
    sim::Model model;
    int pacingMs;
    // Expected counts as a function of the requests made.
    long LinkHealth::*counter;
    long refusalsOnce;
};

TEST_F(LinkHealthSim, EveryRequestIsCountedOnceUnderEachFault) {
    const FaultCase cases[] = {
        {"answers", sim::Fault::None, sim::Model::Extended, 10, &LinkHealth::goodReplies, 0},
        {"silence", sim::Fault::Silent, sim::Model::Extended, 10, &LinkHealth::timeouts, 0},
        {"wrong CRC", sim::Fault::WrongCrc, sim::Model::Extended, 10, &LinkHealth::wrongCrc, 0},
        // The standard model refuses the first read of a connect, then answers the short one.
        {"refusal", sim::Fault::None, sim::Model::Standard, 10, &LinkHealth::goodReplies, 1},
        // Replies come after 1 s: past the time-out, and purged before the next request.
        {"late reply", sim::Fault::LateReply, sim::Model::Extended, 1200, &LinkHealth::timeouts, 0},
    };
    int address = 1;
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        while (block.windowCount() > 0) block.close(0);
        add(address, c.model);
        if (c.fault != sim::Fault::None) {
            ASSERT_TRUE(bus->setFault(address, c.fault));
        }
        timing.pacingBaseMs = c.pacingMs;
        const long n = c.pacingMs > 100 ? 3 : 6;
        const LinkHealth h = pollRequests(n);
        EXPECT_EQ(h.*c.counter, h.requests - c.refusalsOnce);
        EXPECT_EQ(h.refusals, c.refusalsOnce);
        EXPECT_EQ(h.goodReplies + h.timeouts + h.wrongCrc + h.foreign + h.refusals + h.echoes,
                  h.requests);
        if (h.goodReplies > 0) {
            // From the end of the request: at least the reply's own wire time.
            const long wire = wireTimeUs(
                c.model == sim::Model::Extended ? kLongReplyLength : kShortReplyLength, 19200);
            EXPECT_GE(h.lastReplyUs, wire);
            EXPECT_GE(h.maxReplyUs, h.meanReplyUs());
            EXPECT_GE(h.meanReplyUs(), wire);
            EXPECT_GT(h.lastAnswerMs, 0);
        } else {
            EXPECT_EQ(h.timedReplies, 0);
            EXPECT_EQ(h.meanReplyUs(), -1);
        }
        block.resetCounters(slot);
        const LinkHealth cleared = block.snapshot(slot).health;
        EXPECT_EQ(cleared.requests, 0);
        EXPECT_EQ(cleared.meanReplyUs(), -1);
        bus->setFault(address, sim::Fault::None);
        bus->removeAnalyzer(address);
        ++address;
    }
}

TEST_F(LinkHealthSim, AConfirmedWriteIsSentThenConfirmedByItsEcho) {
    add(4);
    start();
    ASSERT_TRUE(sink.waitUntil([](auto& r) { return !r.data.empty(); }, kWaitMs));
    ASSERT_TRUE(block.confirmCommand(slot, Command::Threshold1, 33));
    const CommandTrack pending = block.snapshot(slot).commands[commandIndex(Command::Threshold1)];
    EXPECT_EQ(pending.state, CommandStatus::Pending);
    EXPECT_EQ(pending.reg, 5);
    EXPECT_EQ(pending.value, 33);
    ASSERT_TRUE(sink.waitFor(CommandStatus::Confirmed));
    const auto reports = sink.reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].track.state, CommandStatus::Sent);
    for (const CommandReport& r : reports) {
        EXPECT_EQ(r.command, Command::Threshold1);
        EXPECT_EQ(r.address, 4);
        EXPECT_EQ(r.slot, slot);
        EXPECT_EQ(r.analyzer, 1u);
        EXPECT_EQ(r.track.reg, 5);
        EXPECT_EQ(r.track.value, 33);
        EXPECT_EQ(r.track.id, pending.id);
    }
    EXPECT_EQ(reports[1].track.tries, 1);
    EXPECT_EQ(block.snapshot(slot).health.echoes, 1);
}

TEST_F(LinkHealthSim, AWriteNeverEchoedFailsAfterItsTriesAndIsStillRepeated) {
    add(4);
    start();
    ASSERT_TRUE(sink.waitUntil([](auto& r) { return !r.data.empty(); }, kWaitMs));
    ASSERT_TRUE(bus->setFault(4, sim::Fault::Silent));
    ASSERT_TRUE(block.confirmCommand(slot, Command::Zero));
    ASSERT_TRUE(sink.waitFor(CommandStatus::Failed, CommandFailure::NoEcho));
    const CommandTrack failed = block.snapshot(slot).commands[commandIndex(Command::Zero)];
    EXPECT_EQ(failed.tries, kCommandTries);
    ASSERT_TRUE(bus->waitFor(
        [](const std::vector<sim::LogEntry>& log) {
            int zeros = 0;
            for (const auto& e : log)
                if (e.bytes.size() == 8 && e.bytes[1] == kFnWriteSingle && e.bytes[3] == 1) ++zeros;
            return zeros > kCommandTries;
        },
        kWaitMs));
    // A late echo still confirms it.
    bus->setFault(4, sim::Fault::None);
    ASSERT_TRUE(sink.waitFor(CommandStatus::Confirmed));
    const auto reports = sink.reports();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0].track.state, CommandStatus::Sent);
    EXPECT_EQ(reports[1].track.failure, CommandFailure::NoEcho);
    EXPECT_EQ(reports[2].track.state, CommandStatus::Confirmed);
}

TEST_F(LinkHealthSim, StoppingPollingFailsEveryOpenCommand) {
    add(4);
    ASSERT_TRUE(bus->setFault(4, sim::Fault::Silent));
    start();
    ASSERT_TRUE(sink.waitUntil([](auto& r) { return !r.data.empty(); }, kWaitMs));
    ASSERT_TRUE(block.confirmCommand(slot, Command::MaxGas));
    ASSERT_TRUE(block.confirmCommand(slot, Command::Threshold2, 60));  // sent first
    ASSERT_TRUE(sink.waitFor(CommandStatus::Sent));
    ASSERT_TRUE(poll->stop(kWaitMs));
    const auto reports = sink.reports();
    int stopped = 0;
    for (const CommandReport& r : reports)
        if (r.track.failure == CommandFailure::PollingStopped) ++stopped;
    EXPECT_EQ(stopped, 2);
    EXPECT_EQ(reports.back().track.state, CommandStatus::Failed);
    for (const CommandTrack& t : block.snapshot(slot).commands) EXPECT_FALSE(t.open());
    // Confirmed while stopped, dropped by the next connect: failed, not forgotten.
    ASSERT_TRUE(block.confirmCommand(slot, Command::Threshold1, 10));
    start();
    ASSERT_TRUE(sink.waitFor(CommandStatus::Failed, CommandFailure::Cleared));
}

TEST(CommandTracks, AClosingWindowFailsItsOpenCommandsAndTheirStatesMoveWithTheirSlots) {
    PollBlock block;
    for (AnalyzerId v : {1, 2, 3})
        block.setAddress(*block.registerSlot(v), static_cast<int>(v) * 10);
    block.confirmCommand(0, Command::Zero);
    block.confirmCommand(2, Command::FactoryNumber, 40000);
    block.confirmCommand(2, Command::Threshold1, 15);

    const auto closed = block.failOpenCommands(0, CommandFailure::WindowClosed);
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0].command, Command::Zero);
    EXPECT_EQ(closed[0].address, 10);
    EXPECT_EQ(closed[0].track.failure, CommandFailure::WindowClosed);
    block.close(0);

    // The third window's commands went with it to index 1; the newest is the last confirmed.
    const Slot moved = block.snapshot(1);
    EXPECT_EQ(moved.analyzer, 3u);
    Command which{};
    const CommandTrack* last = lastCommand(moved.commands, &which);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(which, Command::Threshold1);
    EXPECT_EQ(moved.commands[commandIndex(Command::FactoryNumber)].value, 40000);
    EXPECT_EQ(moved.commands[commandIndex(Command::FactoryNumber)].reg, 7);
    EXPECT_EQ(block.failOpenCommands(1, CommandFailure::WindowClosed).size(), 2u);
    EXPECT_TRUE(block.failOpenCommands(1, CommandFailure::WindowClosed).empty());
    // A new window in a freed index starts with no command history.
    block.close(1);
    const int fresh = *block.registerSlot(9);
    EXPECT_EQ(lastCommand(block.snapshot(fresh).commands), nullptr);
}

// Trace lines in a fixed time zone, from fixed bytes.
class TraceLines : public ::testing::Test {
  protected:
    void SetUp() override {
#if defined(_WIN32)
        _putenv_s("TZ", "UTC");
        _tzset();
#else
        setenv("TZ", "UTC", 1);
        tzset();
#endif
    }
    static ExchangeResult at(long replyUs, size_t count) {
        ExchangeResult x;
        x.writeOk = true;
        x.count = count;
        x.replyUs = replyUs;
        x.sentAt = std::chrono::system_clock::from_time_t(12 * 3600 + 34 * 60 + 56) +
                   std::chrono::milliseconds(789);
        return x;
    }
};

TEST_F(TraceLines, ReadRefusalEchoSilenceAndGarbleEachReadAsWhatTheyAre) {
    const Request read = readRequest(3, kReadingsRegister, kLongReadCount);
    const Request zero = writeRequest(3, 1, 0);
    const test::Bytes refusal = test::exception(3, kFnReadInputRefused, 2);
    test::Bytes reply = test::readReply(3, kShortReplyLength);
    const Request shortRead = readRequest(3, kReadingsRegister, kShortReadCount);
    test::Bytes badCrc = reply;
    badCrc.back() ^= 0xFF;
    test::Bytes foreign = test::readReply(7, kShortReplyLength);
    const test::Bytes echo = test::echo(zero);

    struct Case {
        const char* name;
        Request request;
        test::Bytes reply;
        long replyUs;
        FrameKind kind;
        std::string requestLine;
        std::string replyLine;
    };
    const Case cases[] = {
        {"refusal", read, refusal, 120400, FrameKind::Refusal,
         "12:34:56.789 -> 3  03 04 00 01 00 19 61 E2  read 1..25",
         "12:34:56.909 <- 3  03 84 02 63 01  refusal 02  CRC ok  120.4 ms"},
        {"reply", shortRead, reply, 14300, FrameKind::Reply,
         "12:34:56.789 -> 3  03 04 00 01 00 0A 20 2F  read 1..10",
         "12:34:56.803 <- 3  " + hexText(reply) + "  reply 25 bytes  CRC ok  14.3 ms"},
        {"wrong CRC", shortRead, badCrc, 14000, FrameKind::WrongCrc, "",
         "12:34:56.803 <- 3  " + hexText(badCrc) + "  reply 25 bytes  CRC wrong  14.0 ms"},
        {"foreign", shortRead, foreign, 14000, FrameKind::Foreign, "",
         "12:34:56.803 <- 3  " + hexText(foreign) + "  reply from 7  CRC ok  14.0 ms"},
        {"short", shortRead, test::Bytes(reply.begin(), reply.begin() + 9), 120000,
         FrameKind::Malformed, "",
         "12:34:56.909 <- 3  " + hexText(test::Bytes(reply.begin(), reply.begin() + 9)) +
             "  malformed 9 of 25 bytes  CRC wrong  120.0 ms"},
        {"echo", zero, echo, 9000, FrameKind::Echo,
         "12:34:56.789 -> 3  03 06 00 01 00 00 D9 E8  write 1=0",
         "12:34:56.798 <- 3  03 06 00 01 00 00 D9 E8  echo  CRC ok  9.0 ms"},
        {"silence", read, {}, -1, FrameKind::NoReply, "", "12:34:56.789 <- 3  -  no reply"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FrameRecord f =
            makeFrameRecord(c.request, c.reply.data(), at(c.replyUs, c.reply.size()));
        EXPECT_EQ(f.kind, c.kind);
        if (!c.requestLine.empty()) {
            EXPECT_EQ(requestTraceLine(f), c.requestLine);
        }
        EXPECT_EQ(replyTraceLine(f), c.replyLine);
    }
}

// The reply line says what the line did besides the answer; a missing reply is stamped at the
// end of the wait, not when the request left.
TEST_F(TraceLines, NoReplyIsStampedAtTheEndOfTheWaitAndTheLineNotesFollow) {
    const Request read = readRequest(3, kReadingsRegister, kShortReadCount);
    const test::Bytes reply = test::readReply(3, kShortReplyLength);
    struct Case {
        const char* name;
        test::Bytes reply;
        long replyUs, waitedUs;
        size_t stray;
        int copies, foreign;
        FrameKind kind;
        std::string line;
    };
    const Case cases[] = {
        {"silence", {}, -1, 350000, 0, 0, 0, FrameKind::NoReply, "12:34:57.139 <- 3  -  no reply"},
        {"only the line's copy",
         {},
         -1,
         350000,
         0,
         1,
         0,
         FrameKind::NoReply,
         "12:34:57.139 <- 3  -  no reply  line echo"},
        {"only another number",
         {},
         -1,
         350000,
         2,
         0,
         1,
         FrameKind::Foreign,
         "12:34:57.139 <- 3  -  no reply  foreign frames 1 set aside  stray bytes 2"},
        {"a reply after the copy", reply, 31000, 31000, 0, 1, 0, FrameKind::Reply,
         "12:34:56.820 <- 3  " + hexText(reply) + "  reply 25 bytes  CRC ok  31.0 ms  line echo"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExchangeResult x = at(c.replyUs, c.reply.size());
        x.waitedUs = c.waitedUs;
        x.strayBytes = c.stray;
        x.lineCopies = c.copies;
        x.foreignFrames = c.foreign;
        const FrameRecord f = makeFrameRecord(read, c.reply.data(), x);
        EXPECT_EQ(f.kind, c.kind);
        EXPECT_EQ(replyTraceLine(f), c.line);
    }
}

TEST(BusTrace, ReadPrintsTheRequestAndReplyLinesOnStandardError) {
    std::string error;
    auto bus = sim::Bus::openPty("", &error);
    ASSERT_TRUE(bus) << error;
    sim::AnalyzerConfig standard;
    standard.address = 6;
    standard.model = sim::Model::Standard;
    bus->addAnalyzer(standard);
    bus->start();
    const std::string program =
        std::string(ZTA_BUS_PROGRAM) + " read --port " + bus->portPath() + " --address 6 --trace";
    struct Case {
        const char* args;
        int status;
        const char* request;
        const char* reply;
    };
    const Case cases[] = {
        {"", 0, " -> 6  06 04 00 01 00 0A", "  reply 25 bytes  CRC ok  "},
        {" --extended", 6, " -> 6  06 04 00 01 00 19", "  refusal 02  CRC ok  "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const auto r = zta::testing::runProgram(program + c.args + " 2>&1 >/dev/null");
        EXPECT_EQ(r.status, c.status) << r.out;
        const size_t request = r.out.find(c.request);
        const size_t reply = r.out.find(" <- 6  06 ");
        ASSERT_NE(request, std::string::npos) << r.out;
        ASSERT_NE(reply, std::string::npos) << r.out;
        EXPECT_LT(request, reply);
        EXPECT_NE(r.out.find(c.reply, reply), std::string::npos) << r.out;
    }
}

TEST(FrameRingTest, KeepsTheNewestFramesInOrderAndReadersResumeWhereTheyStopped) {
    FrameRing ring(4);
    const test::Bytes none;
    for (int a = 1; a <= 6; ++a) {
        ExchangeResult x;
        x.writeOk = true;
        ring.exchanged(readRequest(static_cast<uint8_t>(a), 1, 10), none.data(), x);
    }
    const auto all = ring.since(0);
    ASSERT_EQ(all.size(), 4u);
    for (size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i].address(), static_cast<int>(i) + 3);
        EXPECT_EQ(all[i].sequence, i + 3);
    }
    EXPECT_EQ(ring.since(5).size(), 1u);
    EXPECT_TRUE(ring.since(6).empty());
    ring.clear();
    EXPECT_TRUE(ring.since(0).empty());
    EXPECT_EQ(ring.lastSequence(), 6u);
}

}  // namespace
}  // namespace zta

namespace zta {
namespace {

TEST(FastPacing, RestsThreeAndAHalfCharactersAndLeavesTheDefaultPacingAlone) {
    const struct {
        unsigned baud;
        long us;
    } cases[] = {{1200, 29167}, {9600, 3646}, {19200, 1823}};
    for (const auto& c : cases) EXPECT_EQ(fastPacingUs(c.baud), c.us) << c.baud;
    EXPECT_EQ(pacingMs(50), 100);
    EXPECT_EQ(pacingMs(1), 492);
    PollBlock block;
    EXPECT_FALSE(block.fastPolling());
}

}  // namespace
}  // namespace zta
