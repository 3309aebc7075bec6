// SPDX-License-Identifier: GPL-3.0-or-later
// The serial line against a real pseudo-terminal: the test holds the master end and plays the
// analyzer; the line opens the slave end like any serial device.
#ifndef _WIN32

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "link/regmap.h"
#include "link/serial_line.h"
#include "quick_responder.h"

namespace zta {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

long msSince(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class Pty {
  public:
    Pty() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
        const char* name = ::ptsname(master_);
        if (name) path_ = name;
    }
    ~Pty() { closeMaster(); }

    bool ok() const { return master_ >= 0 && !path_.empty(); }
    const std::string& path() const { return path_; }
    int master() const { return master_; }

    void closeMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

    void send(const Bytes& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n <= 0) return;
            done += static_cast<size_t>(n);
        }
    }

    // What the line sent, up to `count` bytes or until `timeoutMs` has passed.
    Bytes receive(size_t count, int timeoutMs) {
        Bytes got;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < count && Clock::now() < deadline) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0 || !(p.revents & POLLIN)) continue;
            uint8_t buf[64];
            const ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - got.size()));
            if (n <= 0) break;
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

  private:
    int master_ = -1;
    std::string path_;
};

// The platform port with hooks, so that the peer acts at a known step of the exchange instead
// of racing it.
class HookedPort : public SerialPort {
  public:
    std::function<void(const uint8_t*, size_t)> afterWrite;
    std::function<void()> afterPurge;

    OpenResult open(const std::string& path, unsigned baud, DirectionSetting direction,
                    DirectionMode& mode) override {
        return inner_->open(path, baud, direction, mode);
    }
    bool write(const uint8_t* data, size_t length) override {
        const bool ok = inner_->write(data, length);
        if (afterWrite) afterWrite(data, length);
        return ok;
    }
    size_t read(uint8_t* buffer, size_t length, int timeoutMs) override {
        return inner_->read(buffer, length, timeoutMs);
    }
    void purge() override {
        inner_->purge();
        if (afterPurge) afterPurge();
    }
    void drain() override { inner_->drain(); }
    void setRts(bool on) override { inner_->setRts(on); }
    void close() override { inner_->close(); }
    bool vanished() const override { return inner_->vanished(); }

  private:
    std::unique_ptr<SerialPort> inner_ = makePlatformPort();
};

class PtyLineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        auto port = std::make_unique<HookedPort>();
        hooked = port.get();
        line = std::make_unique<SerialLine>(std::move(port));
        // The analyzer takes in the whole request before anything else happens.
        hooked->afterWrite = [this](const uint8_t*, size_t) { seen = pty.receive(8, 1000); };
    }
    void TearDown() override {
        if (peer.joinable()) peer.join();
        line.reset();
    }

    // The analyzer answers only after the purge, in pieces, as a real one does.
    void answerAfterPurge(Bytes reply, int firstDelayMs = 20) {
        hooked->afterPurge = [this, reply, firstDelayMs] {
            peer = std::thread([this, reply, firstDelayMs] {
                std::this_thread::sleep_for(std::chrono::milliseconds(firstDelayMs));
                const size_t half = reply.size() / 2;
                pty.send(Bytes(reply.begin(), reply.begin() + static_cast<long>(half)));
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                pty.send(Bytes(reply.begin() + static_cast<long>(half), reply.end()));
            });
        };
    }

    Bytes replyOf(size_t count) const { return Bytes(line->reply(), line->reply() + count); }

    Pty pty;
    HookedPort* hooked = nullptr;
    std::unique_ptr<SerialLine> line;
    std::thread peer;
    Bytes seen;
    const Request request = readRequest(7, kReadingsRegister, kShortReadCount);
};

Bytes frame(size_t length, uint8_t seed) {
    Bytes b(length);
    for (size_t i = 0; i < length; ++i) b[i] = static_cast<uint8_t>(seed + i * 37);
    return b;
}

