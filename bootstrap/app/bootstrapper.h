// The bootstrapper's run, from its command line to its exit code.
#pragma once

#include <stdint.h>

namespace tovik {

// Runs the bootstrapper with the process's wide argument vector (argv[0] is
// the program) and returns the exit code: 0, 2, 3, 5, 10 to 16, or a child's
// exit code passed through unchanged.
int32_t RunBootstrapper(int argc, wchar_t** argv);

}  // namespace tovik
