// SPDX-License-Identifier: GPL-3.0-or-later
// The control channel: its commands and refusals, its socket, and the gas table behind "vol".
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "gas/gas_table.h"
#include "link/regmap.h"
#include "sim/bus.h"
#include "sim/control.h"
#include "sim/control_socket.h"
#include "sim/gas_model.h"

namespace zta::sim::testing {
namespace {

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The simulator keeps its own table: it shares no code with the station beyond the link.
TEST(GasTable, LowerLimitsAreTheStationsHundredPercent) {
    for (int code = 0; code <= zta::kMaxGasCode + 1; ++code) {
        const GasInfo* gas = gasByCode(code);
        const double station = gas ? lelToVolume(*gas, 100.0) : 0.0;
        EXPECT_NEAR(lowerLimitVolume(code), station, 1e-9) << code;
    }
}

class ControlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        bus = Bus::openPty("", &error);
        ASSERT_TRUE(bus) << error;
        for (const auto& [address, gasCode] : {std::pair{1, 1}, {2, 2}, {3, 0}}) {
            AnalyzerConfig a;
            a.address = address;
            a.gasCode = gasCode;
            a.wave = Wave::Gas;
            a.gas.t90S = 0;
            a.gas.deadS = 0;
            a.gas.warmupS = 0;
            bus->addAnalyzer(a);
        }
    }
    std::unique_ptr<Bus> bus;
};

TEST_F(ControlTest, GasInVolumeIsEachAnalyzersOwnAndStateReportsIt) {
    EXPECT_EQ(bus->control("gas 2.2 vol --to 1,2"), "{\"ok\":true,\"analyzers\":[1,2]}");
    EXPECT_NEAR(bus->state(1)->inletLel, 50.0, 1e-9);             // methane: 4.4 vol.
    EXPECT_NEAR(bus->state(2)->inletLel, 2.2 / 1.7 * 100, 1e-9);  // propane: 1.7 vol.
    EXPECT_EQ(bus->state(3)->inletLel, 0.0);
    EXPECT_EQ(bus->control("set 1 gain=1.5 offset=-2 relay=dead"),
              "{\"ok\":true,\"analyzers\":[1]}");
    EXPECT_EQ(bus->control("power off --to 2"), "{\"ok\":true,\"analyzers\":[2]}");
    const std::string state = bus->control("state --to 1,2");
    EXPECT_TRUE(has(state,
                    "{\"ok\":true,\"analyzers\":[{\"address\":1,\"power\":\"on\",\"gas\":50,"
                    "\"sensed\":50,\"indicated\":73,\"gain\":1.5,\"offset\":-2,"
                    "\"relay1\":false,\"relay2\":false,\"sincePowerOn\":"))
        << state;
    EXPECT_TRUE(has(state, "{\"address\":2,\"power\":\"off\",\"gas\":129.412,")) << state;
    EXPECT_TRUE(has(state, "\"sincePowerOn\":null}]}")) << state;
    EXPECT_TRUE(has(bus->control("gas off"), "[1,2,3]"));
    EXPECT_EQ(bus->state(1)->inletLel, 0.0);
}

// Every refusal is one "ok":false answer that names the trouble, and nothing changes: not
// even for the analyzers a command could have served.
TEST_F(ControlTest, RefusesUnknownCommandsAndBadValuesAndChangesNothing) {
    struct Case {
        const char* line;
        const char* mentions;
    } cases[] = {
        {"", "empty"},
        {"calibrate 1", "unknown command \\\"calibrate\\\""},
        {"gas", "gas N"},
        {"gas 50", "gas N"},
        {"gas 50 ppm", "gas N"},
        {"gas -1 lel", "bad amount"},
        {"gas 1001 lel", "bad amount"},
        {"gas 101 vol", "bad amount"},
        {"gas 1e2 lel", "bad amount"},
        {"gas 1 vol", "analyzer 3 has no gas of its own"},
        {"gas 50 lel --to 1,9", "no analyzer at network number 9"},
        {"gas 50 lel --to 256", "bad network numbers"},
        {"gas 50 lel --to", "--to needs"},
        {"gas 50 lel --to 1 --to 2", "twice"},
        {"power", "power on|off"},
        {"power standby", "power on|off"},
        {"set", "key=value"},
        {"set 1", "key=value"},
        {"set 1 t90=-1", "bad value for t90"},
        {"set 1 gain=0", "bad value for gain"},
        {"set 1 t90=5 sensor=wet", "bad value for sensor"},
        {"set 1 colour=red", "unknown key \\\"colour\\\""},
        {"set 1 t90", "key=value"},
        {"set 1 t90=5 --to 2", "twice"},
        {"state 1", "state [--to"},
        {"gas \xff lel", "bad amount of gas \\\"?\\\""},
    };
    ASSERT_EQ(bus->control("gas 20 lel --to 1,2"), "{\"ok\":true,\"analyzers\":[1,2]}");
    for (const Case& c : cases) {
        const std::string answer = bus->control(c.line);
        EXPECT_EQ(answer.rfind("{\"ok\":false,\"error\":\"", 0), 0u) << c.line << " -> " << answer;
        EXPECT_TRUE(has(answer, c.mentions)) << c.line << " -> " << answer;
    }
    for (int n : {1, 2}) {
        const auto s = bus->state(n);
        EXPECT_EQ(s->inletLel, 20.0) << n;
        EXPECT_TRUE(s->powered) << n;
        EXPECT_EQ(s->gain, 1.0) << n;
        EXPECT_EQ(s->indicatedLel, 20.0) << n;
    }
}

