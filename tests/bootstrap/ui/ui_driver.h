// Finding and working the windows of another process (tovik.exe) from a test
// driver: visible dialogs by caption, their texts, messages with a time limit.
#pragma once

#include <windows.h>

#include <string>

namespace tvtest {

constexpr DWORD kWaitMs = 20000;

// The text of `window`; empty when it does not answer within 5 seconds.
std::wstring Text(HWND window);

// The first visible dialog (class #32770) captioned `caption` that appears
// within `waitMs`; nullptr when none did.
HWND WaitVisibleDialog(const std::wstring& caption, DWORD waitMs = kWaitMs);

// SendMessage that gives up on a hung window after 5 seconds.
LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

// Makes the recorder program the handler of https links in this prefix and
// tells it (through this process's TV_RECORD, which the shell passes on) to
// write what it was given to `record`.
void RegisterHttpsRecorder(const std::wstring& record);

}  // namespace tvtest
