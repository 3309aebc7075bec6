// SPDX-License-Identifier: GPL-3.0-or-later
// Both command-line programs name the build's version, the one the package carries.
#include "zta/version.h"

#include <gtest/gtest.h>

#include <string>

#include "program_run.h"

namespace {

TEST(ProgramVersion, BusAndSimulatorPrintTheProjectVersion) {
    const struct {
        const char* program;
        const char* name;
    } cases[] = {{ZTA_BUS_PROGRAM, "zta-bus"}, {ZTA_SIM_PROGRAM, "zta-sim"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto run = zta::testing::runProgram(std::string(c.program) + " --version 2>&1");
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, std::string(c.name) + " " + zta::kVersion + "\n");
        // The usage names the option, so a user can find it.
        const auto help = zta::testing::runProgram(std::string(c.program) + " --help 2>&1");
        EXPECT_NE(help.out.find("--version"), std::string::npos);
    }
}

}  // namespace
