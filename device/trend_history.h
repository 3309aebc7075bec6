// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "ui/command_table.h"

namespace zta {

// One reading of an analyzer's concentration (%НКПР) at a time in milliseconds since the
// epoch. `gapBefore`: contact was lost between the previous sample and this one, so a plot
// must not join them.
struct TrendSample {
    std::int64_t ms = 0;
    float value = 0.0f;
    bool gapBefore = false;
};

struct TrendMark {
    std::int64_t ms = 0;
    TrendMarkKind kind = TrendMarkKind::Zero;
};

// The last 24 hours of one analyzer's readings, one sample per answered poll turn. Memory is
// bounded twice: by age, and by a count that 24 hours of the fastest polling of a single
// analyzer (one turn per 50 ms) cannot exceed, so a wrong clock cannot grow it without end.
// About 16 bytes per sample: at one turn per second, some 58 kB per analyzer-hour.
class TrendHistory {
  public:
    static constexpr std::int64_t kKeepMs = 24LL * 3600 * 1000;
    static constexpr std::size_t kMaxSamples = kKeepMs / 50;
    static constexpr std::size_t kMaxMarks = 10000;

    void add(std::int64_t ms, double value);
    // Contact was lost: the next sample starts a new stretch of the line.
    void breakLine() { breakPending_ = true; }
    void mark(std::int64_t ms, TrendMarkKind kind);
    void clear();
    // How old the newest sample may be and still count as fresh (two poll cycles of the
    // analyzer's line); 0: any age.
    void setFreshLimitMs(std::int64_t ms) { freshLimitMs_ = ms; }
    std::int64_t freshLimitMs() const { return freshLimitMs_; }

    const std::deque<TrendSample>& samples() const { return samples_; }
    const std::deque<TrendMark>& marks() const { return marks_; }
    // Changes with every sample and mark, so a view redraws only what has changed.
    std::uint64_t version() const { return version_; }
    // Bytes held by the samples and marks (containers' own overhead included).
    std::size_t memoryBytes() const;

  private:
    void trim(std::int64_t newestMs);

    std::deque<TrendSample> samples_;
    std::deque<TrendMark> marks_;
    bool breakPending_ = false;
    std::uint64_t version_ = 0;
    std::int64_t freshLimitMs_ = 0;
};

// When to call a reading settled: it moved less than `bandPercent` % of the range over the
// last `seconds` seconds.
struct SettleRule {
    double bandPercent = 1.0;
    int seconds = 30;
};

struct Settling {
    bool settled = false;
    // The history covers the whole window (and no contact was lost within it); before that a
    // reading is never called settled.
    bool covered = false;
    // The newest sample is younger than the fresh limit: readings still come.
    bool fresh = false;
    double movedPercent = 0.0;  // max - min over the window, in % of the range
};

// The settling of `samples` (oldest first) at `nowMs`, for an analyzer whose range is `range`
// in the samples' unit. Without fresh readings (the newest older than `freshLimitMs`, when
// that is not 0) nothing is settled: a silent analyzer has not "settled".
Settling settlingAt(const std::deque<TrendSample>& samples, std::int64_t nowMs, double range,
                    const SettleRule& rule, std::int64_t freshLimitMs = 0);

}  // namespace zta
