// The installation flow of the bootstrapper when the runtime has to be
// downloaded: a hidden host window, the progress dialog, the download worker
// and, after success, the downloaded runtime installer. Runs on the main
// thread, which becomes the user-interface thread.
#pragma once

#include <windows.h>

#include <stdint.h>

namespace tovik {

class DownloadHelper;
struct InstallContext;

// Class name and title of the host window, and caption of the message boxes.
inline constexpr wchar_t kHostWindowClass[] = L"Tessaro Vantel";

// Private message of the host window: the update policy blocks this update;
// posted by WM_CREATE so the error dialog appears once the window exists.
inline constexpr UINT UM_UPDATE_BLOCKED = WM_USER + 4;

// Runs the whole flow and returns its result: 0 never (a successful download
// hands on to the runtime installer, whose exit code is returned), 11 failure
// or cancel, 13 validation failed, 14 update not available, 15 update blocked
// by policy, 16 the runtime installer could not be run, or that installer's
// exit code. `options` may be absent or empty. The stored installer file is
// deleted before it returns.
int32_t RunInstallationFlow(const wchar_t* options, bool silent, const wchar_t* applicationPath,
                            bool runtimeFound);

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The modeless dialog that the message loop hands keyboard messages to;
// set and cleared by the progress dialog as it gains and loses activation.
// User-interface thread only.
extern HWND activeDialog;

// The running flow's context, for the host window's and the progress
// dialog's handlers (absent outside a run). They read it here and never
// through the download record, which holds only the stored installer.
// User-interface thread only.
extern const InstallContext* hostContext;

// Cancels the run from the progress dialog: the worker starts no further
// step, the host window is destroyed and the run ends with 11 whatever the
// worker has done meanwhile.
void CancelRun(DownloadHelper* helper);

}  // namespace tovik
