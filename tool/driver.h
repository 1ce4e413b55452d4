// The tool's entry point: one run, one command, its exit status (0 or -1).
#pragma once

int SetwiseMain(int argc, char** argv);
