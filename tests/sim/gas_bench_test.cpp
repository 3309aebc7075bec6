// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated bench as a calibration lab sees it through the station's poll engine: the
// response to a test gas, zero and span by the service writes, the relays and the faults.
#include "gas_bench.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

#include "link/regmap.h"

namespace zta::sim::testing {
namespace {

using GasBenchTest = GasBench;

constexpr double kLel = 100.0;

// The first reading at 90 % of a step from clean air, and the reading before it: the crossing
// lies between the two requests, so the checker's t0.9 is known to one poll turn.
struct Crossing {
    double modelS = 0;  // from the gas to the first reading at 90 %
    double turnS = 0;   // from the reading before it
};
std::optional<Crossing> crossing(const std::vector<Sample>& after, SteadyClock::time_point gas,
                                 double scale) {
    for (size_t i = 1; i < after.size(); ++i)
        if (after[i].concentration >= 0.9 * kLel) {
            const auto seconds = [&](auto from, auto to) {
                return scale * std::chrono::duration<double>(to - from).count();
            };
            return Crossing{seconds(gas, after[i].at), seconds(after[i - 1].at, after[i].at)};
        }
    return std::nullopt;
}

TEST_F(GasBenchTest, StepResponseReachesNinetyPercentAtDeadTimePlusT90) {
    struct Case {
        double t90, scale;
        SensorFault sensor;
        double expected;  // model seconds from the gas: dead time (1 s) + t90, x 4 when slow
    } cases[] = {
        {5, 5, SensorFault::None, 6},
        {15, 20, SensorFault::None, 16},
        {30, 50, SensorFault::None, 31},
        {10, 50, SensorFault::Slow, 41},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "t90 " << c.t90 << " x" << c.scale
                                          << (c.sensor == SensorFault::Slow ? " slow" : ""));
        AnalyzerConfig a = gasAnalyzer(1);
        a.gas.t90S = c.t90;
        a.gas.sensor = c.sensor;
        open({a}, c.scale);
        ASSERT_TRUE(waitSample(1, {}, [](const Sample&) { return true; }));
        const auto gas = control("gas 100 lel");
        ASSERT_TRUE(waitSample(1, gas, [](const Sample& s) { return s.concentration >= 90; }));
        const auto seen = crossing(samplesAfter(1, gas), gas, c.scale);
        ASSERT_TRUE(seen);
        EXPECT_NEAR(seen->modelS, c.expected, seen->turnS);
        close();
    }
}

// Zero in clean air, then span with the station's high gas (2.2 vol. of methane = 50 %НКПР),
// each sent by the poll thread as the operator's command. Returns when the span was applied.
class ZeroSpan : public GasBench {
  protected:
    SteadyClock::time_point zeroThenSpan(double t90, bool waitForSettling) {
        AnalyzerConfig a = gasAnalyzer(1);
        a.gas.t90S = t90;
        a.gas.deadS = 0.2;
        a.gas.gain = 1.3;
        a.gas.offset = 6;
        a.gas.noise = 0.4;
        open({a}, 10);
        block.setMaxGas(2.2);
        const auto start = SteadyClock::now();
        EXPECT_TRUE(waitSample(1, start, [](const Sample& s) { return s.concentration >= 5; }));

        EXPECT_TRUE(block.confirmCommand(slotOf(1), Command::Zero));
        EXPECT_TRUE(waitWrite(1));
        const auto zeroed = SteadyClock::now();
        EXPECT_TRUE(waitModelTime(1, zeroed, 0, 3));
        for (const Sample& s : samplesAfter(1, zeroed)) EXPECT_LE(std::abs(s.concentration), 1);

        const auto gas = control("gas 2.2 vol");
        if (waitForSettling)
            EXPECT_TRUE(waitModelTime(1, gas, 0.2 + 5 * t90));
        else
            EXPECT_TRUE(waitSample(1, gas, [](const Sample& s) { return s.concentration >= 15; }));
        EXPECT_TRUE(block.confirmCommand(slotOf(1), Command::MaxGas));
        EXPECT_TRUE(waitWrite(3));
        return SteadyClock::now();
    }
};

TEST_F(ZeroSpan, ASettledReadingIsBroughtToTheTargetWithinTheNoise) {
    const auto spanned = zeroThenSpan(2, true);
    ASSERT_TRUE(waitModelTime(1, spanned, 0, 5));
    for (const Sample& s : samplesAfter(1, spanned)) {
        EXPECT_GE(s.concentration, 49);
        EXPECT_LE(s.concentration, 51);
    }
}

// Span before the reading settled takes the sensed value of that moment for the target, and
// the analyzer reads high once the sensor has caught up.
TEST_F(ZeroSpan, ASpanPressedTooEarlyLeavesTheAnalyzerReadingHigh) {
    const auto spanned = zeroThenSpan(60, false);
    EXPECT_TRUE(waitSample(1, spanned, [](const Sample& s) { return s.concentration >= 60; }));
}

// One bus, one analyzer per fault and a sound one, all given the same gas.
TEST_F(GasBenchTest, EachFaultShowsAsACheckerSeesIt) {
    struct Case {
        int address;
        const char* name;
        std::function<void(GasSettings&)> fault;
        double airReading, gasReading;  // settled, before and after 40 %НКПР
        bool relaySwitches;             // threshold 1 is 20
    } cases[] = {
        {1, "sound", [](GasSettings&) {}, 0, 40, true},
        {2, "stuck", [](GasSettings& g) { g.sensor = SensorFault::Stuck; }, 0, 0, false},
        {3, "offset", [](GasSettings& g) { g.offset = 10; }, 10, 50, true},
        {4, "gain", [](GasSettings& g) { g.gain = 1.5; }, 0, 60, true},
        {5, "dead relay", [](GasSettings& g) { g.relayDead = true; }, 0, 40, false},
    };
    std::vector<AnalyzerConfig> analyzers;
    for (const Case& c : cases) {
        AnalyzerConfig a = gasAnalyzer(c.address);
        a.gas.t90S = 2;
        a.gas.deadS = 0.2;
        a.threshold1 = 20;
        c.fault(a.gas);
        analyzers.push_back(a);
    }
    open(analyzers, 10);
    const auto start = SteadyClock::now();
    for (const Case& c : cases) ASSERT_TRUE(waitModelTime(c.address, start, 0, 2)) << c.name;
    const auto gas = control("gas 40 lel");
    for (const Case& c : cases) ASSERT_TRUE(waitModelTime(c.address, gas, 0.2 + 5 * 2, 2));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto all = samples(c.address);
        const auto after = samplesAfter(c.address, gas);
        EXPECT_EQ(all.front().concentration, c.airReading);
        EXPECT_EQ(after.back().concentration, c.gasReading);
        EXPECT_EQ(all.front().relays & 0x02, 0);
        EXPECT_EQ((after.back().relays & 0x02) != 0, c.relaySwitches);
        if (c.address == 2) {  // flat from first to last, whatever the gas did
            for (const Sample& s : all) EXPECT_EQ(s.concentration, 0);
        }
    }
}

