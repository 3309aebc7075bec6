// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <optional>
#include <utility>
#include <vector>

#include "app/bench_file.h"
#include "poll/poll_block.h"
#include "ui/command_router.h"

class QWidget;

namespace zta {

class MainWindow;

// The bench as the station stands: its analyzer windows in slot order, port, baud rate, record
// folder, CSV switch, settling rule and layout.
BenchSettings captureBench(MainWindow& frame);

// Sets `bench` up: polling stops, the analyzer windows are replaced by the bench's, and port,
// baud rate, record folder, CSV log, layout, overview and fast polling follow. Polling restarts
// if it ran. The record timers are BenchControl's.
void applyBench(MainWindow& frame, const BenchSettings& bench);

// The file dialog of "Сохранить стенд" (`save`) or "Открыть стенд"; nothing on Cancel.
std::optional<QString> askBenchFile(QWidget* owner, bool save);

// "Сохранить стенд" and "Открыть стенд".
class BenchControl : public QObject, public CommandTarget {
    Q_OBJECT
  public:
    explicit BenchControl(MainWindow& frame);

    // Each gives its message box on failure. openBench gives the bench it set up; its record
    // timers start when polling starts (at once if it runs).
    bool saveBench(const QString& path);
    std::optional<BenchSettings> openBench(const QString& path);

    bool onCommand(CommandId id) override;
    bool onUpdateCommand(CommandId id, CommandState& state) override;

  private:
    void startPendingTimers();

    MainWindow& frame_;
    std::vector<std::pair<AnalyzerId, int>> pendingTimers_;  // window, period in seconds
};

}  // namespace zta
