#pragma once

// The sub-commands of zta-bus; each parses its own options and returns the exit status.
int RunRead(int argc, char** argv);
int RunWrite(int argc, char** argv);
int RunPoll(int argc, char** argv);
int RunScan(int argc, char** argv);
