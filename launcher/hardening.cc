// Placeholder until start-up hardening and the self-relaunch are in place.
#include "launcher.h"

void HardenLibraryLoading() {}
void PreloadSystemLibraries() {}
bool FolderHasLibraries(const wchar_t*) { return false; }
void RelaunchIfFolderHasLibraries(const wchar_t*) {}
