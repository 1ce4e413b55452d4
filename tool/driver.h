// The tool's entry point: one run, one command, its exit status (0 or -1).
#pragma once

int SetwiseMain(int argc, char** argv);

// The status of a run that ran out of memory: -1, or under -Json the status of
// a change that could not be made.
int OutOfMemoryStatus();
