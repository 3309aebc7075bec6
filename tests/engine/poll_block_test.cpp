#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "poll/poll_block.h"
#include "poll/poll_thread.h"
#include "poll/worker.h"

namespace zta {
namespace {

TEST(PollBlock, RegistersFiftyAndRefusesTheNext) {
    PollBlock block;
    for (int i = 0; i < kMaxSlots; ++i) ASSERT_EQ(block.Register(100 + i), i);
    EXPECT_FALSE(block.Register(999).has_value());
    EXPECT_EQ(block.WindowCount(), kMaxSlots);
    EXPECT_EQ(block.SlotOfView(149), 49);
    EXPECT_FALSE(block.SlotOfView(999).has_value());
}

TEST(PollBlock, ReusedIndexStartsAsANewAnalyzer) {
    PollBlock block;
    ASSERT_EQ(block.Register(1), 0);
    block.SetAddress(0, 9);
    ASSERT_TRUE(block.ConfirmCommand(0, Command::Zero));
    block.StoreOutcome(0, block.Snapshot(0).generation, [](Slot& s) {
        s.errorCount = 0;
        s.gasName = "Метан";
        s.replyCount = 7;
    });
    const uint64_t first = block.Snapshot(0).generation;
    block.Close(0);
    ASSERT_EQ(block.Register(2), 0);
    const Slot s = block.Snapshot(0);
    EXPECT_EQ(s.viewWindow, 2u);
    EXPECT_EQ(s.address, 0);
    EXPECT_EQ(s.errorCount, 5);
    EXPECT_EQ(s.gasName, " - ");
    EXPECT_EQ(s.unitName, "");
    EXPECT_EQ(s.replyCount, 0);
    EXPECT_FALSE(s.AnyPending());
    EXPECT_NE(s.generation, first);
}

// Closing moves whole slots: a command confirmed for one analyzer stays with it, and nothing of
// the closed or moved slots is left at the vacated index.
TEST(PollBlock, CloseMovesWholeSlotsAndClearsTheVacatedIndex) {
    PollBlock block;
    for (ViewId v : {11u, 12u, 13u}) block.Register(v);
    for (int i = 0; i < 3; ++i) block.SetAddress(i, 30 + i);
    block.ConfirmCommand(1, Command::Threshold1, 44);
    block.ConfirmCommand(2, Command::NewAddress, 77);
    block.ConfirmCommand(0, Command::Zero);
    block.StoreOutcome(2, block.Snapshot(2).generation, [](Slot& s) { s.replyCount = 5; });
    block.AdvanceCursor();
    block.AdvanceCursor();
    const uint64_t gen2 = block.Snapshot(2).generation;

    const auto moved = block.Close(0);
    ASSERT_EQ(moved.size(), 2u);
    EXPECT_EQ(moved[0].newSlot, 0);
    EXPECT_EQ(moved[0].view, 12u);
    EXPECT_EQ(moved[1].newSlot, 1);
    EXPECT_EQ(moved[1].view, 13u);
    EXPECT_EQ(block.WindowCount(), 2);
    EXPECT_EQ(block.Cursor(), 0);

    const Slot s0 = block.Snapshot(0), s1 = block.Snapshot(1), s2 = block.Snapshot(2);
    EXPECT_EQ(s0.address, 31);
    EXPECT_TRUE(s0.pendingThreshold1);
    EXPECT_EQ(s0.newThreshold1, 44);
    EXPECT_FALSE(s0.pendingZero);
    EXPECT_EQ(s1.address, 32);
    EXPECT_TRUE(s1.pendingAddress);
    EXPECT_EQ(s1.newAddress, 77);
    EXPECT_EQ(s1.replyCount, 5);
    EXPECT_EQ(s1.generation, gen2);
    EXPECT_EQ(s2.viewWindow, 0u);
    EXPECT_EQ(s2.address, 0);
    EXPECT_FALSE(s2.AnyPending());
    EXPECT_EQ(s2.generation, 0u);
    EXPECT_EQ(s2.unitName, "-");

    EXPECT_TRUE(block.Close(5).empty());
    EXPECT_TRUE(block.Close(2).empty());
    EXPECT_EQ(block.WindowCount(), 2);
    EXPECT_TRUE(block.Close(1).empty());  // the last one: nobody moves
    EXPECT_EQ(block.View(1), 0u);
}

// A turn started on a slot stores nothing once the slot was closed, moved or taken anew.
TEST(PollBlock, StoreOutcomeOnlyForTheRegistrationItStartedWith) {
    PollBlock block;
    block.Register(1);
    block.Register(2);
    auto mark = [](Slot& s) { s.replyCount = 99; };

    const auto moved = block.BeginTurn();  // slot 0, view 1
    ASSERT_EQ(moved.slot, 0);
    block.AdvanceCursor();
    const auto closing = block.BeginTurn();  // slot 1, view 2
    ASSERT_EQ(closing.slot, 1);
    block.Close(0);  // view 2 moves to slot 0
    EXPECT_FALSE(block.StoreOutcome(moved.slot, moved.generation, mark));
    EXPECT_FALSE(block.StoreOutcome(closing.slot, closing.generation, mark));
    EXPECT_TRUE(block.StoreOutcome(0, closing.generation, mark));
    block.Close(0);
    block.Register(3);
    EXPECT_FALSE(block.StoreOutcome(0, closing.generation, mark));
    EXPECT_EQ(block.Snapshot(0).replyCount, 0);
}

TEST(PollBlock, ConfirmCommandWritesValueAndFlag) {
    struct Case {
        Command which;
        int value;
        bool Slot::*flag;
        std::function<int(const Slot&)> stored;
    };
    const Case cases[] = {
        {Command::NewAddress, 7, &Slot::pendingAddress, [](const Slot& s) { return s.newAddress; }},
        {Command::NewBaud, 16, &Slot::pendingBaud, [](const Slot& s) { return s.newBaudCode; }},
        {Command::Threshold1, 200, &Slot::pendingThreshold1,
         [](const Slot& s) { return s.newThreshold1; }},
        {Command::Threshold2, 255, &Slot::pendingThreshold2,
         [](const Slot& s) { return s.newThreshold2; }},
        {Command::FactoryNumber, 65535, &Slot::pendingFactoryNumber,
         [](const Slot& s) { return s.newFactoryNumber; }},
        {Command::Zero, 0, &Slot::pendingZero, nullptr},
        {Command::MaxGas, 0, &Slot::pendingMaxGas, nullptr},
        {Command::MidGas, 0, &Slot::pendingMidGas, nullptr},
        {Command::Typical, 0, &Slot::pendingTypical, nullptr},
    };
    for (const Case& c : cases) {
        PollBlock block;
        EXPECT_FALSE(block.ConfirmCommand(0, c.which, c.value)) << "unregistered slot";
        block.Register(1);
        ASSERT_TRUE(block.ConfirmCommand(0, c.which, c.value));
        const Slot s = block.Snapshot(0);
        EXPECT_TRUE(s.*c.flag);
        if (c.stored) {
            EXPECT_EQ(c.stored(s), c.value);
        }
        Slot only = s;
        only.*c.flag = false;
        EXPECT_FALSE(only.AnyPending()) << "one flag only";
    }
}

TEST(PollBlock, ConnectKeepsThresholdsAndFactoryNumberPending) {
    PollBlock block;
    block.Register(1);
    for (Command c : {Command::Threshold1, Command::Threshold2, Command::FactoryNumber,
                      Command::Zero, Command::MaxGas, Command::MidGas, Command::Typical,
                      Command::NewAddress, Command::NewBaud})
        block.ConfirmCommand(0, c, 1);
    block.RequestStop();
    block.PrepareConnect();
    EXPECT_FALSE(block.StopRequested());
    const Slot s = block.Snapshot(0);
    EXPECT_TRUE(s.pendingThreshold1 && s.pendingThreshold2 && s.pendingFactoryNumber);
    EXPECT_FALSE(s.pendingZero || s.pendingMaxGas || s.pendingMidGas || s.pendingTypical ||
                 s.pendingAddress || s.pendingBaud);
    for (int i = 0; i < kMaxSlots; ++i) EXPECT_TRUE(block.Snapshot(i).extendedModel) << i;
    block.ClearAllPending();
    EXPECT_FALSE(block.Snapshot(0).AnyPending());
}

TEST(PollBlock, StopWakesThePacingWait) {
    PollBlock block;
    EXPECT_FALSE(block.WaitForStop(1));
    std::thread stopper([&] { block.RequestStop(); });
    EXPECT_TRUE(block.WaitForStop(60000));  // returns on the stop, not after a minute
    stopper.join();
}

TEST(PollBlock, CursorWrapsAtWindowCount) {
    PollBlock block;
    EXPECT_EQ(block.BeginTurn().slot, -1);
    block.Register(1);
    block.Register(2);
    EXPECT_EQ(block.BeginTurn().slot, 0);
    block.AdvanceCursor();
    EXPECT_EQ(block.BeginTurn().slot, 1);
    block.AdvanceCursor();
    EXPECT_EQ(block.BeginTurn().slot, 0);
    block.AdvanceCursor();
    block.Close(0);
    EXPECT_EQ(block.BeginTurn().slot, 0);
}

TEST(Pacing, ShrinksWithTheNumberOfWindows) {
    EXPECT_EQ(PacingMs(0), 500);
    EXPECT_EQ(PacingMs(1), 492);
    EXPECT_EQ(PacingMs(10), 420);
    EXPECT_EQ(PacingMs(50), 100);
    PollTiming fast;
    fast.pacingBaseMs = 20;
    fast.pacingPerWindowMs = 1;
    EXPECT_EQ(PacingMs(50, fast), 0);
}

TEST(WorkerThread, TimedOutWaitKeepsTheWorkerKnown) {
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    WorkerThread worker;
    ASSERT_TRUE(worker.Start([&] {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return release; });
    }));
    EXPECT_FALSE(worker.Start([] {}));
    EXPECT_FALSE(worker.WaitFinished(20));
    EXPECT_TRUE(worker.Running());
    {
        std::lock_guard lock(m);
        release = true;
    }
    cv.notify_all();
    EXPECT_TRUE(worker.WaitFinished(60000));
    EXPECT_FALSE(worker.Running());
    EXPECT_TRUE(worker.Start([] {}));
    EXPECT_TRUE(worker.WaitFinished(60000));
}

// The worker's synchronous request can only be answered by the waiting thread: a wait that did
// not serve would time out.
TEST(WorkerThread, WaitServesTheWorkersRequests) {
    std::mutex m;
    std::condition_variable cv;
    bool asked = false, answered = false;
    WorkerThread worker;
    worker.Start([&] {
        std::unique_lock lock(m);
        asked = true;
        cv.wait(lock, [&] { return answered; });
    });
    std::atomic<int> served{0};
    const bool ended = worker.WaitFinished(60000, [&] {
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
