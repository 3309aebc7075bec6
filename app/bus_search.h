// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <memory>
#include <string>
#include <vector>

#include "search/scan.h"

namespace zta {

class UiBridge;

// The engine side of the device search: one run at a time, its thread and its results. Every
// notice of a run names it, so a late notice of an earlier run changes nothing. The signals
// come on the UI thread.
class BusSearch : public QObject {
    Q_OBJECT
  public:
    BusSearch(UiBridge& bridge, QObject* parent = nullptr);
    ~BusSearch() override;

    bool start(const std::string& portPath, unsigned baud, const zta::LineOptions& options,
               const zta::PortFactory& factory);
    bool isRunning() const { return run_ != nullptr; }
    bool isCurrent(int run) const;
    // Asks the run to stop and waits up to `timeoutMs`, serving the bridge meanwhile. True
    // once it has ended; its results are then read through params(). On a time-out the run
    // goes on, with the stop request set, and a later stop tries again.
    bool stop(int timeoutMs);
    // The same, but a run that does not end in time is set aside and waited for at the end.
    void stopOrAbandon(int timeoutMs);
    // The running search's parameter block, or the last one's once it has ended.
    const zta::SearchParams* params() const;

  signals:
    void progress(int number);
    // The run has reported its end; results are read after stop().
    void finished(int run);
    void lineFailed();  // the run could not use the line; it has been stopped already

  private:
    class Run;
    void onProgress(int run, int number);
    void onFinished(int run);
    void onLineFailed(int run);

    UiBridge& bridge_;
    std::unique_ptr<Run> run_;
    std::unique_ptr<Run> lastRun_;  // kept for its results after it ended
    std::vector<std::unique_ptr<Run>> abandoned_;
    int lastId_ = 0;
};

}  // namespace zta
