// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/bench_listener.h"
#include "core/command_service.h"
#include "core/event_queue.h"
#include "core/line.h"

namespace zta {

// The bench apart from its windows: the lines with their analyzers, what their workers report
// (through one event queue, to the listeners), and the command service.
class BenchCore {
  public:
    explicit BenchCore(EventQueue& queue);
    // Stops every line's run, waiting a bounded time for each.
    ~BenchCore();
    BenchCore(const BenchCore&) = delete;
    BenchCore& operator=(const BenchCore&) = delete;

    Line& addLine();
    int lineCount() const { return static_cast<int>(lines_.size()); }
    Line& line(int index) { return *lines_.at(static_cast<std::size_t>(index)); }
    const Line& line(int index) const { return *lines_.at(static_cast<std::size_t>(index)); }
    // The line the analyzer is on; nullptr for an id no line holds.
    Line* lineOf(AnalyzerId id);

    void addListener(BenchListener* listener);
    void removeListener(BenchListener* listener);
    // Runs `tell` for every listener, in the order they were added.
    void tell(const std::function<void(BenchListener&)>& tell);

    CommandService& commands() { return commands_; }

    // ---- for the lines
    AnalyzerId newAnalyzerId() { return nextId_++; }
    // Queues `fn` for the listeners' thread; dropped if the core is gone when it would run.
    void post(std::function<void()> fn);

  private:
    EventQueue& queue_;
    // Lets a queued report find out whether the core it belongs to still exists.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    std::vector<std::unique_ptr<Line>> lines_;
    std::vector<BenchListener*> listeners_;
    CommandService commands_{*this};
    AnalyzerId nextId_ = 1;
};

}  // namespace zta
