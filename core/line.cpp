// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/line.h"

#include <chrono>

#include "core/bench_core.h"

namespace zta {

namespace {
constexpr int kFailedStopWaitMs = 10000;
}

// One run of the poll thread and the sink it reports through. Everything it reports is posted:
// the poll thread never waits for the listeners' thread.
class Line::Run : public PollSink {
  public:
    Run(Line& line, std::uint64_t number) : line_(line), number_(number) {}
    ~Run() override { thread.reset(); }  // the thread goes before the sink it calls

    void dataChanged(const SlotUpdate& update) override {
        ReadingEvent event;
        event.analyzer = update.data.analyzer;
        event.generation = update.data.generation;
        event.line = line_.index();
        event.run = number_;
        event.steadyMs = steadyNowMs();
        event.turnStartMs = update.data.lastTurnMs;
        event.wallTime = std::chrono::system_clock::now();
        event.address = update.data.address;
        event.readings = update.data.readings;
        event.texts = update.data.texts;
        event.errorCount = update.data.errorCount;
        event.cycleMs = update.data.cycleMs;
        event.replyCount = update.data.replyCount;
        event.requestCount = update.data.requestCount;
        event.exchanged = update.exchanged;
        event.outcome = update.outcome;
        event.health = update.data.health;
        Line* line = &line_;
        line_.core_.post([line, event = std::move(event)] { line->deliver(event); });
    }
    void baudAccepted(AnalyzerId analyzer, int baudCode, int address) override {
        Line* line = &line_;
        const std::uint64_t run = number_;
        line_.core_.post([line, run, analyzer, baudCode, address] {
            if (!line->current(run)) return;
            line->core_.tell(
                [&](BenchListener& l) { l.baudAccepted(analyzer, baudCode, address); });
        });
    }
    void lineFailed() override {
        Line* line = &line_;
        const std::uint64_t run = number_;
        line_.core_.post([line, run] { line->onLineFailed(run); });
    }
    void showError(const std::string& text, const std::string& caption) override {
        BenchCore* core = &line_.core_;
        line_.core_.post([core, text, caption] {
            core->tell([&](BenchListener& l) { l.errorRaised(text, caption); });
        });
    }
    void commandChanged(const CommandReport& report) override {
        Line* line = &line_;
        line_.core_.post([line, report] {
            line->core_.tell([&](BenchListener& l) { l.commandChanged(line->index(), report); });
        });
    }
    void lineStateChanged(bool up) override {
        Line* line = &line_;
        const std::uint64_t run = number_;
        line_.core_.post([line, run, up] { line->onLineState(run, up); });
    }

    std::uint64_t number() const { return number_; }
    std::unique_ptr<PollThread> thread;

  private:
    Line& line_;
    const std::uint64_t number_;
};

Line::Line(BenchCore& core, int index)
    : core_(core), index_(index), portFactory_(makePlatformPort) {}

Line::~Line() {
    stopQuietly(kFailedStopWaitMs);
    abandoned_.clear();
}

std::optional<AnalyzerId> Line::addAnalyzer() {
    const AnalyzerId id = core_.newAnalyzerId();
    if (!block_.registerSlot(id)) return std::nullopt;
    generations_[id] = block_.snapshot(*block_.slotOfAnalyzer(id)).generation;
    core_.tell([this](BenchListener& l) { l.analyzersChanged(index_); });
    return id;
}

void Line::removeAnalyzer(AnalyzerId id) {
    const auto slot = block_.slotOfAnalyzer(id);
    generations_.erase(id);
    latest_.erase(id);
    if (!slot) return;
    for (const CommandReport& r : block_.failOpenCommands(*slot, CommandFailure::WindowClosed))
        core_.tell([&](BenchListener& l) { l.commandChanged(index_, r); });
    block_.close(*slot);
    core_.tell([this](BenchListener& l) { l.analyzersChanged(index_); });
}

std::vector<AnalyzerId> Line::analyzers() const {
    std::vector<AnalyzerId> ids;
    const int count = block_.windowCount();
    for (int slot = 0; slot < count; ++slot) ids.push_back(block_.view(slot));
    return ids;
}

void Line::setAddress(AnalyzerId id, int address) {
    const auto slot = block_.slotOfAnalyzer(id);
    if (!slot) return;
    const std::vector<CommandReport> failed = block_.setAddress(*slot, address);
    generations_[id] = block_.snapshot(*slot).generation;
    latest_.erase(id);
    for (const CommandReport& r : failed)
        core_.tell([&](BenchListener& l) { l.commandChanged(index_, r); });
}

Slot Line::snapshot(AnalyzerId id) const {
    const auto slot = block_.slotOfAnalyzer(id);
    return slot ? block_.snapshot(*slot) : Slot{};
}

const ReadingEvent* Line::latest(AnalyzerId id) const {
    const auto it = latest_.find(id);
    return it == latest_.end() ? nullptr : &it->second;
}

std::uint64_t Line::generation(AnalyzerId id) const {
    const auto it = generations_.find(id);
    return it == generations_.end() ? 0 : it->second;
}

std::uint64_t Line::runNumber() const { return run_ ? run_->number() : 0; }

bool Line::current(std::uint64_t run) const { return run_ && run_->number() == run; }

void Line::deliver(const ReadingEvent& event) {
    // A run that has ended must not refill what a disconnect emptied, and a window that took
    // another number must not show the old analyzer's reply.
    if (!current(event.run) || generation(event.analyzer) != event.generation) return;
    latest_[event.analyzer] = event;
    core_.tell([&event](BenchListener& l) { l.readingArrived(event); });
}

bool Line::connect() {
    if (run_) return false;
    auto run = std::make_unique<Run>(*this, ++lastRun_);
    run->thread = std::make_unique<PollThread>(block_, *run, timing_, portFactory_);
    if (!run->thread->start()) return false;
    run_ = std::move(run);
    lost_ = false;
    latest_.clear();
    core_.tell([this](BenchListener& l) { l.pollingChanged(index_); });
    return true;
}

bool Line::stopRun(int timeoutMs) {
    // A listener may re-enter (a box's event loop asking for another stop): that one returns at
    // once instead of waiting for the same thread.
    if (stopping_) return false;
    stopping_ = true;
    const bool ended = run_->thread->stop(timeoutMs);
    stopping_ = false;
    return ended;
}

bool Line::disconnect(int timeoutMs) {
    if (!run_) return true;
    if (!stopRun(timeoutMs)) return false;
    run_.reset();
    lost_ = false;
    latest_.clear();
    core_.tell([this](BenchListener& l) { l.disconnected(index_); });
    core_.tell([this](BenchListener& l) { l.pollingChanged(index_); });
    return true;
}

bool Line::stopQuietly(int timeoutMs) {
    if (!run_ || !stopRun(timeoutMs)) return !run_;
    run_.reset();
    lost_ = false;
    return true;
}

void Line::onLineState(std::uint64_t run, bool up) {
    if (!current(run) || lost_ == !up) return;
    lost_ = !up;
    core_.tell([this, up](BenchListener& l) { l.lineStateChanged(index_, up); });
}

void Line::onLineFailed(std::uint64_t run) {
    if (!current(run) || stopping_) return;  // over already, or being stopped by an outer wait
    // The thread ends right after its report; the analyzers keep their readings.
    if (!stopRun(kFailedStopWaitMs)) abandoned_.push_back(std::move(run_));
    run_.reset();
    lost_ = false;
    core_.tell([this](BenchListener& l) { l.pollingChanged(index_); });
}

}  // namespace zta
