#include "installation_flow.h"

#include <commctrl.h>

#include "download_helper.h"
#include "error_dialog.h"
#include "exit_codes.h"
#include "install_context.h"
#include "log.h"
#include "processes.h"
#include "progress_dialog.h"
#include "runtime.h"
#include "ui_resources.h"

namespace tovik {

HWND activeDialog = nullptr;
const InstallContext* hostContext = nullptr;

namespace {

// Set by a cancel; the run then ends with 11 even if the worker finished in
// the meantime, so a cancelled run never starts an installer.
bool runCancelled = false;

DownloadHelper* AttachedHelper(HWND window) {
  return reinterpret_cast<DownloadHelper*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void EndRun(DownloadHelper* helper) {
  InterlockedExchange(&helper->step, Finished);
  DestroyWindow(helper->hostWindow);
}

LRESULT StartJob(HWND window, LPARAM lParam) {
  auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
  auto* context = static_cast<InstallContext*>(create->lpCreateParams);
  if (context == nullptr) return -1;
  hostContext = context;
  DownloadHelper* helper = DownloadHelper::Create(window, &context->installer);
  if (helper == nullptr) {
    LogStepFailed("Installation flow: download record", nullptr, ERROR_NOT_ENOUGH_MEMORY);
    return -1;
  }

  helper->progressDialog = CreateDialogParamW(context->instance, MAKEINTRESOURCEW(IDD_PROGRESS), window,
                                              ProgressDialogProc, reinterpret_cast<LPARAM>(helper));
  if (!context->silent && helper->progressDialog != nullptr) {
    // Best effort: a refused foreground request leaves the dialog behind others.
    SetForegroundWindow(helper->progressDialog);
    ShowWindow(helper->progressDialog, SW_SHOWNORMAL);
  }
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(helper));

  if (context->runtimeFound && !UpdatesAllowed()) {
    LogUpdatesDisabled();
    // The error dialog comes once the host window exists, over the progress dialog.
    PostMessageW(window, UM_UPDATE_BLOCKED, 0, 0);
    return 0;
  }
  helper->totalBytes = 0;
  helper->receivedBytes = 0;
  // A silent run asks nobody: a proxy that wants credentials fails it.
  helper->promptForCredentials = !context->silent;
  if (!helper->StartWorker()) {
    LogStepFailed("Installation flow: start download worker", nullptr, GetLastError());
    // Without a worker no final message would ever come: fail the run now.
    PostMessageW(window, UM_DOWNLOAD_FAILED, 0, kExitFlowFailed);
  }
  return 0;
}

void ShowFailure(DownloadHelper* helper, int32_t code) {
  // Keep the record alive while a box runs its own message loop.
  helper->AddRef();
  helper->result = code;
  const InstallContext* context = hostContext;
  // While the failure is shown the progress dialog takes no input (the boxes
  // are its own, and it is disabled besides), so no cancel can replace the
  // failure's code; the run ends right after, so it is never enabled again.
  HWND owner = helper->progressDialog;
  if (context != nullptr) {
    if (code == kDownloadNotAvailable) {
      ShowErrorDialog(owner, context->updateUnavailable);
    } else if (code == kDownloadValidationFailed && context->validationFailed != nullptr) {
      if (owner != nullptr) EnableWindow(owner, FALSE);
      MessageBoxW(owner, context->validationFailed, kHostWindowClass, MB_OK);
    } else if (code == kDownloadGeneralFailure && context->runtimeMissing != nullptr) {
      if (owner != nullptr) EnableWindow(owner, FALSE);
      MessageBoxW(owner, context->runtimeMissing, kHostWindowClass, MB_OK);
    }
  }
  if (IsWindow(helper->hostWindow)) EndRun(helper);
  helper->Release();
}

void ShowBlocked(DownloadHelper* helper) {
  helper->AddRef();
  const InstallContext* context = hostContext;
  ShowErrorDialog(helper->progressDialog, context != nullptr ? context->updateBlocked : nullptr);
  helper->result = kExitUpdateBlocked;
  if (IsWindow(helper->hostWindow)) EndRun(helper);
  helper->Release();
}

}  // namespace

void CancelRun(DownloadHelper* helper) {
  runCancelled = true;
  helper->Cancel();
  DestroyWindow(helper->hostWindow);
}

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DownloadHelper* helper = AttachedHelper(window);
  switch (message) {
    case WM_CREATE:
      return StartJob(window, lParam);
    case WM_DESTROY:
      if (helper != nullptr) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        // From here on the worker leaves the context alone, so the flow may
        // release it (and delete a stored installer) safely.
        helper->DetachContext();
        const int32_t result = runCancelled ? kExitFlowFailed : static_cast<int32_t>(helper->result);
        if (helper->progressDialog != nullptr) DestroyWindow(helper->progressDialog);
        PostQuitMessage(result);
        helper->Release();
      }
      return 0;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case UM_DOWNLOAD_PROGRESS:
      if (helper != nullptr) SendMessageW(helper->progressDialog, UM_DOWNLOAD_PROGRESS, 0, 0);
      return 0;
    case UM_DOWNLOAD_VERIFYING:
      if (helper != nullptr && hostContext != nullptr) {
        HWND status = GetDlgItem(helper->progressDialog, IDC_PROGRESS_STATUS);
        if (status != nullptr) SendMessageW(status, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(hostContext->verifying));
      }
      return 0;
    case UM_DOWNLOAD_FAILED:
      if (helper != nullptr) ShowFailure(helper, static_cast<int32_t>(lParam));
      return lParam;
    case UM_DOWNLOAD_DONE:
      if (helper != nullptr) EndRun(helper);
      return lParam;
    case UM_UPDATE_BLOCKED:
      if (helper != nullptr) ShowBlocked(helper);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

int32_t RunInstallationFlow(const wchar_t* options, bool silent, const wchar_t* applicationPath,
                            bool runtimeFound) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  activeDialog = nullptr;
  runCancelled = false;

