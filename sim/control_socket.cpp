// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/control_socket.h"

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "sim/control.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace zta::sim {

#ifndef _WIN32

namespace {

constexpr size_t kMaxClients = 16;
constexpr size_t kMaxPendingAnswers = 1 << 20;  // a client that never reads is dropped

std::string errnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

bool addressOf(const std::string& path, sockaddr_un* addr, std::string* error) {
    *addr = {};
    addr->sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr->sun_path) {
        *error = "the control path \"" + path + "\" is empty or longer than " +
                 std::to_string(sizeof addr->sun_path - 1) + " bytes";
        return false;
    }
    std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
    return true;
}

// -1 with errno set when the connection is not made.
int connectTo(const sockaddr_un& addr) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int r;
    do {
        r = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    } while (r != 0 && errno == EINTR);
    if (r != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

// Nothing at the path, or a socket nobody listens on any more (removed here): the path is free.
bool pathFree(const std::string& path, const sockaddr_un& addr, std::string* error) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return true;
        *error = errnoText("cannot check " + path);
        return false;
    }
    if (!S_ISSOCK(st.st_mode)) {
        *error = path +
                 " exists and is not a control socket: not replaced (remove it, or give another "
                 "--control path)";
        return false;
    }
    const int fd = connectTo(addr);
    if (fd >= 0) {
        ::close(fd);
        *error = path + " is the control socket of a running simulator: not replaced";
        return false;
    }
    if (errno != ECONNREFUSED) {
        *error = errnoText(path + " is a socket that cannot be checked") + ": not replaced";
        return false;
    }
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        *error = errnoText("cannot remove the stale socket " + path);
        return false;
    }
    return true;
}

struct Client {
    int fd = -1;
    std::string in, out;
    bool skipping = false;  // the rest of an overlong line
    bool ended = false;     // the client sent all it will send
};

}  // namespace

struct ControlServer::Impl {
    std::string path;
    Handler handler;
    int listenFd = -1;
    int wakeRead = -1, wakeWrite = -1;
    dev_t dev = 0;
    ino_t ino = 0;
    std::thread worker;

    ~Impl() {
        if (worker.joinable()) {
            const char b = 1;
            while (::write(wakeWrite, &b, 1) < 0 && errno == EINTR) {
            }
            worker.join();
        }
        if (listenFd >= 0) ::close(listenFd);
        // Only our own socket: another simulator may have taken the path since.
        struct stat st {};
        if (!path.empty() && ::lstat(path.c_str(), &st) == 0 && st.st_dev == dev &&
            st.st_ino == ino)
            ::unlink(path.c_str());
        if (wakeRead >= 0) ::close(wakeRead);
        if (wakeWrite >= 0) ::close(wakeWrite);
    }

    static std::string overlong() {
        return controlRefusal("a line longer than " + std::to_string(kMaxControlLine) + " bytes") +
               "\n";
    }

    void takeLines(Client& c) {
        for (;;) {
            const size_t nl = c.in.find('\n');
            if (nl == std::string::npos) break;
            const std::string line = c.in.substr(0, nl);
            c.in.erase(0, nl + 1);
            if (c.skipping)
                c.skipping = false;
            else
                c.out += line.size() > kMaxControlLine ? overlong() : handler(line) + "\n";
        }
        // The rest of a line too long already is not kept: it is skipped up to its newline.
        if (c.in.size() > kMaxControlLine && !c.skipping) {
            c.out += overlong();
            c.skipping = true;
        }
        if (c.skipping) c.in.clear();
    }

