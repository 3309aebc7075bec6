// SPDX-License-Identifier: GPL-3.0-or-later
#include "gas/gas_table.h"

#include <cmath>
#include <limits>

#include "link/regmap.h"

namespace zta {

namespace {
// Typed values carry two decimals; anything closer than this to a limit is the limit.
constexpr double kTolerance = 1e-9;
}  // namespace

const GasInfo* gasByCode(int code) {
    if (code < 0 || code >= kGasCodeCount) return nullptr;
    return &GasTable[code];
}

const GasInfo* gasByMenuId(int menuId) {
    for (const GasInfo& gas : GasTable)
        if (gas.menuId != 0 && gas.menuId == menuId) return &gas;
    return nullptr;
}

const GasInfo* gasByName(std::string_view utf8Name) {
    for (int code = 1; code < kGasCodeCount; ++code)
        if (utf8Name == GasTable[code].name) return &GasTable[code];
    return nullptr;
}

const GasInfo* markedGas(const std::array<bool, kMarkedGasCount>& marks) {
    for (int i = 0; i < kMarkedGasCount; ++i)
        if (marks[i]) return &GasTable[i + 1];
    return nullptr;
}

bool atMost(double value, double limit) { return value <= limit + kTolerance; }

double lelToVolume(const GasInfo& gas, double lel) {
    if (gas.lelMultiplier == 0.0) return lel * gas.lelStep;
    // 90 * 0.7 gives 62.999...: the operator meant the decimal product.
    return truncateDecimal(lel, gas.lelMultiplier) * gas.lelStep;
}

GasEntryResult checkGasEntry(const GasInfo* gas, bool unitsLel, double maximum, double middle) {
    GasEntryResult result;
    if (!(maximum > middle)) {
        result.check = GasEntryCheck::MiddleNotBelowMaximum;
        return result;
    }
    if (gas == nullptr || gas->code == 0) {
        result.check = GasEntryCheck::OutOfRange;
        return result;
    }
    if (!unitsLel) {
        if (!atMost(maximum, gas->volLimit)) {
            result.check = GasEntryCheck::OutOfRange;
            return result;
        }
        result.maxVol = maximum;
        result.midVol = middle;
    } else {
        if (!atMost(maximum, gas->lelLimit)) {
            result.check = GasEntryCheck::OutOfRange;
            return result;
        }
        result.maxVol = lelToVolume(*gas, maximum);
        result.midVol = lelToVolume(*gas, middle);
    }
    result.check = GasEntryCheck::Accepted;
    return result;
}

double deviceLelToVolume(double lel, double range) { return lel * range * 0.01; }

std::optional<int> deviceVolumeToLel(double volume, double range) {
    if (!(range > 0.0) || !std::isfinite(volume)) return std::nullopt;
    double lel = std::floor(volume / range * 100.0 + 0.5 + kTolerance);
    if (lel < std::numeric_limits<int>::min() || lel > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(lel);
}

}  // namespace zta
