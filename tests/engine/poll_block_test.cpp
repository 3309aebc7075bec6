// SPDX-License-Identifier: GPL-3.0-or-later
#include "poll/poll_block.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "poll/poll_thread.h"
#include "poll/worker.h"

namespace zta {
namespace {

TEST(PollBlock, RegistersFiftyAndRefusesTheNext) {
    PollBlock block;
    for (int i = 0; i < kMaxSlots; ++i) ASSERT_EQ(block.registerSlot(100 + i), i);
    EXPECT_FALSE(block.registerSlot(999).has_value());
    EXPECT_EQ(block.windowCount(), kMaxSlots);
    EXPECT_EQ(block.slotOfAnalyzer(149), 49);
    EXPECT_FALSE(block.slotOfAnalyzer(999).has_value());
}

TEST(PollBlock, ReusedIndexStartsAsANewAnalyzer) {
    PollBlock block;
    ASSERT_EQ(block.registerSlot(1), 0);
    block.setAddress(0, 9);
    ASSERT_TRUE(block.confirmCommand(0, Command::Zero));
    block.storeOutcome(0, block.snapshot(0).generation, [](Slot& s) {
        s.errorCount = 0;
        s.texts.gasName = "Метан";
        s.replyCount = 7;
    });
    const uint64_t first = block.snapshot(0).generation;
    block.close(0);
    ASSERT_EQ(block.registerSlot(2), 0);
    const Slot s = block.snapshot(0);
    EXPECT_EQ(s.analyzer, 2u);
    EXPECT_EQ(s.address, 0);
    EXPECT_EQ(s.errorCount, 5);
    EXPECT_EQ(s.texts.gasName, " - ");
    EXPECT_EQ(s.texts.unitName, "");
    EXPECT_EQ(s.replyCount, 0);
    EXPECT_FALSE(s.pending.anyPending());
    EXPECT_NE(s.generation, first);
}

// Closing moves whole slots: a command confirmed for one analyzer stays with it, and nothing of
// the closed or moved slots is left at the vacated index.
TEST(PollBlock, CloseMovesWholeSlotsAndClearsTheVacatedIndex) {
    PollBlock block;
    for (AnalyzerId v : {11u, 12u, 13u}) block.registerSlot(v);
    for (int i = 0; i < 3; ++i) block.setAddress(i, 30 + i);
    block.confirmCommand(1, Command::Threshold1, 44);
    block.confirmCommand(2, Command::NewAddress, 77);
    block.confirmCommand(0, Command::Zero);
    block.storeOutcome(2, block.snapshot(2).generation, [](Slot& s) { s.replyCount = 5; });
    block.advanceCursor();
    block.advanceCursor();
    const uint64_t gen2 = block.snapshot(2).generation;

    const auto moved = block.close(0);
    ASSERT_EQ(moved.size(), 2u);
    EXPECT_EQ(moved[0].newSlot, 0);
    EXPECT_EQ(moved[0].view, 12u);
    EXPECT_EQ(moved[1].newSlot, 1);
    EXPECT_EQ(moved[1].view, 13u);
    EXPECT_EQ(block.windowCount(), 2);
    EXPECT_EQ(block.cursor(), 0);

    const Slot s0 = block.snapshot(0), s1 = block.snapshot(1), s2 = block.snapshot(2);
    EXPECT_EQ(s0.address, 31);
    EXPECT_TRUE(s0.pending.isPending(zta::Command::Threshold1));
    EXPECT_EQ(s0.pending.value(zta::Command::Threshold1), 44);
    EXPECT_FALSE(s0.pending.isPending(zta::Command::Zero));
    EXPECT_EQ(s1.address, 32);
    EXPECT_TRUE(s1.pending.isPending(zta::Command::NewAddress));
    EXPECT_EQ(s1.pending.value(zta::Command::NewAddress), 77);
    EXPECT_EQ(s1.replyCount, 5);
    EXPECT_EQ(s1.generation, gen2);
    EXPECT_EQ(s2.analyzer, 0u);
    EXPECT_EQ(s2.address, 0);
    EXPECT_FALSE(s2.pending.anyPending());
    EXPECT_EQ(s2.generation, 0u);
    EXPECT_EQ(s2.texts.unitName, "-");

    EXPECT_TRUE(block.close(5).empty());
    EXPECT_TRUE(block.close(2).empty());
    EXPECT_EQ(block.windowCount(), 2);
    EXPECT_TRUE(block.close(1).empty());  // the last one: nobody moves
    EXPECT_EQ(block.view(1), 0u);
}

// A turn started on a slot stores nothing once the slot was closed, moved or taken anew.
TEST(PollBlock, StoreOutcomeOnlyForTheRegistrationItStartedWith) {
    PollBlock block;
    block.registerSlot(1);
    block.registerSlot(2);
    auto mark = [](Slot& s) { s.replyCount = 99; };

    const auto moved = block.beginTurn();  // slot 0, view 1
    ASSERT_EQ(moved.slot, 0);
    block.advanceCursor();
    const auto closing = block.beginTurn();  // slot 1, view 2
    ASSERT_EQ(closing.slot, 1);
    block.close(0);  // view 2 moves to slot 0
    EXPECT_FALSE(block.storeOutcome(moved.slot, moved.generation, mark));
    EXPECT_FALSE(block.storeOutcome(closing.slot, closing.generation, mark));
    EXPECT_TRUE(block.storeOutcome(0, closing.generation, mark));
    block.close(0);
    block.registerSlot(3);
    EXPECT_FALSE(block.storeOutcome(0, closing.generation, mark));
    EXPECT_EQ(block.snapshot(0).replyCount, 0);
}

// A window given another number shows another analyzer: nothing of the old one stays, and a
// turn that started for the old one stores nothing. A number the poll thread set itself (a
// network-number command) is the same analyzer.
TEST(PollBlock, ANewNumberIsANewAnalyzerAndATurnInFlightStoresNothing) {
    PollBlock block;
    block.registerSlot(1);
    block.setAddress(0, 30);
    block.storeOutcome(0, block.snapshot(0).generation, [](Slot& s) {
        s.errorCount = 0;
        s.replyCount = 9;
        s.health.requests = 9;
        s.readings.factoryNumber = 1234;
        s.readings.concentration = 33;
        s.texts.gasName = "Метан";
    });
    ASSERT_TRUE(block.confirmCommand(0, Command::Zero));
    const PollBlock::Turn inFlight = block.beginTurn();

    const std::vector<CommandReport> failed = block.setAddress(0, 60);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].address, 30);
    EXPECT_EQ(failed[0].generation, inFlight.generation);
    EXPECT_EQ(failed[0].track.state, CommandStatus::Failed);
    EXPECT_FALSE(block.storeOutcome(0, inFlight.generation, [](Slot& s) { s.errorCount = 0; }));

