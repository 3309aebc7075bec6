// SPDX-License-Identifier: GPL-3.0-or-later
// zta-bus end to end: the built program against simulated analyzers on a pseudo-terminal.
#include "sim/bus.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "program_run.h"
#include "quick_responder.h"

namespace {

using zta::sim::AnalyzerConfig;
using zta::sim::Bus;
using zta::sim::Fault;
using zta::sim::Model;

using Outcome = zta::testing::ProgramRun;

Outcome ztaBus(const std::string& args) {
    return zta::testing::runProgram(std::string(ZTA_BUS_PROGRAM) + " " + args + " 2>&1");
}

Outcome ztaBusAnswered(const std::string& args) {
    Outcome r;
    for (int attempt = 0; attempt < 3; ++attempt) {
        r = ztaBus(args);
        const bool lost = r.status == 4 || r.out.find("short or garbled") != std::string::npos;
        if (!lost) break;
    }
    return r;
}

class BusTool : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        bus_ = Bus::openPty("", &error);
        ASSERT_TRUE(bus_) << error;
        AnalyzerConfig extended;
        extended.address = 5;
        extended.concentration = 37;
        extended.factoryNumber = 4321;
        extended.textBlock = "440 270 440 CH4 %";
        bus_->addAnalyzer(extended);
        AnalyzerConfig standard;
        standard.address = 9;
        standard.model = Model::Standard;
        standard.gasCode = 2;
        bus_->addAnalyzer(standard);
        bus_->start();
    }
    std::string port() const { return " --port " + bus_->portPath() + " "; }
    // The simulator applies a write just after its echo has gone out, so the tool may have
    // ended before the log shows it.
    bool waitApplied(size_t n) const {
        return bus_->waitFor(
            [n](const std::vector<zta::sim::LogEntry>& log) {
                return static_cast<size_t>(std::count_if(log.begin(), log.end(), [](auto& e) {
                           return e.kind == zta::sim::LogEntry::Kind::WriteApplied;
                       })) >= n;
            },
            5000);
    }

    std::unique_ptr<Bus> bus_;
};

TEST_F(BusTool, ReadPrintsTheDecodedReadings) {
    Outcome r = ztaBusAnswered("read" + port() + "--address 5 --json");
    ASSERT_EQ(r.status, 0) << r.out;
    for (const char* part : {"\"concentration\":37", "\"factoryNumber\":4321", "\"gasCode\":1",
                             "\"gasName\":\"Метан\"", "\"softwareVersion\":12", "\"relayState\":3"})
        EXPECT_NE(r.out.find(part), std::string::npos) << part << " in " << r.out;
    EXPECT_EQ(r.out.find("deviceRange"), std::string::npos);

    r = ztaBusAnswered("read" + port() + "--address 5 --extended --json");
    ASSERT_EQ(r.status, 0) << r.out;
    for (const char* part : {"\"deviceRange\":4.4", "\"deviceMidGas\":2.7", "\"deviceMaxGas\":4.4",
                             "\"gasName\":\"CH4\"", "\"unitName\":\"%"})
        EXPECT_NE(r.out.find(part), std::string::npos) << part << " in " << r.out;

    r = ztaBusAnswered("read" + port() + "--address 9");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("gas=2(Пропан)"), std::string::npos) << r.out;
}

