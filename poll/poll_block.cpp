// SPDX-License-Identifier: GPL-3.0-or-later
#include "poll/poll_block.h"

#include <algorithm>
#include <chrono>

#include "poll/command_table.h"

namespace zta {

namespace {
const char* const kNoGasName = " - ";
}

void PendingCommands::set(Command which, double value, bool hasValue) {
    entries_[commandIndex(which)] = Entry{true, hasValue, value};
}

bool PendingCommands::anyPending() const {
    return std::any_of(entries_.begin(), entries_.end(), [](const Entry& e) { return e.pending; });
}

void PendingCommands::clearPending() {
    for (Entry& e : entries_) e.pending = false;
}

namespace {
CommandReport reportOf(const Slot& s, Command which) {
    CommandReport r;
    r.analyzer = s.analyzer;
    r.generation = s.generation;
    r.address = s.address;
    r.factoryNumber = s.readings.factoryNumber;
    r.command = which;
    r.track = s.commands[commandIndex(which)];
    return r;
}
}  // namespace

void Slot::trackSent(Command which, const Request& request, std::vector<CommandReport>& reports) {
    CommandTrack& t = commands[commandIndex(which)];
    if (t.state == CommandStatus::None || t.state == CommandStatus::Confirmed) return;
    ++t.tries;
    t.reg = static_cast<uint16_t>((request[2] << 8) | request[3]);
    t.value = static_cast<uint16_t>((request[4] << 8) | request[5]);
    if (t.state == CommandStatus::Pending) {
        t.state = CommandStatus::Sent;
        reports.push_back(reportOf(*this, which));
    }
}

void Slot::settleTracks(const Command* echoed, CommandFailure why, bool all,
                        std::vector<CommandReport>& reports) {
    for (int i = 0; i < kCommandKinds; ++i) {
        CommandTrack& t = commands[i];
        const Command which = commandAt(i);
        if (echoed && *echoed == which &&
            (t.open() ||
             (t.state == CommandStatus::Failed && t.failure == CommandFailure::NoEcho))) {
            t.state = CommandStatus::Confirmed;
            t.failure = CommandFailure::None;
            reports.push_back(reportOf(*this, which));
        } else if (t.open() && (all || !pending.isPending(which))) {
            t.state = CommandStatus::Failed;
            t.failure = why;
            reports.push_back(reportOf(*this, which));
        } else if (t.state == CommandStatus::Sent && t.tries >= kCommandTries) {
            t.state = CommandStatus::Failed;
            t.failure = CommandFailure::NoEcho;
            reports.push_back(reportOf(*this, which));
        }
    }
}

void Slot::clearReadings() {
    readings.clearReported();
    texts.gasName = kNoGasName;
}

std::optional<int> PollBlock::registerSlot(AnalyzerId view) {
    std::lock_guard lock(mutex_);
    if (windowCount_ >= kMaxSlots) return std::nullopt;
    const int slot = windowCount_;
    Slot fresh;
    fresh.analyzer = view;
    fresh.texts.gasName = kNoGasName;
    fresh.texts.unitName.clear();
    fresh.errorCount = kLostContactLimit;
    // A new analyzer is probed for the extended model like every analyzer after connect.
    fresh.readings.extendedModel = true;
    fresh.generation = nextGeneration_++;
    slots_[slot] = std::move(fresh);
    ++windowCount_;
    return slot;
}

std::vector<PollBlock::Moved> PollBlock::close(int slot) {
    std::vector<Moved> moved;
    std::lock_guard lock(mutex_);
    if (!registered(slot)) return moved;
    for (int i = slot; i < windowCount_ - 1; ++i) {
        slots_[i] = std::move(slots_[i + 1]);
        moved.push_back({i, slots_[i].analyzer});
    }
    slots_[windowCount_ - 1] = Slot{};
    cursor_ = 0;
    focusCursor_ = 0;
    lastSlot_ = -1;
    --windowCount_;
    return moved;
}

Slot PollBlock::snapshot(int slot) const {
    std::lock_guard lock(mutex_);
    if (slot < 0 || slot >= kMaxSlots) return Slot{};
    return slots_[slot];
}

int PollBlock::windowCount() const { return locked(windowCount_); }

AnalyzerId PollBlock::view(int slot) const {
    std::lock_guard lock(mutex_);
    return registered(slot) ? slots_[slot].analyzer : 0;
}

std::optional<int> PollBlock::slotOfAnalyzer(AnalyzerId view) const {
    std::lock_guard lock(mutex_);
    if (view == 0) return std::nullopt;
    for (int i = 0; i < windowCount_; ++i)
        if (slots_[i].analyzer == view) return i;
    return std::nullopt;
}

bool PollBlock::confirmCommand(int slot, Command which, std::optional<double> value) {
    std::lock_guard lock(mutex_);
    if (!registered(slot)) return false;
    Slot& s = slots_[slot];
    const CommandRow& row = commandRow(which);
    CommandInputs in;
    in.value = value.value_or(0.0);
    in.hasValue = value.has_value();
    in.address = s.address;
    in.lineBaud = baudRate_;
    in.maxGas = maxGas_;
    in.midGas = midGas_;
    const RegisterWrite write = row.encode(in);
    CommandTrack& t = s.commands[commandIndex(which)];
    t = CommandTrack{};
    t.state = CommandStatus::Pending;
    t.id = nextCommandId_++;
    t.confirmedMs = steadyNowMs();
    t.reg = write.reg;
    t.value = write.value;
    s.pending.set(which, in.value, in.hasValue);
    return true;
}

std::vector<CommandReport> PollBlock::setAddress(int slot, int address) {
    std::vector<CommandReport> reports;
    std::lock_guard lock(mutex_);
    if (!registered(slot) || slots_[slot].address == address) return reports;
    Slot& old = slots_[slot];
    old.settleTracks(nullptr, CommandFailure::Cleared, true, reports);
    for (CommandReport& r : reports) r.slot = slot;
    Slot fresh;
    fresh.analyzer = old.analyzer;
    fresh.address = address;
    fresh.texts.gasName = kNoGasName;
    fresh.texts.unitName.clear();
    fresh.errorCount = kLostContactLimit;
    fresh.readings.extendedModel = true;
    // The line's pace is the same for the new analyzer.
    fresh.lastTurnMs = old.lastTurnMs;
    fresh.cycleMs = old.cycleMs;
    fresh.generation = nextGeneration_++;
    old = std::move(fresh);
    return reports;
}

void PollBlock::resetCounters(int slot) {
    std::lock_guard lock(mutex_);
    if (!registered(slot)) return;
    slots_[slot].replyCount = 0;
    slots_[slot].requestCount = 0;
    slots_[slot].health = LinkHealth{};
}

void PollBlock::setCommandExpiryMs(int ms) { setLocked(commandExpiryMs_, std::max(0, ms)); }

int PollBlock::commandExpiryMs() const { return locked(commandExpiryMs_); }

void PollBlock::setFastPolling(bool on) { setLocked(fastPolling_, on); }

bool PollBlock::fastPolling() const { return locked(fastPolling_); }

void PollBlock::setFocus(const std::vector<AnalyzerId>& analyzers) {
    std::lock_guard lock(mutex_);
    focus_ = analyzers;
    focusCursor_ = 0;
    focusRun_ = 0;
    lastSlot_ = -1;
}

std::vector<AnalyzerId> PollBlock::focus() const { return locked(focus_); }

bool PollBlock::focusActive() const {
    std::lock_guard lock(mutex_);
    return focusedSlot() >= 0;
}

bool PollBlock::focused(int slot) const {
    return registered(slot) &&
           std::find(focus_.begin(), focus_.end(), slots_[slot].analyzer) != focus_.end();
}

int PollBlock::findSlot(int from, bool inFocus) const {
    for (int k = 0; k < windowCount_; ++k) {
        const int slot = (from + k) % windowCount_;
        if (focused(slot) == inFocus) return slot;
    }
    return -1;
}

int PollBlock::focusedSlot() const {
    return focus_.empty() || windowCount_ == 0 ? -1 : findSlot(0, true);
}

void PollBlock::prepareConnect() {
    std::lock_guard lock(mutex_);
    stopPolling_ = false;
    for (Slot& s : slots_) {
        for (const CommandRow& row : commandTable())
            if (!row.keptOverConnect) s.pending.clear(row.command);
        s.readings.extendedModel = true;
        // The pause since the last run is no cycle; the last cycle measured stands until then.
        s.lastTurnMs = 0;
    }
    line_ = LineHealth{};
}

void PollBlock::countLine(const ExchangeResult& exchange) {
    std::lock_guard lock(mutex_);
    line_.count(exchange);
}

LineHealth PollBlock::lineHealth() const { return locked(line_); }

void PollBlock::requestStop() {
    {
        std::lock_guard lock(mutex_);
        stopPolling_ = true;
    }
    stopChanged_.notify_all();
}

bool PollBlock::stopRequested() const { return locked(stopPolling_); }

bool PollBlock::waitForStop(int ms) const {
    std::unique_lock lock(mutex_);
    if (ms <= 0) return stopPolling_;
    return stopChanged_.wait_for(lock, std::chrono::milliseconds(ms),
                                 [this] { return stopPolling_; });
}

bool PollBlock::waitForStopUs(long us) const {
    std::unique_lock lock(mutex_);
    if (us <= 0) return stopPolling_;
    return stopChanged_.wait_for(lock, std::chrono::microseconds(us),
                                 [this] { return stopPolling_; });
}

int PollBlock::cursor() const { return locked(cursor_); }

double PollBlock::maxGas() const { return locked(maxGas_); }

void PollBlock::setMaxGas(double value) { setLocked(maxGas_, value); }

double PollBlock::midGas() const { return locked(midGas_); }

void PollBlock::setMidGas(double value) { setLocked(midGas_, value); }

std::string PollBlock::portName() const { return locked(portName_); }

void PollBlock::setPortName(const std::string& storedName) { setLocked(portName_, storedName); }

unsigned PollBlock::baudRate() const { return locked(baudRate_); }

void PollBlock::setBaudRate(unsigned baud) { setLocked(baudRate_, baud); }

PollBlock::Turn PollBlock::beginTurn() {
    std::lock_guard lock(mutex_);
    Turn turn;
    turn.windowCount = windowCount_;
    turn.baudRate = baudRate_;
    turn.maxGas = maxGas_;
    turn.midGas = midGas_;
    if (windowCount_ == 0) return turn;
    if (cursor_ >= windowCount_) cursor_ = 0;
    turn.slot = cursor_;
    lastSlot_ = -1;
    if (focusedSlot() >= 0) {
        const int other = focusRun_ >= kFocusShare - 1 ? findSlot(cursor_, false) : -1;
        lastFocused_ = other < 0;
        lastSlot_ = other >= 0 ? other : findSlot(focusCursor_ % windowCount_, true);
        turn.slot = lastSlot_;
    }
    Slot& s = slots_[turn.slot];
    const int64_t now = steadyNowMs();
    if (s.lastTurnMs != 0) s.cycleMs = static_cast<int>(now - s.lastTurnMs);
    s.lastTurnMs = now;
    turn.data = s;
    turn.generation = turn.data.generation;
    return turn;
}

bool PollBlock::storeOutcome(int slot, uint64_t generation,
                             const std::function<void(Slot&)>& change) {
    std::lock_guard lock(mutex_);
    if (!registered(slot) || generation == 0 || slots_[slot].generation != generation) return false;
    change(slots_[slot]);
    return true;
}

bool PollBlock::isCurrent(int slot, uint64_t generation) const {
    std::lock_guard lock(mutex_);
    return registered(slot) && generation != 0 && slots_[slot].generation == generation;
}

void PollBlock::resetCursor() {
    std::lock_guard lock(mutex_);
    cursor_ = 0;
    focusCursor_ = 0;
    focusRun_ = 0;
    lastSlot_ = -1;
}

void PollBlock::clearAllPending() {
    std::lock_guard lock(mutex_);
    for (Slot& s : slots_) s.pending.clearPending();
}

std::vector<CommandReport> PollBlock::settleCommands(CommandFailure why, bool all) {
    std::vector<CommandReport> reports;
    std::lock_guard lock(mutex_);
    for (int i = 0; i < windowCount_; ++i) {
        const size_t from = reports.size();
        slots_[i].settleTracks(nullptr, why, all, reports);
        for (size_t k = from; k < reports.size(); ++k) reports[k].slot = i;
    }
    return reports;
}

std::vector<CommandReport> PollBlock::failOpenCommands(int slot, CommandFailure why) {
    std::vector<CommandReport> reports;
    std::lock_guard lock(mutex_);
    if (!registered(slot)) return reports;
    slots_[slot].settleTracks(nullptr, why, true, reports);
    for (CommandReport& r : reports) r.slot = slot;
    return reports;
}

std::vector<CommandReport> PollBlock::expireCommands(int64_t nowMs) {
    std::vector<CommandReport> reports;
    std::lock_guard lock(mutex_);
    if (commandExpiryMs_ <= 0) return reports;
    for (int i = 0; i < windowCount_; ++i) {
        Slot& s = slots_[i];
        for (int k = 0; k < kCommandKinds; ++k) {
            const Command which = commandAt(k);
            CommandTrack& t = s.commands[k];
            if (!s.pending.isPending(which) || t.id == 0 ||
                nowMs - t.confirmedMs < commandExpiryMs_)
                continue;
            s.pending.clear(which);
            t.state = CommandStatus::Failed;
            t.failure = CommandFailure::Expired;
            reports.push_back(reportOf(s, which));
            reports.back().slot = i;
        }
    }
    return reports;
}

std::vector<PollBlock::Marked> PollBlock::markLineLost() {
    std::vector<Marked> notices;
    std::lock_guard lock(mutex_);
    for (int i = 0; i < windowCount_; ++i) {
        Slot& s = slots_[i];
        s.errorCount = kLostContactLimit;
        s.readings.extendedModel = true;
        s.clearReadings();
        notices.push_back({i, s});
    }
    return notices;
}

void PollBlock::advanceCursor() {
    std::lock_guard lock(mutex_);
    if (lastSlot_ >= 0 && windowCount_ > 0) {
        // The plain order's cursor walks the others only, so that each of them gets its turn.
        if (lastFocused_) {
            focusCursor_ = (lastSlot_ + 1) % windowCount_;
            focusRun_ = std::min(focusRun_ + 1, kFocusShare);
        } else {
            cursor_ = (lastSlot_ + 1) % windowCount_;
            focusRun_ = 0;
        }
        lastSlot_ = -1;
        return;
    }
    ++cursor_;
    if (cursor_ >= windowCount_) cursor_ = 0;
}

}  // namespace zta
