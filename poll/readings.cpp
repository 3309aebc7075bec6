// SPDX-License-Identifier: GPL-3.0-or-later
#include "poll/readings.h"

namespace zta {

namespace {
// Volume fraction of 1 %НКПР for the gas codes a standard analyzer reports; 0 has none.
constexpr double kVolumePerLel[9] = {0.0, 0.044, 0.017, 0.01, 0.014, 0.013, 0.014, 0.014, 0.02};
}  // namespace

void Readings::clearReported() {
    static_cast<ReplyReadings&>(*this) = ReplyReadings{};
    gasCode = 0;
}

double unitValue(const Readings& r) {
    if (r.extendedModel) return r.deviceRange * 0.01 * r.concentration;
    if (r.gasCode > 8) return r.concentration;
    return r.concentration * kVolumePerLel[r.gasCode];
}

}  // namespace zta
