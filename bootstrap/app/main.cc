// Entry of the bootstrapper.
#include "bootstrapper.h"
#include "system_libraries.h"

int wmain(int argc, wchar_t** argv) {
  // Before anything else can load a library: none may come from tovik's own
  // folder (see system_libraries.h).
  tovik::RestrictLibrarySearch();
  return tovik::RunBootstrapper(argc, argv);
}
