// Entry of the self-extracting launcher: everything happens in LauncherMain;
// the process ends here with its exit code.
#include "launcher_flow.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { ExitProcess(LauncherMain()); }
