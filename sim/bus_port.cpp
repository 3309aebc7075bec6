// SPDX-License-Identifier: GPL-3.0-or-later
// The line the simulator serves: a pseudo-terminal, with a link to it when asked, or a device.
#include <cstring>

#include "link/baud.h"
#include "sim/bus_impl.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace zta::sim {

#ifndef _WIN32

namespace {

std::string errnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

speed_t speedFor(unsigned baud) {
    const BaudRow* row = baudRowForRate(baud);
    return row ? row->speed : B9600;
}

bool setRaw(int fd, unsigned baud) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speedFor(baud));
    cfsetospeed(&t, speedFor(baud));
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

bool sameLink(const std::string& link, const std::string& target) {
    char buf[4096];
    const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
    return n > 0 && std::string(buf, static_cast<size_t>(n)) == target;
}

std::string folder(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The link path may be taken only when nothing is there, or when it holds a link of a
// simulator (one into the folder of pseudo-terminals) whose terminal is gone or is ours: never
// a file, a folder, a device or a terminal another simulator still serves.
bool linkPathFree(const std::string& linkPath, const std::string& ourSlave, std::string* why) {
    struct stat st {};
    if (lstat(linkPath.c_str(), &st) != 0) {
        if (errno == ENOENT) return true;
        *why = errnoText("cannot check " + linkPath);
        return false;
    }
    if (!S_ISLNK(st.st_mode)) {
        *why = linkPath +
               " exists and is not a link of a simulator: not replaced (remove it, or "
               "give another --link path)";
        return false;
    }
    char buf[4096];
    const ssize_t n = readlink(linkPath.c_str(), buf, sizeof buf - 1);
    const std::string target = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    if (target.empty() || folder(target) != folder(ourSlave)) {
        *why = linkPath + " is a link to " + (target.empty() ? "nothing readable" : target) +
               ", not to a pseudo-terminal of a simulator: not replaced";
        return false;
    }
    if (target != ourSlave && access(target.c_str(), F_OK) == 0) {
        *why = linkPath + " leads to " + target +
               ", a pseudo-terminal still in use (another simulator?): not replaced";
        return false;
    }
    return true;
}

}  // namespace

bool Bus::Impl::openWakePipe(std::string* error) {
    int p[2];
    if (pipe2(p, O_NONBLOCK | O_CLOEXEC) != 0) {
        if (error) *error = errnoText("cannot make a pipe");
        return false;
    }
    wakeRead = p[0];
    wakeWrite = p[1];
    return true;
}

bool Bus::Impl::openPort(std::string* error) {
    if (isDevice) {
        const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            if (error) *error = errnoText("cannot open " + devicePath);
            return false;
        }
        if (!setRaw(fd, deviceBaud)) {
            if (error) *error = errnoText("cannot set up " + devicePath);
            ::close(fd);
            return false;
        }
        std::lock_guard lock(mu);
        masterFd = fd;
        portPath = devicePath;
        return true;
    }
    const int m = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m < 0) {
        if (error) *error = errnoText("cannot open a pseudo-terminal");
        return false;
    }
    char name[256];
    if (grantpt(m) != 0 || unlockpt(m) != 0 || ptsname_r(m, name, sizeof name) != 0) {
        if (error) *error = errnoText("cannot prepare the pseudo-terminal");
        ::close(m);
        return false;
    }
    const int s = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    // A fresh slave echoes and translates; the station sets its own mode, but anything that
    // opens the port without doing so must not get our replies echoed back as requests.
    if (s < 0 || !setRaw(s, 9600)) {
        if (error) *error = errnoText(std::string("cannot set up ") + name);
        if (s >= 0) ::close(s);
        ::close(m);
        return false;
    }
    if (!linkPath.empty()) {
        std::string why;
        if (!linkPathFree(linkPath, name, &why)) {
            if (error) *error = why;
            ::close(s);
            ::close(m);
            return false;
        }
        // Symlink under a temporary name, then rename: the link path is never missing or half
        // made for a station that opens it at that moment.
        const std::string tmp = linkPath + ".tmp" + std::to_string(getpid());
        struct stat old {};
        if (lstat(tmp.c_str(), &old) == 0 && S_ISLNK(old.st_mode)) unlink(tmp.c_str());
        if (symlink(name, tmp.c_str()) != 0 || rename(tmp.c_str(), linkPath.c_str()) != 0) {
            if (error) *error = errnoText("cannot make the link " + linkPath);
            unlink(tmp.c_str());
            ::close(s);
            ::close(m);
            return false;
        }
    }
    std::lock_guard lock(mu);
    masterFd = m;
    slaveFd = s;
    slavePath = name;
    portPath = linkPath.empty() ? slavePath : linkPath;
    return true;
}

void Bus::Impl::closePort() {
    int m, s;
    {
        std::lock_guard lock(mu);
        m = masterFd;
        s = slaveFd;
        masterFd = slaveFd = -1;
    }
    removeLink();
    if (s >= 0) ::close(s);
    if (m >= 0) ::close(m);
    framer.clear();
    outputs.clear();
}

void Bus::Impl::removeLink() {
    std::string slave;
    {
        std::lock_guard lock(mu);
        slave = slavePath;
    }
    // Only our own link: another simulator may have taken the path since.
    if (!linkPath.empty() && !slave.empty() && sameLink(linkPath, slave)) unlink(linkPath.c_str());
}

void Bus::Impl::wake() {
    if (wakeWrite < 0) return;
    const uint8_t b = 1;
    ssize_t r;
    do {
        r = ::write(wakeWrite, &b, 1);
    } while (r < 0 && errno == EINTR);
}

unsigned Bus::Impl::baudOf(int fd) const {
    // On Linux the master reports the slave's settings, i.e. the rate the station has set.
    termios t{};
    if (fd < 0 || tcgetattr(fd, &t) != 0) return 0;
    return rateForSpeed(cfgetospeed(&t));
}

Bus::Impl::~Impl() {
    closePort();
    if (wakeRead >= 0) ::close(wakeRead);
    if (wakeWrite >= 0) ::close(wakeWrite);
}

bool Bus::Impl::setDeviceRate(unsigned baud) {
    int fd;
    {
        std::lock_guard lock(mu);
        deviceBaud = baud;
        fd = masterFd;
    }
    return fd >= 0 && setRaw(fd, baud);
}

#else  // _WIN32: the simulator serves pseudo-terminals, which this system does not have.

bool Bus::Impl::openWakePipe(std::string*) { return true; }
bool Bus::Impl::openPort(std::string* error) {
    if (error) *error = "the simulator needs a POSIX system";
    return false;
}
void Bus::Impl::closePort() {}
void Bus::Impl::removeLink() {}
void Bus::Impl::wake() {}
unsigned Bus::Impl::baudOf(int) const { return 0; }
Bus::Impl::~Impl() {}
bool Bus::Impl::setDeviceRate(unsigned) { return false; }

#endif

}  // namespace zta::sim