  // The progress bar's class must exist before the dialog template is loaded.
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
  // Best effort: the manifest's common-controls dependency registers it too.
  InitCommonControlsEx(&controls);

  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = HostWindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = kHostWindowClass;
  if (RegisterClassExW(&windowClass) == 0) {
    LogStepFailed("Installation flow: register window class", nullptr, GetLastError());
    return kExitFlowFailed;
  }

  InstallContext context;
  context.instance = instance;
  context.silent = silent;
  context.runtimeFound = runtimeFound;
  context.applicationPath = CopyText(applicationPath);
  FillLanguageTexts(context);

  int32_t result = kExitFlowFailed;
  HWND window = CreateWindowExW(0, kHostWindowClass, kHostWindowClass, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                CW_USEDEFAULT, 0, nullptr, nullptr, instance, &context);
  if (window != nullptr) {
    MSG message;
    BOOL got;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) != 0) {
      if (got == -1) {
        LogStepFailed("Installation flow: message loop", nullptr, GetLastError());
        break;  // result stays 11
      }
      if (activeDialog != nullptr && IsDialogMessageW(activeDialog, &message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (IsWindow(window)) DestroyWindow(window);
    if (got == 0) result = static_cast<int32_t>(message.wParam);
    if (result == 0 && context.installer.path == nullptr) {
      LogStepRefused("Installation flow: run runtime installer", nullptr, "no stored installer");
      result = kExitFlowFailed;
    } else if (result == 0) {
      result = RunRuntimeInstaller(context.installer.path, options, context.applicationPath);
    }
  } else {
    LogStepFailed("Installation flow: create host window", nullptr, GetLastError());
  }
  hostContext = nullptr;
  ReleaseInstallContext(context);
  // Best effort: lets a later flow in the same process register the class again.
  UnregisterClassW(kHostWindowClass, instance);
  return result;
}

}  // namespace tovik
