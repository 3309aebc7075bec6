// SPDX-License-Identifier: GPL-3.0-or-later
#include "verify/models.h"

#include <gtest/gtest.h>

namespace zta::verify {
namespace {

using namespace std::chrono;

constexpr Date kToday{year{2026}, month{12}, day{11}};

Cylinder cylinder(int gas, double value, Unit unit, Uncertainty u = {0.02, false},
                  Date expires = Date{year{2027}, month{6}, day{1}}) {
    Cylinder c;
    c.number = "12345";
    c.gasCode = gas;
    c.certified = value;
    c.unit = unit;
    c.uncertainty = u;
    c.certificate = "С-1";
    c.made = Date{year{2026}, month{1}, day{1}};
    c.expires = expires;
    return c;
}

TEST(Units, ConvertThroughTheGasLowerLimit) {
    struct Case {
        int gas;
        double value;
        Unit from, to;
        double expected;
    } cases[] = {
        {1, 2.2, Unit::VolumePercent, Unit::Lel, 50.0},  // methane: 4.4 % at 100 %НКПР
        {1, 50.0, Unit::Lel, Unit::VolumePercent, 2.2},
        {2, 0.85, Unit::VolumePercent, Unit::Lel, 50.0},  // propane: 1.7 %
        {3, 0.5, Unit::VolumePercent, Unit::Lel, 50.0},   // hexane: 1.0 %
        {8, 1.0, Unit::VolumePercent, Unit::Lel, 50.0},   // propylene: 2.0 %
        {5, 33.0, Unit::Lel, Unit::Lel, 33.0},
    };
    for (const Case& c : cases) {
        auto got = convert(c.value, c.from, c.to, c.gas);
        ASSERT_TRUE(got) << c.gas;
        EXPECT_NEAR(*got, c.expected, 1e-9) << c.gas << " " << c.value;
    }
    EXPECT_FALSE(convert(1.0, Unit::VolumePercent, Unit::Lel, 0));
    EXPECT_FALSE(convert(1.0, Unit::VolumePercent, Unit::Lel, 9));
}

TEST(Methods, DefaultsAreUsableAndBrokenOnesAreNamed) {
    Method m = defaultMethod("МП 1", 1, 100, Unit::Lel);
    ASSERT_EQ(m.points.size(), 3u);
    EXPECT_EQ(m.points[1].spreadLowPercent, 45);
    EXPECT_EQ(m.points[2].spreadHighPercent, 95);
    EXPECT_EQ(m.points[0].limit.value, 5.0);
    EXPECT_FALSE(m.points[0].limit.relative);
    EXPECT_EQ(m.t90LimitS, 30);
    EXPECT_EQ(m.t90Point, 2);
    EXPECT_EQ(m.warmupS, 1200);
    EXPECT_EQ(m.averageCount, 5);
    EXPECT_TRUE(methodProblems(m).empty());

    struct Case {
        const char* what;
        void (*spoil)(Method&);
        const char* words;
    } cases[] = {
        {"no name", [](Method& x) { x.name.clear(); }, "без названия"},
        {"no gas", [](Method& x) { x.gasCode = 0; }, "не называет газ"},
        {"relative at zero",
         [](Method& x) {
             x.points[0].limit = {true, 10};
         },
         "Точка 1: относительный предел"},
        {"spread beside nominal", [](Method& x) { x.points[1].spreadLowPercent = 60; },
         "Точка 2: допуск баллона"},
        {"t90 at zero", [](Method& x) { x.t90Point = 0; }, "t0,9"},
        {"no readings", [](Method& x) { x.averageCount = 0; }, "Усредняется"},
    };
    for (const Case& c : cases) {
        Method spoiled = m;
        c.spoil(spoiled);
        const auto problems = methodProblems(spoiled);
        ASSERT_EQ(problems.size(), 1u) << c.what;
        EXPECT_NE(problems[0].find(c.words), std::string::npos) << c.what << ": " << problems[0];
    }
}

TEST(Methods, AnyChangedFieldMakesADifferentContent) {
    const Method m = defaultMethod("МП 1", 1, 100, Unit::Lel);
    Method same = m;
    same.version = 7;  // the version names the content; it is not part of it
    EXPECT_TRUE(sameContent(m, same));
    Method a = m, b = m, c = m;
    a.points[2].limit.value = 4;
    b.settle.seconds = 20;
    c.checkThresholds = false;
    for (const Method* changed : {&a, &b, &c}) EXPECT_FALSE(sameContent(m, *changed));
}

TEST(Cylinders, RefusalsAndWarningPerPoint) {
    const Method m = defaultMethod("МП 1", 1, 100, Unit::Lel);
    const Date expired{year{2026}, month{12}, day{10}};
    struct Case {
        const char* what;
        Cylinder c;
        int point;
        CylinderRefusal refusal;
        bool warning;
        const char* words;
    } cases[] = {
        {"air at zero", cylinder(0, 0, Unit::VolumePercent), 0, CylinderRefusal::None, false, ""},
        {"mid in vol", cylinder(1, 2.2, Unit::VolumePercent), 1, CylinderRefusal::None, false, ""},
        {"edge 55 %", cylinder(1, 55, Unit::Lel, {0.5, false}), 1, CylinderRefusal::None, false,
         ""},
        {"top in lel", cylinder(1, 90, Unit::Lel, {1, false}), 2, CylinderRefusal::None, false, ""},
        {"expired yesterday", cylinder(1, 2.2, Unit::VolumePercent, {}, expired), 1,
         CylinderRefusal::Expired, false, "срок годности истёк 2026-12-10"},
        {"expires today", cylinder(1, 2.2, Unit::VolumePercent, {}, kToday), 1,
         CylinderRefusal::None, false, ""},
        {"propane for methane", cylinder(2, 0.85, Unit::VolumePercent), 1,
         CylinderRefusal::OtherGas, false, "газ «Пропан», методика для «Метан»"},
        {"mid gas at top", cylinder(1, 2.2, Unit::VolumePercent), 2, CylinderRefusal::OutsideSpread,
         false, "вне допуска точки 3 (85.0-95.0 % диапазона)"},
        {"just above 55 %", cylinder(1, 2.43, Unit::VolumePercent), 1,
         CylinderRefusal::OutsideSpread, false, "вне допуска точки 2"},
        // a third of 5 %НКПР is 1.67 %НКПР, 0.0733 % об. of methane
        {"uncertainty 0.08 % об.", cylinder(1, 2.2, Unit::VolumePercent, {0.08, false}), 1,
         CylinderRefusal::None, true, "неопределённость 1.82 %НКПР больше трети"},
        {"relative 4 % of 2.2", cylinder(1, 2.2, Unit::VolumePercent, {4, true}), 1,
         CylinderRefusal::None, true, "больше трети предела погрешности точки 2 (5.00 %НКПР)"},
        {"relative 3 % of 2.2", cylinder(1, 2.2, Unit::VolumePercent, {3, true}), 1,
         CylinderRefusal::None, false, ""},
        {"no such point", cylinder(1, 2.2, Unit::VolumePercent), 3, CylinderRefusal::BadPoint,
         false, "нет точки 4"},
    };
    for (const Case& c : cases) {
        const CylinderCheck check = checkCylinder(c.c, m, c.point, kToday);
        EXPECT_EQ(check.refusal, c.refusal) << c.what << ": " << check.message;
        EXPECT_EQ(check.uncertaintyWarning, c.warning) << c.what;
        EXPECT_NE(check.message.find(c.words), std::string::npos)
            << c.what << ": " << check.message;
        if (*c.words == 0) {
            EXPECT_TRUE(check.message.empty()) << c.what << ": " << check.message;
        }
    }
}

TEST(Cylinders, RelativeLimitWarnsAgainstTheCertifiedValue) {
    Method m = defaultMethod("МП 2", 1, 4.4, Unit::VolumePercent);
    m.points[2].limit = {true, 5.0};  // 5 % of 90 %НКПР: 4.5 %НКПР, a third is 1.5
    EXPECT_FALSE(checkCylinder(cylinder(1, 3.96, Unit::VolumePercent, {0.06, false}), m, 2, kToday)
                     .uncertaintyWarning);
    EXPECT_TRUE(checkCylinder(cylinder(1, 3.96, Unit::VolumePercent, {0.07, false}), m, 2, kToday)
                    .uncertaintyWarning);
}

}  // namespace
}  // namespace zta::verify
