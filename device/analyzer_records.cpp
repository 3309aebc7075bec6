// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/analyzer_records.h"

#include <algorithm>

#include "poll/poll_block.h"

namespace zta {

void AnalyzerRecords::onReload(int errorCount, double concentration, std::int64_t nowMs,
                               int cycleMs) {
    // Never under a second: fast polling's cycles are shorter than the pace of the windows.
    if (cycleMs > 0)
        trend_->setFreshLimitMs(std::max<std::int64_t>(2 * std::int64_t(cycleMs), 1000));
    polled_ = true;
    if (lastReloadMs_ >= 0 && nowMs > lastReloadMs_) cycleMs_ = nowMs - lastReloadMs_;
    lastReloadMs_ = nowMs;
    if (errorCount == 0) {
        ++replies_;
        trend_->add(nowMs, concentration);
        lost_ = false;
    } else if (errorCount >= kLostContactLimit && !lost_) {
        lost_ = true;
        trend_->breakLine();
    }
}

void AnalyzerRecords::onNewAnalyzer() {
    trend_->breakLine();
    repliesAtLine_ = replies_;
    lost_ = true;
    polled_ = false;
    identified_ = false;
    lastReloadMs_ = -1;
    cycleMs_ = 0;
}

void AnalyzerRecords::onCommandConfirmed(Command command, std::int64_t nowMs) {
    if (const auto mark = markOf(command)) trend_->mark(nowMs, *mark);
}

bool AnalyzerRecords::takeFresh() {
    const bool fresh = replies_ != repliesAtLine_;
    repliesAtLine_ = replies_;
    return fresh;
}

std::optional<TrendMarkKind> markOf(Command command) { return commandUi(command).mark; }

}  // namespace zta
