// SPDX-License-Identifier: GPL-3.0-or-later
// zta-bus poll end to end: the built program with the real poll thread against the simulator.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "program_run.h"
#include "sim/bus.h"

namespace {

using zta::testing::ProgramRun;

ProgramRun busPoll(const std::string& args) {
    return zta::testing::runProgram(std::string(ZTA_BUS_PROGRAM) + " poll " + args + " 2>&1");
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

bool has(const std::string& line, const std::string& part) {
    return line.find(part) != std::string::npos;
}

// --turns counts cycles over the numbers; --json prints every exchange, answered or not.
TEST(busPoll, PrintsOneJsonLinePerExchangeForEverySlot) {
    std::string error;
    auto bus = zta::sim::Bus::openPty("", &error);
    ASSERT_TRUE(bus) << error;
    zta::sim::AnalyzerConfig extended;
    extended.address = 5;
    extended.concentration = 37;
    bus->addAnalyzer(extended);
    zta::sim::AnalyzerConfig standard;
    standard.address = 9;
    standard.model = zta::sim::Model::Standard;
    bus->addAnalyzer(standard);
    bus->start();

    const ProgramRun r = busPoll("--port " + bus->portPath() + " --address 5,9,7 --turns 3 --json");
    ASSERT_EQ(r.status, 0) << r.out;
    const auto lines = linesOf(r.out);
    ASSERT_EQ(lines.size(), 9u) << r.out;
    int seen5 = 0, seen9 = 0, seen7 = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        ASSERT_EQ(line.front(), '{') << line;
        ASSERT_EQ(line.back(), '}') << line;
        EXPECT_TRUE(has(line, "{\"cycle\":" + std::to_string(i / 3 + 1) + ",")) << line;
        // A reply lost to a loaded machine is a failure line; only answered lines are judged.
        const bool answered = has(line, "\"errorCount\":0");
        if (has(line, "\"slot\":0,\"address\":5")) {
            if (!answered) continue;
            ++seen5;
            EXPECT_TRUE(has(line, "\"concentration\":37")) << line;
            EXPECT_TRUE(has(line, "\"unitName\":\"%")) << line;
            EXPECT_TRUE(has(line, "\"extendedModel\":true")) << line;
        } else if (has(line, "\"slot\":1,\"address\":9")) {
            if (!answered) continue;
            ++seen9;
            EXPECT_TRUE(has(line, "\"gasName\":\"Метан\"")) << line;
            EXPECT_TRUE(has(line, "\"extendedModel\":false")) << line;
        } else if (has(line, "\"slot\":2,\"address\":7")) {
            ++seen7;
            EXPECT_TRUE(has(line, "\"outcome\":\"timeout\"")) << line;
            EXPECT_TRUE(has(line, "\"errorCount\":5")) << line;
            EXPECT_FALSE(has(line, "\"concentration\"")) << line;  // readings only for data
        } else {
            ADD_FAILURE() << line;
        }
    }
    EXPECT_GE(seen5, 2);
    EXPECT_GE(seen9, 1);  // its first turn is the refused probe
    EXPECT_EQ(seen7, 3);
    EXPECT_TRUE(has(lines[1], "\"outcome\":\"refused\"")) << lines[1];
}

// Replies that never pass (damaged, or the line's own copy of the request) still end the run
// after its cycles, each exchange printed with what it was.
TEST(busPoll, TurnsEndTheRunWhateverTheReplies) {
    std::string error;
    auto bus = zta::sim::Bus::openPty("", &error);
    ASSERT_TRUE(bus) << error;
    zta::sim::AnalyzerConfig damaged;
    damaged.address = 5;
    damaged.fault = zta::sim::Fault::WrongCrc;
    bus->addAnalyzer(damaged);
    bus->setLineEcho(1);
    bus->start();
    const ProgramRun r =
        busPoll("--port " + bus->portPath() + " --address 5,8 --turns 2 --json --timeout 150");
    ASSERT_EQ(r.status, 0) << r.out;
    const auto lines = linesOf(r.out);
    ASSERT_EQ(lines.size(), 4u) << r.out;
    for (size_t i = 0; i < lines.size(); ++i) {
        const bool five = i % 2 == 0;
        EXPECT_TRUE(has(lines[i], five ? "\"address\":5,\"outcome\":\"crc\""
                                       : "\"address\":8,\"outcome\":\"timeout\""))
            << lines[i];
        EXPECT_TRUE(has(lines[i], "\"echoing\":\"yes\"")) << lines[i];
    }
    EXPECT_TRUE(has(lines[2], "\"wrongCrc\":2")) << lines[2];
}

TEST(busPoll, RefusesBadArgumentsAndMissingPorts) {
    struct Case {
        std::string args;
        int status;
        std::string text;
    };
    const Case cases[] = {
        {"--port /dev/null", 2, "poll needs --address"},
        {"--port /dev/null --address 1,300", 2, "0 to 255"},
        {"--port /tmp/zta-no-such-port --address 1 --turns 1", 3,
         "Опрос: Порт /tmp/zta-no-such-port указан неверно"},
    };
    for (const Case& c : cases) {
        const ProgramRun r = busPoll(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << ": " << r.out;
        EXPECT_TRUE(has(r.out, c.text)) << c.args << ": " << r.out;
    }
}

}  // namespace
