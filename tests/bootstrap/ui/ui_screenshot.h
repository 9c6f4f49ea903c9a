// Screenshots of test windows, kept as artifacts of the test run.
#pragma once

#include <windows.h>

#include <string>

// Saves the screen area of `window` (any process) as a 24-bit BMP named
// `name`.bmp in <build>/artifacts/ui/.
void Screenshot(HWND window, const std::wstring& name);
