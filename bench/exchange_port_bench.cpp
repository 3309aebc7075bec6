// SPDX-License-Identifier: GPL-3.0-or-later
// Exchange time of the 10-register read on a named port with zta-sim behind it, next to the
// wire time: the same figures as exchange_bench, for either serial backend (on Windows, or
// under Wine with the simulator behind a COM port). The simulator must play one analyzer at
// 1 (also 2) at 9600 baud and one at 11 (also 12) at 19200 baud. Prints figures; asserts
// nothing.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/exchange_measure.h"
#include "link/modbus.h"
#include "link/serial_line.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: exchange_port_bench PORT [ROUNDS]\n");
        return 2;
    }
    const std::string port = zta::storedPortName(argv[1]);
    const int rounds = argc > 2 ? std::max(5, std::atoi(argv[2])) : 60;
    std::printf("10-register read (8 + 25 bytes) on %s, %d exchanges per row, times in ms\n",
                port.c_str(), rounds);
    std::printf("%-6s %-8s %8s %8s %8s %8s %8s\n", "baud", "mode", "wire", "pauses", "median",
                "p90", "overhead");
    const struct {
        unsigned baud;
        uint8_t address;
    } rows[] = {{9600, 1}, {19200, 11}};
    for (const auto& row : rows) {
        const double wire = zta::wireTimeUs(8 + zta::kShortReplyLength, row.baud) / 1000.0;
        for (auto [mode, name] : {std::pair{zta::DirectionMode::Program, "program"},
                                  std::pair{zta::DirectionMode::Driver, "driver"}}) {
            const auto setting = mode == zta::DirectionMode::Program
                                     ? zta::DirectionSetting::Program
                                     : zta::DirectionSetting::Driver;
            const double pauses = zta::bench::pausesMs(row.baud, mode);
            zta::bench::ExchangeFigures f;
            if (!zta::bench::measureOurs(port, row.baud, setting, row.address, rounds, f)) {
                std::printf("%-6u %-8s  exchange failed\n", row.baud, name);
                continue;
            }
            if (f.stale > 0)
                std::printf("%-6u %-8s  %d stale replies not counted\n", row.baud, name, f.stale);
            std::printf("%-6u %-8s %8.2f %8.2f %8.2f %8.2f %8.2f\n", row.baud, name, wire, pauses,
                        f.median, f.p90, f.median - wire - pauses);
        }
    }
    std::printf("overhead = median - wire - pauses\n");
    return 0;
}