    void loop() {
        std::vector<Client> clients;
        char buf[4096];
        for (;;) {
            std::vector<pollfd> fds{{wakeRead, POLLIN, 0}, {listenFd, POLLIN, 0}};
            for (const Client& c : clients)
                fds.push_back(
                    {c.fd,
                     static_cast<short>((c.ended ? 0 : POLLIN) | (c.out.empty() ? 0 : POLLOUT)),
                     0});
            if (::poll(fds.data(), fds.size(), -1) < 0) {
                if (errno == EINTR) continue;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));  // never spin
                continue;
            }
            if (fds[0].revents) break;
            for (size_t i = 0; i < clients.size(); ++i) {
                Client& c = clients[i];
                const short ev = fds[i + 2].revents;
                bool drop = (ev & (POLLERR | POLLNVAL)) != 0;
                if (!drop && (ev & (POLLIN | POLLHUP)) && !c.ended) {
                    const ssize_t n = ::recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
                    if (n > 0) {
                        c.in.append(buf, static_cast<size_t>(n));
                        takeLines(c);
                    } else if (n == 0) {
                        // A last line without its newline is still a line.
                        if (!c.in.empty() && !c.skipping) c.out += handler(c.in) + "\n";
                        c.in.clear();
                        c.ended = true;
                    } else if (errno != EINTR && errno != EAGAIN) {
                        drop = true;
                    }
                }
                if (!drop && !c.out.empty() && (ev & POLLOUT)) {
                    const ssize_t n =
                        ::send(c.fd, c.out.data(), c.out.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
                    if (n > 0)
                        c.out.erase(0, static_cast<size_t>(n));
                    else if (n < 0 && errno != EINTR && errno != EAGAIN)
                        drop = true;
                }
                if (drop || (c.ended && c.out.empty()) || c.out.size() > kMaxPendingAnswers) {
                    ::close(c.fd);
                    c.fd = -1;
                }
            }
            std::erase_if(clients, [](const Client& c) { return c.fd < 0; });
            if (fds[1].revents & POLLIN) {
                const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd >= 0 && clients.size() >= kMaxClients) {
                    const std::string busy = controlRefusal("too many connections") + "\n";
                    (void)!::send(fd, busy.data(), busy.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
                    ::close(fd);
                } else if (fd >= 0) {
                    clients.push_back({fd, {}, {}, false, false});
                }
            }
        }
        for (const Client& c : clients) ::close(c.fd);
    }
};

ControlServer::ControlServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ControlServer::~ControlServer() = default;

std::unique_ptr<ControlServer> ControlServer::open(const std::string& path, Handler handler,
                                                   std::string* error) {
    sockaddr_un addr;
    if (!addressOf(path, &addr, error) || !pathFree(path, addr, error)) return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->handler = std::move(handler);
    int p[2];
    if (::pipe2(p, O_NONBLOCK | O_CLOEXEC) != 0) {
        *error = errnoText("cannot make a pipe");
        return nullptr;
    }
    impl->wakeRead = p[0];
    impl->wakeWrite = p[1];
    impl->listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (impl->listenFd < 0) {
        *error = errnoText("cannot make a socket");
        return nullptr;
    }
    if (::bind(impl->listenFd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        *error = errnoText("cannot make the control socket " + path);
        return nullptr;
    }
    // From here on the path is ours and goes with us. Nobody can connect before the listen, so
    // the mode is set before anyone else could use the socket.
    impl->path = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        impl->dev = st.st_dev;
        impl->ino = st.st_ino;
    }
    if (::chmod(path.c_str(), 0600) != 0 || ::listen(impl->listenFd, 8) != 0) {
        *error = errnoText("cannot set up the control socket " + path);
        return nullptr;
    }
    impl->worker = std::thread([raw = impl.get()] { raw->loop(); });
    return std::unique_ptr<ControlServer>(new ControlServer(std::move(impl)));
}

bool sendControlLine(const std::string& path, const std::string& line, std::string* answer,
                     std::string* error, int timeoutMs) {
    sockaddr_un addr;
    if (!addressOf(path, &addr, error)) return false;
    if (line.find('\n') != std::string::npos) {
        *error = "a command is one line";
        return false;
    }
    const int fd = connectTo(addr);
    if (fd < 0) {
        *error = errnoText("cannot reach a simulator at " + path);
        return false;
    }
    const std::string out = line + "\n";
    size_t sent = 0;
    while (sent < out.size()) {
        const ssize_t n = ::send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *error = errnoText("cannot send to " + path);
            ::close(fd);
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    std::string in;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (in.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd p{fd, POLLIN, 0};
        const int r = left > 0 ? ::poll(&p, 1, static_cast<int>(left)) : 0;
        if (r < 0 && errno == EINTR) continue;
        char buf[4096];
        const ssize_t n = r > 0 ? ::recv(fd, buf, sizeof buf, 0) : -1;
        if (n > 0) {
            in.append(buf, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        *error = r == 0 ? "no answer from " + path : "the simulator at " + path + " hung up";
        ::close(fd);
        return false;
    }
    ::close(fd);
    *answer = in.substr(0, in.find('\n'));
    return true;
}

#else  // _WIN32: no simulator there.

struct ControlServer::Impl {};
ControlServer::ControlServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ControlServer::~ControlServer() = default;
std::unique_ptr<ControlServer> ControlServer::open(const std::string&, Handler,
                                                   std::string* error) {
    *error = "the simulator needs a POSIX system";
    return nullptr;
}
bool sendControlLine(const std::string&, const std::string&, std::string*, std::string* error,
                     int) {
    *error = "the simulator needs a POSIX system";
    return false;
}

#endif

}  // namespace zta::sim
