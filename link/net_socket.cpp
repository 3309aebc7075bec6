// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/net_socket.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <chrono>

namespace zta::net {

namespace {

using Clock = std::chrono::steady_clock;

int msUntil(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

#ifdef _WIN32
using Handle = SOCKET;
constexpr int kWouldBlock = WSAEWOULDBLOCK;
int lastError() { return WSAGetLastError(); }
bool interrupted(int) { return false; }
bool wouldBlock(int e) { return e == WSAEWOULDBLOCK; }
bool refused(int e) { return e == WSAECONNREFUSED; }
void closeHandle(Handle h) { ::closesocket(h); }
bool setNonBlocking(Handle h) {
    u_long on = 1;
    return ::ioctlsocket(h, FIONBIO, &on) == 0;
}
bool initialized() {
    static const bool ok = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ok;
}
constexpr int kSendFlags = 0;

// Which of read, write or error is ready within `ms`; select() reports a failed connect in its
// error set, where WSAPoll does not on older systems.
int waitFor(Handle h, bool forWrite, int ms) {
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(h, &ready);
    FD_SET(h, &failed);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    return ::select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &failed, &tv);
}
#else
using Handle = int;
constexpr int kWouldBlock = EWOULDBLOCK;
int lastError() { return errno; }
bool interrupted(int e) { return e == EINTR; }
bool wouldBlock(int e) { return e == EAGAIN || e == EWOULDBLOCK || e == EINPROGRESS; }
bool refused(int e) { return e == ECONNREFUSED; }
void closeHandle(Handle h) { ::close(h); }
bool setNonBlocking(Handle h) {
    const int flags = ::fcntl(h, F_GETFL);
    return flags >= 0 && ::fcntl(h, F_SETFL, flags | O_NONBLOCK) == 0;
}
bool initialized() { return true; }
#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;  // a peer gone is an error, never a signal
#else
constexpr int kSendFlags = 0;
#endif

int waitFor(Handle h, bool forWrite, int ms) {
    pollfd p{h, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    return ::poll(&p, 1, ms);
}
#endif

// Connects one address; the platform's error code, or 0.
int connectOne(Handle h, const sockaddr* address, int length, int timeoutMs) {
    if (::connect(h, address, length) == 0) return 0;
    int error = lastError();
    if (!wouldBlock(error) && !interrupted(error)) return error;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const int r = waitFor(h, true, msUntil(deadline));
        if (r < 0 && interrupted(lastError())) continue;
        if (r <= 0) return kWouldBlock;  // the time is up
        break;
    }
    int soError = 0;
    socklen_t size = sizeof soError;
    if (::getsockopt(h, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &size) != 0)
        return lastError();
    return soError;
}

}  // namespace

TcpSocket::Handle TcpSocket::invalid() {
#ifdef _WIN32
    return static_cast<Handle>(INVALID_SOCKET);
#else
    return -1;
#endif
}

TcpSocket::~TcpSocket() { close(); }

bool TcpSocket::isOpen() const { return handle_ != invalid(); }

ConnectResult TcpSocket::connect(const std::string& host, uint16_t port, int timeoutMs) {
    close();
    if (!initialized()) return {ConnectFailure::NoAnswer, 0};
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int resolved = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (resolved != 0 || !found) return {ConnectFailure::HostNotFound, resolved};

    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    ConnectResult result{ConnectFailure::NoAnswer, 0};
    for (addrinfo* a = found; a; a = a->ai_next) {
        const Handle h = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (h == invalid()) {
            result.platformCode = lastError();
            continue;
        }
#ifndef _WIN32
        (void)::fcntl(h, F_SETFD, FD_CLOEXEC);
#endif
        if (!setNonBlocking(h)) {
            result.platformCode = lastError();
            closeHandle(h);
            continue;
        }
        const int error =
            connectOne(h, a->ai_addr, static_cast<int>(a->ai_addrlen), msUntil(deadline));
        if (error == 0) {
            // Frames are small and each waits for its answer: no coalescing delay.
            int on = 1;
            (void)::setsockopt(h, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                               sizeof on);
            handle_ = h;
            result = {};
            break;
        }
        closeHandle(h);
        // One address that refused outweighs others that did not answer in the time left.
        if (refused(error)) {
            result = {ConnectFailure::Refused, error};
        } else if (result.failure != ConnectFailure::Refused) {
            result.platformCode = error;
        }
    }
    ::freeaddrinfo(found);
    return result;
}

Io TcpSocket::sendAll(const uint8_t* data, size_t length, int timeoutMs) {
    if (!isOpen()) return Io::Gone;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t done = 0;
    while (done < length) {
        const auto n = ::send(handle_, reinterpret_cast<const char*>(data + done),
                              static_cast<int>(length - done), kSendFlags);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        const int error = lastError();
        if (n < 0 && interrupted(error)) continue;
        if (n < 0 && wouldBlock(error)) {
            // A full buffer is no failure while the time lasts.
            const int wait = msUntil(deadline);
            if (wait == 0) return Io::TimedOut;
            (void)waitFor(handle_, true, wait);
            continue;
        }
        return Io::Gone;
    }
    return Io::Ok;
}

Io TcpSocket::receive(std::vector<uint8_t>& out, int timeoutMs) {
    if (!isOpen()) return Io::Gone;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
    bool got = false;
    for (;;) {
        uint8_t chunk[512];
        const auto n = ::recv(handle_, reinterpret_cast<char*>(chunk), sizeof chunk, 0);
        if (n > 0) {
            out.insert(out.end(), chunk, chunk + n);
            got = true;
            if (static_cast<size_t>(n) == sizeof chunk) continue;
            return Io::Ok;
        }
        if (n == 0) return Io::Gone;
        const int error = lastError();
        if (interrupted(error)) continue;
        if (!wouldBlock(error)) return Io::Gone;
        if (got) return Io::Ok;
        const int wait = msUntil(deadline);
        if (wait == 0) return Io::TimedOut;
        const int r = waitFor(handle_, false, wait);
        if (r < 0 && !interrupted(lastError())) return Io::Gone;
        if (r == 0) return Io::TimedOut;
    }
}

void TcpSocket::close() {
    if (!isOpen()) return;
    closeHandle(static_cast<Handle>(handle_));
    handle_ = invalid();
}

}  // namespace zta::net
