// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace zta {

// One gas an analyzer can report. Concentrations are in percent: "vol" is volume fraction,
// "lel" is %НКПР.
struct GasInfo {
    int code;
    const char* name;  // UTF-8
    int menuId;        // 0: not in the gas menu
    double highVol;
    double midVol;
    double highLel;  // 0 where the gas has no %НКПР defaults
    double midLel;
    double volLimit;  // largest high concentration accepted in volume fraction
    double lelLimit;  // the same in %НКПР
    // One %НКПР in volume fraction is trunc(value * lelMultiplier) * lelStep; a multiplier of 0
    // means value * lelStep without truncation.
    double lelMultiplier;
    double lelStep;
};

inline constexpr int kGasCodeCount = 9;    // codes 0..8; 0 is "no gas"
inline constexpr int kMarkedGasCount = 8;  // codes 1..8 have a menu item and a check mark

inline constexpr std::array<GasInfo, kGasCodeCount> GasTable{{
    {0, "-", 0, 0.0, 0.0, 0, 0, 0.0, 0, 0.0, 0.0},
    {1, "Метан", 145, 4.4, 2.7, 100, 61.4, 5.28, 120, 4.4, 0.01},
    {2, "Пропан", 146, 1.7, 0.8, 100, 47, 2.04, 120, 1.7, 0.01},
    {3, "Гексан", 150, 0.5, 0.25, 50, 25, 0.6, 60, 0.5, 0.02},
    {4, "Бутан", 32794, 0.7, 0.35, 50, 25, 0.84, 60, 0.7, 0.02},
    {5, "Изобутан", 32796, 0.65, 0.32, 50, 24.6, 0.78, 60, 0.65, 0.02},
    {6, "Пентан", 32807, 0.7, 0.35, 50, 25, 0.84, 60, 0.7, 0.02},
    {7, "Циклопентан", 32808, 0.7, 0.35, 50, 25, 0.84, 60, 0.7, 0.02},
    {8, "Пропилен", 32809, 1.0, 0.5, 50, 25, 1.2, 60, 0.0, 0.02},
}};

// The entry of a reported gas code; nullptr for codes the table does not know.
const GasInfo* gasByCode(int code);
// The gas of a gas-menu command id; nullptr for any other id.
const GasInfo* gasByMenuId(int menuId);
// Exact comparison, as the names are stored; codes 1..8 only.
const GasInfo* gasByName(std::string_view utf8Name);

// The gas whose check mark is set (marks in table order, codes 1..8); nullptr without one.
const GasInfo* markedGas(const std::array<bool, kMarkedGasCount>& marks);

// %НКПР entered in the concentration dialog to volume fraction (last column of the table).
double lelToVolume(const GasInfo& gas, double lel);

// The concentration dialog's "Установить" check.
enum class GasEntryCheck {
    Accepted,
    MiddleNotBelowMaximum,  // "Концентрация газа средней концентрации выше газа максимальной
                            // концентрации"
    OutOfRange,  // "Параметры газа вне диапазона измерений"
};
struct GasEntryResult {
    GasEntryCheck check = GasEntryCheck::OutOfRange;
    double maxVol = 0.0;  // converted values, set only when accepted
    double midVol = 0.0;
};
// `gas` is the marked gas (nullptr: none marked, nothing to hold the values against).
GasEntryResult checkGasEntry(const GasInfo* gas, bool unitsLel, double maximum, double middle);

// Conversions for one analyzer of the connected-devices table, whose measuring range is given
// in volume fraction.
double deviceLelToVolume(double lel, double range);
// Rounded to the nearest integer, halves up; nothing for a range that is not positive or a
// result beyond int.
std::optional<int> deviceVolumeToLel(double volume, double range);

// Comparisons of values typed with two decimals against computed limits, so that 4.4 * 1.2
// does not refuse a typed 5.28.
bool atMost(double value, double limit);

}  // namespace zta
