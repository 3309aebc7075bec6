// SPDX-License-Identifier: GPL-3.0-or-later
// The poll thread against simulated analyzers on a pseudo-terminal.

#include "poll/poll_thread.h"

#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include "engine/engine_support.h"
#include "engine/sim_bus_fixture.h"
#include "sim/bus.h"

namespace zta {
namespace {

using test::Bytes;
using LogKind = sim::LogEntry::Kind;

constexpr int kWaitMs = 20000;

class PollSim : public test::SimBusTest<test::RecordingSink> {
  protected:
    void SetUp() override {
        SimBusTest::SetUp();
        timing.reopenIntervalMs = 100;
    }

    void add(int address, sim::Model model = sim::Model::Extended, unsigned baud = 19200) {
        sim::AnalyzerConfig a;
        a.address = address;
        a.model = model;
        a.baud = baud;
        bus->addAnalyzer(a);
    }
    int openWindow(AnalyzerId view, int address) {
        const int slot = *block.registerSlot(view);
        block.setAddress(slot, address);
        return slot;
    }
    bool waitNotices(size_t n) {
        return sink.waitUntil([n](auto& r) { return r.data.size() >= n; }, kWaitMs);
    }
    std::vector<sim::LogEntry> requestsIn() const {
        std::vector<sim::LogEntry> out;
        for (auto& e : bus->log())
            if (e.kind != LogKind::WriteApplied) out.push_back(e);
        return out;
    }
    bool waitLog(const std::function<bool(const sim::LogEntry&)>& pred) const {
        return bus->waitFor(
            [&](const std::vector<sim::LogEntry>& log) {
                for (auto& e : log)
                    if (pred(e)) return true;
                return false;
            },
            kWaitMs);
    }
    // Each data notice is sent while the next request waits for it, so the number of requests
    // the simulator has seen at that moment names the turn that sent it. Actions queued with
    // atNextNotice run there too, on the poll thread between two turns, so that several
    // changes reach the slot's next turn together.
    void trackNotices() {
        sink.onData([this](AnalyzerId, int) {
            const size_t turn = requestsIn().size() - 1;
            std::function<void()> action;
            {
                std::lock_guard lock(noticeMutex_);
                noticeTurns_.push_back(turn);
                action.swap(atNotice_);
            }
            if (action) {
                action();
                std::lock_guard lock(noticeMutex_);
                actionsRun_++;
                noticeChanged_.notify_all();
            }
        });
    }
    bool atNextNotice(std::function<void()> action) {
        std::unique_lock lock(noticeMutex_);
        const int before = actionsRun_;
        atNotice_ = std::move(action);
        return noticeChanged_.wait_for(lock, std::chrono::milliseconds(kWaitMs),
                                       [&] { return actionsRun_ > before; });
    }
    std::vector<size_t> noticeTurns() {
        std::lock_guard lock(noticeMutex_);
        return noticeTurns_;
    }
    bool noticeFor(size_t turn) {
        const auto turns = noticeTurns();
        return std::find(turns.begin(), turns.end(), turn) != turns.end();
    }

    static bool isWrite(const sim::LogEntry& e, int reg) {
        return e.kind != LogKind::WriteApplied && e.bytes.size() == 8 && e.bytes[1] == 6 &&
               e.bytes[3] == reg;
    }