TEST_F(BusTool, FailuresExitNonZeroWithOneLine) {
    struct Case {
        std::string args;
        int status;
        std::string says;
    } cases[] = {
        {"read" + port() + "--address 9 --extended", 6, "refused the request (exception 2)"},
        {"read" + port() + "--address 44 --timeout 100", 4, "no reply from network number 44"},
        {"read --port /dev/zta-no-such-port --address 1", 3,
         "Порт /dev/zta-no-such-port указан неверно"},
        {"write" + port() + "--address 5 threshold1 300", 2, "from 0 to 255"},
        {"write" + port() + "--address 5 launch", 2, "unknown command launch"},
        {"read --address 5", 2, "--port is required"},
    };
    for (const auto& c : cases) {
        const Outcome r = c.status == 4 ? ztaBus(c.args) : ztaBusAnswered(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << ": " << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << ": " << r.out;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    }
}

// Values that would pass as something the user did not write: refused before the line is
// touched, so nothing reaches an analyzer.
TEST_F(BusTool, OptionsThatMeanNothingAreRefusedBeforeTheLine) {
    struct Case {
        std::string args;
        std::string says;
    } cases[] = {
        {"write" + port() + "--address 5 high 0.0001", "from 0.001 to 65.535"},
        {"write" + port() + "--address 5 middle 65.536", "from 0.001 to 65.535"},
        {"write" + port() + "--address 5 high 0x10", "from 0.001 to 65.535"},
        {"write" + port() + "--address 5 high 1e1", "from 0.001 to 65.535"},
        {"write" + port() + "--address 5 threshold1 0x10", "from 0 to 255"},
        {"write" + port() + "--address 5 factory ' 7'", "from 0 to 65535"},
        {"read" + port() + "--address ' 1'", "network numbers are 0 to 255"},
        {"read" + port() + "--address +1", "network numbers are 0 to 255"},
        {"read" + port() + "--address 0x10", "network numbers are 0 to 255"},
        {"poll" + port() + "--address 5,", "network numbers are 0 to 255"},
        {"poll" + port() + "--address 1,1,1", "network number 1 is given twice"},
        {"poll" + port() + "--address 5,9,5 --turns 1", "network number 5 is given twice"},
        {"read" + port() + "--address 5 --fast", "read does not take --fast"},
        {"read" + port() + "--address 5 --turns 3", "read does not take --turns"},
        {"write" + port() + "--address 5 zero --json", "write does not take --json"},
        {"write" + port() + "--address 5 zero --extended", "write does not take --extended"},
        {"scan" + port() + "--address 5", "scan does not take --address"},
        {"read" + port() + "--address 5 --baud 9600 --baud 19200", "--baud is given twice"},
        {"read" + port() + "--address 5 --port /dev/null", "--port is given twice"},
    };
    for (const auto& c : cases) {
        const Outcome r = ztaBus(c.args);
        EXPECT_EQ(r.status, 2) << c.args << ": " << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << ": " << r.out;
    }
    EXPECT_TRUE(bus_->log().empty()) << "a refused command talked to the line";
}

TEST_F(BusTool, WritesReachTheAnalyzerAndTakeEffect) {
    struct Case {
        std::string command;
        int reg, value;
    } cases[] = {
        {"high 4.06", 3, 4060},
        {"middle 2.01", 2, 2010},  // the digits typed, not 4059
        {"zero", 1, 0},
        {"typical", 4, 1},
        {"high", 3, 4400},
        {"middle 2.7", 2, 2700},
        {"threshold1 25", 5, 25},
        {"threshold2 60", 6, 60},
        {"factory 65535", 7, 65535},
    };
    for (const auto& c : cases) {
        bus_->clearLog();
        // Each of these may go twice: the analyzer takes the same value again.
        const Outcome r = ztaBusAnswered("write" + port() + "--address 5 " + c.command);
        EXPECT_EQ(r.status, 0) << c.command << ": " << r.out;
        ASSERT_TRUE(waitApplied(1)) << c.command;
        const auto log = bus_->log();
        const auto applied = std::find_if(log.begin(), log.end(), [](const auto& e) {
            return e.kind == zta::sim::LogEntry::Kind::WriteApplied;
        });
        ASSERT_NE(applied, log.end()) << c.command;
        EXPECT_EQ(applied->reg, c.reg) << c.command;
        EXPECT_EQ(applied->value, c.value) << c.command;
    }
    EXPECT_EQ(bus_->state(5)->threshold1, 25);
    EXPECT_EQ(bus_->state(5)->maxGasValue, 4400);

    // A new network number, then a new rate: each takes effect after its echo.
    bus_->clearLog();
    ASSERT_EQ(ztaBus("write" + port() + "--address 5 address 7").status, 0);
    ASSERT_TRUE(waitApplied(1));
    ASSERT_TRUE(bus_->state(7).has_value());
    ASSERT_EQ(ztaBus("write" + port() + "--address 7 baud 19200").status, 0);
    ASSERT_TRUE(waitApplied(2));
    EXPECT_EQ(bus_->state(7)->baud, 19200u);
    EXPECT_EQ(ztaBus("read" + port() + "--address 7 --timeout 100").status, 4);
    EXPECT_EQ(ztaBusAnswered("read" + port() + "--address 7 --baud 19200").status, 0);
}

// An independent peer that answers 1 ms after each request, with no wire time: default settings
// hear it. A loaded machine may hold the tool up between its write and its purge and lose a
// reply now and then, so each run may go again (as ztaBusAnswered does); before the mend every
// run lost every reply.
TEST(QuickPeer, DefaultSettingsReadWriteAndScanAPeerThatAnswersAtOnce) {
    AnalyzerConfig a;
    a.address = 7;
    a.concentration = 42;
    a.factoryNumber = 40001;
    zta::testing::QuickResponder peer({a}, 1);
    ASSERT_TRUE(peer.ok());
    const std::string port = " --port " + peer.path() + " ";

    Outcome r = ztaBusAnswered("read" + port + "--address 7 --json");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("\"concentration\":42"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"factoryNumber\":40001"), std::string::npos) << r.out;

    r = ztaBusAnswered("write" + port + "--address 7 high 4.06");
    ASSERT_EQ(r.status, 0) << r.out;
    const auto writes = peer.writes();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back(), std::make_pair(3, 4060));

    for (int attempt = 0; attempt < 3; ++attempt) {
        r = ztaBus("scan" + port + "--timeout 30 --json");
        if (r.status == 0) break;
    }
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\"found\":[7]}"), std::string::npos) << r.out;
}

