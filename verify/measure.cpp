// SPDX-License-Identifier: GPL-3.0-or-later
#include "verify/measure.h"

#include <algorithm>
#include <cmath>

namespace zta::verify {

bool settledAt(const std::vector<Sample>& samples, double since, double now, double rangeLel,
               const SettleRule& rule) {
    const double from = now - rule.seconds;
    if (from < since) return false;
    bool covered = false;
    double lo = INFINITY, hi = -INFINITY;
    for (const Sample& s : samples) {
        if (s.t < since || s.t > now) continue;
        if (s.t <= from) {
            // The newest sample at or before the window's start stands for its beginning.
            covered = true;
            lo = hi = s.lel;
            continue;
        }
        lo = std::min(lo, s.lel);
        hi = std::max(hi, s.lel);
    }
    return covered && hi - lo < rule.bandPercent * rangeLel / 100.0;
}

std::optional<double> responseTime(const std::vector<Sample>& samples, double appliedAt,
                                   double startLel, double settledLel) {
    const double step = settledLel - startLel;
    if (!(std::fabs(step) > 0)) return std::nullopt;
    const double target = startLel + 0.9 * step;
    auto reached = [&](double lel) { return step > 0 ? lel >= target : lel <= target; };
    const Sample* before = nullptr;
    for (const Sample& s : samples) {
        if (s.t < appliedAt) {
            before = &s;
            continue;
        }
        if (reached(s.lel)) {
            double t = s.t;
            if (before && !reached(before->lel) && s.lel != before->lel)
                t = before->t + (target - before->lel) / (s.lel - before->lel) * (s.t - before->t);
            return std::max(0.0, t - appliedAt);
        }
        before = &s;
    }
    return std::nullopt;
}

std::optional<double> relayTrip(const std::vector<Sample>& samples, double appliedAt, int relay) {
    std::optional<bool> last;
    for (const Sample& s : samples) {
        const bool on = relay == 1 ? s.relay1 : s.relay2;
        if (s.t >= appliedAt && on && last == false) return s.lel;
        last = on;
    }
    return std::nullopt;
}

PointError pointError(double averageLel, double certifiedLel, const ErrorLimit& limit,
                      Unit analyzerUnit, int gasCode) {
    PointError e;
    e.errorLel = averageLel - certifiedLel;
    e.errorUnit = fromLel(averageLel, analyzerUnit, gasCode).value_or(NAN) -
                  fromLel(certifiedLel, analyzerUnit, gasCode).value_or(NAN);
    e.limitLel = limitLel(limit, certifiedLel);
    // The limit itself passes; a reading typed with two decimals is no closer than this.
    e.pass = std::fabs(e.errorLel) <= e.limitLel + 1e-9;
    return e;
}

}  // namespace zta::verify
