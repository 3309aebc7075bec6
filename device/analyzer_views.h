// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <memory>

#include "core/bench_core.h"

namespace zta {

class AnalyzerUnit;
class AnalyzerViewInterface;

// The analyzer windows as the core's listener: each view hears of its own analyzer's readings,
// commands and rate, and every view of a line of its disconnection, without the main window in
// between. Lives on the UI thread.
class AnalyzerViews : public BenchListener {
  public:
    explicit AnalyzerViews(BenchCore& core);
    ~AnalyzerViews() override;
    AnalyzerViews(const AnalyzerViews&) = delete;
    AnalyzerViews& operator=(const AnalyzerViews&) = delete;

    // The analyzer's unit is made with it and goes with it.
    void add(AnalyzerId analyzer, AnalyzerViewInterface* view);
    void remove(AnalyzerId analyzer);
    // nullptr once the view's window is gone.
    AnalyzerViewInterface* find(AnalyzerId analyzer) const;
    // nullptr for an analyzer no longer on the line.
    AnalyzerUnit* unit(AnalyzerId analyzer) const;

    void readingArrived(const ReadingEvent& event) override;
    void commandChanged(int line, const CommandReport& report) override;
    void baudAccepted(AnalyzerId analyzer, int baudCode, int address) override;
    void disconnected(int line) override;
    void analyzersChanged(int line) override;

  private:
    BenchCore& core_;
    std::map<AnalyzerId, AnalyzerViewInterface*> views_;
    std::map<AnalyzerId, std::unique_ptr<AnalyzerUnit>> units_;
};

}  // namespace zta
