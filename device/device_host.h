// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <algorithm>
#include <functional>

#include "poll/poll_block.h"
#include "ui/command_ids.h"

class QWidget;

namespace zta {

class AnalyzerDocument;
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
    virtual zta::PollBlock& block() = 0;
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
    // Command states for the audit log and the bus overview: the operator confirmed `which`
    // (its track was `previous`), or a command's state changed outside the poll thread.
    virtual void commandConfirmed(int slot, Command which, const CommandTrack& previous) {
        (void)slot, (void)which, (void)previous;
    }
    virtual void commandReported(const CommandReport& report) { (void)report; }
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
