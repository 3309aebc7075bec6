// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/command_service.h"

#include "core/bench_core.h"

namespace zta {

bool CommandService::send(AnalyzerId analyzer, Command command, std::optional<double> value) {
    Line* line = core_.lineOf(analyzer);
    if (!line) return false;
    const auto slot = line->slotOf(analyzer);
    if (!slot) return false;
    PollBlock& block = line->block();
    const CommandTrack previous = block.snapshot(*slot).commands[commandIndex(command)];
    if (!block.confirmCommand(*slot, command, value)) return false;
    const Slot now = block.snapshot(*slot);
    CommandReport report;
    report.analyzer = analyzer;
    report.slot = *slot;
    report.generation = now.generation;
    report.address = now.address;
    report.factoryNumber = now.readings.factoryNumber;
    report.command = command;
    const int index = line->index();
    if (previous.open()) {
        report.track = previous;
        report.track.state = CommandStatus::Failed;
        report.track.failure = CommandFailure::Replaced;
        core_.tell([&](BenchListener& l) { l.commandChanged(index, report); });
    }
    report.track = now.commands[commandIndex(command)];
    core_.tell([&](BenchListener& l) { l.commandChanged(index, report); });
    return true;
}

}  // namespace zta
