// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <memory>
#include <vector>

#include "search/scan.h"
#include "ui/command_router.h"

namespace zta {

class MainWindow;

// The search side of the main window (start, stop and results live with the search control).
class SearchHooks {
  public:
    virtual ~SearchHooks() = default;
    virtual bool isRunning() const = 0;
    // Asks the search to stop and waits up to `timeoutMs`, serving the bridge meanwhile.
    virtual void stopForClose(int timeoutMs) = 0;
};

// The main window's side of the device search: "Поиск" and "Остановить", the progress text,
// and the results: one analyzer window per analyzer found (at most ten), tiled, then polling.
class SearchControl : public SearchHooks, public CommandTarget {
  public:
    explicit SearchControl(MainWindow& frame);
    ~SearchControl() override;

    void startSearch();
    void stopSearch();

    bool isRunning() const override { return run_ != nullptr; }
    void stopForClose(int timeoutMs) override;

    bool onCommand(CommandId id) override;
    bool onUpdateCommand(CommandId id, CommandState& state) override;

    // The current run's parameter block (results of the last run once it has ended).
    const zta::SearchParams* params() const;
    // Tests shorten the reply time-out through this.
    void setLineOptions(const zta::LineOptions& options) { lineOptions_ = options; }

  private:
    class Run;
    void onProgress(int run, int number);
    void onFinished(int run);
    void onLineFailed(int run);
    bool waitRun(int timeoutMs);
    void openWindowsFor(const std::vector<int>& found);

    MainWindow& frame_;
    zta::LineOptions lineOptions_;
    std::unique_ptr<Run> run_;
    std::unique_ptr<Run> lastRun_;  // kept for its results after it ended
    std::vector<std::unique_ptr<Run>> abandoned_;
    int lastId_ = 0;
    bool modalSeen_ = false;  // a box was open when the end came: one more turn after it
};

}  // namespace zta
