// SPDX-License-Identifier: GPL-3.0-or-later
// The station's line through ser2net (raw TCP and telnet with RFC 2217) to simulated analyzers
// on a pseudo-terminal: zta-bus as a program, the poll thread in process.
#include <gtest/gtest.h>

#include <cstdlib>
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

using BusRun = testing::ProgramRun;

// zta-bus with its standard error in the output.
BusRun bus(const std::string& args) {
    return testing::runProgram(std::string(ZTA_BUS_PROGRAM) + " " + args + " 2>&1");
}

// ser2net has let go of its last client: a new one is not taken for a second one.
bool serverIdle(int port) {
    return nettest::waitFor([port] { return nettest::idle(port); }, kWaitMs);
}

class Ser2net : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!nettest::Ser2net::available()) GTEST_SKIP() << "ser2net is not installed";
        const std::string error =
            line.open({nettest::analyzer(1, 9600, {2}), nettest::analyzer(11, 19200)});
        ASSERT_TRUE(error.empty()) << error;
        sim = line.bus.get();
        server = std::make_unique<nettest::Ser2net>(line.dir, line.path());
        ASSERT_TRUE(server->start()) << server->log();
    }
    void TearDown() override { server.reset(); }
    // zta-bus once ser2net is free for the next client. ser2net lets go of the device a moment
    // after the connection: a client of the other port may find it still held.
    BusRun busOn(int port, const std::string& args) {
        EXPECT_TRUE(serverIdle(port));
        BusRun r;
        nettest::waitFor(
            [&] {
                r = bus(args);
                return r.out.find("device already in use") == std::string::npos;
            },
            kWaitMs);
        return r;
    }

    nettest::SimLine line;
    sim::Bus* sim = nullptr;
    std::unique_ptr<nettest::Ser2net> server;
};

TEST_F(Ser2net, ReadWriteAndScanThroughRawAndTelnet) {
    for (const int port : {server->rawPort, server->telnetPort}) {
        const std::string url = port == server->rawPort ? server->raw() : server->telnet();
        SCOPED_TRACE(url);
        BusRun r = busOn(port, "read --port " + url + " --address 1 --json");
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("\"factoryNumber\":1234"), std::string::npos) << r.out;
        // 255 puts 0xFF into the request and its echo: telnet doubles it both ways.
        r = busOn(port, "write --port " + url + " --address 2 threshold1 255");
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(sim->state(1)->threshold1, 255);
        r = busOn(port, "write --port " + url + " --address 1 threshold1 20");
        ASSERT_EQ(r.status, 0) << r.out;
    }
    // A scan at 19200, where only the analyzer at 11 is: telnet sets the rate.
    const BusRun scan =
        busOn(server->telnetPort, "scan --port " + server->telnet() +
                                      " --baud 19200 --timeout 40 --net-timeout 20 --json");
    ASSERT_EQ(scan.status, 0) << scan.out;
    EXPECT_NE(scan.out.find("\"found\":[11]"), std::string::npos) << scan.out;
    // A server that takes the connection while nothing answers: time-outs, as on a silent line.
    const BusRun r = busOn(server->rawPort, "read --port " + server->raw() + " --address 9");
    EXPECT_EQ(r.status, 4) << r.out;
    EXPECT_NE(r.out.find("no reply from network number 9"), std::string::npos) << r.out;
}

TEST_F(Ser2net, TelnetSetsTheRateThatTheAnalyzerFollows) {
    // ser2net opens the line at 9600; only RFC 2217 brings it to the analyzer's 19200.
    BusRun r =
        busOn(server->telnetPort, "read --port " + server->telnet() + " --baud 19200 --address 11");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(sim->log().back().lineBaud, 19200u);
    r = busOn(server->rawPort, "read --port " + server->raw() + " --baud 19200 --address 11");
    EXPECT_EQ(r.status, 4) << r.out;
    // A baud command, then the line follows on the next opening.
    r = busOn(server->telnetPort,
              "write --port " + server->telnet() + " --baud 19200 --address 11 baud 4800");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(sim->state(11)->baud, 4800u);
    r = busOn(server->telnetPort,
              "read --port " + server->telnet() + " --baud 4800 --address 11 --json");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(sim->log().back().lineBaud, 4800u);
}

TEST_F(Ser2net, ASecondClientIsRefusedInTheServersWords) {
    for (const std::string& url : {server->raw(), server->telnet()}) {
        SerialLine first;
        OpenResult opened;
        nettest::waitFor([&] { return (opened = first.open(url, 9600)).ok(); }, kWaitMs);
        ASSERT_TRUE(opened.ok()) << openFailureText(opened, url);
        SerialLine second;
        const OpenResult r = second.open(url, 9600);
        EXPECT_EQ(r.failure, OpenFailure::Refused) << url;
        EXPECT_EQ(openFailureText(r, url),
                  "Соединение с " + url + " отклонено: Port already in use");
        const BusRun run = bus("read --port " + url + " --address 1");
        EXPECT_EQ(run.status, 3) << run.out;
        EXPECT_NE(run.out.find("отклонено: Port already in use"), std::string::npos) << run.out;
        // The first client's line is still good.
        const Request request = readRequest(1, kReadingsRegister, kShortReadCount);
        EXPECT_EQ(first.exchange(request, kShortReplyLength, 0).count, kShortReplyLength);
        first.close();
        ASSERT_TRUE(serverIdle(url == server->raw() ? server->rawPort : server->telnetPort));
    }
}

TEST_F(Ser2net, PollingComesBackAfterTheServerIsKilledAndRestarted) {
    PollBlock block;
    test::RecordingSink sink{block};
    const PollTiming timing = nettest::quickPolling();
    block.setPortName(server->telnet());
    block.setBaudRate(9600);
    const int slot = *block.registerSlot(1);
    block.setAddress(slot, 1);
    PollThread poll(block, sink, timing);
    ASSERT_TRUE(poll.start());
    auto answered = [](const test::RecordingSink::Record& r, size_t after) {
        return r.data.size() > after && r.data.back().copy.errorCount == 0 &&
               r.data.back().copy.replyCount > 0;
    };
    ASSERT_TRUE(sink.waitUntil([&](auto& r) { return answered(r, 2); }, kWaitMs));

    server->kill();
    ASSERT_TRUE(sink.waitUntil(
        [](auto& r) { return !r.lineStates.empty() && !r.lineStates.back().up; }, kWaitMs));
    const size_t lost = sink.get().data.size();
    ASSERT_TRUE(server->start()) << server->log();
    ASSERT_TRUE(sink.waitUntil(
        [&](auto& r) {
            return answered(r, lost) && !r.lineStates.empty() && r.lineStates.back().up;
        },
        kWaitMs));
    EXPECT_TRUE(poll.stop(kWaitMs));
    const auto r = sink.get();
    EXPECT_EQ(r.lineFailed, 0);
    EXPECT_EQ(r.data[lost - 1].copy.errorCount, 5);  // out of contact while the server was away
}

}  // namespace
}  // namespace zta