  private:
    std::mutex noticeMutex_;
    std::condition_variable noticeChanged_;
    std::vector<size_t> noticeTurns_;
    std::function<void()> atNotice_;
    int actionsRun_ = 0;
};

TEST_F(PollSim, ProbesTheExtendedModelThenReadsTenRegisters) {
    add(1, sim::Model::Standard);
    openWindow(1, 1);
    trackNotices();
    start();
    // A refusal that a loaded machine purged before reading is a failed turn, and the long
    // read is asked again; only the refusal that came through switches the model.
    ASSERT_TRUE(sink.waitUntil(
        [](auto& r) {
            int answered = 0;
            for (auto& d : r.data) answered += d.copy.errorCount == 0;
            return answered >= 2;
        },
        kWaitMs));
    poll->stop(kWaitMs);
    const Bytes longRead = test::hex("01 04 00 01 00 19 60 00");
    const Bytes shortRead = test::hex("01 04 00 01 00 0A 21 CD");
    const auto requests = requestsIn();
    size_t longReads = 0;
    while (longReads < requests.size() && requests[longReads].bytes == longRead) ++longReads;
    ASSERT_GE(longReads, 1u);
    ASSERT_GE(requests.size(), longReads + 2);
    for (size_t i = longReads; i < requests.size(); ++i)
        EXPECT_EQ(requests[i].bytes, shortRead) << i;
    EXPECT_FALSE(noticeFor(longReads - 1)) << "a notice for the refused turn";

    const auto data = sink.get().data;
    const auto first =
        std::find_if(data.begin(), data.end(), [](auto& d) { return d.copy.errorCount == 0; });
    ASSERT_NE(first, data.end());
    EXPECT_EQ(first->copy.replyCount, 1);
    EXPECT_FALSE(first->copy.readings.extendedModel);
    EXPECT_EQ(first->copy.texts.gasName, "Метан");
}

// Priority decides which write goes first; its exact echo clears only its own command, the
// others follow on the next turns in priority order, and a write turn sends no notice.
TEST_F(PollSim, EachEchoClearsItsOwnCommandAndTheOthersFollowInPriorityOrder) {
    struct Case {
        std::vector<Command> confirmed;
        std::vector<int> sentRegisters;  // in the order they go out
        Bytes firstRequest;              // empty: not checked
    };
    const Case cases[] = {
        {{Command::Zero, Command::FactoryNumber}, {1, 7}, test::hex("01 06 00 01 00 00 D8 0A")},
        {{Command::Zero, Command::Threshold1}, {5, 1}, {}},
        {{Command::Threshold2, Command::Threshold1}, {5, 6}, {}},
    };
    add(1);
    openWindow(1, 1);
    trackNotices();
    start();
    ASSERT_TRUE(waitNotices(1));
    for (const Case& c : cases) {
        size_t from = 0;
        const size_t appliedBefore = bus->log().size();
        // Confirmed between two turns, so that the next turn sees every command at once.
        ASSERT_TRUE(atNextNotice([&] {
            from = requestsIn().size();
            for (Command which : c.confirmed) block.confirmCommand(0, which, 30);
        }));
        ASSERT_TRUE(waitLog([&](auto& e) { return isWrite(e, c.sentRegisters.back()); }));
        const size_t seen = sink.get().data.size();
        ASSERT_TRUE(sink.waitUntil(
            [&](auto& r) {
                return r.data.size() >= seen + 2 && r.data.back().copy.errorCount == 0;
            },
            kWaitMs));
        EXPECT_FALSE(block.snapshot(0).pending.anyPending());
        const auto requests = requestsIn();
        std::vector<size_t> writes;
        std::vector<int> order;
        for (size_t i = from; i < requests.size(); ++i) {
            const Bytes& b = requests[i].bytes;
            if (b[1] != 6) continue;
            writes.push_back(i);
            if (order.empty() || order.back() != b[3]) order.push_back(b[3]);
        }
        ASSERT_FALSE(writes.empty());
        EXPECT_EQ(order, c.sentRegisters);
        if (!c.firstRequest.empty()) {
            EXPECT_EQ(requests[writes.front()].bytes, c.firstRequest);
        }
        // A write goes again only when a loaded machine lost its echo: then the failed turn
        // says so. An echoed turn sends no notice.
        for (size_t k = 0; k < writes.size(); ++k) {
            const bool repeated =
                k + 1 < writes.size() && requests[writes[k + 1]].bytes == requests[writes[k]].bytes;
            EXPECT_EQ(noticeFor(writes[k]), repeated) << "write " << writes[k];
        }
        for (size_t i = writes.back() + 1; i < requests.size(); ++i)
            EXPECT_EQ(requests[i].bytes[1], 4) << i;
        // Every confirmed command took effect in the analyzer.
        const auto log = bus->log();
        std::vector<int> applied;
        for (size_t i = appliedBefore; i < log.size(); ++i)
            if (log[i].kind == LogKind::WriteApplied) applied.push_back(log[i].reg);
        std::sort(applied.begin(), applied.end());
        applied.erase(std::unique(applied.begin(), applied.end()), applied.end());
        std::vector<int> expected = c.sentRegisters;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(applied, expected);
    }
}

TEST_F(PollSim, NewBaudRateIsReportedWithCodeAndNumber) {
    block.setBaudRate(9600);
    add(5, sim::Model::Extended, 9600);
    openWindow(42, 5);
    start();
    ASSERT_TRUE(waitNotices(1));
    block.confirmCommand(0, Command::NewBaud, 8);
    ASSERT_TRUE(sink.waitUntil([](auto& r) { return !r.baud.empty(); }, kWaitMs));
    poll->stop(kWaitMs);
    bool sent = false;
    for (auto& e : requestsIn()) sent |= e.bytes == test::hex("05 06 00 00 05 08 8A D8");
    EXPECT_TRUE(sent);
    const auto baud = sink.get().baud;
    ASSERT_EQ(baud.size(), 1u);
    EXPECT_EQ(baud[0].view, 42u);
    EXPECT_EQ(baud[0].code, 8);
    EXPECT_EQ(baud[0].address, 5);
}

// The request goes to the old number; the slot has the new one before the echo, so a missing
// echo makes the repeated request go to the new number.
TEST_F(PollSim, NewNetworkNumberTakesTheSlotBeforeTheEcho) {
    add(3);
    openWindow(1, 3);
    std::mutex m;
    std::vector<int> slotAddressAtWrite;
    bus->setLogSink([&](const sim::LogEntry& e) {
        if (e.kind == LogKind::Request && e.bytes[1] == 6) {
            std::lock_guard lock(m);
            slotAddressAtWrite.push_back(block.snapshot(0).address);
        }
    });
    trackNotices();
    start();
    ASSERT_TRUE(waitNotices(1));
    // Between two turns, so that the silence meets the write and not a read before it.
    ASSERT_TRUE(atNextNotice([&] {
        bus->setFault(3, sim::Fault::Silent, 1);
        block.confirmCommand(0, Command::NewAddress, 7);
    }));
    ASSERT_TRUE(waitLog([](auto& e) { return e.bytes[0] == 7 && e.bytes[1] == 6; }));
    poll->stop(kWaitMs);
    bus->setLogSink(nullptr);
    std::vector<Bytes> writes;
    for (auto& e : requestsIn())
        if (e.bytes[1] == 6) writes.push_back(e.bytes);
    ASSERT_GE(writes.size(), 2u);
    EXPECT_EQ(writes[0][0], 3);
    EXPECT_EQ(writes[0][4], 7);
    EXPECT_EQ(writes[0][5], 16);  // the station's own rate, 19200
    EXPECT_EQ(writes[1][0], 7);
    std::lock_guard lock(m);
    ASSERT_FALSE(slotAddressAtWrite.empty());
    EXPECT_EQ(slotAddressAtWrite[0], 7);
}

TEST_F(PollSim, SixthFailureClearsTheReadings) {
    add(1, sim::Model::Standard);
    openWindow(1, 1);
    start();
    // An answered turn first: a reply lost on a loaded machine would itself be a failure turn.
    ASSERT_TRUE(sink.waitUntil(
        [](auto& r) { return !r.data.empty() && r.data.back().copy.errorCount == 0; }, kWaitMs));
    bus->setFault(1, sim::Fault::Silent);
    ASSERT_TRUE(sink.waitUntil(
        [](auto& r) {
            return !r.data.empty() && r.data.back().copy.readings.extendedModel &&
                   r.data.back().copy.texts.gasName == " - ";
        },
        kWaitMs));
    poll->stop(kWaitMs);
    const auto data = sink.get().data;
    // From the last answered turn: five failures keep the readings, the sixth clears them.
    size_t last = 0;
    for (size_t i = 0; i < data.size(); ++i)
        if (data[i].copy.errorCount == 0) last = i;
    ASSERT_GE(data.size(), last + 7);
    for (int k = 1; k <= 5; ++k) {
        const Slot& s = data[last + k].copy;
        EXPECT_EQ(s.errorCount, k);
        EXPECT_DOUBLE_EQ(s.readings.concentration, 20.0) << k;
        EXPECT_FALSE(s.readings.extendedModel) << k;
    }
    const Slot& sixth = data[last + 6].copy;
    EXPECT_EQ(sixth.errorCount, 5);
    EXPECT_DOUBLE_EQ(sixth.readings.concentration, 0.0);
    EXPECT_EQ(sixth.readings.factoryNumber, 0);
    EXPECT_EQ(sixth.readings.softwareVersion, 0);
    EXPECT_EQ(sixth.texts.gasName, " - ");
    EXPECT_TRUE(sixth.readings.extendedModel);
    EXPECT_EQ(sixth.texts.unitName, data[last].copy.texts.unitName);  // kept
    EXPECT_EQ(sixth.replyCount, data[last].copy.replyCount);
}

// A damaged reply is a failed exchange like silence: five in a row mean no contact, the sixth
// clears the readings, and every turn has its notice, so that the window never goes on showing
// the last good value as live.
TEST_F(PollSim, WrongCrcRepliesAreFailuresThatLoseContact) {
    add(1);
    openWindow(1, 1);
    start();
    ASSERT_TRUE(sink.waitUntil(
        [](auto& r) { return !r.data.empty() && r.data.back().copy.errorCount == 0; }, kWaitMs));
    bus->setFault(1, sim::Fault::WrongCrc);
    ASSERT_TRUE(sink.waitUntil(
        [](auto& r) { return !r.data.empty() && r.data.back().copy.texts.gasName == " - "; },
        kWaitMs));
    poll->stop(kWaitMs);
    const auto data = sink.get().data;
    size_t last = 0;
    for (size_t i = 0; i < data.size(); ++i)
        if (data[i].copy.errorCount == 0) last = i;
    ASSERT_GE(data.size(), last + 7);
    for (int k = 1; k <= 5; ++k) EXPECT_EQ(data[last + k].copy.errorCount, k);
    EXPECT_DOUBLE_EQ(data[last + 5].copy.readings.concentration, 20.0);
    EXPECT_DOUBLE_EQ(data[last + 6].copy.readings.concentration, 0.0);
    EXPECT_GE(block.snapshot(0).health.wrongCrc, 5);
}

// The stop comes while the analyzer is answering: that turn completes and stores its outcome,
// but sends no notice, and no further request goes out.
TEST_F(PollSim, StopDuringATurnSendsNoFurtherNotice) {
    add(1);
    openWindow(1, 1);
    trackNotices();
    start();
    ASSERT_TRUE(waitNotices(2));
    std::atomic<bool> armed{true};
    std::atomic<size_t> stoppedAt{0};
    bus->setLogSink([&](const sim::LogEntry& e) {
        if (e.kind != LogKind::Request || !armed.exchange(false)) return;
        stoppedAt = requestsIn().size() - 1;
        block.requestStop();
    });
    ASSERT_TRUE(poll->wait(kWaitMs));
    bus->setLogSink(nullptr);
    ASSERT_FALSE(armed);
    EXPECT_EQ(requestsIn().size(), stoppedAt + 1);
    EXPECT_FALSE(noticeFor(stoppedAt));
    const Slot lastNotice = sink.get().data.back().copy;
    const Slot now = block.snapshot(0);
    const bool answered = now.errorCount == 0 && now.replyCount == lastNotice.replyCount + 1;
    const bool failed = now.replyCount == lastNotice.replyCount &&
                        now.errorCount == std::min(lastNotice.errorCount + 1, 5);
    EXPECT_TRUE(answered || failed) << "the stopped turn should have stored its outcome";
}

TEST_F(PollSim, NoWindowNoExchange) {
    add(1);
    start();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // many empty turns
    EXPECT_TRUE(bus->log().empty());
    openWindow(1, 1);
    ASSERT_TRUE(waitNotices(1));  // the thread was there all along
}

double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

// The adapter is pulled out and put back: one box, failures counted as usual, no busy loop,
// and polling resumes by itself.
TEST_F(PollSim, UnpluggedAdapterIsReopenedWhenItComesBack) {
    add(1);
    openWindow(1, 1);
    std::mutex m;
    std::vector<std::pair<double, std::chrono::steady_clock::time_point>> samples;
    sink.onData([&](AnalyzerId, int) {
        std::lock_guard lock(m);
        samples.emplace_back(threadCpuSeconds(), std::chrono::steady_clock::now());
    });
    start();
    ASSERT_TRUE(waitNotices(1));
    const size_t before = sink.get().data.size();
    bus->unplug();
    ASSERT_TRUE(sink.waitUntil([&](auto& r) { return r.data.size() >= before + 40; }, kWaitMs));
    size_t outageTo;
    {
        std::lock_guard lock(m);
        outageTo = samples.size() - 1;
    }
    ASSERT_TRUE(bus->replug());
    ASSERT_TRUE(sink.waitUntil(
        [&](auto& r) { return r.data.size() > outageTo + 1 && r.data.back().copy.errorCount == 0; },
        kWaitMs));
    poll->stop(kWaitMs);

    const auto r = sink.get();
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text, "Ошибка записи");
    // A turn or two may still have been answered after `before` was taken.
    size_t lastAnswered = outageTo;
    for (size_t i = 0; i < outageTo; ++i)
        if (r.data[i].copy.errorCount == 0) lastAnswered = i;
    ASSERT_LT(lastAnswered + 10, outageTo);
    // The turn that finds the line gone fails once; the line's loss makes it five at once.
    EXPECT_EQ(r.data[lastAnswered + 2].copy.errorCount, 5);
    EXPECT_EQ(r.data[outageTo].copy.errorCount, 5);
    ASSERT_EQ(r.lineStates.size(), 2u);
    EXPECT_FALSE(r.lineStates[0].up);
    EXPECT_TRUE(r.lineStates[1].up);
    const size_t outageFrom = lastAnswered + 2;
    std::lock_guard lock(m);
    const double cpu = samples[outageTo].first - samples[outageFrom].first;
    const double wall =
        std::chrono::duration<double>(samples[outageTo].second - samples[outageFrom].second)
            .count();
    ASSERT_GT(wall, 0.0);
    EXPECT_LT(cpu / wall, 0.25) << "cpu " << cpu << " s over " << wall << " s";
}

// A killed simulator takes its pseudo-terminal along: the poll thread can only wait for the
// port. Every analyzer on the line is out of contact at once (not after five turns each), the
// windows are told before the line's state, and a simulator started again brings them back.
TEST_F(PollSim, ALostLineTakesEveryAnalyzerOutOfContactAtOnce) {
    for (int a : {1, 2, 3}) {
        add(a);
        openWindow(a, a);
    }
    timing.pacingBaseMs = 100;
    start();
    auto allAnswered = [](const test::RecordingSink::Record& r) {
        int answered = 0;
        for (int slot = 0; slot < 3; ++slot)
            for (const auto& d : r.data)
                if (d.slot == slot && d.copy.errorCount == 0) {
                    ++answered;
                    break;
                }
        return answered == 3;
    };
    ASSERT_TRUE(sink.waitUntil(allAnswered, kWaitMs));
    bus.reset();
    ASSERT_TRUE(sink.waitUntil([](auto& r) { return !r.lineStates.empty(); }, kWaitMs));
    const auto r = sink.get();
    EXPECT_FALSE(r.lineStates[0].up);
    for (int slot = 0; slot < 3; ++slot) {
        int failures = 0;
        const Slot* last = nullptr;
        for (size_t i = 0; i < r.lineStates[0].afterData; ++i) {
            if (r.data[i].slot != slot) continue;
            last = &r.data[i].copy;
            failures = last->errorCount == 0 ? 0 : failures + 1;
        }
        ASSERT_TRUE(last) << slot;
        EXPECT_EQ(last->errorCount, kLostContactLimit) << slot;
        EXPECT_EQ(last->readings.concentration, 0.0) << slot;
        EXPECT_EQ(last->texts.gasName, " - ") << slot;
        EXPECT_LE(failures, 2) << "slot " << slot << " counted its way to lost contact";
    }

    std::string error;
    bus = sim::Bus::openPty(dir_ + "/line", &error);
    ASSERT_TRUE(bus) << error;
    for (int a : {1, 2, 3}) add(a);
    bus->start();
    ASSERT_TRUE(sink.waitUntil(
        [](auto& rec) { return rec.lineStates.size() == 2 && rec.lineStates[1].up; }, kWaitMs));
    ASSERT_TRUE(sink.waitUntil(
        [](auto& rec) { return !rec.data.empty() && rec.data.back().copy.errorCount == 0; },
        kWaitMs));
}

// A zero confirmed while the line is gone must not be carried out long after the operator
// confirmed it: it expires unsent. Without an expiry it waits, and goes out when the line is back.
TEST_F(PollSim, ACommandConfirmedDuringAnOutageExpiresInsteadOfGoingOutLate) {
    for (int a : {1, 2}) {
        add(a);
        openWindow(a, a);
    }
    start();
    ASSERT_TRUE(waitNotices(2));
    bus.reset();
    ASSERT_TRUE(sink.waitUntil([](auto& r) { return !r.lineStates.empty(); }, kWaitMs));

    block.setCommandExpiryMs(200);
    ASSERT_TRUE(block.confirmCommand(0, Command::Zero));
    ASSERT_TRUE(sink.waitUntil(
        [](auto& r) {
            for (const CommandReport& c : r.commands)
                if (c.slot == 0 && c.track.failure == CommandFailure::Expired) return true;
            return false;
        },
        kWaitMs));
    EXPECT_FALSE(block.snapshot(0).pending.isPending(zta::Command::Zero));

    block.setCommandExpiryMs(0);
    ASSERT_TRUE(block.confirmCommand(1, Command::Zero));
    const int64_t confirmed = steadyNowMs();
    const size_t notices = sink.get().data.size();
    ASSERT_TRUE(sink.waitUntil(
        [&](auto& r) { return r.data.size() > notices + 2 && steadyNowMs() > confirmed + 400; },
        kWaitMs));
    EXPECT_TRUE(block.snapshot(1).pending.isPending(zta::Command::Zero));

    std::string error;
    bus = sim::Bus::openPty(dir_ + "/line", &error);
    ASSERT_TRUE(bus) << error;
    for (int a : {1, 2}) add(a);
    bus->start();
    ASSERT_TRUE(waitLog([](const sim::LogEntry& e) { return isWrite(e, 1) && e.bytes[0] == 2; }));
    for (const sim::LogEntry& e : bus->log())
        EXPECT_FALSE(isWrite(e, 1) && e.bytes[0] == 1) << "the expired zero went out";
}

// Windows come and go at random while commands are pending: every write that reaches an
// analyzer carries the value confirmed for that analyzer's own window.
// An adapter that hands back a copy of every request: the analyzer is read and written through
// it, and a command to a number nobody answers is never taken as done on the line's copy.
TEST_F(PollSim, AnEchoingLineIsReadAndWrittenThroughAndItsCopyIsNoAnswer) {
    bus->setLineEcho(2);
    add(1);
    openWindow(1, 1);
    openWindow(2, 42);  // nobody there
    start();
    ASSERT_TRUE(sink.waitUntil(
        [](auto& r) {
            int answered = 0;
            for (auto& d : r.data) answered += d.slot == 0 && d.copy.errorCount == 0;
            return answered >= 2;
        },
        kWaitMs));
    ASSERT_TRUE(block.confirmCommand(0, Command::Zero));
    ASSERT_TRUE(block.confirmCommand(1, Command::Zero));
    ASSERT_TRUE(waitLog([](const sim::LogEntry& e) { return e.kind == LogKind::WriteApplied; }));
    ASSERT_TRUE(bus->waitFor(
        [](const std::vector<sim::LogEntry>& log) {
            return std::count_if(log.begin(), log.end(), [](const sim::LogEntry& e) {
                       return e.bytes.size() == 8 && e.bytes[0] == 42 && e.bytes[1] == 6;
                   }) >= 3;
        },
        kWaitMs));
    poll->stop(kWaitMs);
    const Slot present = block.snapshot(0), absent = block.snapshot(1);
    EXPECT_FALSE(present.pending.isPending(zta::Command::Zero));
    EXPECT_EQ(present.commands[commandIndex(Command::Zero)].state, CommandStatus::Confirmed);
    EXPECT_GE(present.health.echoes, 1);
    EXPECT_TRUE(absent.pending.isPending(zta::Command::Zero));
    EXPECT_NE(absent.commands[commandIndex(Command::Zero)].state, CommandStatus::Confirmed);
    EXPECT_EQ(absent.health.echoes, 0);
    EXPECT_EQ(absent.health.goodReplies, 0);
    const LineHealth line = block.lineHealth();
    EXPECT_EQ(line.echo, LineEcho::Echoing);
    EXPECT_GE(line.lineCopies, absent.health.requests + present.health.requests - 2);
}

// One byte too many after each reply: the reply is taken, and the byte is counted as stray by
// the drop before the next reply read.
TEST_F(PollSim, BytesAfterAWholeReplyAreStrayForTheNextDrop) {
    add(1);
    bus->setFault(1, sim::Fault::LongReply);
    openWindow(1, 1);
    start();
    ASSERT_TRUE(sink.waitUntil(
        [](auto& r) { return !r.data.empty() && r.data.back().copy.replyCount >= 4; }, kWaitMs));
    poll->stop(kWaitMs);
    const Slot s = block.snapshot(0);
    EXPECT_EQ(s.health.foreign, 0);
    EXPECT_GE(block.lineHealth().strayBytes, s.replyCount - 2);
}

TEST_F(PollSim, CommandsNeverReachAnotherAnalyzer) {
    constexpr int kAnalyzers = 8;
    for (int a = 1; a <= kAnalyzers; ++a) add(a);
    timing.pacingBaseMs = 1;
    timing.line.replyTimeoutMs = 60;
    std::mt19937 rng(7);
    AnalyzerId nextView = 1;
    for (int a = 1; a <= 4; ++a) openWindow(nextView++, a);
    start();
    ASSERT_TRUE(waitNotices(1));
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    int ops = 0;
    while (std::chrono::steady_clock::now() < until) {
        const int count = block.windowCount();
        const int op = static_cast<int>(rng() % 4);
        if (op == 0 && count < 12) {
            openWindow(nextView++, 1 + static_cast<int>(rng() % kAnalyzers));
        } else if (op == 1 && count > 1) {
            block.close(static_cast<int>(rng() % count));
        } else if (count > 0) {
            const int slot = static_cast<int>(rng() % count);
            const int address = block.snapshot(slot).address;
            if (op == 2) {
                block.confirmCommand(slot, Command::Threshold1, address);
            } else {
                block.confirmCommand(slot, Command::FactoryNumber, 1000 + address);
            }
        }
        ++ops;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    poll->stop(kWaitMs);
    int writes = 0;
    for (auto& e : requestsIn()) {
        if (e.bytes[1] != 6) continue;
        ++writes;
        const int value = e.bytes[4] << 8 | e.bytes[5];
        if (e.bytes[3] == 5) {
            EXPECT_EQ(value, e.bytes[0]);
        } else if (e.bytes[3] == 7) {
            EXPECT_EQ(value, 1000 + e.bytes[0]);
        } else {
            ADD_FAILURE() << "unexpected register " << int(e.bytes[3]);
        }
    }
    EXPECT_GT(writes, 10) << ops << " operations";
}

}  // namespace
}  // namespace zta
