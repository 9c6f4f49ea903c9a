// Entry of the self-extracting launcher: everything happens in LauncherMain,
// which ends the process itself.
#include "launcher.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { LauncherMain(); }
