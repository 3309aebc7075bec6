// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <vector>

#include "core/reading_event.h"
#include "poll/poll_block.h"

class QDateTime;
class QMdiArea;
class QString;
class QMdiSubWindow;

namespace zta {

class CommandTarget;
class DeviceHost;

// What the main window needs from an analyzer view: what it tells the view and the timer
// period the second status bar shows.
class AnalyzerViewInterface {
  public:
    virtual ~AnalyzerViewInterface() = default;
    // The analyzer this view shows; 0 before it has one.
    virtual zta::AnalyzerId analyzerId() const = 0;
    // A turn of this view's analyzer ended.
    virtual void onReading(const zta::ReadingEvent& event) = 0;
    // The line was closed: the readings go empty.
    virtual void onDisconnected() = 0;
    // The operator gave every window the same note.
    virtual void onNoteForAll() = 0;
    virtual void onStartTimer(int periodSeconds) = 0;
    virtual void onStopTimer() = 0;
    virtual void onSoftwareInfoToggled() = 0;
    virtual void onShowSoftwareInfo() = 0;
    // The analyzer `networkNumber` took the rate of `baudCode` (1, 2, 4, 8 or 16).
    virtual void onBaudAccepted(int baudCode, int networkNumber) = 0;
    // The view's window moved to `slot` because a window before it closed.
    virtual void onSlotChanged(int slot) = 0;
    // The main window's record folder changed.
    virtual void onRecordFolderChanged() = 0;
    // The record timer period in seconds, 0 without a timer.
    virtual int timerPeriod() const = 0;
    // The state of a command confirmed in this window changed.
    virtual void onCommandStateChanged(const zta::CommandReport& report) { (void)report; }
    // The time between the last two poll turns of this window's analyzer, 0 before two.
    virtual long long pollCycleMs() const { return 0; }
    // Writes the line "Запись" writes, stamped `now`, with `label` (may be empty) as its note.
    virtual bool writeRecordAt(const QDateTime& now, const QString& label) {
        (void)now;
        (void)label;
        return false;
    }
};

// Makes analyzer windows (document, sub-window, view) for the main window.
class AnalyzerWindowFactory {
  public:
    virtual ~AnalyzerWindowFactory() = default;
    // Opens one empty analyzer window in `area`, registered through `host`, and shows it.
    // Returns nullptr when the document refused to register (it has shown its own message).
    virtual QMdiSubWindow* openWindow(DeviceHost& host, QMdiArea& area) = 0;
    // The command route of a child window: its view, then its document.
    virtual std::vector<CommandTarget*> route(QMdiSubWindow* child) = 0;
    // The analyzer view shown in a child window, or nullptr.
    virtual AnalyzerViewInterface* viewOf(QMdiSubWindow* child) = 0;
};

inline zta::AnalyzerId analyzerIdOf(const AnalyzerViewInterface* view) {
    return view ? view->analyzerId() : 0;
}

}  // namespace zta
