// SPDX-License-Identifier: GPL-3.0-or-later
#include "verify/procedure.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <set>

#include "fake_clock.h"

namespace zta::verify {
namespace {

using namespace std::chrono;

// A bench of first-order sensors, sampled by the test as the station would poll them.
struct BenchAnalyzer {
    double t90 = 10.0;
    double sensed = 0.0;
    double gain = 1.0;
    double offset = 0.0;
    bool relay2Dead = false;
    bool silent = false;
    double indicated() const { return gain * sensed + offset; }
};

class Bench : public CommandPort {
  public:
    void send(AnalyzerId id, Command command, double value) override {
        sent.push_back({id, command, value});
        BenchAnalyzer& a = analyzers[id];
        if (command == Command::Zero)
            a.offset = -a.gain * a.sensed;
        else
            a.gain = (value / 4.4 * 100.0 - a.offset) / a.sensed;
    }
    struct Sent {
        AnalyzerId id;
        Command command;
        double value;
    };
    std::vector<Sent> sent;
    std::map<AnalyzerId, BenchAnalyzer> analyzers;
    double inlet = 0.0;
};

Cylinder cylinder(const char* number, int gas, double value, Unit unit) {
    Cylinder c;
    c.number = number;
    c.gasCode = gas;
    c.certified = value;
    c.unit = unit;
    c.uncertainty = {1.0, true};
    c.expires = Date{year{2030}, month{1}, day{1}};
    return c;
}

AnalyzerInfo info(AnalyzerId id) {
    AnalyzerInfo a;
    a.id = id;
    a.factoryNumber = 1000 + int(id);
    a.networkNumber = int(id);
    a.gasCode = 1;
    a.unit = Unit::VolumePercent;
    a.range = 4.4;
    a.threshold1 = 20;
    a.threshold2 = 70;
    return a;
}

class ProcedureTest : public ::testing::Test {
  protected:
    ProcedureTest()
        : procedure(defaultMethod("МП-К7", 1, 100, Unit::Lel),
                    {cylinder("0", 0, 0, Unit::VolumePercent),
                     cylinder("2", 1, 2.2, Unit::VolumePercent), cylinder("3", 1, 90, Unit::Lel)},
                    {info(1), info(2), info(3), info(4)}, clock, bench) {
        bench.analyzers[2].offset = 7.0;
        bench.analyzers[3].t90 = 60.0;
        bench.analyzers[3].relay2Dead = true;
    }

    // Half a second of the bench: every analyzer that answers is read once.
    void step(const std::set<AnalyzerId>& late = {}) {
        clock.t += 0.5;
        for (auto& [id, a] : bench.analyzers) {
            const double tau = a.t90 / std::log(10.0);
            a.sensed += (bench.inlet - a.sensed) * (1 - std::exp(-0.5 / tau));
            if (late.count(id)) continue;
            const double c = a.indicated();
            const ReadingValues v{c, c >= 20, !a.relay2Dead && c >= 70};
            procedure.onReading(id, clock.t, std::int64_t(clock.t * 1000), v, !a.silent);
        }
        procedure.tick();
    }
    void runUntil(Phase phase, double capS = 3600) {
        const double end = clock.t + capS;
        while (procedure.phase() != phase && clock.t < end) step();
        ASSERT_EQ(procedure.phase(), phase) << "at " << clock.t;
    }
    void measure(double inlet) {
        ASSERT_EQ(procedure.phase(), Phase::AwaitGas);
        bench.inlet = inlet;
        ASSERT_TRUE(procedure.confirmGas());
        runUntil(Phase::PointDone);
    }
    const PointResult& result(AnalyzerId id, int point, bool after = false) {
        static PointResult none;
        stash = procedure.results(id);
        for (const PointResult& r : stash)
            if (r.point == point && r.afterAdjustment == after) return r;
        ADD_FAILURE() << "no result for " << id << " at " << point;
        return none;
    }

