// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>

#include "app/bench_file.h"

class QWidget;

namespace zta {

class MainWindow;

// The bench as the station stands: its analyzer windows in slot order, port, baud rate, record
// folder, CSV switch, settling rule and layout.
BenchSettings captureBench(MainWindow& frame);

// Sets `bench` up: polling stops, the analyzer windows are replaced by the bench's, and port,
// baud rate, record folder, CSV log and layout follow. Polling restarts if it ran; then the
// record timers of the windows start.
void applyBench(MainWindow& frame, const BenchSettings& bench);

// The record timers of the bench's windows; they run only while polling runs.
void startBenchTimers(MainWindow& frame, const BenchSettings& bench);

// The file dialog of "Сохранить стенд" (`save`) or "Открыть стенд"; nothing on Cancel.
std::optional<QString> askBenchFile(QWidget* owner, bool save);

}  // namespace zta