    const Slot s = block.snapshot(0);
    EXPECT_EQ(s.analyzer, 1u);
    EXPECT_EQ(s.address, 60);
    EXPECT_NE(s.generation, inFlight.generation);
    EXPECT_EQ(s.errorCount, kLostContactLimit);
    EXPECT_EQ(s.replyCount, 0);
    EXPECT_EQ(s.health.requests, 0);
    EXPECT_EQ(s.readings.factoryNumber, 0);
    EXPECT_EQ(s.readings.concentration, 0.0);
    EXPECT_EQ(s.texts.gasName, " - ");
    EXPECT_FALSE(s.pending.anyPending());
    EXPECT_EQ(zta::lastCommand(s.commands), nullptr);

    block.storeOutcome(0, s.generation, [](Slot& x) { x.address = 61; });
    EXPECT_TRUE(block.setAddress(0, 61).empty());
    EXPECT_EQ(block.snapshot(0).generation, s.generation);
}

// A confirmed command that is still waiting when its time is up fails and is never sent; with
// no expiry it waits as long as polling runs.
TEST(PollBlock, CommandsExpireUnsentAfterTheirTime) {
    struct Case {
        int expiryMs;
        int64_t after;
        bool expired;
    };
    const Case cases[] = {{1000, 999, false}, {1000, 1000, true}, {0, 86400000, false}};
    for (const Case& c : cases) {
        PollBlock block;
        block.registerSlot(1);
        block.setCommandExpiryMs(c.expiryMs);
        ASSERT_TRUE(block.confirmCommand(0, Command::Zero));
        const int64_t confirmed =
            block.snapshot(0).commands[commandIndex(Command::Zero)].confirmedMs;
        const auto reports = block.expireCommands(confirmed + c.after);
        const Slot s = block.snapshot(0);
        EXPECT_EQ(reports.size(), c.expired ? 1u : 0u) << c.after;
        EXPECT_EQ(s.pending.isPending(zta::Command::Zero), !c.expired);
        for (const CommandReport& r : reports) {
            EXPECT_EQ(r.track.state, CommandStatus::Failed);
            EXPECT_EQ(r.track.failure, CommandFailure::Expired);
        }
    }
}

