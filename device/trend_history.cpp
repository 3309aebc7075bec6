// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/trend_history.h"

#include <algorithm>
#include <cmath>

namespace zta {

void TrendHistory::add(std::int64_t ms, double value) {
    samples_.push_back({ms, static_cast<float>(value), breakPending_ && !samples_.empty()});
    breakPending_ = false;
    trim(ms);
    ++version_;
}

void TrendHistory::mark(std::int64_t ms, TrendMarkKind kind) {
    marks_.push_back({ms, kind});
    trim(ms);
    ++version_;
}

void TrendHistory::clear() {
    samples_.clear();
    marks_.clear();
    breakPending_ = false;
    ++version_;
}

void TrendHistory::trim(std::int64_t newestMs) {
    const std::int64_t oldest = newestMs - kKeepMs;
    while (!samples_.empty() && (samples_.front().ms < oldest || samples_.size() > kMaxSamples))
        samples_.pop_front();
    while (!marks_.empty() && (marks_.front().ms < oldest || marks_.size() > kMaxMarks))
        marks_.pop_front();
}

std::size_t TrendHistory::memoryBytes() const {
    // libstdc++ and libc++ both keep deque elements in blocks of about 512 bytes, with a map
    // of one pointer per block.
    auto deque = [](std::size_t n, std::size_t size) {
        const std::size_t perBlock = std::max<std::size_t>(1, 512 / size);
        const std::size_t blocks = n / perBlock + 1;
        return blocks * (perBlock * size + sizeof(void*));
    };
    return sizeof(*this) + deque(samples_.size(), sizeof(TrendSample)) +
           deque(marks_.size(), sizeof(TrendMark));
}

Settling settlingAt(const std::deque<TrendSample>& samples, std::int64_t nowMs, double range,
                    const SettleRule& rule, std::int64_t freshLimitMs) {
    Settling s;
    if (samples.empty() || range <= 0.0 || rule.seconds <= 0) return s;
    s.fresh = freshLimitMs <= 0 || nowMs - samples.back().ms < freshLimitMs;
    const std::int64_t from = nowMs - std::int64_t(rule.seconds) * 1000;
    // Samples are in time order: the first one inside the window by binary search.
    auto first = std::partition_point(samples.begin(), samples.end(),
                                      [from](const TrendSample& t) { return t.ms < from; });
    if (first == samples.end()) return s;
    // Covered when a sample at or before the window's start exists and no gap lies inside.
    bool covered = first != samples.begin() || first->ms == from;
    float lo = first->value, hi = first->value;
    if (first != samples.begin()) {
        // The value held at the window's start is the last one before it.
        const float before = std::prev(first)->value;
        lo = std::min(lo, before);
        hi = std::max(hi, before);
    }
    for (auto it = first; it != samples.end(); ++it) {
        if (it->gapBefore) covered = false;
        lo = std::min(lo, it->value);
        hi = std::max(hi, it->value);
    }
    s.covered = covered;
    s.movedPercent = (double(hi) - double(lo)) / range * 100.0;
    s.settled = covered && s.fresh && s.movedPercent < rule.bandPercent;
    return s;
}

}  // namespace zta
