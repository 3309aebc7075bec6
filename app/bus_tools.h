// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>
#include <memory>
#include <vector>

#include "app/bench_file.h"
#include "poll/command_track.h"
#include "poll/frame_ring.h"
#include "poll/poll_block.h"
#include "ui/command_router.h"
#include "ui/traffic_monitor.h"

class QAction;
class QProgressBar;

namespace zta {

class BusOverviewDock;
class TrendView;
class MainWindow;

// What a bench of many analyzers needs beside the analyzer windows: the bus overview dock, the
// traffic monitor and its frame ring, fast polling, the search's progress bar and the found
// analyzers that have no window yet.
class BusTools : public QObject, public CommandTarget {
    Q_OBJECT
  public:
    explicit BusTools(MainWindow& frame);
    ~BusTools() override;

    FrameRing& ring() { return ring_; }
    BusOverviewDock& overview() { return *overview_; }
    // The overview's trend panel and the window whose readings it shows (0: none).
    TrendView& overviewTrend() { return *trend_; }
    AnalyzerId overviewTrendView() const { return trendView_; }
    TrafficMonitor* monitor() const { return monitor_; }
    QProgressBar* searchProgress() const { return searchProgress_; }

    // Search: progress (number tried, -1 hides the bar) and the analyzers found beyond the
    // windows a search opens.
    void searchProgress(int number);
    void setFoundWithoutWindow(std::vector<int> numbers);
    void openFoundRest();
    const std::vector<int>& foundWithoutWindow() const { return foundRest_; }

    // The overview dock as a bench keeps it, and set up again from one.
    BenchSettings::Overview overviewState() const;
    void setOverviewState(const BenchSettings::Overview& state);

    void showMonitor();
    // Shows the overview, tall enough for every row when many windows are open.
    void showOverview();
    bool onCommand(CommandId id) override;
    bool onUpdateCommand(CommandId id, CommandState& state) override;

  private:
    void addMenuItems();
    void activate(AnalyzerId view);
    void showTrendOf(AnalyzerId view);
    void windowsChanged();

    MainWindow& frame_;
    FrameRing ring_;
    BusOverviewDock* overview_;
    TrendView* trend_;
    AnalyzerId trendView_ = 0;
    QPointer<TrafficMonitor> monitor_;
    QProgressBar* searchProgress_;
    std::vector<int> foundRest_;
};

}  // namespace zta
