// Start-up hardening of library loading. Nothing here ends the process.
#pragma once

#include <windows.h>

// Narrows library loading to the system folder and preloads the system
// libraries the process may pull in later. Best effort: results are ignored.
void HardenLibraryLoading();