TEST_F(GasBenchTest, RelaysSwitchAtTheThresholdsAndLetGoBelowTheHysteresis) {
    AnalyzerConfig a = gasAnalyzer(1);
    a.gas.t90S = 0;
    a.gas.deadS = 0;
    a.gas.hysteresis = 5;
    a.threshold1 = 30;
    a.threshold2 = 60;
    open({a}, 1);
    const struct Step {
        int gas;
        bool relay1, relay2;
    } steps[] = {
        {29, false, false}, {30, true, false}, {26, true, false}, {25, true, false},
        {24, false, false}, {65, true, true},  {56, true, true},  {54, true, false},
        {59, true, false},  {60, true, true},  {0, false, false},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.gas);
        const auto at = control("gas " + std::to_string(s.gas) + " lel");
        ASSERT_TRUE(waitSample(1, at, [](const Sample&) { return true; }));
        const Sample got = samplesAfter(1, at).front();
        EXPECT_EQ(got.concentration, s.gas);
        EXPECT_EQ((got.relays & 0x02) != 0, s.relay1);
        EXPECT_EQ((got.relays & 0x04) != 0, s.relay2);
    }
}

// Off: nothing answers, and the station loses contact. On again: the warm-up reads high and
// comes down to the gas by its end.
TEST_F(GasBenchTest, PowerOffIsSilenceAndPowerOnWarmsUp) {
    AnalyzerConfig a = gasAnalyzer(1);
    a.gas.t90S = 0;
    a.gas.deadS = 0;
    a.gas.warmupS = 60;
    open({a}, 100);
    const auto start = SteadyClock::now();
    ASSERT_TRUE(waitSample(1, start, [](const Sample&) { return true; }));
    control("power off");
    ASSERT_TRUE(bus->waitFor(
        [&](const std::vector<LogEntry>&) {
            return block.snapshot(slotOf(1)).errorCount >= kLostContactLimit;
        },
        kWaitMs));
    const auto on = control("power on");
    ASSERT_TRUE(waitSample(1, on, [](const Sample&) { return true; }));
    const Sample first = samplesAfter(1, on).front();
    EXPECT_GE(first.concentration, kWarmupExcursion - kWarmupNoise - 1.5);
    EXPECT_LE(first.concentration, kWarmupExcursion + kWarmupNoise + 0.5);
    ASSERT_TRUE(waitModelTime(1, on, 60, 3));
    const auto after = samplesAfter(1, on);
    EXPECT_EQ(after.back().concentration, 0);
    const auto state = bus->state(1);
    ASSERT_TRUE(state);
    EXPECT_TRUE(state->powered);
    EXPECT_GE(state->sincePowerOn, 60);
}

}  // namespace
}  // namespace zta::sim::testing
