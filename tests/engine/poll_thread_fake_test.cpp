// SPDX-License-Identifier: GPL-3.0-or-later
// The poll thread against a scripted port: the cases a real line cannot stage on cue.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine_support.h"
#include "poll/poll_thread.h"

namespace zta {
namespace {

using test::Bytes;
using test::readReply;

constexpr int kWaitMs = 10000;

class PollFake : public ::testing::Test {
  protected:
    void SetUp() override {
        timing.pacingBaseMs = 5;
        timing.pacingPerWindowMs = 0;
        timing.reopenIntervalMs = 50;
    }
    void TearDown() override {
        if (poll) {
            EXPECT_TRUE(poll->stop(kWaitMs));
        }
    }
    void start() {
        poll =
            std::make_unique<PollThread>(block, sink, timing, [this] { return wire.makePort(); });
        ASSERT_TRUE(poll->start());
    }
    int addAnalyzer(AnalyzerId view, int address) {
        const int slot = *block.registerSlot(view);
        block.setAddress(slot, address);
        return slot;
    }
    static bool isRead(const Request& r) { return r[1] == kFnReadInput; }

    PollBlock block;
    test::FakeWire wire;
    test::RecordingSink sink{block};
    PollTiming timing;
    std::unique_ptr<PollThread> poll;
};

TEST_F(PollFake, OpeningFailureShowsItsMessageAndEnds) {
    struct Case {
        OpenResult result;
        std::string text;
    };
    const Case cases[] = {
        {{OpenFailure::Busy, 16}, "Порт /dev/ttyZ занят."},
        {{OpenFailure::WrongPort, 2}, "Порт /dev/ttyZ указан неверно"},
        {{OpenFailure::SettingsRefused, 22}, "Ошибка SetCommState № 22"},
        {{OpenFailure::Other, 13}, "Порт /dev/ttyZ не открыт (код 13)"},
    };
    block.setPortName("/dev/ttyZ");
    addAnalyzer(1, 1);
    for (const Case& c : cases) {
        test::RecordingSink failing(block);
        wire.setOpenResult(c.result);
        PollThread thread(block, failing, timing, [this] { return wire.makePort(); });
        ASSERT_TRUE(thread.start());
        ASSERT_TRUE(failing.waitUntil([](auto& r) { return r.lineFailed > 0; }, kWaitMs));
        EXPECT_TRUE(thread.stop(kWaitMs));
        const auto r = failing.get();
        ASSERT_EQ(r.boxes.size(), 1u);
        EXPECT_EQ(r.boxes[0].text, c.text);
        EXPECT_EQ(r.boxes[0].caption, "Опрос");
        EXPECT_EQ(r.lineFailed, 1);
        EXPECT_TRUE(r.data.empty());
    }
    EXPECT_TRUE(wire.requestsIn().empty());
}

// The stop comes while the exchange is on the line: the turn completes, stores its reply, and no
// notice follows.
TEST_F(PollFake, StopDuringATurnSendsNoFurtherNotice) {
    addAnalyzer(1, 1);
    int turns = 0;
    wire.setResponder([&](const Request&) -> std::optional<Bytes> {
        if (++turns == 3) block.requestStop();
        return readReply(1, kLongReplyLength);
    });
    start();
    ASSERT_TRUE(wire.waitRequests(3, kWaitMs));
    EXPECT_TRUE(poll->stop(kWaitMs));
    EXPECT_EQ(wire.requestsIn().size(), 3u);
    EXPECT_EQ(sink.get().data.size(), 2u);
    EXPECT_EQ(block.snapshot(0).replyCount, 3);
}

// A window closed while its exchange ran: its reply is not stored in the analyzer that moved
// into the index, and no notice goes anywhere.
TEST_F(PollFake, TurnOfAClosedSlotStoresNothing) {
    addAnalyzer(1, 1);
    addAnalyzer(2, 2);
    bool closed = false;
    wire.setResponder([&](const Request& r) -> std::optional<Bytes> {
        if (r[0] == 1 && !closed) {
            closed = true;
            block.close(0);  // view 2 moves into slot 0
        }
        return readReply(r[0], kLongReplyLength, 1, r[0] == 1 ? 11 : 22);
    });
    start();
    ASSERT_TRUE(sink.waitUntil([](auto& r) { return r.data.size() >= 3; }, kWaitMs));
    poll->stop(kWaitMs);
    for (const auto& d : sink.get().data) {
        EXPECT_EQ(d.view, 2u);
        EXPECT_EQ(d.copy.address, 2);
        EXPECT_DOUBLE_EQ(d.copy.readings.concentration, 22.0);
    }
}

TEST_F(PollFake, ExceptionToACommandKeepsItPendingWithoutLosingContact) {
    addAnalyzer(1, 4);
    wire.setResponder([](const Request& r) -> std::optional<Bytes> {
        if (r[1] == kFnWriteSingle) return test::exception(4, 0x86, 2);
        return readReply(4, kLongReplyLength);
    });
    start();
    ASSERT_TRUE(sink.waitUntil([](auto& r) { return !r.data.empty(); }, kWaitMs));
    ASSERT_TRUE(block.confirmCommand(0, Command::Zero));
    const size_t before = wire.requestsIn().size();
    ASSERT_TRUE(wire.waitRequests(before + 5, kWaitMs));
    poll->stop(kWaitMs);
    const Slot s = block.snapshot(0);
    EXPECT_TRUE(s.pending.isPending(zta::Command::Zero));
    EXPECT_EQ(s.errorCount, 0);  // five refusals in a row would have meant no contact
    const auto requests = wire.requestsIn();
    for (size_t i = before + 1; i < requests.size(); ++i) EXPECT_EQ(requests[i][1], kFnWriteSingle);
    // The reads before the command were answered; nothing after it was noticed.
    const auto data = sink.get().data;
    EXPECT_EQ(data.size(), static_cast<size_t>(s.replyCount));
}

// Only the baud write's own echo tells the view of a new rate; an earlier command's echo clears
// the baud request with the rest, and then nothing may claim the rate changed.
TEST_F(PollFake, BaudNoticeOnlyForTheBaudWrite) {
    addAnalyzer(1, 5);
    wire.setResponder([](const Request& r) -> std::optional<Bytes> {
        if (r[1] == kFnWriteSingle) return test::echo(r);
        return readReply(5, kLongReplyLength);
    });
    // Both confirmed inside a notice, between two turns, so the next turn sees both.
    std::atomic<bool> armed{false};
    std::atomic<size_t> sent{0};
    sink.onData([&](AnalyzerId, int) {
        if (!armed.exchange(false)) return;
        block.confirmCommand(0, Command::Threshold1, 30);
        block.confirmCommand(0, Command::NewBaud, 16);
        sent = wire.requestsIn().size();
    });
    start();
    ASSERT_TRUE(wire.waitRequests(1, kWaitMs));
    armed = true;
    // The threshold write (no notice), the baud write on the next turn, then reads again.
    ASSERT_TRUE(sink.waitUntil([](auto& r) { return !r.baud.empty(); }, kWaitMs));
    ASSERT_TRUE(wire.waitRequests(sent + 3, kWaitMs));
    poll->stop(kWaitMs);
    EXPECT_FALSE(block.snapshot(0).pending.anyPending());
    const auto requests = wire.requestsIn();
    EXPECT_EQ(requests[sent][1], kFnWriteSingle);
    EXPECT_EQ(requests[sent][3], 5);
    EXPECT_EQ(requests[sent + 1][1], kFnWriteSingle);
    EXPECT_EQ(requests[sent + 1][3], 0);
    EXPECT_EQ(requests[sent + 2][1], kFnReadInput);
    int writes = 0;
    for (const Request& r : requests) writes += r[1] == kFnWriteSingle;
    EXPECT_EQ(writes, 2);
    EXPECT_EQ(sink.get().baud.size(), 1u);
    EXPECT_EQ(sink.get().baud[0].code, 16);
    EXPECT_EQ(sink.get().baud[0].address, 5);
}

// The operator confirms threshold 1 again, with another value, while the first write is on
// the line: that echo answers the old value only, and the new one goes out next.
TEST_F(PollFake, AnEchoOfAnOldValueLeavesTheNewOnePending) {
    addAnalyzer(1, 5);
    std::atomic<int> reads{0}, thresholdWrites{0};
    wire.setResponder([&](const Request& r) -> std::optional<Bytes> {
        if (r[1] != kFnWriteSingle) {
            if (reads++ == 0) block.confirmCommand(0, Command::Threshold1, 30);
            return readReply(5, kLongReplyLength);
        }
        if (thresholdWrites++ == 0) block.confirmCommand(0, Command::Threshold1, 40);
        return test::echo(r);
    });
    start();
    ASSERT_TRUE(wire.waitRequests(5, kWaitMs));
    poll->stop(kWaitMs);
    std::vector<int> sent;
    for (const Request& r : wire.requestsIn())
        if (r[1] == kFnWriteSingle) sent.push_back(r[5]);
    EXPECT_EQ(sent, (std::vector<int>{30, 40}));
    EXPECT_FALSE(block.snapshot(0).pending.anyPending());
}

// An adapter that takes no bytes: every turn is a failure, the box comes once per outage, and
// the request counter does not move.
TEST_F(PollFake, FailedWritesShowOneBoxAndCountFailures) {
    addAnalyzer(1, 1);
    wire.setWriteFails(true);
    start();
    ASSERT_TRUE(sink.waitUntil([](auto& r) { return r.data.size() >= 8; }, kWaitMs));
    wire.setWriteFails(false);
    wire.setResponder([](const Request&) { return std::optional<Bytes>(readReply(1, 55)); });
    ASSERT_TRUE(sink.waitUntil(
        [](auto& r) { return !r.data.empty() && r.data.back().copy.errorCount == 0; }, kWaitMs));
    wire.setWriteFails(true);
    ASSERT_TRUE(sink.waitUntil([](auto& r) { return r.boxes.size() >= 2; }, kWaitMs));
    poll->stop(kWaitMs);
    const auto r = sink.get();
    EXPECT_EQ(r.boxes.size(), 2u);
    EXPECT_EQ(r.boxes[0].text, "Ошибка записи");
    EXPECT_EQ(r.boxes[0].caption, "");
    EXPECT_EQ(r.data[7].copy.errorCount, 5);
    EXPECT_EQ(r.data[7].copy.requestCount, 0);
}

// One reply to a read, judged: data, a failure, or nothing at all (no count, no notice). What
// the health counts as a good reply is what was taken as data.
TEST_F(PollFake, RepliesToAReadAreJudgedByLengthNumberAndCrc) {
    enum class Judged { Data, Failure, Nothing };
    Bytes swapped = readReply(2, kShortReplyLength);
    std::swap(swapped[kShortReplyLength - 2], swapped[kShortReplyLength - 1]);
    Bytes longer = readReply(2, kShortReplyLength);
    longer.push_back(0);
    Bytes probe(kProbeReplyLength, 0);
    probe[0] = 2;
    probe[1] = kFnReadInput;
    probe[2] = 2 * kProbeCount;
    sealFrame(probe.data(), probe.size());
    struct Case {
        const char* name;
        Bytes reply;  // empty: silence
        Judged judged;
        bool extendedAfter;
    };
    auto joined = [](Bytes a, const Bytes& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const Request longRead = readRequest(2, kReadingsRegister, kLongReadCount);
    const Case cases[] = {
        {"25 bytes", readReply(2, kShortReplyLength), Judged::Data, false},
        {"55 bytes", readReply(2, kLongReplyLength), Judged::Data, true},
        {"from a foreign network number", readReply(3, kShortReplyLength), Judged::Failure, true},
        // A damaged reply is a failed exchange: the analyzer's value may have moved.
        {"CRC bytes swapped", swapped, Judged::Failure, true},
        {"refusal of the long read", test::exception(2, 0x84, 2), Judged::Nothing, false},
        {"refusal from a foreign number", test::exception(3, 0x84, 2), Judged::Failure, true},
        {"another exception", test::exception(2, 0x83, 2), Judged::Nothing, true},
        // The frame ends where its header says; the extra byte is the next drop's.
        {"one byte too many", longer, Judged::Data, false},
        {"a probe's length", probe, Judged::Failure, true},
        {"silence", {}, Judged::Failure, true},
        {"a foreign frame, then its own", joined(readReply(6, kLongReplyLength), readReply(2, 25)),
         Judged::Data, false},
        {"the line's copy of the request, then the reply",
         joined(Bytes(longRead.begin(), longRead.end()), readReply(2, kLongReplyLength)),
         Judged::Data, true},
        {"the line's copy alone", Bytes(longRead.begin(), longRead.end()), Judged::Failure, true},
    };
    addAnalyzer(1, 2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        block.storeOutcome(0, block.snapshot(0).generation, [](Slot& s) { s.errorCount = 0; });
        const Slot before = block.snapshot(0);
        // The second turn takes the state the first one left, and stops the run.
        std::optional<Slot> afterFirst;
        int calls = 0;
        wire.setResponder([&](const Request&) -> std::optional<Bytes> {
            if (++calls == 1) {
                if (c.reply.empty()) return std::nullopt;
                return c.reply;
            }
            afterFirst = block.snapshot(0);
            block.requestStop();
            return std::nullopt;
        });
        test::RecordingSink caseSink(block);
        PollThread thread(block, caseSink, timing, [this] { return wire.makePort(); });
        ASSERT_TRUE(thread.start());
        ASSERT_TRUE(thread.wait(kWaitMs));
        ASSERT_TRUE(afterFirst.has_value());
        EXPECT_EQ(caseSink.get().data.size(), c.judged == Judged::Nothing ? 0u : 1u);
        EXPECT_EQ(afterFirst->replyCount, before.replyCount + (c.judged == Judged::Data));
        EXPECT_EQ(afterFirst->errorCount, c.judged == Judged::Failure ? 1 : 0);
        EXPECT_EQ(afterFirst->readings.extendedModel, c.extendedAfter);
        EXPECT_EQ(afterFirst->health.goodReplies - before.health.goodReplies,
                  c.judged == Judged::Data ? 1 : 0);
    }
}

// What each accepted reply leaves in the slot, turn after turn: a 55-byte reply sets the text
// fields and keeps the gas code, a 25-byte one sets the code and its name, a code above 8 keeps
// the last name, and lost contact clears the readings but keeps the unit text.
TEST_F(PollFake, DecodedRepliesFillTheSlotTurnByTurn) {
    const std::vector<std::optional<Bytes>> replies = {
        readReply(4, kLongReplyLength, 3, 40),  // the first read is the long one
        test::exception(4, 0x84, 2),            // refused: ten registers from now on
        readReply(4, kShortReplyLength, 2, 30),
        readReply(4, kShortReplyLength, 9, -100),
        std::nullopt,
        std::nullopt,
        std::nullopt,
        std::nullopt,
        std::nullopt,
        std::nullopt,
    };
    addAnalyzer(1, 4);
    std::atomic<size_t> calls{0};
    wire.setResponder([&](const Request&) -> std::optional<Bytes> {
        const size_t i = calls++;
        if (i + 1 >= replies.size()) block.requestStop();
        return i < replies.size() ? replies[i] : std::nullopt;
    });
    start();
    ASSERT_TRUE(poll->wait(kWaitMs));
    const auto data = sink.get().data;
    ASSERT_EQ(data.size(), 8u);  // no notice for the refusal, none after the stop

    const Slot& extended = data[0].copy;
    EXPECT_EQ(extended.readings.gasCode, 0);  // a long reply leaves the code alone
    EXPECT_EQ(extended.texts.gasName, "CH4");
    EXPECT_EQ(extended.texts.unitName, "%" + std::string(13, ' '));
    EXPECT_DOUBLE_EQ(extended.readings.deviceRange, 4.4);
    EXPECT_DOUBLE_EQ(extended.readings.concentration, 40.0);
    EXPECT_TRUE(extended.readings.extendedModel);

    const Slot& propane = data[1].copy;
    EXPECT_EQ(propane.readings.gasCode, 2);
    EXPECT_EQ(propane.texts.gasName, "Пропан");
    EXPECT_FALSE(propane.readings.extendedModel);
    EXPECT_DOUBLE_EQ(propane.readings.deviceRange, 4.4);  // kept from the long reply

    const Slot& unknown = data[2].copy;
    EXPECT_EQ(unknown.readings.gasCode, 9);
    EXPECT_EQ(unknown.texts.gasName, "Пропан");
    EXPECT_DOUBLE_EQ(unknown.readings.concentration, -100.0);
    EXPECT_EQ(unknown.replyCount, 3);

    for (size_t k = 1; k <= 5; ++k) {
        EXPECT_EQ(data[2 + k].copy.errorCount, static_cast<int>(k)) << k;
        EXPECT_DOUBLE_EQ(data[2 + k].copy.readings.concentration, -100.0) << k;
    }
    const Slot after = block.snapshot(0);  // the sixth failure, stored without a notice
    EXPECT_EQ(after.errorCount, 5);
    EXPECT_DOUBLE_EQ(after.readings.concentration, 0.0);
    EXPECT_EQ(after.readings.gasCode, 0);
    EXPECT_EQ(after.texts.gasName, " - ");
    EXPECT_TRUE(after.readings.extendedModel);
    EXPECT_EQ(after.texts.unitName, unknown.texts.unitName);
    EXPECT_EQ(after.replyCount, 3);
}

// An echoing adapter's copy of a read request is no data and no command echo.
TEST_F(PollFake, EightBytesToAReadAreAFailure) {
    addAnalyzer(1, 1);
    block.storeOutcome(0, block.snapshot(0).generation, [](Slot& s) { s.errorCount = 0; });
    wire.setResponder([](const Request& r) { return std::optional<Bytes>(test::echo(r)); });
    start();
    ASSERT_TRUE(sink.waitUntil([](auto& r) { return r.data.size() >= 2; }, kWaitMs));
    poll->stop(kWaitMs);
    EXPECT_EQ(sink.get().data[1].copy.errorCount, 2);
}

TEST_F(PollFake, EveryRunStartsAtTheFirstSlot) {
    addAnalyzer(1, 1);
    addAnalyzer(2, 2);
    wire.setResponder(
        [](const Request& r) { return std::optional<Bytes>(readReply(r[0], kLongReplyLength)); });
    timing.pacingBaseMs = 60000;  // one turn per run: the stop ends the pause
    start();
    ASSERT_TRUE(wire.waitRequests(1, kWaitMs));
    ASSERT_TRUE(poll->stop(kWaitMs));
    const size_t first = wire.requestsIn().size();
    ASSERT_EQ(first, 1u);  // stopped after the first turn, the cursor left at slot 1
    ASSERT_EQ(block.cursor(), 1);
    ASSERT_TRUE(poll->start());
    ASSERT_TRUE(wire.waitRequests(first + 1, kWaitMs));
    EXPECT_EQ(wire.requestsIn()[first][0], 1);
}

}  // namespace
}  // namespace zta
