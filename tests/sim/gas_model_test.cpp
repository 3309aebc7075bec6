// SPDX-License-Identifier: GPL-3.0-or-later
// The gas model on its own clock: what the bench tests cannot wait for.
#include "sim/gas_model.h"

#include <gtest/gtest.h>

namespace zta::sim {
namespace {

GasSettings instant() {
    GasSettings s;
    s.t90S = 0;
    s.deadS = 0;
    s.warmupS = 0;
    return s;
}

// Drift counts from the last adjustment (zero, span, typical), not from power-on.
TEST(GasModel, DriftGrowsSinceTheLastAdjustment) {
    GasSettings s = instant();
    s.driftPerHour = 36;  // 1 %НКПР in 100 s
    GasModel m(s, 1);
    EXPECT_NEAR(m.indicated(100, false), 1.0, 1e-9);
    m.zero(100);
    EXPECT_NEAR(m.indicated(100, false), 0.0, 1e-9);
    EXPECT_NEAR(m.indicated(300, false), 2.0, 1e-9);
    m.setInlet(50, 300);
    EXPECT_TRUE(m.span(50, 300));
    EXPECT_NEAR(m.indicated(400, false), 51.0, 1e-9);
    m.typical(400);
    EXPECT_NEAR(m.indicated(400, false), 50.0, 1e-9);
}

// The gas reaches the sensor a dead time late, in the order it was given, and gas given while
// the sensor was stuck is what it follows once freed.
TEST(GasModel, GasArrivesADeadTimeLateAndInOrder) {
    GasSettings s = instant();
    s.deadS = 10;
    GasModel m(s, 1);
    m.setInlet(30, 0);
    s.deadS = 1;
    m.setSettings(s, 5);
    m.setInlet(60, 5);  // would arrive at 6, behind the 30 due at 10
    EXPECT_EQ(m.sensed(9.9), 0);
    EXPECT_EQ(m.sensed(10), 60);
    s.sensor = SensorFault::Stuck;
    m.setSettings(s, 11);
    m.setInlet(20, 11);
    EXPECT_EQ(m.sensed(20), 60);
    s.sensor = SensorFault::None;
    m.setSettings(s, 20);
    EXPECT_EQ(m.sensed(21), 20);
}

TEST(GasModel, SpanRefusesAGainFromNextToNoGas) {
    GasModel m(instant(), 1);
    m.setInlet(0.5, 0);
    EXPECT_FALSE(m.spanGain(50, 1));
    EXPECT_FALSE(m.span(50, 1));
    EXPECT_EQ(m.settings().gain, 1.0);
    m.setInlet(40, 1);
    EXPECT_NEAR(*m.spanGain(50, 2), 1.25, 1e-12);
}

}  // namespace
}  // namespace zta::sim
