// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "link/modbus.h"
#include "program_run.h"
#include "sim/bus.h"
#include "sim/options.h"

#if defined(ZTA_SIM_PROGRAM) && !defined(_WIN32)
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "sim_line.h"
#endif

namespace zta::sim::testing {
namespace {

TEST(AnalyzerOption, ParsesEveryKey) {
    AnalyzerConfig c;
    std::string error;
    ASSERT_TRUE(parseAnalyzer(
        "address=5,baud=19200,model=old,gas=3,text=\"100 50 100 C6H14 %, LEL\",conc=-12.5,"
        "wave=sine,amp=5,period=30,thr1=11,thr2=22,factory=65535,version=21,also=6;7,"
        "aux=-1,ref=2,work=3,d=4,temp=-5,fault=late",
        &c, &error))
        << error;
    EXPECT_EQ(c.address, 5);
    EXPECT_EQ(c.baud, 19200u);
    EXPECT_EQ(c.model, Model::OldSoftware);
    EXPECT_EQ(c.gasCode, 3);
    EXPECT_EQ(c.textBlock, "100 50 100 C6H14 %, LEL");
    EXPECT_EQ(c.concentration, -12.5);
    EXPECT_EQ(c.wave, Wave::Sine);
    EXPECT_EQ(c.amplitude, 5);
    EXPECT_EQ(c.periodS, 30);
    EXPECT_EQ(c.threshold1, 11);
    EXPECT_EQ(c.threshold2, 22);
    EXPECT_EQ(c.factoryNumber, 65535);
    EXPECT_EQ(c.softwareVersion, 21);
    EXPECT_EQ(c.extraAddresses, (std::vector<int>{6, 7}));
    EXPECT_EQ(c.auxValue, -1);
    EXPECT_EQ(c.temperature, -5);
    EXPECT_EQ(c.fault, Fault::LateReply);
}

TEST(AnalyzerOption, RefusesBadValuesNamingTheKey) {
    struct Case {
        const char* text;
        const char* mentions;
    } cases[] = {
        {"address=256", "address"},
        {"address=5x", "address"},
        {"baud=9601", "baud"},
        {"model=deluxe", "model"},
        {"wave=square", "wave"},
        {"conc=abc", "conc"},
        {"period=0", "period"},
        {"thr1=-1", "thr1"},
        {"factory=70000", "factory"},
        {"also=6;x", "also"},
        {"also=", "also"},
        {"text=1234567890123456789012345678901", "text"},
        {"text=\"open", "quote"},
        {"colour=red", "colour"},
        {"address", "key=value"},
        {"fault=sometimes", "fault"},
        {"address= 1", "address"},
        {"address=+1", "address"},
        {"address=0x10", "address"},
        {"conc=0x10", "conc"},
        {"conc=1e3", "conc"},
        {"amp=nan", "amp"},
        {"also=5;7;5", "also"},
        {"address=6,also=6", "also"},
        {"t90=-1", "t90"},
        {"gain=0", "gain"},
        {"noise=abc", "noise"},
        {"sensor=wet", "sensor"},
        {"relay=maybe", "relay"},
    };
    for (const auto& c : cases) {
        AnalyzerConfig config;
        config.address = 42;
        std::string error;
        EXPECT_FALSE(parseAnalyzer(c.text, &config, &error)) << c.text;
        EXPECT_NE(error.find(c.mentions), std::string::npos) << c.text << " -> " << error;
        EXPECT_EQ(config.address, 42) << "a refused value leaves the config alone";
    }
}

TEST(AnalyzerOption, ParsesTheGasKeys) {
    AnalyzerConfig c;
    std::string error;
    ASSERT_TRUE(
        parseAnalyzer("wave=gas,t90=30,dead=2.5,gain=1.2,offset=-3,noise=0.5,drift=4,"
                      "hyst=2,warmup=0,sensor=slow,relay=dead",
                      &c, &error))
        << error;
    EXPECT_EQ(c.wave, Wave::Gas);
    EXPECT_EQ(c.gas.t90S, 30);
    EXPECT_EQ(c.gas.deadS, 2.5);
    EXPECT_EQ(c.gas.gain, 1.2);
    EXPECT_EQ(c.gas.offset, -3);
    EXPECT_EQ(c.gas.noise, 0.5);
    EXPECT_EQ(c.gas.driftPerHour, 4);
    EXPECT_EQ(c.gas.hysteresis, 2);
    EXPECT_EQ(c.gas.warmupS, 0);
    EXPECT_EQ(c.gas.sensor, SensorFault::Slow);
    EXPECT_TRUE(c.gas.relayDead);
}

TEST(ProgramOptions, DefaultsAndConflicts) {
    ProgramOptions o;
    std::string error;
    ASSERT_TRUE(parseProgramOptions({}, &o, &error));
    ASSERT_EQ(o.analyzers.size(), 1u);
    EXPECT_EQ(o.analyzers[0].address, 1);
    EXPECT_EQ(o.analyzers[0].model, Model::Extended);

    ASSERT_TRUE(parseProgramOptions({"--analyzer", "address=2", "--analyzer", "address=3", "--log"},
                                    &o, &error));
    EXPECT_EQ(o.analyzers.size(), 2u);
    EXPECT_TRUE(o.log);

    const std::vector<std::vector<std::string>> bad = {
        {"--link", "/tmp/a", "--device", "/dev/ttyS0"},
        {"--link"},
        {"--analyzer"},
        {"--frobnicate"},
        {"--device-baud", "300"},
        {"--control"},
        {"--time-scale", "0"},
        {"--time-scale", "101"},
        {"--time-scale", "fast"}};
    for (const auto& args : bad) EXPECT_FALSE(parseProgramOptions(args, &o, &error)) << args[0];

    const struct {
        std::vector<std::string> args;
        const char* mentions;
    } meaningless[] = {
        {{"--device-baud", "9600"}, "--device"},
        {{"--link", "/tmp/a", "--device-baud", "19200"}, "--device"},
        {{"--analyzer", "address=4", "--analyzer", "address=4,model=old"}, "network number 4"},
        {{"--analyzer", "address=4", "--analyzer", "address=5,also=6;4"}, "network number 4"},
        {{"--analyzer", "address=4,also=9", "--analyzer", "address=9"}, "network number 9"},
        {{"--link", ""}, "--link needs a path"},
        {{"--link", "/tmp/a", "--link", "/tmp/b"}, "--link is given twice"},
        {{"--line-echo", "-1"}, "--line-echo"},
        {{"--line-echo", "2", "--line-echo", "3"}, "--line-echo is given twice"},
    };
    for (const auto& c : meaningless) {
        error.clear();
        EXPECT_FALSE(parseProgramOptions(c.args, &o, &error)) << c.args.back();
        EXPECT_NE(error.find(c.mentions), std::string::npos) << error;
    }
    ASSERT_TRUE(
        parseProgramOptions({"--device", "/dev/ttyS0", "--device-baud", "19200"}, &o, &error));
    EXPECT_EQ(o.deviceBaud, 19200u);
    ASSERT_TRUE(parseProgramOptions({"--control", "/tmp/c", "--time-scale", "12.5"}, &o, &error));
    EXPECT_EQ(o.control, "/tmp/c");
    EXPECT_EQ(o.timeScale, 12.5);
    EXPECT_LT(o.lineEchoMs, 0);
    ASSERT_TRUE(parseProgramOptions({"--line-echo", "0.5"}, &o, &error));
    EXPECT_DOUBLE_EQ(o.lineEchoMs, 0.5);
}

#if defined(ZTA_SIM_PROGRAM) && !defined(_WIN32)

struct Child {
    pid_t pid = -1;
    int out = -1, err = -1;
};

Child spawn(const std::vector<std::string>& args) {
    // Everything the child needs is made before the fork: it only calls async-signal-safe
    // functions after it.
    std::string prog = ZTA_SIM_PROGRAM;
    std::vector<std::string> copy = args;
    std::vector<char*> argv{prog.data()};
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2], err[2];
    Child c;
    if (pipe(out) != 0 || pipe(err) != 0) return c;
    c.pid = fork();
    if (c.pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        ::close(out[0]);
        ::close(err[0]);
        execv(argv[0], argv.data());
        _exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    c.out = out[0];
    c.err = err[0];
    return c;
}

// Reads from fd until `until` appears or the time is up.
std::string readUntil(int fd, const std::string& until, int timeoutMs) {
    std::string s;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (s.find(until) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) break;
        char buf[512];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) break;
        s.append(buf, static_cast<size_t>(n));
    }
    return s;
}

