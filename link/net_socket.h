// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One TCP connection with time limits on everything that can wait: BSD sockets or Winsock.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zta::net {

enum class ConnectFailure { None, HostNotFound, Refused, NoAnswer };

struct ConnectResult {
    ConnectFailure failure = ConnectFailure::None;
    int platformCode = 0;
};

enum class Io {
    Ok,        // done, or bytes came
    TimedOut,  // nothing more could be done in the time
    Gone,      // the connection was closed or reset
};

class TcpSocket {
  public:
    TcpSocket() = default;
    ~TcpSocket();
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // Resolves `host` and connects to the first of its addresses that accepts within the time.
    ConnectResult connect(const std::string& host, uint16_t port, int timeoutMs);
    bool isOpen() const;
    // Sends all of `data`, waiting while the socket's buffer is full, at most `timeoutMs`.
    Io sendAll(const uint8_t* data, size_t length, int timeoutMs);
    // Appends what has come to `out`, waiting up to `timeoutMs` for the first byte (0: only a
    // look). Gone may come with the last bytes the peer sent before it closed.
    Io receive(std::vector<uint8_t>& out, int timeoutMs);
    void close();

  private:
#ifdef _WIN32
    using Handle = uintptr_t;
#else
    using Handle = int;
#endif
    Handle handle_ = invalid();
    static Handle invalid();
};

}  // namespace zta::net
