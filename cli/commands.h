// The five subcommands.
#pragma once

#include "cli/options.h"

namespace corvane::cli {

// Runs a parsed command line (not --help or --version); returns the exit code.
int RunCommand(Options& options);

// The whole program: parses, runs, and turns failures into exit codes.
int Main(int argc, NativeChar** argv);

}  // namespace corvane::cli