// An adapter that hands back every request: its copy of a write is no "accepted" from a number
// nobody answers, and the analyzer that is there is still read and written.
TEST_F(BusTool, OnAnEchoingLineOnlyTheAnalyzersOwnEchoAcceptsAWrite) {
    bus_->setLineEcho(1);
    Outcome r = ztaBus("write" + port() + "--address 42 zero --timeout 150");
    EXPECT_EQ(r.status, 4) << r.out;
    EXPECT_NE(r.out.find("no reply from network number 42"), std::string::npos) << r.out;

    r = ztaBusAnswered("write" + port() + "--address 5 threshold1 30 --trace");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("5: threshold1 accepted"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("line echo"), std::string::npos) << r.out;
    ASSERT_TRUE(waitApplied(1));
    EXPECT_EQ(bus_->state(5)->threshold1, 30);

    r = ztaBusAnswered("read" + port() + "--address 5 --json");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("\"concentration\":37"), std::string::npos) << r.out;
}

// A bare --port name that is a file in the current folder means that file.
TEST(BusPort, ABareNameThatIsAFileHereIsThatFile) {
    char dir[] = "/tmp/zta-busport-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string folder = dir;
    {
        std::FILE* f = std::fopen((folder + "/existing.txt").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    const std::string tool = std::string(ZTA_BUS_PROGRAM) + " read --address 1 --port ";
    Outcome r = zta::testing::runProgram("cd " + folder + " && " + tool + "existing.txt 2>&1");
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_NE(r.out.find("Порт existing.txt указан неверно"), std::string::npos) << r.out;
    r = zta::testing::runProgram("cd " + folder + " && " + tool + "zta-no-such-name 2>&1");
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_NE(r.out.find("Порт /dev/zta-no-such-name указан неверно"), std::string::npos) << r.out;
    std::remove((folder + "/existing.txt").c_str());
    ::rmdir(dir);
}

TEST_F(BusTool, AGarbledEchoIsNoSuccess) {
    bus_->setFault(5, Fault::WrongCrc);
    Outcome r = ztaBus("write" + port() + "--address 5 zero");
    EXPECT_EQ(r.status, 5) << r.out;
    EXPECT_NE(r.out.find("echo differs"), std::string::npos) << r.out;
    r = ztaBus("read" + port() + "--address 5");
    EXPECT_EQ(r.status, 5) << r.out;
    EXPECT_NE(r.out.find("CRC error"), std::string::npos) << r.out;
}

}  // namespace
