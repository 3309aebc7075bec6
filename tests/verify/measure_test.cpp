// SPDX-License-Identifier: GPL-3.0-or-later
#include "verify/measure.h"

#include <gtest/gtest.h>

#include <cmath>

namespace zta::verify {
namespace {

std::vector<Sample> series(std::initializer_list<std::pair<double, double>> points) {
    std::vector<Sample> s;
    for (auto [t, lel] : points) s.push_back({t, lel, false, false});
    return s;
}

TEST(Settling, ChangeBelowTheBandOverTheWholeWindow) {
    const SettleRule rule{1.0, 10.0};  // 1 %НКПР of a 100 %НКПР range over 10 s
    struct Case {
        const char* what;
        std::vector<Sample> samples;
        double since, now;
        bool settled;
    } cases[] = {
        {"flat over 10 s", series({{0, 50}, {5, 50.4}, {10, 50.2}}), 0, 10, true},
        {"window not covered yet", series({{1, 50}, {5, 50}, {10, 50}}), 1, 10, false},
        {"gas applied too recently", series({{0, 50}, {5, 50}, {10, 50}}), 2, 10, false},
        {"moved 1 %НКПР exactly", series({{0, 50}, {5, 51}, {10, 50.5}}), 0, 10, false},
        {"old rise outside the window", series({{0, 10}, {4, 49.9}, {8, 50}, {16, 50.3}}), 0, 16,
         true},
        {"rise inside the window", series({{0, 10}, {8, 45}, {16, 50}}), 0, 16, false},
        {"sample at the window start stands for it", series({{0, 30}, {6, 50}, {16, 50.5}}), 0, 16,
         true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(settledAt(c.samples, c.since, c.now, 100.0, rule), c.settled) << c.what;
}

TEST(ResponseTime, NinetyPercentOfTheStepInterpolated) {
    struct Case {
        const char* what;
        std::vector<Sample> samples;
        double applied, start, settled;
        std::optional<double> t90;
    } cases[] = {
        // 90 % of 0 -> 50 is 45, crossed between 12 s (40) and 14 s (50): 13 s
        {"rise", series({{0, 0}, {12, 40}, {14, 50}, {20, 50}}), 0, 0, 50, 13.0},
        {"applied later", series({{-1, 0}, {10, 0}, {22, 40}, {24, 50}}), 10, 0, 50, 13.0},
        {"exact hit", series({{0, 0}, {5, 45}, {9, 50}}), 0, 0, 50, 5.0},
        // 90 % of 90 -> 0 is 9, crossed between 4 s (18) and 6 s (0): 5 s
        {"fall", series({{0, 90}, {4, 18}, {6, 0}}), 0, 90, 0, 5.0},
        {"step from 50 to 90", series({{0, 50}, {10, 80}, {20, 90}}), 0, 50, 90, 16.0},
        {"already there at the first sample", series({{0, 50}, {3, 50}}), 0, 0, 50, 0.0},
        {"no step", series({{0, 50}, {3, 50}}), 0, 50, 50, std::nullopt},
        {"never crossed", series({{0, 0}, {3, 20}}), 0, 0, 50, std::nullopt},
        // the crossing before the gas was applied is not the response
        {"sample before applied ignored", series({{-5, 0}, {-1, 0}, {2, 50}}), 0, 0, 50, 1.7},
    };
    for (const Case& c : cases) {
        const auto got = responseTime(c.samples, c.applied, c.start, c.settled);
        ASSERT_EQ(got.has_value(), c.t90.has_value()) << c.what;
        if (got) {
            EXPECT_NEAR(*got, *c.t90, 1e-9) << c.what;
        }
    }
}

TEST(RelayTrip, TheReadingAtWhichTheRelayWentOn) {
    std::vector<Sample> s = {{0, 0, false, false}, {2, 15, false, false}, {4, 22, true, false},
                             {6, 41, true, false}, {8, 52, true, true},   {10, 50, true, true}};
    EXPECT_EQ(relayTrip(s, 0, 1), 22.0);
    EXPECT_EQ(relayTrip(s, 0, 2), 52.0);
    EXPECT_FALSE(relayTrip(s, 5, 1)) << "on before the gas came is no switch in this rise";
    s[0].relay1 = true;
    s[1].relay1 = true;
    EXPECT_FALSE(relayTrip(s, 0, 1)) << "on from the start";
    for (Sample& x : s) x.relay2 = false;
    EXPECT_FALSE(relayTrip(s, 0, 2)) << "a dead relay";
}

TEST(PointErrors, AgainstTheCertifiedValueInBothUnits) {
    struct Case {
        double average, certified;
        ErrorLimit limit;
        Unit unit;
        double errorLel, errorUnit, limitLel;
        bool pass;
    } cases[] = {
        {52.0, 50.0, {}, Unit::Lel, 2.0, 2.0, 5.0, true},
        {55.0, 50.0, {}, Unit::Lel, 5.0, 5.0, 5.0, true},  // the limit itself passes
        {44.9, 50.0, {}, Unit::Lel, -5.1, -5.1, 5.0, false},
        {52.0, 50.0, {}, Unit::VolumePercent, 2.0, 0.088, 5.0, true},  // methane
        {93.0, 90.0, {true, 3.0}, Unit::Lel, 3.0, 3.0, 2.7, false},
        {92.0, 90.0, {true, 3.0}, Unit::Lel, 2.0, 2.0, 2.7, true},
        {-3.0, 0.0, {false, 2.5}, Unit::Lel, -3.0, -3.0, 2.5, false},
    };
    for (const Case& c : cases) {
        const PointError e = pointError(c.average, c.certified, c.limit, c.unit, 1);
        EXPECT_NEAR(e.errorLel, c.errorLel, 1e-9) << c.average;
        EXPECT_NEAR(e.errorUnit, c.errorUnit, 1e-9) << c.average;
        EXPECT_NEAR(e.limitLel, c.limitLel, 1e-9) << c.average;
        EXPECT_EQ(e.pass, c.pass) << c.average;
    }
}

}  // namespace
}  // namespace zta::verify
