// SPDX-License-Identifier: GPL-3.0-or-later
// The bench core over scripted ports: runs wherever the core builds, Windows under Wine too.

#include <gtest/gtest.h>

#include <vector>

#include "core/bench_core.h"
#include "engine/engine_support.h"

namespace zta {
namespace {

constexpr int kWaitMs = 20000;

struct Readings : BenchListener {
    void readingArrived(const ReadingEvent& event) override { events.push_back(event); }
    int answered(AnalyzerId id, int concentration) const {
        int n = 0;
        for (const ReadingEvent& e : events)
            n += e.analyzer == id && e.answered() && e.readings.concentration == concentration;
        return n;
    }
    std::vector<ReadingEvent> events;
};

// Each wire answers every read of any number with its own concentration.
void answerWith(test::FakeWire& wire, int concentration) {
    wire.setResponder([concentration](const Request& r) -> std::optional<test::Bytes> {
        const size_t length = r[5] == kLongReadCount ? kLongReplyLength : kShortReplyLength;
        return test::readReply(r[0], length, 1, concentration);
    });
}

TEST(BenchCoreFake, TwoLinesOnTwoPortsEachDeliverTheirOwnReadings) {
    QueueOfEvents queue;
    Readings seen;
    test::FakeWire wires[2];
    answerWith(wires[0], 21);
    answerWith(wires[1], 42);
    BenchCore core(queue);
    core.addListener(&seen);
    AnalyzerId ids[2] = {};
    for (int i = 0; i < 2; ++i) {
        Line& line = core.addLine();
        line.setPort(i == 0 ? "COM7" : "COM8");
        PollTiming timing;
        timing.pacingBaseMs = 5;
        timing.pacingPerWindowMs = 0;
        line.setTiming(timing);
        test::FakeWire* wire = &wires[i];
        line.setPortFactory([wire] { return wire->makePort(); });
        ids[i] = *line.addAnalyzer();
        line.setAddress(ids[i], 3);  // the same number on both lines: two analyzers
        ASSERT_TRUE(line.connect());
    }
    ASSERT_TRUE(queue.drainUntil(
        [&] { return seen.answered(ids[0], 21) >= 3 && seen.answered(ids[1], 42) >= 3; }, kWaitMs));
    EXPECT_EQ(seen.answered(ids[0], 42), 0);
    EXPECT_EQ(seen.answered(ids[1], 21), 0);
    for (const ReadingEvent& e : seen.events) EXPECT_EQ(e.line, e.analyzer == ids[1] ? 1 : 0);
}

}  // namespace
}  // namespace zta
