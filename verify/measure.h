// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The arithmetic of one point: when a reading has settled, the response time from the samples
// of a rise, where a relay switched, and the error against the certified value.

#include <optional>
#include <vector>

#include "verify/models.h"

namespace zta::verify {

struct Sample {
    double t = 0.0;    // steady seconds
    double lel = 0.0;  // the analyzer's concentration, %НКПР
    bool relay1 = false;
    bool relay2 = false;
};

// Settled at `now`: the samples since `now - rule.seconds` moved less than `rule.bandPercent` %
// of `rangeLel`, and the samples (those after `since`) reach back over that whole window.
bool settledAt(const std::vector<Sample>& samples, double since, double now, double rangeLel,
               const SettleRule& rule);

// Seconds from `appliedAt` until the reading first reached 90 % of the step from `startLel` to
// `settledLel`, interpolated between the two samples around that crossing. Nothing when the
// step is empty or the samples never cross.
std::optional<double> responseTime(const std::vector<Sample>& samples, double appliedAt,
                                   double startLel, double settledLel);

// The concentration of the first sample after `appliedAt` in which the relay is on after an
// earlier sample had it off: the reading at which it switched.
std::optional<double> relayTrip(const std::vector<Sample>& samples, double appliedAt, int relay);

struct PointError {
    double errorLel = 0.0;
    double errorUnit = 0.0;  // in the analyzer's unit
    double limitLel = 0.0;
    bool pass = false;
};
PointError pointError(double averageLel, double certifiedLel, const ErrorLimit& limit,
                      Unit analyzerUnit, int gasCode);

}  // namespace zta::verify
