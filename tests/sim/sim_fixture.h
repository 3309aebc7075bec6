// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sim/bus.h"
#include "sim_line.h"

namespace zta::sim::testing {

// A started bus with the given analyzers and the station's end opened at `baud`.
class SimTest : public ::testing::Test {
  protected:
    void open(std::initializer_list<AnalyzerConfig> analyzers, unsigned baud = 9600,
              const std::string& link = "") {
        std::string error;
        bus = Bus::openPty(link, &error);
        ASSERT_TRUE(bus) << error;
        for (const auto& a : analyzers) bus->addAnalyzer(a);
        bus->start();
        ASSERT_TRUE(line.open(bus->portPath(), baud, &error)) << error;
    }

    static AnalyzerConfig at(int address, Model model = Model::Extended) {
        AnalyzerConfig c;
        c.address = address;
        c.model = model;
        return c;
    }

    size_t countKind(LogEntry::Kind kind) const {
        size_t n = 0;
        for (const auto& e : bus->log()) n += e.kind == kind;
        return n;
    }

    // Bounded wait for the log to hold `n` entries of a kind.
    bool waitKind(LogEntry::Kind kind, size_t n, int timeoutMs = 2000) {
        return bus->waitFor(
            [&](const std::vector<LogEntry>& log) {
                size_t k = 0;
                for (const auto& e : log) k += e.kind == kind;
                return k >= n;
            },
            timeoutMs);
    }

    void TearDown() override {
        line.close();
        bus.reset();
    }

    std::unique_ptr<Bus> bus;
    TestLine line;
};

}  // namespace zta::sim::testing
