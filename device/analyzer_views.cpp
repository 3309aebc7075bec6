// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/analyzer_views.h"

#include "device/analyzer_unit.h"
#include "device/analyzer_window_factory.h"

namespace zta {

AnalyzerViews::AnalyzerViews(BenchCore& core) : core_(core) { core_.addListener(this); }

AnalyzerViews::~AnalyzerViews() { core_.removeListener(this); }

void AnalyzerViews::add(AnalyzerId analyzer, AnalyzerViewInterface* view) {
    views_[analyzer] = view;
    units_.try_emplace(analyzer, std::make_unique<AnalyzerUnit>());
}

void AnalyzerViews::remove(AnalyzerId analyzer) {
    views_.erase(analyzer);
    units_.erase(analyzer);
}

AnalyzerUnit* AnalyzerViews::unit(AnalyzerId analyzer) const {
    const auto it = units_.find(analyzer);
    return it == units_.end() ? nullptr : it->second.get();
}

AnalyzerViewInterface* AnalyzerViews::find(AnalyzerId analyzer) const {
    const auto it = views_.find(analyzer);
    return it == views_.end() ? nullptr : it->second;
}

void AnalyzerViews::readingArrived(const ReadingEvent& event) {
    if (AnalyzerViewInterface* view = find(event.analyzer)) view->onReading(event);
}

void AnalyzerViews::commandChanged(int, const CommandReport& report) {
    if (AnalyzerViewInterface* view = find(report.analyzer)) view->onCommandStateChanged(report);
}

void AnalyzerViews::baudAccepted(AnalyzerId analyzer, int baudCode, int address) {
    if (AnalyzerViewInterface* view = find(analyzer)) view->onBaudAccepted(baudCode, address);
}

void AnalyzerViews::disconnected(int line) {
    // In slot order, as the operator sees the windows; a view may close others meanwhile.
    for (AnalyzerId id : core_.line(line).analyzers())
        if (AnalyzerViewInterface* view = find(id)) view->onDisconnected();
}

void AnalyzerViews::analyzersChanged(int line) {
    const Line& changed = core_.line(line);
    for (AnalyzerId id : changed.analyzers())
        if (AnalyzerViewInterface* view = find(id))
            if (const auto slot = changed.slotOf(id)) view->onSlotChanged(*slot);
}

}  // namespace zta
