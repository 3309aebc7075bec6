// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The control channel's transport: a local (Unix-domain) stream socket, mode 0600, one line in,
// one line out.

#include <functional>
#include <memory>
#include <string>

namespace zta::sim {

class ControlServer {
  public:
    using Handler = std::function<std::string(const std::string& line)>;

    // Listens at `path` and answers each line with handler(line) + "\n" on its own thread.
    // What is at the path already: a socket that refuses a connection (its simulator died) is
    // replaced; a socket that accepts one, and anything else, is refused (nullptr, *error).
    static std::unique_ptr<ControlServer> open(const std::string& path, Handler handler,
                                               std::string* error);
    ~ControlServer();  // stops and removes the socket if it is still this one
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    struct Impl;

  private:
    explicit ControlServer(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Lines longer than this are refused whole.
inline constexpr size_t kMaxControlLine = 4096;

// Sends one line to the socket at `path` and takes one answer line (without its newline).
bool sendControlLine(const std::string& path, const std::string& line, std::string* answer,
                     std::string* error, int timeoutMs = 10000);

}  // namespace zta::sim
