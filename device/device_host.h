// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <algorithm>
#include <functional>

#include "core/bench_core.h"
#include "poll/poll_block.h"
#include "ui/command_ids.h"

class QWidget;

namespace zta {

class AnalyzerDocument;
class AnalyzerViews;
class CsvLog;
class RecordWriter;
struct CommandState;

// What the analyzer windows share on the window thread; the poll thread never reads it.
struct WindowsState {
    QString note;  // the last text given to every window at once
    int runningTimers = 0;
    bool showSoftwareInfo = false;
    void addRunningTimers(int delta) { runningTimers = std::max(0, runningTimers + delta); }
};

// What an analyzer window needs from the main window. The station's adapter forwards to
// MainWindow; tests use a small fake so that a window can live without the whole station.
class DeviceHost {
  public:
    virtual ~DeviceHost() = default;
    // The line the windows' analyzers are on, and the views that hear of them.
    virtual zta::Line& line() = 0;
    virtual zta::CommandService& commands() = 0;
    virtual AnalyzerViews& views() = 0;
    virtual WindowsState& windows() = 0;
    virtual bool isPolling() const = 0;
    virtual QString recordFolder() const = 0;  // ends with a separator
    virtual QWidget* window() = 0;             // owner of the document's boxes
    virtual void refreshTimerFlag() = 0;
    virtual void showTimerPane(int periodSeconds) = 0;
    // A view's timer started or stopped: the second status bar shows the active view's again.
    virtual void timerStateChanged() = 0;
    virtual void showActiveViewTimer() = 0;
    virtual bool switchBaudAndReconnect(unsigned baud) = 0;
    // The link of some window came up or went down: refresh the enabled commands soon.
    virtual void requestCommandRefresh() = 0;
    // Before a high or middle gas calibration: false when the operator stops at a warning.
    virtual bool confirmCalibrationGas(int slot, QWidget* owner) {
        (void)slot, (void)owner;
        return true;
    }
    // Every record line goes out through the station's one writer; the CSV log is beside it.
    virtual zta::RecordWriter& recordWriter() = 0;
    virtual zta::CsvLog& csvLog() = 0;
};

// The service commands of an analyzer (network number, speed, zero, calibration, thresholds,
// factory number) act on its document; they are written with their dialogs and plug in here.
struct DocumentCommandHandlers {
    std::function<bool(AnalyzerDocument&, CommandId id)> onCommand;
    std::function<bool(AnalyzerDocument&, CommandId id, CommandState&)> onUpdateCommand;
    std::function<void(AnalyzerDocument&)> changeFactoryNumber;  // F6
};
void setDocumentCommandHandlers(DocumentCommandHandlers handlers);
const DocumentCommandHandlers& getDocumentCommandHandlers();

}  // namespace zta
