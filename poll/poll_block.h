// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "link/modbus.h"
#include "link/regmap.h"
#include "poll/command_track.h"
#include "poll/link_health.h"
#include "poll/readings.h"

namespace zta {

constexpr int kMaxSlots = 50;
constexpr int kLostContactLimit = 5;
// Under a focus, the analyzers outside it get one turn in this many.
constexpr int kFocusShare = 10;

// The core's stable id of an analyzer on a line; 0 = none.
using AnalyzerId = std::uint64_t;

// The service commands confirmed for one analyzer that the poll thread has yet to see echoed,
// each with the value it was confirmed with.
class PendingCommands {
  public:
    bool isPending(Command which) const { return at(which).pending; }
    double value(Command which) const { return at(which).value; }
    bool hasValue(Command which) const { return at(which).hasValue; }
    void set(Command which, double value, bool hasValue);
    void clear(Command which) { entries_[commandIndex(which)].pending = false; }
    bool anyPending() const;
    void clearPending();

  private:
    struct Entry {
        bool pending = false;
        bool hasValue = false;
        double value = 0.0;
    };
    const Entry& at(Command which) const { return entries_[commandIndex(which)]; }
    std::array<Entry, kCommandKinds> entries_{};
};

// Everything the block keeps for one analyzer window. Closing a window moves whole slots, so a
// pending command and its value always stay with the analyzer they were confirmed for.
struct Slot {
    AnalyzerId analyzer = 0;
    int address = 0;
    int errorCount = 0;
    int replyCount = 0;
    int requestCount = 0;
    Readings readings;
    SlotTexts texts;
    PendingCommands pending;
    // Distinct for every registration; 0 for a free slot.
    uint64_t generation = 0;
    LinkHealth health;
    CommandTracks commands{};
    // Steady-clock milliseconds of the slot's last turn, and the time between its last two
    // turns: one poll cycle as this analyzer sees it (0 until measured).
    int64_t lastTurnMs = 0;
    int cycleMs = 0;

    // Command states, on the poll thread under the block's lock. A write of `which` went out.
    void trackSent(Command which, const Request& request, std::vector<CommandReport>& reports);
    // The command `echoed`, if any, is confirmed; open commands whose flag is gone (or all open
    // ones with `all`) fail with `why`, and one sent kCommandTries times fails for want of an echo.
    void settleTracks(const Command* echoed, CommandFailure why, bool all,
                      std::vector<CommandReport>& reports);
    // The lost-contact clearing of readings (unitName, device values, address and counters stay).
    void clearReadings();
};

// The state shared by the windows and the poll thread. One mutex, held only while copying.
class PollBlock {
  public:
    PollBlock() = default;
    PollBlock(const PollBlock&) = delete;
    PollBlock& operator=(const PollBlock&) = delete;

    // --- windows (UI thread) ---

    // The new window's slot, or nothing when 50 windows are registered already.
    std::optional<int> registerSlot(AnalyzerId view);

    struct Moved {
        int newSlot;
        AnalyzerId view;
    };
    // Frees `slot`, moves every slot behind it down by one (whole slots), clears the vacated
    // last index, sets the cursor to 0. Returns the views that moved, with their new slots.
    // Does nothing for an index that is not registered.
    std::vector<Moved> close(int slot);

    Slot snapshot(int slot) const;  // a default Slot for an index outside 0..49
    int windowCount() const;
    AnalyzerId view(int slot) const;
    std::optional<int> slotOfAnalyzer(AnalyzerId view) const;

    // Writes the command's value, then its pending flag, under one lock. Zero and Typical carry
    // no value; a calibration gas without one takes the station's when it goes out. False when
    // the slot is not registered.
    bool confirmCommand(int slot, Command which, std::optional<double> value = std::nullopt);
    // The view's number field. Another number is another analyzer: the slot starts afresh
    // (readings, counters, health and commands) under a new generation, so that a turn in
    // flight for the old one stores nothing. Returns the old one's open commands, failed.
    std::vector<CommandReport> setAddress(int slot, int address);
    void resetCounters(int slot);  // replyCount, requestCount, health = 0

    // A confirmed command not carried out within this time fails; 0: it waits for ever.
    void setCommandExpiryMs(int ms);
    int commandExpiryMs() const;

