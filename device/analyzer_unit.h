// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTimer>

#include "device/analyzer_records.h"

namespace zta {

// What the station keeps of one analyzer on the window side for as long as the analyzer is on
// its line: its trend, whether a reply came since its last CSV line, and its record timer. Its
// window shows them and writes the records the timer asks for.
class AnalyzerUnit {
  public:
    AnalyzerUnit() { recordTimer.setTimerType(Qt::CoarseTimer); }
    AnalyzerUnit(const AnalyzerUnit&) = delete;
    AnalyzerUnit& operator=(const AnalyzerUnit&) = delete;

    AnalyzerRecords records;
    QTimer recordTimer;
};

}  // namespace zta
