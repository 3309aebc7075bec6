// SPDX-License-Identifier: GPL-3.0-or-later
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

#ifdef __linux__
#include <linux/serial.h>
#endif

#include "link/baud.h"
#include "link/serial_port.h"

namespace zta {
namespace {

using Clock = std::chrono::steady_clock;

// A write of eight bytes never waits for long on a working line; the bound only keeps a
// wedged driver from holding the worker for ever.
constexpr int kWriteBoundMs = 2000;

bool meansGone(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

// Whole milliseconds left until `deadline`, rounded up so that ::poll() never wakes early.
int msUntil(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

class PosixSerialPort : public SerialPort {
  public:
    ~PosixSerialPort() override { close(); }

    OpenResult open(const std::string& path, unsigned baud, DirectionSetting direction,
                    DirectionMode& mode) override {
        close();
        vanished_ = false;

        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return {openErrorKind(errno), errno};

        // The lock comes before TIOCEXCL: exclusivity is a property of the terminal, and a
        // losing opener must not leave it set on the holder's port.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            ::close(fd);
            return {OpenFailure::Busy, EWOULDBLOCK};
        }

        termios tio{};
        if (::tcgetattr(fd, &tio) != 0) {
            const int error = errno;
            ::close(fd);
            // Not a terminal at all: the name does not denote a serial port.
            return {error == ENOTTY || error == EINVAL ? OpenFailure::WrongPort
                                                       : OpenFailure::SettingsRefused,
                    error};
        }
        (void)::ioctl(fd, TIOCEXCL);

        speed_t rate = B9600;
        if (const BaudRow* row = baudRowForRate(baud); row && analyzerRate(baud)) {
            rate = row->speed;
        } else {
            releaseAndClose(fd);
            return {OpenFailure::SettingsRefused, EINVAL};
        }
        tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                              ICRNL | IXON | IXOFF | IXANY | INPCK);
        tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
#ifdef CRTSCTS
        tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
        tio.c_cflag |= CS8 | CLOCAL | CREAD;
        // With VMIN 1 a read with nothing waiting fails with EAGAIN, so 0 means end of file.
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        if (::cfsetispeed(&tio, rate) != 0 || ::cfsetospeed(&tio, rate) != 0) {
            releaseAndClose(fd);
            return {OpenFailure::SettingsRefused, EINVAL};
        }
        if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
            const int error = errno;
            releaseAndClose(fd);
            return {OpenFailure::SettingsRefused, error};
        }
        // tcsetattr succeeds when any part of the change was taken; the rate is the part that
        // matters.
        termios applied{};
        if (::tcgetattr(fd, &applied) != 0 || ::cfgetospeed(&applied) != rate) {
            releaseAndClose(fd);
            return {OpenFailure::SettingsRefused, EINVAL};
        }

        int dtr = TIOCM_DTR;
        (void)::ioctl(fd, TIOCMBIC, &dtr);

        mode = chooseDirection(fd, direction);
        fd_ = fd;
        return {};
    }

    bool write(const uint8_t* data, size_t length) override {
        if (fd_ < 0) return false;
        const auto deadline = Clock::now() + std::chrono::milliseconds(kWriteBoundMs);
        size_t done = 0;
        while (done < length) {
            const ssize_t n = ::write(fd_, data + done, length - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                const int wait = msUntil(deadline);
                if (wait == 0) return false;
                pollfd p{fd_, POLLOUT, 0};
                const int r = ::poll(&p, 1, wait);
                if (r < 0 && errno == EINTR) continue;
                if (r <= 0) return false;
                if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
                    vanished_ = true;
                    return false;
                }
                continue;
            }
            if (n < 0 && meansGone(errno)) vanished_ = true;
            return false;
        }
        return true;
    }

