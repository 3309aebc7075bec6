// SPDX-License-Identifier: GPL-3.0-or-later
// The bench core without any window: lines on simulated buses, readings through the listeners.

#include "core/bench_core.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/bus.h"

namespace zta {
namespace {

constexpr int kWaitMs = 20000;

// A simulated bus on a pseudo-terminal with analyzers at the given numbers.
struct SimLine {
    explicit SimLine(const std::vector<int>& numbers) {
        char name[] = "/tmp/zta-core-XXXXXX";
        if (!mkdtemp(name)) return;
        dir = name;
        std::string error;
        bus = sim::Bus::openPty(dir + "/line", &error);
        if (!bus) return;
        for (int number : numbers) {
            sim::AnalyzerConfig a;
            a.address = number;
            a.model = sim::Model::Extended;
            a.baud = 19200;
            bus->addAnalyzer(a);
        }
        bus->start();
    }
    ~SimLine() {
        bus.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::string dir;
    std::unique_ptr<sim::Bus> bus;
};

struct Recorder : BenchListener {
    void readingArrived(const ReadingEvent& event) override { readings.push_back(event); }
    void commandChanged(int line, const CommandReport& report) override {
        commands.push_back({line, report});
    }
    void disconnected(int line) override { disconnects.push_back(line); }
    void pollingChanged(int line) override { pollingChanges.push_back(line); }

    int answeredFrom(AnalyzerId id) const {
        int n = 0;
        for (const ReadingEvent& e : readings) n += e.analyzer == id && e.answered();
        return n;
    }
    std::vector<ReadingEvent> readings;
    std::vector<std::pair<int, CommandReport>> commands;
    std::vector<int> disconnects;
    std::vector<int> pollingChanges;
};

class BenchCoreTest : public ::testing::Test {
  protected:
    void TearDown() override { core.reset(); }

    Line& addLine(SimLine& sim) {
        Line& line = core->addLine();
        line.setPort(sim.bus->portPath());
        line.setBaud(19200);
        PollTiming timing;
        timing.pacingBaseMs = 10;
        timing.pacingPerWindowMs = 0;
        timing.line.replyTimeoutMs = 120;
        line.setTiming(timing);
        return line;
    }
    AnalyzerId addAnalyzer(Line& line, int number) {
        const auto id = line.addAnalyzer();
        EXPECT_TRUE(id);
        line.setAddress(*id, number);
        return *id;
    }

