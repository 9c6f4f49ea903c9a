// Entry of the bootstrapper.
#include "bootstrapper.h"

int wmain(int argc, wchar_t** argv) { return tovik::RunBootstrapper(argc, argv); }
