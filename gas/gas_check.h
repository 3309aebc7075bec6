// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>
#include <string_view>

#include "gas/gas_table.h"

namespace zta {

// The gas an analyzer reports, where it reports one: the extended model in its text block (a
// gas name or its formula), the standard model as its gas code. nullptr when it reports none
// this table knows: then nothing can be held against the station's gas.
const GasInfo* reportedGas(bool extendedModel, int gasCode, std::string_view textBlockGas);

struct GasMismatch {
    QString reported;  // "Пропан", or "Пропан (C3H8)" where the analyzer wrote the formula
    QString chosen;
};

// A mismatch between the analyzer's gas and the station's chosen gas; nothing when they agree,
// when either is unknown, or when the analyzer is not answering.
std::optional<GasMismatch> checkCalibrationGas(const GasInfo* chosen, bool linkUp,
                                               bool extendedModel, int gasCode,
                                               std::string_view textBlockGas);

inline constexpr const char* kGasMismatchCaption = "Внимание";
// The warning before a high or middle gas calibration.
QString gasMismatchText(int networkNumber, const GasMismatch& mismatch);

}  // namespace zta
