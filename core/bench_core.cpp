// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/bench_core.h"

#include <algorithm>

namespace zta {

BenchCore::BenchCore(EventQueue& queue) : queue_(queue) {}

BenchCore::~BenchCore() {
    // The lines' threads end before the listeners could be told anything more.
    listeners_.clear();
    lines_.clear();
}

Line& BenchCore::addLine() {
    lines_.push_back(std::make_unique<Line>(*this, lineCount()));
    return *lines_.back();
}

Line* BenchCore::lineOf(AnalyzerId id) {
    for (auto& line : lines_)
        if (line->holds(id)) return line.get();
    return nullptr;
}

void BenchCore::addListener(BenchListener* listener) {
    if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end())
        listeners_.push_back(listener);
}

void BenchCore::removeListener(BenchListener* listener) {
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

void BenchCore::tell(const std::function<void(BenchListener&)>& tell) {
    // A listener may add or remove listeners (a window closing from a box it opened).
    const std::vector<BenchListener*> now = listeners_;
    for (BenchListener* listener : now)
        if (std::find(listeners_.begin(), listeners_.end(), listener) != listeners_.end())
            tell(*listener);
}

void BenchCore::post(std::function<void()> fn) {
    std::weak_ptr<int> alive = alive_;
    queue_.post([alive, fn = std::move(fn)] {
        if (alive.lock()) fn();
    });
}

}  // namespace zta
