// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "core/reading_event.h"
#include "device/analyzer_records.h"
#include "device/analyzer_unit.h"
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

    // Adds an analyzer to the host's line for `view`. False when 50 windows are open (after
    // the box).
    bool onNewDocument(DeviceHost& host, AnalyzerViewInterface* view);
    // Removes the analyzer from the line, the windows behind it move up; runs once.
    void unregister();
    bool registered() const { return registered_; }

    // Takes one turn's values of the analyzer.
    void applyReading(const zta::ReadingEvent& event);
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
    zta::AnalyzerId analyzerId() const { return analyzer_; }
    // The slot as the line has it now, kept in `slot` too; nothing once unregistered.
    std::optional<int> liveSlot();
    // The analyzer's slot now (a default one when unregistered): counters and commands.
    zta::Slot snapshot() const;
    // What is kept of the analyzer beside its window (trend, CSV news, record timer); a spare
    // one while the document holds no analyzer.
    AnalyzerUnit& unit();
    zta::AnalyzerRecords& records() { return unit().records; }

    bool onCommand(CommandId id) override;
    bool onUpdateCommand(CommandId id, CommandState& state) override;

    // Fields as the window shows them.
    bool registrationRefused = false;
    int slot = 0;
    bool timerRunning = false;
    int errorCount = zta::kLostContactLimit;
    int address = 0;
    int replyCount = 0;
    int requestCount = 0;
    // The slot's readings and texts as of the last reload.
    zta::Readings readings;
    QString gasName = QStringLiteral(" - ");
    QString unitName;
    static constexpr std::array<std::uint8_t, 16> softwareChecksum{
        0x99, 0x67, 0x58, 0xf0, 0xf3, 0x27, 0x40, 0xcc,
        0x79, 0xe6, 0x52, 0x4e, 0x51, 0x88, 0xc4, 0x9c};
    bool linkUp = false;
    QString softwareName = QStringLiteral("zta_k.hex");

  private:
    DeviceHost* host_ = nullptr;
    zta::AnalyzerId analyzer_ = 0;
    AnalyzerUnit* unit_ = nullptr;
    AnalyzerUnit spare_;
    bool registered_ = false;
    QString title_;
};

}  // namespace zta