TEST_F(PtyLineTest, TheReadEndsWithTheFullCountOrAtTheTimeOutWithWhatCame) {
    struct Case {
        size_t sent;
        bool full;
    };
    const Case cases[] = {{kShortReplyLength, true}, {10, false}, {0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sent);
        // A full reply gets a long time-out, so that "at once" keeps a wide margin on a loaded
        // machine; a short one the rate's own.
        LineOptions options;
        if (c.full) options.replyTimeoutMs = 4000;
        const int timeoutMs = c.full ? options.replyTimeoutMs : timingFor(9600).replyTimeoutMs;
        ASSERT_TRUE(line->open(pty.path(), 9600, options).ok());
        const Bytes reply = frame(c.sent, 0x11);
        answerAfterPurge(reply);
        const ExchangeResult x = line->exchange(request, kShortReplyLength, kPollSettleMs);
        peer.join();
        hooked->afterPurge = nullptr;

        EXPECT_TRUE(x.writeOk);
        EXPECT_FALSE(x.vanished);
        EXPECT_EQ(seen, Bytes(request.begin(), request.end()));
        ASSERT_EQ(x.count, c.sent);
        EXPECT_EQ(replyOf(x.count), reply);
        if (c.full) {
            EXPECT_LT(x.waitedUs / 1000, timeoutMs / 2);
        } else {
            EXPECT_GE(x.waitedUs / 1000, timeoutMs);
        }
        line->close();
    }
}

TEST_F(PtyLineTest, BytesThatCameBeforeThePurgeNeverReachTheReply) {
    // An adapter that echoes the request, and noise that was waiting before the exchange.
    for (DirectionSetting direction : {DirectionSetting::Program, DirectionSetting::Driver}) {
        LineOptions options;
        options.direction = direction;
        ASSERT_TRUE(line->open(pty.path(), 19200, options).ok());
        pty.send(frame(13, 0x5A));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        hooked->afterWrite = [this](const uint8_t*, size_t) {
            seen = pty.receive(8, 1000);
            pty.send(seen);
        };
        const Bytes reply = frame(kShortReplyLength, 0x03);
        answerAfterPurge(reply, 5);
        const ExchangeResult x = line->exchange(request, kShortReplyLength, kPollSettleMs);
        peer.join();
        hooked->afterPurge = nullptr;
        EXPECT_EQ(seen, Bytes(request.begin(), request.end()));
        ASSERT_EQ(x.count, kShortReplyLength);
        EXPECT_EQ(replyOf(x.count), reply);
        line->close();
    }
}

TEST_F(PtyLineTest, TheLineIsRaw8N1WithoutFlowControlAtEachRate) {
    const std::pair<unsigned, speed_t> rates[] = {
        {1200, B1200}, {2400, B2400}, {4800, B4800}, {9600, B9600}, {19200, B19200}};
    for (const auto& [baud, code] : rates) {
        SCOPED_TRACE(baud);
        ASSERT_TRUE(line->open(pty.path(), baud).ok());
        termios t{};
        ASSERT_EQ(::tcgetattr(pty.master(), &t), 0);  // a master reports its slave's settings
        EXPECT_EQ(::cfgetospeed(&t), code);
        EXPECT_EQ(::cfgetispeed(&t), code);
        EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
        EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        line->close();
    }
    EXPECT_EQ(line->open(pty.path(), 115200).failure, OpenFailure::SettingsRefused);
    EXPECT_FALSE(line->isOpen());
}

TEST_F(PtyLineTest, APseudoTerminalHasNoModemLinesSoTheDriverSwitchesUnlessForced) {
    const std::pair<DirectionSetting, DirectionMode> cases[] = {
        {DirectionSetting::Auto, DirectionMode::Driver},
        {DirectionSetting::Program, DirectionMode::Program},
        {DirectionSetting::Driver, DirectionMode::Driver}};
    for (const auto& [setting, mode] : cases) {
        LineOptions options;
        options.direction = setting;
        ASSERT_TRUE(line->open(pty.path(), 9600, options).ok());
        EXPECT_EQ(line->mode(), mode);
        line->close();
    }
}

TEST(QuickPeer, APeerThatAnswersOneMillisecondAfterTheRequestIsHeardAtDefaultSettings) {
    sim::AnalyzerConfig a;
    a.address = 7;
    a.concentration = 42;
    testing::QuickResponder peer({a}, 1);
    ASSERT_TRUE(peer.ok());
    // No wire time on a pseudo-terminal: a reply can beat the purge only when this thread is
    // held up between its write and its purge, so a loaded machine may lose one now and then.
    // Before the mend every reply was lost.
    for (unsigned baud : {9600u, 1200u}) {
        SerialLine line;
        ASSERT_TRUE(line.open(peer.path(), baud).ok());
        int heard = 0;
        for (int i = 0; i < 10; ++i) {
            const ExchangeResult x =
                line.exchange(readRequest(7, kReadingsRegister, kShortReadCount), kShortReplyLength,
                              kPollSettleMs);
            if (x.count == kShortReplyLength && crcPasses(line.reply(), x.count) &&
                decodeReadings(line.reply()).concentration == 42.0)
                ++heard;
        }
        EXPECT_GE(heard, 8) << baud;
    }
}

