// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A poll thread over a simulated bus on a pseudo-terminal, with quick pacing and timeouts.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "poll/poll_block.h"
#include "poll/poll_thread.h"
#include "sim/bus.h"

namespace zta::test {

template <class Sink>
class SimBusTest : public ::testing::Test {
  protected:
    static constexpr int kStopWaitMs = 20000;

    void SetUp() override {
        char dir[] = "/tmp/zta-simbus-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        std::string error;
        bus = sim::Bus::openPty(dir_ + "/line", &error);
        ASSERT_TRUE(bus) << error;
        bus->start();
        block.setPortName(bus->portPath());
        block.setBaudRate(19200);
        timing.pacingBaseMs = 10;
        timing.pacingPerWindowMs = 0;
        timing.line.replyTimeoutMs = 120;
    }
    void TearDown() override {
        if (poll) {
            EXPECT_TRUE(poll->stop(kStopWaitMs));
        }
        poll.reset();
        bus.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    void start() {
        poll = std::make_unique<PollThread>(block, sink, timing);
        ASSERT_TRUE(poll->start());
    }

    std::string dir_;
    std::unique_ptr<sim::Bus> bus;
    PollBlock block;
    Sink sink{block};
    PollTiming timing;
    std::unique_ptr<PollThread> poll;
};

}  // namespace zta::test