TEST(PollBlock, ConfirmCommandWritesValueAndFlag) {
    struct Case {
        Command which;
        int value;
        bool keepsValue;
    };
    const Case cases[] = {
        {Command::NewAddress, 7, true},        {Command::NewBaud, 16, true},
        {Command::Threshold1, 200, true},      {Command::Threshold2, 255, true},
        {Command::FactoryNumber, 65535, true}, {Command::Zero, 0, false},
        {Command::MaxGas, 0, false},           {Command::MidGas, 0, false},
        {Command::Typical, 0, false},
    };
    for (const Case& c : cases) {
        PollBlock block;
        const std::optional<double> value =
            c.keepsValue ? std::optional<double>(c.value) : std::nullopt;
        EXPECT_FALSE(block.confirmCommand(0, c.which, value)) << "unregistered slot";
        block.registerSlot(1);
        ASSERT_TRUE(block.confirmCommand(0, c.which, value));
        const Slot s = block.snapshot(0);
        EXPECT_TRUE(s.pending.isPending(c.which));
        if (c.keepsValue) {
            EXPECT_EQ(s.pending.value(c.which), c.value);
        }
        Slot only = s;
        only.pending.clear(c.which);
        EXPECT_FALSE(only.pending.anyPending()) << "one flag only";
    }
}

TEST(PollBlock, ConnectKeepsThresholdsAndFactoryNumberPending) {
    PollBlock block;
    block.registerSlot(1);
    for (Command c : {Command::Threshold1, Command::Threshold2, Command::FactoryNumber,
                      Command::Zero, Command::MaxGas, Command::MidGas, Command::Typical,
                      Command::NewAddress, Command::NewBaud})
        block.confirmCommand(0, c, 1);
    block.requestStop();
    block.prepareConnect();
    EXPECT_FALSE(block.stopRequested());
    const Slot s = block.snapshot(0);
    EXPECT_TRUE(s.pending.isPending(zta::Command::Threshold1) &&
                s.pending.isPending(zta::Command::Threshold2) &&
                s.pending.isPending(zta::Command::FactoryNumber));
    EXPECT_FALSE(
        s.pending.isPending(zta::Command::Zero) || s.pending.isPending(zta::Command::MaxGas) ||
        s.pending.isPending(zta::Command::MidGas) || s.pending.isPending(zta::Command::Typical) ||
        s.pending.isPending(zta::Command::NewAddress) ||
        s.pending.isPending(zta::Command::NewBaud));
    for (int i = 0; i < kMaxSlots; ++i) EXPECT_TRUE(block.snapshot(i).readings.extendedModel) << i;
    block.clearAllPending();
    EXPECT_FALSE(block.snapshot(0).pending.anyPending());
}

TEST(PollBlock, StopWakesThePacingWait) {
    PollBlock block;
    EXPECT_FALSE(block.waitForStop(1));
    std::thread stopper([&] { block.requestStop(); });
    EXPECT_TRUE(block.waitForStop(60000));  // returns on the stop, not after a minute
    stopper.join();
}

TEST(PollBlock, CursorWrapsAtWindowCount) {
    PollBlock block;
    EXPECT_EQ(block.beginTurn().slot, -1);
    block.registerSlot(1);
    block.registerSlot(2);
    EXPECT_EQ(block.beginTurn().slot, 0);
    block.advanceCursor();
    EXPECT_EQ(block.beginTurn().slot, 1);
    block.advanceCursor();
    EXPECT_EQ(block.beginTurn().slot, 0);
    block.advanceCursor();
    block.close(0);
    EXPECT_EQ(block.beginTurn().slot, 0);
}

// The slots of `turns` turns in a row, as the poll thread takes them.
std::vector<int> takeTurns(PollBlock& block, int turns) {
    std::vector<int> slots;
    for (int i = 0; i < turns; ++i) {
        slots.push_back(block.beginTurn().slot);
        block.advanceCursor();
    }
    return slots;
}

