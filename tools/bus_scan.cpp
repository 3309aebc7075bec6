#include <cstdio>

#include "tools/bus_commands.h"

// Placeholder until the scan command lands.
int RunScan(int, char**) {
    std::fputs("zta-bus: scan is not available yet\n", stderr);
    return 1;
}