TEST_F(PtyLineTest, NamesThatAreNoSerialPortAreWrongPorts) {
    char file[] = "/tmp/zta-not-a-port-XXXXXX";
    const int fd = ::mkstemp(file);
    ASSERT_GE(fd, 0);
    ::close(fd);
    for (const std::string& path : {std::string("/dev/zta-no-such-port"), std::string("/"),
                                    std::string(file), std::string("")}) {
        const OpenResult r = line->open(path, 9600);
        EXPECT_EQ(r.failure, OpenFailure::WrongPort) << path << " errno " << r.platformCode;
        EXPECT_FALSE(line->isOpen());
    }
    ::unlink(file);
    EXPECT_EQ(openFailureText(line->open("/dev/zta-no-such-port", 9600), "/dev/zta-no-such-port"),
              "Порт /dev/zta-no-such-port указан неверно");
}

TEST_F(PtyLineTest, APortHeldByAnotherOpenerIsBusyAndLeftAsItWas) {
    // The holder is a plain opener with a lock, as another program would be.
    const int holder = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    const OpenResult r = line->open(pty.path(), 9600);
    EXPECT_EQ(r.failure, OpenFailure::Busy);
    EXPECT_EQ(openFailureText(r, pty.path()), "Порт " + pty.path() + " занят.");
#ifdef TIOCGEXCL
    int exclusive = -1;
    ASSERT_EQ(::ioctl(holder, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);  // the losing opener did not lock the holder's terminal
#endif
    ::close(holder);

    // And the station's own opening holds the port against a second one until it closes.
    ASSERT_TRUE(line->open(pty.path(), 9600).ok());
    SerialLine second;
    EXPECT_EQ(second.open(pty.path(), 9600).failure, OpenFailure::Busy);
    line->close();
    EXPECT_TRUE(second.open(pty.path(), 9600).ok());
}

TEST_F(PtyLineTest, ADeviceThatGoesAwayDuringTheReadEndsItPromptly) {
    LineOptions options;
    options.replyTimeoutMs = 2000;
    ASSERT_TRUE(line->open(pty.path(), 9600, options).ok());
    hooked->afterPurge = [this] {
        peer = std::thread([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            pty.send(frame(6, 1));
            pty.closeMaster();
        });
    };
    const auto start = Clock::now();
    const ExchangeResult x = line->exchange(request, kShortReplyLength, kPollSettleMs);
    EXPECT_LT(msSince(start), 2000 / 2);
    EXPECT_TRUE(x.vanished);
    EXPECT_EQ(x.count, 0u);
    EXPECT_TRUE(line->exchange(request, kShortReplyLength, kPollSettleMs).vanished);
}

long threadCpuMs() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

TEST_F(PtyLineTest, AVanishedPortAnswersAtOnceWithoutSpinning) {
    auto port = makePlatformPort();
    DirectionMode mode{};
    ASSERT_TRUE(port->open(pty.path(), 9600, DirectionSetting::Auto, mode).ok());
    pty.closeMaster();

    const int timeoutMs = 300;
    const int rounds = 20;
    uint8_t buffer[kShortReplyLength];
    const long cpuBefore = threadCpuMs();
    const auto start = Clock::now();
    for (int i = 0; i < rounds; ++i) {
        EXPECT_FALSE(port->write(request.data(), request.size()));
        EXPECT_EQ(port->read(buffer, sizeof buffer, timeoutMs), 0u);
        EXPECT_TRUE(port->vanished());
    }
    EXPECT_LT(msSince(start), rounds * timeoutMs / 2);
    EXPECT_LT(threadCpuMs() - cpuBefore, 200);
    port->close();

    // A new opening of a device that is there again starts clean.
    Pty again;
    ASSERT_TRUE(again.ok());
    ASSERT_TRUE(port->open(again.path(), 9600, DirectionSetting::Auto, mode).ok());
    EXPECT_FALSE(port->vanished());
}

}  // namespace
}  // namespace zta

#endif  // _WIN32
