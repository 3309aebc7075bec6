// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <functional>

#include "device/analyzer_records.h"
#include "device/device_host.h"
#include "poll/poll_block.h"
#include "ui/command_router.h"

namespace zta {

class AnalyzerViewInterface;

// The data side of one analyzer window: its slot in the poll block and the copy of the slot's
// values that the view shows and the record lines write. Never saved.
class AnalyzerDocument : public CommandTarget {
  public:
    static constexpr int kWindowLimit = 50;

    AnalyzerDocument();
    ~AnalyzerDocument() override;
    AnalyzerDocument(const AnalyzerDocument&) = delete;
    AnalyzerDocument& operator=(const AnalyzerDocument&) = delete;

    // Takes the next free slot for `view`. False when 50 windows are open (after the box).
    bool onNewDocument(DeviceHost& host, AnalyzerViewInterface* view);
    // Gives the slot back and moves the windows behind it down; runs once.
    void unregister();
    bool registered() const { return registered_; }

    void reloadFromBlock();
    // The window still shows the analyzer registered as `generation` (no new number since).
    bool holds(std::uint64_t generation) const;
    // The disconnect reset: readings emptied, number, model, unit and range kept.
    void resetReadings();
    // The window took another network number: empty readings and a break in the trend.
    void startNewAnalyzer();
    void setTitle();
    QString title() const { return title_; }
    // Called whenever the title changes (the child window shows it).
    std::function<void(const QString&)> titleChanged;

    // Software identification; empty while softwareVersion is 0.
    QString softwareVersionText() const;
    QString softwareNameText() const;
    QString softwareIdentifier() const;

    DeviceHost* host() const { return host_; }
    zta::AnalyzerId viewId() const { return viewId_; }

    bool onCommand(CommandId id) override;
    bool onUpdateCommand(CommandId id, CommandState& state) override;

    // Fields as the window shows them.
    zta::PollBlock* block = nullptr;
    bool registrationRefused = false;
    int slot = 0;
    bool timerRunning = false;
    int errorCount = zta::kLostContactLimit;
    int address = 0;
    // The slot's readings and texts as of the last reload.
    zta::Readings readings;
    QString gasName = QStringLiteral(" - ");
    QString unitName;
    static constexpr std::array<std::uint8_t, 16> softwareChecksum{
        0x99, 0x67, 0x58, 0xf0, 0xf3, 0x27, 0x40, 0xcc,
        0x79, 0xe6, 0x52, 0x4e, 0x51, 0x88, 0xc4, 0x9c};
    bool linkUp = false;
    QString softwareName = QStringLiteral("zta_k.hex");
    // The trend and the news for the CSV log.
    zta::AnalyzerRecords records;

  private:
    DeviceHost* host_ = nullptr;
    zta::AnalyzerId viewId_ = 0;
    bool registered_ = false;
    QString title_;
};

// The analyzer view registered under `id`, or nullptr once it is gone. Views enter themselves
// when they are made and leave when they go; a notice for a closed window resolves to nothing.
AnalyzerViewInterface* findAnalyzerView(zta::AnalyzerId id);
void registerLiveView(AnalyzerViewInterface* view);
void unregisterLiveView(AnalyzerViewInterface* view);

}  // namespace zta