    size_t read(uint8_t* buffer, size_t length, int timeoutMs) override {
        if (fd_ < 0) return 0;
        const auto deadline =
            Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
        size_t got = 0;
        // Once the time is up there is one last look without waiting, whatever ::poll() says.
        bool lastLook = false;
        while (got < length && !lastLook) {
            const int wait = msUntil(deadline);
            lastLook = wait == 0;
            pollfd p{fd_, POLLIN, 0};
            const int r = ::poll(&p, 1, wait);
            if (r < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                break;
            }
            if (r == 0) continue;
            if (p.revents & POLLIN) {
                const ssize_t n = ::read(fd_, buffer + got, length - got);
                if (n > 0) {
                    got += static_cast<size_t>(n);
                    continue;
                }
                if (n == 0) {
                    vanished_ = true;
                    break;
                }
                if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
                if (meansGone(errno)) vanished_ = true;
                break;
            }
            if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
                vanished_ = true;
                break;
            }
        }
        return got;
    }

    void purge() override {
        // Input only: every purge follows a drain, so no output is left to drop, and on a
        // pseudo-terminal flushing output also throws away what the other end has not read
        // yet (the request just sent).
        if (fd_ >= 0) (void)::tcflush(fd_, TCIFLUSH);
    }

    size_t takeInput(std::vector<uint8_t>& dropped) override {
        dropped.clear();
        if (fd_ < 0) return 0;
        // Bounded: a line that never stops talking is flushed past this and only counted.
        constexpr size_t kKeep = 4096;
        uint8_t chunk[256];
        while (dropped.size() < kKeep) {
            const ssize_t n = ::read(fd_, chunk, sizeof chunk);
            if (n > 0) {
                dropped.insert(dropped.end(), chunk, chunk + n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n == 0 || (n < 0 && meansGone(errno))) vanished_ = true;
            break;
        }
        size_t count = dropped.size();
        int waiting = 0;
        if (::ioctl(fd_, FIONREAD, &waiting) == 0 && waiting > 0)
            count += static_cast<size_t>(waiting);
        (void)::tcflush(fd_, TCIFLUSH);
        return count;
    }

    void drain() override {
        if (fd_ < 0) return;
        while (::tcdrain(fd_) != 0 && errno == EINTR) {
        }
    }

    void setRts(bool on) override {
        if (fd_ < 0) return;
        // A pseudo-terminal has no modem lines; the call fails there and that is fine.
        int rts = TIOCM_RTS;
        (void)::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &rts);
    }

    void close() override {
        if (fd_ < 0) return;
        releaseAndClose(fd_);
        fd_ = -1;
    }

    bool vanished() const override { return vanished_; }

  private:
    static OpenFailure openErrorKind(int error) {
        switch (error) {
            case ENOENT:
            case ENXIO:
            case ENODEV:
            case ENOTDIR:
            case EISDIR:
                return OpenFailure::WrongPort;
            case EBUSY:
            case EACCES:
                return OpenFailure::Busy;
            default:
                return OpenFailure::Other;
        }
    }

    static void releaseAndClose(int fd) {
        (void)::ioctl(fd, TIOCNXCL);
        ::close(fd);  // also drops the flock
    }

    static DirectionMode chooseDirection(int fd, DirectionSetting setting) {
        DirectionAbilities port;
        int lines = 0;
        port.modemLines = ::ioctl(fd, TIOCMGET, &lines) == 0;
#if defined(__linux__) && defined(TIOCGRS485)
        serial_rs485 rs485{};
        const bool kernelRs485 = ::ioctl(fd, TIOCGRS485, &rs485) == 0;
        if (setting == DirectionSetting::Program) {
            // The kernel must not switch the direction behind the station's back.
            if (kernelRs485 && (rs485.flags & SER_RS485_ENABLED)) {
                rs485.flags &= ~static_cast<__u32>(SER_RS485_ENABLED);
                (void)::ioctl(fd, TIOCSRS485, &rs485);
            }
        } else if (kernelRs485) {
            rs485.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
            rs485.flags &= ~static_cast<__u32>(SER_RS485_RTS_AFTER_SEND);
            port.driverSwitches = ::ioctl(fd, TIOCSRS485, &rs485) == 0;
        }
#endif
        // Forced Driver without kernel switching: the adapter switches in its own hardware.
        return chooseDirectionMode(setting, port);
    }

    int fd_ = -1;
    bool vanished_ = false;
};

}  // namespace

std::unique_ptr<SerialPort> makeSerialDevicePort() { return std::make_unique<PosixSerialPort>(); }

}  // namespace zta
