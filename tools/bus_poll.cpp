#include <cstdio>

#include "tools/bus_commands.h"

// Placeholder until the poll command lands.
int RunPoll(int, char**) {
    std::fputs("zta-bus: poll is not available yet\n", stderr);
    return 1;
}
