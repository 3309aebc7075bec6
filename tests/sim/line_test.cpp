// SPDX-License-Identifier: GPL-3.0-or-later
// Pseudo-terminals: POSIX only.
#ifndef _WIN32

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <thread>

#include "link/modbus.h"
#include "sim_fixture.h"

namespace zta::sim::testing {
namespace {

using LineTest = SimTest;
using Kind = LogEntry::Kind;

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

std::string tempDir() {
    char path[] = "/tmp/zta-sim-test-XXXXXX";
    const char* made = mkdtemp(path);
    return made ? made : "";
}

bool exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

TEST_F(LineTest, EachFaultDistortsOneReplyThenClears) {
    open({at(1)});
    const Request read = readRequest(1, 1, 10);
    const Bytes good = line.exchange(read, 25);
    ASSERT_EQ(good.size(), 25u);

    struct Case {
        Fault fault;
        std::function<void(const Bytes&)> check;
    } cases[] = {
        {Fault::Silent, [](const Bytes& b) { EXPECT_TRUE(b.empty()); }},
        {Fault::WrongCrc,
         [&](const Bytes& b) {
             ASSERT_EQ(b.size(), 25u);
             EXPECT_FALSE(crcPasses(b.data(), b.size()));
             EXPECT_TRUE(std::equal(b.begin(), b.end() - 1, good.begin()));
         }},
        {Fault::ShortReply,
         [&](const Bytes& b) { EXPECT_EQ(b, Bytes(good.begin(), good.begin() + 12)); }},
        {Fault::LongReply,
         [&](const Bytes& b) {
             ASSERT_EQ(b.size(), 26u);
             EXPECT_EQ(Bytes(b.begin(), b.begin() + 25), good);
         }},
        {Fault::EchoRequest,
         [&](const Bytes& b) {
             Bytes expected = of(read);
             expected.insert(expected.end(), good.begin(), good.end());
             EXPECT_EQ(b, expected);
         }},
        {Fault::Noise,
         [&](const Bytes& b) {
             ASSERT_EQ(b.size(), 25u);
             EXPECT_FALSE(crcPasses(b.data(), b.size()));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        bus->setFault(1, c.fault, 1);
        ASSERT_TRUE(line.write(read));
        c.check(line.readUntilQuiet(300, 3000));
        EXPECT_EQ(line.exchange(read, 25), good) << "the fault should have cleared";
    }
}

TEST_F(LineTest, LateReplyComesAfterASecond) {
    open({at(1)});
    bus->setFault(1, Fault::LateReply, 1);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(line.write(readRequest(1, 1, 10)));
    EXPECT_TRUE(line.read(25, 500).empty());
    const Bytes late = line.read(25, 3000);
    EXPECT_EQ(late.size(), 25u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST_F(LineTest, LastingFaultUntilClearedAndSilentWritesHaveNoEffect) {
    open({at(1)});
    bus->setFault(1, Fault::Silent);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(line.exchange(writeRequest(1, 5, 33), 8, 200).empty());
    EXPECT_EQ(bus->state(1)->threshold1, 20);
    EXPECT_EQ(bus->state(1)->fault, Fault::Silent);
    bus->setFault(1, Fault::None);
    EXPECT_EQ(line.exchange(writeRequest(1, 5, 33), 8).size(), 8u);
    ASSERT_TRUE(waitKind(Kind::WriteApplied, 1));
    EXPECT_EQ(bus->state(1)->threshold1, 33);
}

TEST_F(LineTest, GarbageIsSkippedAndNeverWedgesTheLine) {
    open({at(1)});
    const Request read = readRequest(1, 1, 10);
    // Garbage glued to the front of a request.
    Bytes glued = of(read);
    const uint8_t garbage[] = {0x00, 0xFF, 0x01, 0x04, 0x13};
    glued.insert(glued.begin(), std::begin(garbage), std::end(garbage));
    ASSERT_TRUE(line.write(glued));
    EXPECT_EQ(line.read(25, 2000).size(), 25u);

    // A request cut by a pause longer than a frame gap is dropped, not completed by the
    // bytes that follow: only the request after the pause is answered.
    const Request other = readRequest(1, 2, 8);
    ASSERT_TRUE(line.write(Bytes(read.begin(), read.begin() + 4)));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Bytes rest(read.begin() + 4, read.end());
    rest.insert(rest.end(), other.begin(), other.end());
    ASSERT_TRUE(line.write(rest));
    const Bytes only = line.readUntilQuiet(300, 3000);
    ASSERT_EQ(only.size(), 21u) << hex(only);

    // A long burst of noise, then the line still works.
    std::mt19937 rng(7);
    Bytes noise(4000);
    for (auto& b : noise) b = static_cast<uint8_t>(rng());
    ASSERT_TRUE(line.write(noise));
    line.readUntilQuiet(200, 3000);
    EXPECT_EQ(line.exchange(read, 25).size(), 25u);
}

TEST_F(LineTest, UnplugHangsUpTheStationAndReplugServesAgain) {
    const std::string dir = tempDir();
    ASSERT_FALSE(dir.empty());
    const std::string link = dir + "/ttyZTA";
    open({at(1)}, 9600, link);
    EXPECT_EQ(bus->portPath(), link);
    EXPECT_EQ(line.exchange(readRequest(1, 1, 10), 25).size(), 25u);

    bus->unplug();
    EXPECT_FALSE(bus->plugged());
    EXPECT_TRUE(line.waitHangup(2000));
    EXPECT_FALSE(exists(link));
    TestLine second;
    EXPECT_FALSE(second.open(link, 9600));

    // While unplugged the simulator must idle, not spin.
    const double cpu = cpuSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_LT(cpuSeconds() - cpu, 0.2);

    ASSERT_TRUE(bus->replug());
    EXPECT_TRUE(bus->plugged());
    std::string error;
    ASSERT_TRUE(second.open(link, 9600, &error)) << error;
    EXPECT_EQ(second.exchange(readRequest(1, 1, 10), 25).size(), 25u);
    EXPECT_TRUE(line.waitHangup(100)) << "the old opening stays dead";

    second.close();
    line.close();
    bus.reset();
    EXPECT_FALSE(exists(link)) << "the link goes with the simulator";
    rmdir(dir.c_str());
}

TEST_F(LineTest, NoStationNoHangupNoSpin) {
    std::string error;
    bus = Bus::openPty("", &error);
    ASSERT_TRUE(bus) << error;
    bus->addAnalyzer(at(1));
    bus->start();
    const double cpu = cpuSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_LT(cpuSeconds() - cpu, 0.2);
    // A station that comes and goes, and then another.
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(line.open(bus->portPath(), 9600, &error)) << error;
        EXPECT_EQ(line.exchange(readRequest(1, 1, 10), 25).size(), 25u);
        line.close();
    }
    const double cpu2 = cpuSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(cpuSeconds() - cpu2, 0.2);
}

// A serial device stands in for a pseudo-terminal here: the simulator opens the slave as its
// device and the test talks on the master.
TEST(DeviceLine, ServesAtTheDeviceRateAndLetsAVanishedDeviceGo) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string slave = ptsname(master);
    std::string error;
    auto bus = Bus::openDevice(slave, &error);
    ASSERT_TRUE(bus) << error;
    AnalyzerConfig a;
    a.baud = 19200;
    bus->addAnalyzer(a);
    bus->start();

    auto exchange = [&](const Request& r) {
        EXPECT_EQ(::write(master, r.data(), r.size()), 8);
        Bytes got;
        pollfd p{master, POLLIN, 0};
        while (got.size() < 25 && ::poll(&p, 1, 500) > 0) {
            uint8_t buf[64];
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0) break;
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    };
    EXPECT_TRUE(exchange(readRequest(1, 1, 10)).empty());  // the device is at 9600
    ASSERT_TRUE(bus->setDeviceBaud(19200, &error)) << error;
    EXPECT_EQ(exchange(readRequest(1, 1, 10)).size(), 25u);
    const auto log = bus->log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].kind, Kind::Ignored);
    EXPECT_EQ(log[1].lineBaud, 19200u);

    ::close(master);  // the device goes away
    for (int i = 0; i < 200 && bus->plugged(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(bus->plugged());
    const double cpu = cpuSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(cpuSeconds() - cpu, 0.2);
}

TEST_F(LineTest, LogSinkSeesEachEntryAndIsNeverRunningOnceReplaced) {
    open({at(1)});
    std::atomic<int> inside{0}, seen{0};
    bus->setLogSink([&](const LogEntry& e) {
        inside = 1;
        seen += e.kind == Kind::WriteApplied ? 10 : 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        inside = 0;
    });
    const Request write = writeRequest(1, 5, 40);
    EXPECT_EQ(line.exchange(write, 8), of(write));
    ASSERT_TRUE(line.write(readRequest(1, 1, 10)));
    // Replaced while the sink is busy with the third entry (request, write applied, request).
    for (int i = 0; i < 400 && seen < 12; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(seen, 12);
    bus->setLogSink(nullptr);
    EXPECT_EQ(inside, 0) << "the old sink still runs after it was replaced";
}

TEST_F(LineTest, StopAndStartAgainKeepsTheAnalyzers) {
    open({at(1)});
    const Request write = writeRequest(1, 6, 66);
    EXPECT_EQ(line.exchange(write, 8), of(write));
    bus->stop();
    EXPECT_TRUE(line.exchange(readRequest(1, 1, 10), 25, 200).empty());
    bus->start();
    line.readUntilQuiet(100, 1000);  // the reply to the request made while stopped
    const Bytes reply = line.exchange(readRequest(1, 1, 10), 25);
    ASSERT_EQ(reply.size(), 25u);
    EXPECT_EQ(reply[8], 66);
}

}  // namespace
}  // namespace zta::sim::testing

#endif  // _WIN32