// Waits for the child's end, at most timeoutMs; kills it when the time is up (result -1).
int reap(Child& c, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (waitpid(c.pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(c.pid, SIGKILL);
            waitpid(c.pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::close(c.out);
    ::close(c.err);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(Program, BadAnalyzerOptionEndsWithAMessage) {
    Child c = spawn({"--analyzer", "address=5,baud=300"});
    ASSERT_GT(c.pid, 0);
    const std::string err = readUntil(c.err, "usage", 5000);
    EXPECT_NE(err.find("baud"), std::string::npos) << err;
    EXPECT_NE(reap(c, 5000), 0);
}

TEST(Program, ServesOnItsLinkLogsAndEndsCleanlyOnSignal) {
    char dir[] = "/tmp/zta-sim-prog-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string link = std::string(dir) + "/ttyZTA";
    Child c = spawn({"--link", link, "--log", "--analyzer",
                     "address=5,model=standard,text=\"440 270 440 CH4 %\",also=6"});
    ASSERT_GT(c.pid, 0);
    const std::string first = readUntil(c.out, "\n", 5000);
    EXPECT_EQ(first, "port: " + link + "\n");

    TestLine line;
    std::string error;
    ASSERT_TRUE(line.open(link, 9600, &error)) << error;
    EXPECT_EQ(line.exchange(readRequest(5, 1, 25), 5).size(), 5u);  // a standard model refuses
    EXPECT_EQ(line.exchange(readRequest(6, 1, 10), 25).size(), 25u);
    const std::string err = readUntil(c.err, "06 04 00 01 00 0A", 5000);
    EXPECT_NE(err.find("request 05 04 00 01 00 19"), std::string::npos) << err;
    line.close();

    kill(c.pid, SIGTERM);
    EXPECT_EQ(reap(c, 5000), 0);
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the link is removed";
    rmdir(dir);
}

// What is at the link path decides: nothing, a link of a simulator whose terminal is gone are
// taken; a file, a folder, a link elsewhere and the link of a running simulator are kept.
TEST(LinkPath, TakesOnlyWhatIsFreeOrAStaleLinkOfItsOwn) {
    char dir[] = "/tmp/zta-sim-link-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string base = dir;
    std::string error;
    auto running = Bus::openPty(base + "/running", &error);
    ASSERT_TRUE(running) << error;
    const std::string runningSlave = running->slavePath();
    const std::string ptsFolder = runningSlave.substr(0, runningSlave.rfind('/') + 1);

    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;  // what is at the path before
        bool taken;
    } cases[] = {
        {"nothing", [](const std::string&) {}, true},
        {"stale",
         [&](const std::string& p) {
             ASSERT_EQ(symlink((ptsFolder + "999999").c_str(), p.c_str()), 0);
         },
         true},
        {"file",
         [](const std::string& p) {
             std::FILE* f = std::fopen(p.c_str(), "w");
             std::fputs("keep me\n", f);
             std::fclose(f);
         },
         false},
        {"folder", [](const std::string& p) { ASSERT_EQ(mkdir(p.c_str(), 0700), 0); }, false},
        {"elsewhere",
         [](const std::string& p) { ASSERT_EQ(symlink("/etc/hostname", p.c_str()), 0); }, false},
        {"running", [](const std::string&) {}, false},
    };
    for (const auto& c : cases) {
        const std::string path = base + "/" + c.name;
        c.make(path);
        struct stat before {};
        lstat(path.c_str(), &before);
        char target[256] = {};
        const ssize_t targetLength = readlink(path.c_str(), target, sizeof target - 1);
        error.clear();
        auto bus = Bus::openPty(path, &error);
        EXPECT_EQ(bus != nullptr, c.taken) << c.name << ": " << error;
        if (c.taken) {
            ASSERT_TRUE(bus);
            EXPECT_EQ(bus->portPath(), path);
            bus.reset();
            struct stat st {};
            EXPECT_NE(lstat(path.c_str(), &st), 0) << c.name << ": the link goes with it";
            continue;
        }
        EXPECT_NE(error.find(path), std::string::npos) << c.name << ": " << error;
        struct stat after {};
        ASSERT_EQ(lstat(path.c_str(), &after), 0) << c.name << " is gone";
        EXPECT_EQ(after.st_ino, before.st_ino) << c.name;
        char now[256] = {};
        EXPECT_EQ(readlink(path.c_str(), now, sizeof now - 1), targetLength) << c.name;
        EXPECT_STREQ(now, target) << c.name;
    }
    std::FILE* f = std::fopen((base + "/file").c_str(), "r");
    ASSERT_TRUE(f);
    char text[32] = {};
    EXPECT_TRUE(std::fgets(text, sizeof text, f));
    std::fclose(f);
    EXPECT_STREQ(text, "keep me\n");
    EXPECT_EQ(running->slavePath(), runningSlave);
    running.reset();
    unlink((base + "/file").c_str());
    unlink((base + "/elsewhere").c_str());
    rmdir((base + "/folder").c_str());
    rmdir(dir);
}

// The control socket from a shell: zta-sim ctl prints the answer and says by its status
// whether the command was taken; the socket goes when the simulator ends.
TEST(Program, TakesCommandsOnItsControlSocketAndRemovesItAtTheEnd) {
    char dir[] = "/tmp/zta-sim-prog-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string control = std::string(dir) + "/ctl";
    Child c = spawn({"--link", std::string(dir) + "/tty", "--control", control, "--time-scale",
                     "100", "--analyzer", "address=4,wave=gas,warmup=0,t90=10"});
    ASSERT_GT(c.pid, 0);
    ASSERT_NE(readUntil(c.out, "\n", 5000).find("port: "), std::string::npos);
    const std::string ctl = std::string(ZTA_SIM_PROGRAM) + " ctl ";
    const struct {
        std::string args;
        int status;
        const char* answer;
    } cases[] = {
        {control + " gas 50 %НКПР --to 4", 0, "{\"ok\":true,\"analyzers\":[4]}\n"},
        {control + " set 4 offset=2", 0, "{\"ok\":true,\"analyzers\":[4]}\n"},
        {control + " frobnicate", 1, "{\"ok\":false,\"error\":\"unknown command"},
        {control + " gas 50 lel --to 5", 1, "no analyzer at network number 5"},
        {std::string(dir) + "/none state", 3, "cannot reach a simulator"},
        {control, 2, "ctl needs PATH and a command"},
    };
    for (const auto& k : cases) {
        const auto r = zta::testing::runProgram(ctl + k.args + " 2>&1");
        EXPECT_EQ(r.status, k.status) << k.args << ": " << r.out;
        EXPECT_NE(r.out.find(k.answer), std::string::npos) << k.args << ": " << r.out;
    }
    // 50 %НКПР through a t90 of 10 s at a hundredfold pace: settled within a second.
    std::string state;
    for (int i = 0; i < 100 && state.find("\"indicated\":52,") == std::string::npos; ++i) {
        state = zta::testing::runProgram(ctl + control + " state").out;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_NE(state.find("\"address\":4,\"power\":\"on\",\"gas\":50,\"sensed\":50,"),
              std::string::npos)
        << state;
    kill(c.pid, SIGTERM);
    EXPECT_EQ(reap(c, 5000), 0);
    struct stat st {};
    EXPECT_NE(lstat(control.c_str(), &st), 0) << "the socket is removed";
    rmdir(dir);
}

TEST(Program, RefusesALinkPathHoldingAFile) {
    char dir[] = "/tmp/zta-sim-prog-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string path = std::string(dir) + "/ttyZTA";
    std::FILE* f = std::fopen(path.c_str(), "w");
    std::fputs("notes", f);
    std::fclose(f);
    Child c = spawn({"--link", path});
    ASSERT_GT(c.pid, 0);
    const std::string err = readUntil(c.err, "\n", 5000);
    EXPECT_NE(err.find("not replaced"), std::string::npos) << err;
    EXPECT_EQ(reap(c, 5000), 1);
    struct stat st {};
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_size, 5);
    unlink(path.c_str());
    rmdir(dir);
}

#endif

}  // namespace
}  // namespace zta::sim::testing