    QueueOfEvents queue;
    std::unique_ptr<BenchCore> core = std::make_unique<BenchCore>(queue);
    Recorder recorder;
};

TEST_F(BenchCoreTest, TwoLinesDeliverTheirAnalyzersReadingsWithoutAnyWindow) {
    SimLine first({11, 12});
    SimLine second({11});
    ASSERT_TRUE(first.bus && second.bus);
    core->addListener(&recorder);
    Line& a = addLine(first);
    Line& b = addLine(second);
    const AnalyzerId a11 = addAnalyzer(a, 11);
    const AnalyzerId a12 = addAnalyzer(a, 12);
    const AnalyzerId b11 = addAnalyzer(b, 11);
    EXPECT_EQ(core->lineOf(a12), &a);
    EXPECT_EQ(core->lineOf(b11), &b);
    ASSERT_TRUE(a.connect());
    ASSERT_TRUE(b.connect());

    ASSERT_TRUE(queue.drainUntil(
        [&] {
            return recorder.answeredFrom(a11) >= 3 && recorder.answeredFrom(a12) >= 3 &&
                   recorder.answeredFrom(b11) >= 3;
        },
        kWaitMs));
    for (const ReadingEvent& e : recorder.readings) {
        EXPECT_EQ(e.line, e.analyzer == b11 ? 1 : 0);
        EXPECT_EQ(e.run, core->line(e.line).runNumber());
        if (e.answered()) {
            EXPECT_EQ(e.address, e.analyzer == a12 ? 12 : 11);
            EXPECT_EQ(e.outcome, FrameKind::Reply);
        }
    }
    // Two analyzers with the same number on two lines are two analyzers.
    ASSERT_NE(a.latest(a11), nullptr);
    ASSERT_NE(b.latest(b11), nullptr);
    EXPECT_EQ(a.latest(b11), nullptr);
    EXPECT_EQ(b.latest(a11), nullptr);
}

TEST_F(BenchCoreTest, ReadingsOfAnEndedRunAreDroppedAfterTheDisconnect) {
    SimLine sim({5});
    ASSERT_TRUE(sim.bus);
    core->addListener(&recorder);
    Line& line = addLine(sim);
    const AnalyzerId id = addAnalyzer(line, 5);
    ASSERT_TRUE(line.connect());
    ASSERT_TRUE(queue.drainUntil([&] { return recorder.answeredFrom(id) >= 2; }, kWaitMs));

    // Readings the poll thread posted while the listeners' thread was busy stay queued...
    const size_t seen = recorder.readings.size();
    sim.bus->waitFor([&](const auto& log) { return log.size() > 40; }, kWaitMs);
    // ...and the disconnect that ends their run comes before them.
    ASSERT_TRUE(line.disconnect(kWaitMs));
    EXPECT_EQ(recorder.disconnects, std::vector<int>{0});
    EXPECT_EQ(line.latest(id), nullptr);
    queue.drain();
    EXPECT_EQ(recorder.readings.size(), seen);
    EXPECT_EQ(line.latest(id), nullptr);
}

TEST_F(BenchCoreTest, ANewNumberDropsTheOldAnalyzersQueuedReadings) {
    SimLine sim({5, 6});
    ASSERT_TRUE(sim.bus);
    core->addListener(&recorder);
    Line& line = addLine(sim);
    const AnalyzerId id = addAnalyzer(line, 5);
    ASSERT_TRUE(line.connect());
    ASSERT_TRUE(queue.drainUntil([&] { return recorder.answeredFrom(id) >= 1; }, kWaitMs));
    sim.bus->waitFor([&](const auto& log) { return log.size() > 20; }, kWaitMs);
    line.setAddress(id, 6);
    recorder.readings.clear();
    ASSERT_TRUE(queue.drainUntil([&] { return recorder.answeredFrom(id) >= 2; }, kWaitMs));
    for (const ReadingEvent& e : recorder.readings) EXPECT_EQ(e.address, 6);
}

TEST_F(BenchCoreTest, TheCommandServiceSendsAndTellsEveryState) {
    SimLine sim({7});
    ASSERT_TRUE(sim.bus);
    core->addListener(&recorder);
    Line& line = addLine(sim);
    const AnalyzerId id = addAnalyzer(line, 7);
    EXPECT_FALSE(core->commands().send(id + 100, Command::Zero)) << "an unknown analyzer";
    ASSERT_TRUE(line.connect());
    ASSERT_TRUE(queue.drainUntil([&] { return recorder.answeredFrom(id) >= 1; }, kWaitMs));

    ASSERT_TRUE(core->commands().send(id, Command::Threshold1, 40));
    ASSERT_TRUE(core->commands().send(id, Command::Threshold1, 41));  // replaces the first
    ASSERT_TRUE(queue.drainUntil(
        [&] {
            return !recorder.commands.empty() &&
                   recorder.commands.back().second.track.state == CommandStatus::Confirmed;
        },
        kWaitMs));
    std::vector<CommandStatus> states;
    for (const auto& [lineIndex, report] : recorder.commands) {
        EXPECT_EQ(lineIndex, 0);
        EXPECT_EQ(report.analyzer, id);
        EXPECT_EQ(report.command, Command::Threshold1);
        states.push_back(report.track.state);
    }
    const std::vector<CommandStatus> expected{CommandStatus::Pending, CommandStatus::Failed,
                                              CommandStatus::Pending, CommandStatus::Sent,
                                              CommandStatus::Confirmed};
    EXPECT_EQ(states, expected);
    EXPECT_EQ(recorder.commands[1].second.track.failure, CommandFailure::Replaced);
    EXPECT_EQ(recorder.commands.back().second.track.value, 41);
    ASSERT_TRUE(queue.drainUntil(
        [&] {
            const ReadingEvent* last = line.latest(id);
            return last && last->readings.threshold1 == 41;
        },
        kWaitMs));
}

TEST_F(BenchCoreTest, RemovingAnAnalyzerFailsItsOpenCommandsAndKeepsTheOthersIds) {
    core->addListener(&recorder);
    Line& line = core->addLine();
    const auto first = line.addAnalyzer();
    const auto second = line.addAnalyzer();
    ASSERT_TRUE(first && second);
    ASSERT_TRUE(core->commands().send(*first, Command::Zero));
    line.removeAnalyzer(*first);
    ASSERT_EQ(recorder.commands.size(), 2u);
    EXPECT_EQ(recorder.commands[1].second.track.failure, CommandFailure::WindowClosed);
    EXPECT_EQ(line.analyzers(), std::vector<AnalyzerId>{*second});
    EXPECT_EQ(line.slotOf(*second), 0);
    EXPECT_EQ(core->lineOf(*first), nullptr);
    EXPECT_FALSE(core->commands().send(*first, Command::Zero));
}

}  // namespace
}  // namespace zta