    // Fast polling: the pause between turns is only the line's silence (poll thread).
    void setFastPolling(bool on);
    bool fastPolling() const;

    // Focused polling: these analyzers are polled first, with fast pacing, while every other
    // one still gets at least one turn in kFocusShare. Empty: the plain order again.
    void setFocus(const std::vector<AnalyzerId>& analyzers);
    std::vector<AnalyzerId> focus() const;
    // A focus that holds a registered analyzer (the poll thread paces by it).
    bool focusActive() const;

    // Before a poll thread starts: clear the stop request and the pending flags of every slot
    // except thresholds and factory number, mark every slot for the extended-model probe.
    void prepareConnect();
    void requestStop();
    bool stopRequested() const;
    // Waits up to `ms` or until a stop is requested; true when stopped. The poll thread paces
    // itself through this so a stop does not wait out the pause.
    bool waitForStop(int ms) const;
    bool waitForStopUs(long us) const;

    int cursor() const;
    double maxGas() const;
    void setMaxGas(double value);
    double midGas() const;
    void setMidGas(double value);
    std::string portName() const;
    void setPortName(const std::string& storedName);
    unsigned baudRate() const;
    void setBaudRate(unsigned baud);

    // --- poll thread ---

    struct Turn {
        int slot = -1;  // -1: no window registered
        uint64_t generation = 0;
        Slot data;
        int windowCount = 0;
        unsigned baudRate = 0;
        double maxGas = 0.0;
        double midGas = 0.0;
    };
    Turn beginTurn();
    // Runs `change` on the slot under the lock, only if `slot` still holds the registration
    // `generation`. False (nothing run) when it was closed or moved meanwhile.
    bool storeOutcome(int slot, uint64_t generation, const std::function<void(Slot&)>& change);
    bool isCurrent(int slot, uint64_t generation) const;
    void resetCursor();      // at the poll thread's start, before the line opens
    void clearAllPending();  // at the poll thread's start, once the line is open
    // cursor + 1, or 0 at windowCount; under a focus, past the slot the last turn took
    void advanceCursor();
    // What the line did besides answering, counted over the run (poll thread writes).
    void countLine(const ExchangeResult& exchange);
    LineHealth lineHealth() const;
    // Settles the open commands of every registered slot (see Slot::settleTracks).
    std::vector<CommandReport> settleCommands(CommandFailure why, bool all);
    // Fails the open commands of one slot (UI thread, before its window closes).
    std::vector<CommandReport> failOpenCommands(int slot, CommandFailure why);
    // Fails and clears every pending command confirmed longer ago than the command expiry.
    std::vector<CommandReport> expireCommands(int64_t nowMs);

    struct Marked {
        int slot;
        Slot data;
    };
    // The line is gone: every registered analyzer is out of contact at once, its readings
    // cleared as after the sixth failure. Returns them as they are now.
    std::vector<Marked> markLineLost();

  private:
    bool registered(int slot) const { return slot >= 0 && slot < windowCount_; }
    bool focused(int slot) const;
    // The first slot from `from` on (wrapping) that is (or is not) in the focus; -1 for none.
    int findSlot(int from, bool inFocus) const;
    int focusedSlot() const;

    mutable std::mutex mutex_;

    // A shared field copied in or out under the lock.
    template <class T>
    T locked(const T& field) const {
        std::lock_guard lock(mutex_);
        return field;
    }
    template <class T, class V>
    void setLocked(T& field, const V& value) {
        std::lock_guard lock(mutex_);
        field = value;
    }
    mutable std::condition_variable stopChanged_;
    Slot slots_[kMaxSlots];
    int cursor_ = 0;
    int windowCount_ = 0;
    double maxGas_ = 4.4;
    double midGas_ = 2.7;
    std::string portName_ = "COM1";
    unsigned baudRate_ = 9600;
    bool stopPolling_ = false;
    uint64_t nextGeneration_ = 1;
    uint64_t nextCommandId_ = 1;
    bool fastPolling_ = false;
    std::vector<AnalyzerId> focus_;
    int focusCursor_ = 0;
    int focusRun_ = 0;   // focused turns since the last turn of another analyzer
    int lastSlot_ = -1;  // the slot of the last turn begun under a focus
    bool lastFocused_ = false;
    int commandExpiryMs_ = 30000;
    LineHealth line_;
};

}  // namespace zta
