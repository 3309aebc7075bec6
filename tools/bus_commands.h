// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The sub-commands of zta-bus; each parses its own options and returns the exit status.
int runRead(int argc, char** argv);
int runWrite(int argc, char** argv);
int runPoll(int argc, char** argv);
int runScan(int argc, char** argv);
// Only in a build with Qt (ZTA_BUS_VERIFY).
int runVerify(int argc, char** argv);
