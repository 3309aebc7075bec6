// SPDX-License-Identifier: GPL-3.0-or-later
// The station's line through a Modbus TCP gateway: pymodbus's TCP server forwarding over its own
// RTU client to simulated analyzers on a pseudo-terminal.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/engine_support.h"
#include "net/net_support.h"
#include "poll/poll_block.h"
#include "poll/poll_thread.h"
#include "program_run.h"
#include "sim/bus.h"

namespace zta {
namespace {

constexpr int kWaitMs = 30000;

class Gateway : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!nettest::Gateway::available()) GTEST_SKIP() << "python3-pymodbus is not installed";
        sim::AnalyzerConfig standard = nettest::analyzer(2);
        standard.model = sim::Model::Standard;
        const std::string error = line.open({nettest::analyzer(1), standard});
        ASSERT_TRUE(error.empty()) << error;
        sim = line.bus.get();
        ASSERT_TRUE(gateway.start(line.dir, line.path(), 9600, 4)) << gateway.log();
    }
    testing::ProgramRun bus(const std::string& args) {
        return testing::runProgram(std::string(ZTA_BUS_PROGRAM) + " " + args + " --port " +
                                   gateway.address() + " 2>&1");
    }

    nettest::SimLine line;
    sim::Bus* sim = nullptr;
    nettest::Gateway gateway;
};

TEST_F(Gateway, SearchReadsAndCommandsGoThroughIt) {
    auto r = bus("scan --json");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("\"found\":[1,2]"), std::string::npos) << r.out;

    r = bus("read --address 1 --extended --json");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("\"unitName\""), std::string::npos) << r.out;
    // The standard model's refusal of the long read comes through as the analyzer's own.
    r = bus("read --address 2 --extended");
    EXPECT_EQ(r.status, 6) << r.out;
    EXPECT_NE(r.out.find("refused the request (exception 2)"), std::string::npos) << r.out;

    r = bus("write --address 1 threshold1 41");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(sim->state(1)->threshold1, 41);
    // Behind the gateway: "no response" for a number nobody answers at, as a time-out.
    r = bus("read --address 3");
    EXPECT_EQ(r.status, 4) << r.out;
    // The gateway's own line rate is out of reach.
    r = bus("write --address 1 baud 19200");
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_NE(r.out.find("cannot be changed through a Modbus TCP gateway"), std::string::npos);
    EXPECT_EQ(sim->state(1)->baud, 9600u);
}

TEST_F(Gateway, PollingBothModelsRunsThroughTheEngine) {
    PollBlock block;
    test::RecordingSink sink{block};
    const PollTiming timing = nettest::quickPolling();
    block.setPortName(gateway.address());
    block.setBaudRate(9600);
    const int one = *block.registerSlot(1);
    block.setAddress(one, 1);
    const int two = *block.registerSlot(2);
    block.setAddress(two, 2);
    PollThread poll(block, sink, timing);
    ASSERT_TRUE(poll.start());
    auto live = [](const test::RecordingSink::Record& r, int slot) {
        for (auto it = r.data.rbegin(); it != r.data.rend(); ++it)
            if (it->slot == slot) return it->copy.errorCount == 0 && it->copy.replyCount > 2;
        return false;
    };
    ASSERT_TRUE(sink.waitUntil([&](auto& r) { return live(r, one) && live(r, two); }, kWaitMs));
    const auto r = sink.get();
    for (auto it = r.data.rbegin(); it != r.data.rend(); ++it) {
        if (it->slot != two) continue;
        EXPECT_FALSE(it->copy.readings.extendedModel);  // learned from the refusal
        break;
    }
    EXPECT_TRUE(poll.stop(kWaitMs));
    EXPECT_TRUE(r.boxes.empty());
}

}  // namespace
}  // namespace zta
