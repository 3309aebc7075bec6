// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Runs a built program through the shell and collects its exit status and standard output.
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace zta::testing {

struct ProgramRun {
    int status = -1;  // the exit status, -1 when it did not exit normally
    std::string out;
};

// `commandLine` is handed to the shell as is, redirections included.
inline ProgramRun runProgram(const std::string& commandLine) {
    ProgramRun r;
    FILE* p = popen(commandLine.c_str(), "r");
    if (!p) return r;
    std::array<char, 512> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
    const int raw = pclose(p);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return r;
}

}  // namespace zta::testing
