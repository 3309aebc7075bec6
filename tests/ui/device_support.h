// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A stand-in for the main window that analyzer windows talk to, and dialogs answered from a
// script, so that analyzer windows can be tested with a poll block and an MDI area alone.

#include <QDir>
#include <QMdiArea>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "device/analyzer_views.h"
#include "device/csv_log.h"
#include "device/device_host.h"
#include "device/record_writer.h"
#include "poll/poll_block.h"
#include "ui/dialogs.h"

using namespace zta;

class FakeHost : public DeviceHost {
  public:
    FakeHost() { folder = QDir(tempDir.path()).absolutePath() + QLatin1Char('/'); }

    zta::Line& line() override { return core.line(0); }
    zta::CommandService& commands() override { return core.commands(); }
    AnalyzerViews& views() override { return analyzerViews; }
    WindowsState& windows() override { return shared; }
    bool isPolling() const override { return polling; }
    QString recordFolder() const override { return folder; }
    QWidget* window() override { return &area; }
    void refreshTimerFlag() override {
        ++timerFlagRefreshes;
        anyTimerRunning = shared.runningTimers != 0;
    }
    void showTimerPane(int periodSeconds) override { timerPane = periodSeconds; }
    void timerStateChanged() override { ++timerStateChanges; }
    void showActiveViewTimer() override { ++activations; }
    bool switchBaudAndReconnect(unsigned baud) override {
        switchedTo.push_back(baud);
        return true;
    }
    void requestCommandRefresh() override { ++commandRefreshes; }
    zta::RecordWriter& recordWriter() override { return writer; }
    zta::CsvLog& csvLog() override { return csv; }

    // Stores readings into `slot` as the poll thread does.
    bool store(int slot, const std::function<void(zta::Slot&)>& change) {
        return pollBlock.storeOutcome(slot, pollBlock.snapshot(slot).generation, change);
    }
    // The reading the poll thread would post for `slot` as it stands.
    zta::ReadingEvent readingOf(int slot) const {
        return zta::readingOfSlot(pollBlock.snapshot(slot));
    }
    // Tells the view of the reading of its slot.
    template <class View>
    void deliver(View* view) {
        view->onReading(readingOf(view->getDocument().slot));
    }

    QTemporaryDir tempDir;
    QString folder;
    zta::QueueOfEvents queue;
    zta::BenchCore core{queue};
    zta::Line& firstLine = core.addLine();
    zta::PollBlock& pollBlock = firstLine.block();
    AnalyzerViews analyzerViews{core};
    WindowsState shared;
    QMdiArea area;
    bool polling = false;
    bool anyTimerRunning = false;
    int timerFlagRefreshes = 0;
    int timerPane = -1;
    int timerStateChanges = 0;
    int activations = 0;
    int commandRefreshes = 0;
    std::vector<unsigned> switchedTo;
    zta::RecordWriter writer{[this](const QString& text) {
        dialogs().notify(text, QStringLiteral("Запись"), Dialogs::Icon::Error, &area);
    }};
    zta::CsvLog csv{writer};
};
