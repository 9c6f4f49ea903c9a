// The progress dialog of the download (template 101): title, status line,
// a bar counting the installer's bytes, and a Cancel button.
#pragma once

#include <windows.h>

#include <stdint.h>

namespace tovik {

// Upper bound of the bar for an announced size: the size when it is
// positive as a signed 32-bit number, otherwise 8,192,000.
uint32_t ProgressUpperBound(uint32_t totalBytes);

// Dialog procedure; the initialisation parameter is the run's DownloadHelper.
// Cancel, Escape and Enter log "Download cancelled" and cancel the run; a
// close from the title bar cancels without the log line. UM_DOWNLOAD_PROGRESS
// refreshes the bar from the record's counters.
INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace tovik