std::string tempDir() {
    char dir[] = "/tmp/zta-simctl-XXXXXX";
    EXPECT_NE(mkdtemp(dir), nullptr);
    return dir;
}

// A socket at `path`, bound and, when `listening`, listening; closed without removing the file
// when not (a simulator that died).
int socketAt(const std::string& path, bool listening) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << path;
    if (listening) {
        EXPECT_EQ(::listen(fd, 1), 0);
        return fd;
    }
    ::close(fd);
    return -1;
}

TEST(ControlSocket, TakesOnlyAFreePathOrTheSocketOfADeadSimulator) {
    const std::string dir = tempDir();
    const int live = socketAt(dir + "/live", true);
    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;
        bool taken;
    } cases[] = {
        {"nothing", [](const std::string&) {}, true},
        {"dead", [](const std::string& p) { socketAt(p, false); }, true},
        {"live", [](const std::string&) {}, false},
        {"file",
         [](const std::string& p) {
             std::FILE* f = std::fopen(p.c_str(), "w");
             std::fputs("keep me\n", f);
             std::fclose(f);
         },
         false},
        {"folder", [](const std::string& p) { ASSERT_EQ(mkdir(p.c_str(), 0700), 0); }, false},
        {"link",
         [&](const std::string& p) { ASSERT_EQ(symlink((dir + "/live").c_str(), p.c_str()), 0); },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir + "/" + c.name;
        c.make(path);
        struct stat before {};
        lstat(path.c_str(), &before);
        std::string error;
        auto server = ControlServer::open(
            path, [](const std::string& line) { return "{\"ok\":true,\"echo\":\"" + line + "\"}"; },
            &error);
        EXPECT_EQ(server != nullptr, c.taken) << error;
        if (!server) {
            EXPECT_TRUE(has(error, path)) << error;
            EXPECT_TRUE(has(error, "not replaced")) << error;
            struct stat after {};
            ASSERT_EQ(lstat(path.c_str(), &after), 0) << "it is still there";
            EXPECT_EQ(after.st_ino, before.st_ino);
            continue;
        }
        struct stat st {};
        ASSERT_EQ(lstat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISSOCK(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        std::string answer;
        ASSERT_TRUE(sendControlLine(path, "state", &answer, &error)) << error;
        EXPECT_EQ(answer, "{\"ok\":true,\"echo\":\"state\"}");
        server.reset();
        EXPECT_NE(lstat(path.c_str(), &st), 0) << "the socket goes with the simulator";
    }
    ::close(live);
    std::filesystem::remove_all(dir);
}

// Several lines in one write are answered in order; an overlong line is refused whole and the
// next one is served.
TEST(ControlSocket, AnswersLineByLineAndRefusesAnOverlongLine) {
    const std::string dir = tempDir();
    const std::string path = dir + "/ctl";
    std::string error;
    auto server = ControlServer::open(
        path,
        [](const std::string& line) {
            return "{\"ok\":true,\"n\":" + std::to_string(line.size()) + "}";
        },
        &error);
    ASSERT_TRUE(server) << error;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const timeval cap{10, 0};  // a server that never answers fails the test, never hangs it
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &cap, sizeof cap);
    const std::string out = "ab\nabc\n" + std::string(kMaxControlLine + 10, 'x') + "\nabcd\n";
    ASSERT_EQ(::send(fd, out.data(), out.size(), 0), static_cast<ssize_t>(out.size()));
    ::shutdown(fd, SHUT_WR);
    std::string in;
    char buf[512];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) in.append(buf, static_cast<size_t>(n));
    ::close(fd);
    EXPECT_EQ(
        in,
        "{\"ok\":true,\"n\":2}\n{\"ok\":true,\"n\":3}\n"
        "{\"ok\":false,\"error\":\"a line longer than 4096 bytes\"}\n{\"ok\":true,\"n\":4}\n");
    server.reset();
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zta::sim::testing
