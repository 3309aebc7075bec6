// SPDX-License-Identifier: GPL-3.0-or-later
// Pseudo-terminals: POSIX only.
#ifndef _WIN32

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "sim_line.h"

namespace zta::sim::testing {
namespace {

using Clock = std::chrono::steady_clock;

speed_t speed(unsigned baud) {
    switch (baud) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 19200:
            return B19200;
        default:
            return B9600;
    }
}

int leftMs(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

TestLine::~TestLine() { close(); }

bool TestLine::open(const std::string& path, unsigned baud, std::string* error) {
    close();
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        if (error) *error = path + ": " + std::strerror(errno);
        return false;
    }
    if (!setBaud(baud)) {
        if (error) *error = path + ": cannot set the line: " + std::strerror(errno);
        close();
        return false;
    }
    tcflush(fd_, TCIOFLUSH);
    return true;
}

bool TestLine::setBaud(unsigned baud) {
    termios t{};
    if (tcgetattr(fd_, &t) != 0) return false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&t, speed(baud));
    cfsetospeed(&t, speed(baud));
    return tcsetattr(fd_, TCSANOW, &t) == 0;
}

void TestLine::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool TestLine::write(const Bytes& bytes) {
    return fd_ >= 0 &&
           ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

Bytes TestLine::read(size_t count, int timeoutMs) {
    Bytes out;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (fd_ >= 0 && out.size() < count) {
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, leftMs(deadline));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        if (!(p.revents & POLLIN)) break;  // hang-up or error: nothing more will come
        uint8_t buf[256];
        const ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - out.size()));
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

Bytes TestLine::readUntilQuiet(int quietMs, int timeoutMs) {
    Bytes out;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (fd_ >= 0) {
        const int wait = std::min(quietMs, leftMs(deadline));
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, wait);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0 || !(p.revents & POLLIN)) break;
        uint8_t buf[256];
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

Bytes TestLine::exchange(const Request& request, size_t expected, int timeoutMs) {
    if (!write(request)) return {};
    return read(expected, timeoutMs);
}

bool TestLine::waitHangup(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (fd_ >= 0) {
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, leftMs(deadline));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) return true;
        uint8_t buf[256];
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) return true;
    }
    return false;
}

Bytes of(const Request& r) { return Bytes(r.begin(), r.end()); }

std::string hex(const Bytes& b) {
    std::string s;
    char buf[4];
    for (uint8_t v : b) {
        std::snprintf(buf, sizeof buf, "%02X ", v);
        s += buf;
    }
    return s;
}

}  // namespace zta::sim::testing

#endif  // _WIN32
