#include "progress_dialog.h"

#include <commctrl.h>
#include <shlwapi.h>

#include "download_helper.h"
#include "install_context.h"
#include "installation_flow.h"
#include "log.h"
#include "ui_resources.h"

namespace tovik {
namespace {

constexpr int kTitleCapacity = 1024;
constexpr uint32_t kDefaultUpperBound = 8192000;

DownloadHelper* AttachedHelper(HWND dialog) {
  return reinterpret_cast<DownloadHelper*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
}

void SetControlText(HWND dialog, int id, const wchar_t* text) {
  HWND control = GetDlgItem(dialog, id);
  if (control != nullptr) SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

void Initialise(HWND dialog, DownloadHelper* helper) {
  SetWindowLongPtrW(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(helper));
  const InstallContext* context = helper != nullptr ? hostContext : nullptr;
  if (context == nullptr) return;
  // Both parts are cut on purpose at the buffer's capacity.
  wchar_t title[kTitleCapacity] = L"";
  if (context->installingPrefix != nullptr) lstrcpynW(title, context->installingPrefix, kTitleCapacity);
  if (context->applicationPath != nullptr) {
    const int used = lstrlenW(title);
    lstrcpynW(title + used, PathFindFileNameW(context->applicationPath), kTitleCapacity - used);
  }
  SetWindowTextW(dialog, title);
  SetControlText(dialog, IDC_PROGRESS_CANCEL, context->cancelLabel);
  SetControlText(dialog, IDC_PROGRESS_STATUS, context->pleaseWait);
}

void RefreshBar(HWND dialog) {
  DownloadHelper* helper = AttachedHelper(dialog);
  HWND bar = GetDlgItem(dialog, IDC_PROGRESS_BAR);
  if (helper == nullptr || bar == nullptr) return;
  SendMessageW(bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(ProgressUpperBound(helper->totalBytes)));
  SendMessageW(bar, PBM_SETPOS, helper->receivedBytes, 0);
}

void Cancel(HWND dialog) {
  DownloadHelper* helper = AttachedHelper(dialog);
  if (helper != nullptr) CancelRun(helper);
}

}  // namespace

uint32_t ProgressUpperBound(uint32_t totalBytes) {
  return static_cast<int32_t>(totalBytes) > 0 ? totalBytes : kDefaultUpperBound;
}

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ACTIVATE:
      // Keyboard navigation only after a real activation, not a click one.
      activeDialog = LOWORD(wParam) == WA_ACTIVE ? dialog : nullptr;
      return TRUE;
    case WM_INITDIALOG:
      Initialise(dialog, reinterpret_cast<DownloadHelper*>(lParam));
      return TRUE;
    case WM_COMMAND: {
      const WORD id = LOWORD(wParam);
      if (id == IDC_PROGRESS_CANCEL || id == IDCANCEL || id == IDOK) {
        LogDownloadCancelled();
        Cancel(dialog);
      }
      return TRUE;
    }
    case WM_CLOSE:
      Cancel(dialog);
      return TRUE;
    case UM_DOWNLOAD_PROGRESS:
      // Same value as DM_GETDEFID: answering it with 0 (no default id) makes
      // Enter fall back to IDOK, which cancels like the button.
      RefreshBar(dialog);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace tovik