    FakeClock clock;
    Bench bench;
    Procedure procedure;
    std::vector<PointResult> stash;
};

TEST_F(ProcedureTest, ScriptedBatchGivesEachAnalyzerItsVerdict) {
    for (AnalyzerId id : {1, 2, 3, 4}) bench.analyzers[id];
    // Analyzer 4 answers 100 s later: the warm-up waits for its own twenty minutes.
    while (clock.t < 100) step({4});
    EXPECT_FALSE(procedure.warmupLeft(4));
    while (clock.t < 1299) step();
    EXPECT_EQ(procedure.phase(), Phase::Warmup);
    EXPECT_NEAR(*procedure.warmupLeft(4), 1.0, 0.51);
    runUntil(Phase::AwaitGas, 2);

    measure(0.0);
    EXPECT_NEAR(result(2, 0).averageLel, 7.0, 1e-6);
    EXPECT_FALSE(result(2, 0).error.pass);
    ASSERT_TRUE(procedure.adjust({2}));
    EXPECT_EQ(procedure.phase(), Phase::Measuring);
    runUntil(Phase::PointDone);
    ASSERT_EQ(bench.sent.size(), 1u);
    EXPECT_EQ(bench.sent[0].id, 2);
    EXPECT_EQ(bench.sent[0].command, Command::Zero);
    EXPECT_NEAR(result(2, 0, true).averageLel, 0.0, 1e-6);
    EXPECT_TRUE(result(2, 0, true).error.pass);
    EXPECT_FALSE(result(2, 0).error.pass) << "the reading before adjustment is kept";

    ASSERT_TRUE(procedure.next());
    bench.analyzers[4].silent = true;
    measure(50.0);
    EXPECT_EQ(result(4, 1).status, PointStatus::NoContact);
    EXPECT_EQ(result(1, 1).status, PointStatus::Done);
    EXPECT_NEAR(result(1, 1).error.errorUnit, result(1, 1).error.errorLel * 0.044, 1e-9);
    ASSERT_TRUE(result(1, 1).relay1Trip);
    EXPECT_NEAR(*result(1, 1).relay1Trip, 20.0, 3.5);

    ASSERT_TRUE(procedure.next());
    bench.analyzers[4].silent = false;
    measure(90.0);
    ASSERT_TRUE(result(1, 2).t90);
    EXPECT_NEAR(*result(1, 2).t90, 10.0, 0.6);
    ASSERT_TRUE(result(3, 2).t90);
    EXPECT_NEAR(*result(3, 2).t90, 60.0, 3.0);
    EXPECT_NEAR(*result(1, 2).relay2Trip, 70.0, 3.0);
    EXPECT_FALSE(result(3, 2).relay2Trip);

    ASSERT_TRUE(procedure.adjust({1}));
    runUntil(Phase::PointDone);
    ASSERT_EQ(bench.sent.size(), 2u);
    EXPECT_EQ(bench.sent[1].command, Command::SpanHigh);
    EXPECT_NEAR(bench.sent[1].value, 3.96, 1e-9) << "90 %НКПР of methane in volume percent";

    EXPECT_TRUE(procedure.verdict(1).pass);
    EXPECT_TRUE(procedure.verdict(2).pass) << procedure.verdict(2).failed.front();
    const Verdict slow = procedure.verdict(3);
    EXPECT_FALSE(slow.pass);
    ASSERT_EQ(slow.failed.size(), 2u);
    EXPECT_EQ(slow.failed[0].rfind("t0,9: ", 0), 0u) << slow.failed[0];
    EXPECT_EQ(slow.failed[1], "порог 2: реле не сработало");
    // Its relay 1 went on while it was silent: no reading saw where.
    EXPECT_EQ(
        procedure.verdict(4).failed,
        (std::vector<std::string>{"точка 2: нет связи", "порог 1: срабатывание не измерено"}));

    // The silent analyzer's rise is taken again, alone, once it answers.
    ASSERT_TRUE(procedure.repeat(0, {4}));
    measure(0.0);
    ASSERT_TRUE(procedure.repeat(1, {4}));
    measure(50.0);
    EXPECT_EQ(result(4, 1).status, PointStatus::Done);
    EXPECT_TRUE(procedure.verdict(4).pass);
    EXPECT_EQ(result(1, 1).status, PointStatus::Done) << "the others keep their results";
    ASSERT_TRUE(procedure.next());
    EXPECT_EQ(procedure.phase(), Phase::Finished);
}

TEST_F(ProcedureTest, ASilenceReportedForARequestBeforeTheGasDoesNotFailThePoint) {
    for (AnalyzerId id : {1, 2, 3, 4}) bench.analyzers[id];
    runUntil(Phase::AwaitGas);
    const double applied = clock.t;
    ASSERT_TRUE(procedure.confirmGas());
    // Analyzer 4 just came back: the miss of a request sent before the gas arrives late.
    procedure.onReading(4, applied - 0.1, 0, {}, false);
    runUntil(Phase::PointDone);
    EXPECT_EQ(result(4, 0).status, PointStatus::Done);

    ASSERT_TRUE(procedure.next());
    ASSERT_TRUE(procedure.confirmGas());
    procedure.onReading(4, clock.t, 0, {}, false);
    runUntil(Phase::PointDone);
    EXPECT_EQ(result(4, 1).status, PointStatus::NoContact);
}

TEST_F(ProcedureTest, StopKeepsWhatWasMeasuredAndFailsTheRest) {
    for (AnalyzerId id : {1, 2, 3, 4}) bench.analyzers[id];
    runUntil(Phase::AwaitGas);
    measure(0.0);
    ASSERT_TRUE(procedure.next());
    ASSERT_TRUE(procedure.confirmGas());
    bench.inlet = 50;
    for (int i = 0; i < 10; ++i) step();
    procedure.stop();
    EXPECT_EQ(procedure.phase(), Phase::Stopped);
    for (int i = 0; i < 200; ++i) step();
    const auto kept = procedure.results(1);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].point, 0);
    EXPECT_EQ(procedure.verdict(1).failed,
              (std::vector<std::string>{"точка 2: не измерена", "точка 3: не измерена",
                                        "поверка остановлена"}));
    EXPECT_FALSE(procedure.confirmGas());
    EXPECT_FALSE(procedure.adjust({1}));
}

TEST_F(ProcedureTest, AReadingThatNeverSettlesFailsThePointInsteadOfWaiting) {
    bench.analyzers[1];
    Method m = defaultMethod("МП", 1, 100, Unit::Lel);
    m.warmupS = 0;
    m.settleTimeoutS = 120;
    Procedure p(m, {cylinder("0", 0, 0, Unit::Lel)}, {info(1)}, clock, bench);
    p.onReading(1, clock.t, 0, {0, false, false}, true);
    ASSERT_EQ(p.phase(), Phase::AwaitGas);
    ASSERT_TRUE(p.confirmGas());
    for (int i = 0; i < 300 && p.phase() == Phase::Measuring; ++i) {
        clock.t += 1;
        // wanders by 3 %НКПР for ever
        p.onReading(1, clock.t, 0, {i % 2 ? 3.0 : 0.0, false, false}, true);
    }
    EXPECT_EQ(p.phase(), Phase::PointDone);
    EXPECT_EQ(p.results(1).at(0).status, PointStatus::NotSettled);
    EXPECT_EQ(p.verdict(1).failed.front(), "точка 1: не установилось");
}

}  // namespace
}  // namespace zta::verify
