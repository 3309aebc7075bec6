// SPDX-License-Identifier: GPL-3.0-or-later
// zta-bus: the analyzers' bus from a shell, for test benches and scripts.
#include <cstdio>
#include <cstring>

#include "tools/bus_commands.h"
#include "zta/version.h"

namespace {

const char kUsage[] =
    "usage: zta-bus read  --port P [--baud B] --address N [--extended] [--json]\n"
    "       zta-bus write --port P [--baud B] --address N COMMAND [VALUE]\n"
    "           COMMAND: zero | typical | high [VOL] | middle [VOL] | threshold1 V |\n"
    "                    threshold2 V | factory V | address V | baud V\n"
    "       zta-bus poll  --port P [--baud B] --address A[,A...] [--turns N] [--fast] [--json]\n"
    "       zta-bus scan  --port P [--baud B] [--json]\n"
    "       zta-bus verify --plan FILE.json --port P [--baud B] [--journal PATH]\n"
    "                      [--gas-command CMD] [--out DIR] [--station NAME] [--json]\n"
    "       zta-bus --help | --version\n"
    "poll --turns N: N cycles over the numbers, then it ends; poll --json: one object per\n"
    "exchange (cycle, number, outcome data|echo|timeout|crc|refused|foreign|short, health).\n"
    "options: --rs485 driver|program|auto (direction switching), --timeout MS (reply time-out),\n"
    "         --net-timeout MS (added to it on a network line, default 100),\n"
    "         --trace (every request and reply on standard error)\n"
    "--port takes a device path (or, on Windows, a port name), or a network address:\n"
    "  tcp://HOST:PORT (raw RTU over TCP), rfc2217://HOST:PORT (telnet with port control),\n"
    "  mbtcp://HOST[:PORT] (a Modbus TCP gateway, port 502 by default); --baud defaults to 9600.\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        std::fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    if (!std::strcmp(argv[1], "--version")) {
        std::printf("zta-bus %s\n", zta::kVersion);
        return 0;
    }
    const char* command = argv[1];
    if (!std::strcmp(command, "read")) return runRead(argc - 1, argv + 1);
    if (!std::strcmp(command, "write")) return runWrite(argc - 1, argv + 1);
    if (!std::strcmp(command, "poll")) return runPoll(argc - 1, argv + 1);
    if (!std::strcmp(command, "scan")) return runScan(argc - 1, argv + 1);
    if (!std::strcmp(command, "verify")) {
#ifdef ZTA_BUS_VERIFY
        return runVerify(argc - 1, argv + 1);
#else
        std::fputs("zta-bus: this build has no Qt, and verify needs it: use the Linux build\n",
                   stderr);
        return 1;
#endif
    }
    std::fprintf(stderr, "zta-bus: unknown command '%s'\n%s", command, kUsage);
    return 2;
}
