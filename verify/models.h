// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a verification is made of: the test-gas cylinders, the method and its points, and the
// checks that hold a cylinder against a point. Plain values, no I/O.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace zta::verify {

// Concentrations are either volume percent of the gas or %НКПР (percent of its lower limit).
enum class Unit { VolumePercent, Lel };
const char* unitText(Unit unit);  // "% об." or "%НКПР"

// Volume percent at 100 %НКПР of a gas code; nothing for a code without a gas.
std::optional<double> lowerLimitVolume(int gasCode);
std::optional<double> toLel(double value, Unit unit, int gasCode);
std::optional<double> fromLel(double lel, Unit unit, int gasCode);
std::optional<double> convert(double value, Unit from, Unit to, int gasCode);

using Date = std::chrono::year_month_day;
std::string dateText(Date date);  // "2026-12-11"

struct Uncertainty {
    double value = 0.0;  // in the cylinder's unit, or percent of its value when relative
    bool relative = false;
};

struct Cylinder {
    std::string number;
    int gasCode = 0;  // 0: zero gas or clean air, good for any gas
    double certified = 0.0;
    Unit unit = Unit::VolumePercent;
    Uncertainty uncertainty;
    std::string certificate;
    Date made{};
    Date expires{};
};

// The expanded uncertainty in the cylinder's unit.
double absoluteUncertainty(const Cylinder& cylinder);

struct ErrorLimit {
    bool relative = false;  // percent of the certified value; otherwise %НКПР
    double value = 5.0;
};

enum class Adjustment { None, Zero, SpanMiddle, SpanHigh };

struct MethodPoint {
    double nominalPercent = 0.0;  // of the method's range
    double spreadLowPercent = 0.0;
    double spreadHighPercent = 0.0;
    ErrorLimit limit;
    Adjustment adjustment = Adjustment::None;
};

struct SettleRule {
    double bandPercent = 1.0;  // of the range: max - min over the window below this
    double seconds = 30.0;
};

struct Method {
    std::string name;
    int version = 1;
    int gasCode = 1;
    double range = 100.0;
    Unit rangeUnit = Unit::Lel;
    std::vector<MethodPoint> points;
    double t90LimitS = 30.0;
    int t90Point = 2;  // the rise to this point (index) is timed
    double warmupS = 20 * 60.0;
    SettleRule settle;
    int averageCount = 5;
    bool checkThresholds = true;
    double thresholdToleranceLel = 5.0;
    bool adjustmentAllowed = true;
    // A reading that has not settled by then is a failed point, not a procedure that waits on.
    double settleTimeoutS = 600.0;
};

// The three points of a method with nothing said: zero gas, 45-55 % and 85-95 % of the range.
std::vector<MethodPoint> defaultPoints();
Method defaultMethod(const std::string& name, int gasCode, double range, Unit rangeUnit);

// What makes a method unusable, in the operator's words; empty when it can be used.
std::vector<std::string> methodProblems(const Method& method);
// Same method, same version: every field that a protocol depends on is equal.
bool sameContent(const Method& a, const Method& b);

double rangeLel(const Method& method);
// The error limit of a point in %НКПР for a gas whose certified value is `certifiedLel`.
double limitLel(const ErrorLimit& limit, double certifiedLel);

enum class CylinderRefusal { None, Expired, OtherGas, OutsideSpread, BadPoint };
struct CylinderCheck {
    CylinderRefusal refusal = CylinderRefusal::None;
    bool uncertaintyWarning = false;
    std::string message;  // the refusal or the warning, empty for neither
};
CylinderCheck checkCylinder(const Cylinder& cylinder, const Method& method, int point, Date today);

}  // namespace zta::verify