TEST(PollBlock, FocusPollsItsAnalyzersFirstAndTheOthersOneTurnInTen) {
    PollBlock block;
    for (AnalyzerId id = 1; id <= 20; ++id) ASSERT_TRUE(block.registerSlot(id));
    EXPECT_FALSE(block.focusActive());
    block.setFocus({4, 7, 99});  // 99 is on no slot
    EXPECT_TRUE(block.focusActive());

    // Two hundred turns: every other analyzer is reached, none waits more than ten turns,
    // and the focused two share the rest evenly.
    const std::vector<int> slots = takeTurns(block, 200);
    std::map<int, int> counts;
    int lastOther = -1;
    for (int i = 0; i < int(slots.size()); ++i) {
        ++counts[slots[i]];
        if (slots[i] != 3 && slots[i] != 6) {
            if (lastOther >= 0) {
                EXPECT_LE(i - lastOther, kFocusShare) << i;
            }
            lastOther = i;
        }
    }
    EXPECT_EQ(counts[3], 90);
    EXPECT_EQ(counts[6], 90);
    for (int slot = 0; slot < 20; ++slot) {
        if (slot != 3 && slot != 6) {
            EXPECT_GE(counts[slot], 1) << slot;
        }
    }
    EXPECT_EQ(slots[0], 3);
    EXPECT_EQ(slots[1], 6);
    EXPECT_EQ(slots[9], 0) << "the tenth turn goes to the first other analyzer";

    // A focused analyzer's window closes: the focus follows the analyzers, not the slots.
    block.close(0);  // analyzer 1 leaves, 4 and 7 now sit at slots 2 and 5
    const std::vector<int> after = takeTurns(block, 9);
    EXPECT_EQ(after, (std::vector<int>{2, 5, 2, 5, 2, 5, 2, 5, 2}));

    block.setFocus({});
    EXPECT_FALSE(block.focusActive());
    EXPECT_EQ(takeTurns(block, 3), (std::vector<int>{0, 1, 2})) << "the plain order again";
}

TEST(PollBlock, AFocusOnEveryAnalyzerIsThePlainRoundRobin) {
    PollBlock block;
    for (AnalyzerId id = 1; id <= 3; ++id) ASSERT_TRUE(block.registerSlot(id));
    block.setFocus({1, 2, 3});
    EXPECT_EQ(takeTurns(block, 25), (std::vector<int>{0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0,
                                                      1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0}));
}

TEST(Pacing, ShrinksWithTheNumberOfWindows) {
    EXPECT_EQ(pacingMs(0), 500);
    EXPECT_EQ(pacingMs(1), 492);
    EXPECT_EQ(pacingMs(10), 420);
    EXPECT_EQ(pacingMs(50), 100);
    PollTiming fast;
    fast.pacingBaseMs = 20;
    fast.pacingPerWindowMs = 1;
    EXPECT_EQ(pacingMs(50, fast), 0);
}

TEST(WorkerThread, TimedOutWaitKeepsTheWorkerKnown) {
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    WorkerThread worker;
    ASSERT_TRUE(worker.start([&] {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return release; });
    }));
    EXPECT_FALSE(worker.start([] {}));
    EXPECT_FALSE(worker.waitFinished(20));
    EXPECT_TRUE(worker.isRunning());
    {
        std::lock_guard lock(m);
        release = true;
    }
    cv.notify_all();
    EXPECT_TRUE(worker.waitFinished(60000));
    EXPECT_FALSE(worker.isRunning());
    EXPECT_TRUE(worker.start([] {}));
    EXPECT_TRUE(worker.waitFinished(60000));
}

// The worker's synchronous request can only be answered by the waiting thread: a wait that did
// not serve would time out.
TEST(WorkerThread, WaitServesTheWorkersRequests) {
    std::mutex m;
    std::condition_variable cv;
    bool asked = false, answered = false;
    WorkerThread worker;
    worker.start([&] {
        std::unique_lock lock(m);
        asked = true;
        cv.wait(lock, [&] { return answered; });
    });
    std::atomic<int> served{0};
    const bool ended = worker.waitFinished(60000, [&] {
        ++served;
        std::lock_guard lock(m);
        if (asked && !answered) {
            answered = true;
            cv.notify_all();
        }
    });
    EXPECT_TRUE(ended);
    EXPECT_GT(served.load(), 0);
}

}  // namespace
}  // namespace zta
