// ruvanta-cli: the dialog's handlers over the headless data exchange.
#pragma once

#include <cstdio>

// Runs the command line; returns the exit status (0 done, 1 a file was refused or
// could not be written, 2 a usage error). Results go to `out`, messages to `err`.
int RunCli(int argc, const char* const* argv, std::FILE* out, std::FILE* err);
