// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <vector>

#include "search/scan.h"
#include "ui/command_router.h"

namespace zta {

class BusTools;
class MainWindow;
class Station;

// The operator's side of the device search: "Поиск" and "Остановить", the progress text,
// and the results: one analyzer window per analyzer found (at most ten), tiled, then polling.
// The station runs the search itself.
class SearchControl : public QObject, public CommandTarget {
    Q_OBJECT
  public:
    SearchControl(MainWindow& frame, BusTools& tools);

    void startSearch();
    void stopSearch();

    bool onCommand(CommandId id) override;
    bool onUpdateCommand(CommandId id, CommandState& state) override;

    // The current run's parameter block (results of the last run once it has ended).
    const zta::SearchParams* params() const;
    // Tests shorten the reply time-out through this.
    void setLineOptions(const zta::LineOptions& options) { lineOptions_ = options; }

  private:
    void onProgress(int number);
    void onFinished(int run);
    void onLineFailed();
    void openWindowsFor(const std::vector<int>& found);

    MainWindow& frame_;
    Station& station_;
    BusTools& tools_;
    zta::LineOptions lineOptions_;
    bool modalSeen_ = false;  // a box was open when the end came: one more turn after it
};

}  // namespace zta
