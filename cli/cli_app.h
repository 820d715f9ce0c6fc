// ruvanta-cli: a single restoration or a batch of them, from the command line.
#pragma once

#include <cstdio>

// Runs the command line; returns the exit status (0 done, 1 a file was refused or
// could not be written, or a batch row failed; 2 a usage error; 130 stopped by
// Ctrl-C). Results go to `out`, messages to `err`.
int RunCli(int argc, const char* const* argv, std::FILE* out, std::FILE* err);
