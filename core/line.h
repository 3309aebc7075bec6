// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/reading_event.h"
#include "poll/poll_block.h"
#include "poll/poll_thread.h"

namespace zta {

class BenchCore;

// One bus: its transport (chosen by the port name when a run opens it), its poll block with
// the analyzers on it, and the poll run that reads them. Everything here but the poll thread
// itself runs on the thread that drains the core's event queue.
class Line {
  public:
    Line(BenchCore& core, int index);
    ~Line();
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    int index() const { return index_; }
    PollBlock& block() { return block_; }
    const PollBlock& block() const { return block_; }

    void setPort(const std::string& storedName) { block_.setPortName(storedName); }
    std::string port() const { return block_.portName(); }
    void setBaud(unsigned baud) { block_.setBaudRate(baud); }
    unsigned baud() const { return block_.baudRate(); }
    // For the runs to come (tests shorten the pacing or use another port backend).
    void setTiming(const PollTiming& timing) { timing_ = timing; }
    const PollTiming& timing() const { return timing_; }
    void setPortFactory(PortFactory factory) { portFactory_ = std::move(factory); }
    const PortFactory& portFactory() const { return portFactory_; }

    // ---- analyzers
    // A new analyzer at the end of the line's order, with no number yet; nothing when the
    // line has kMaxSlots already.
    std::optional<AnalyzerId> addAnalyzer();
    // Its open commands fail, the analyzers behind it move up one slot.
    void removeAnalyzer(AnalyzerId id);
    std::optional<int> slotOf(AnalyzerId id) const { return block_.slotOfAnalyzer(id); }
    bool holds(AnalyzerId id) const { return generations_.count(id) != 0; }
    // In the order they are polled.
    std::vector<AnalyzerId> analyzers() const;
    // Another number is another analyzer in the same place: it starts afresh, and what is
    // still on its way for the old one is not shown for the new one.
    void setAddress(AnalyzerId id, int address);
    // Focused polling: these analyzers first, with fast pacing, the others at least one turn
    // in ten (a verification point, whose response time wants fine sampling). Empty: clear.
    void setFocus(const std::vector<AnalyzerId>& ids) { block_.setFocus(ids); }
    // The analyzer's slot as the poll block has it now (a default Slot for an unknown id).
    Slot snapshot(AnalyzerId id) const;
    // The last reading delivered for the analyzer in this run; nullptr before one.
    const ReadingEvent* latest(AnalyzerId id) const;
    // The registration the analyzer's readings must carry to be its own.
    std::uint64_t generation(AnalyzerId id) const;

    // ---- polling
    // False when polling runs already or the thread did not start.
    bool connect();
    // Stops the run and waits for its thread at most `timeoutMs`; false when it goes on (the
    // stop stays requested). The listeners hear `disconnected`: the readings are void.
    bool disconnect(int timeoutMs);
    // The same without telling anyone (the station is closing).
    bool stopQuietly(int timeoutMs);
    bool isPolling() const { return run_ != nullptr; }
    // A stop is waiting for the poll thread (a listener's box may ask for another meanwhile).
    bool isStopping() const { return stopping_; }
    // The run polls, but its port went away and it waits for it.
    bool isLost() const { return lost_; }
    // The current run's number; 0 while not polling.
    std::uint64_t runNumber() const;

  private:
    class Run;
    friend class Run;
    void deliver(const ReadingEvent& event);
    void onLineFailed(std::uint64_t run);
    void onLineState(std::uint64_t run, bool up);
    bool current(std::uint64_t run) const;
    bool stopRun(int timeoutMs);

    BenchCore& core_;
    const int index_;
    PollBlock block_;  // declared before the runs that use it
    PollTiming timing_;
    PortFactory portFactory_;
    std::unique_ptr<Run> run_;
    std::uint64_t lastRun_ = 0;
    bool lost_ = false;
    bool stopping_ = false;
    std::map<AnalyzerId, std::uint64_t> generations_;
    std::map<AnalyzerId, ReadingEvent> latest_;
    // Runs whose thread did not end in time after a line failure; waited for at the end.
    std::vector<std::unique_ptr<Run>> abandoned_;
};

}  // namespace zta
