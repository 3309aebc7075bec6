// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

#include "device/trend_history.h"
#include "link/regmap.h"

namespace zta {

// What the records keep of one analyzer between its reloads: its trend, and whether a reply
// came since its previous CSV line.
class AnalyzerRecords {
  public:
    // The %НКПР scale runs from 0 to 100: the settling band is a share of that.
    static constexpr double kRangeLel = 100.0;

    // Every reload after a poll turn: an answered turn (no missed reply) adds a reading;
    // lost contact breaks the line. `cycleMs`: the poll cycle of the analyzer's line, 0 when
    // not known yet; two of them make the trend's fresh limit.
    void onReload(int errorCount, double concentration, std::int64_t nowMs, int cycleMs = 0);
    // Polling stopped: the next reading starts a new stretch, and nothing since is new.
    void onDisconnected() {
        trend_->breakLine();
        lastReloadMs_ = -1;
    }
    // Who answered: kept for the CSV log after a disconnect empties the readings.
    void noteIdentity(int factoryNumber, const QString& gas) {
        identified_ = true;
        factoryNumber_ = factoryNumber;
        gas_ = gas;
    }
    bool identified() const { return identified_; }
    int factoryNumber() const { return factoryNumber_; }
    QString gas() const { return gas_; }
    // A turn of this analyzer came at least once.
    bool polled() const { return polled_; }
    // The time between its last two turns (the poll cycle), 0 before two turns.
    std::int64_t cycleMs() const { return cycleMs_; }
    // The window took another analyzer: a new stretch, its own identity and cycle, and the old
    // one's replies are not news.
    void onNewAnalyzer();
    // A confirmed command: zero, calibration gases, typical values and thresholds leave a mark.
    void onCommandConfirmed(Command command, std::int64_t nowMs);

    // True when a reply came since the previous call (the previous CSV line).
    bool takeFresh();

    std::shared_ptr<TrendHistory> trend() const { return trend_; }

  private:
    std::shared_ptr<TrendHistory> trend_ = std::make_shared<TrendHistory>();
    std::uint64_t replies_ = 0;
    std::uint64_t repliesAtLine_ = 0;
    bool lost_ = true;
    bool polled_ = false;
    std::int64_t lastReloadMs_ = -1;
    std::int64_t cycleMs_ = 0;
    bool identified_ = false;
    int factoryNumber_ = 0;
    QString gas_;
};

// The mark a confirmed command leaves on the trend; nothing for number, speed and factory number.
std::optional<TrendMarkKind> markOf(Command command);

}  // namespace zta
