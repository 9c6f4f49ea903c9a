// Writes what DescribePlatform and BuildDownloadAddresses answer in this
// process to the file named by its argument, one "key=value" per line; with
// a second argument "worker" it also runs the download worker once and
// writes its result and final message.
#include <windows.h>

#include <stdio.h>

#include "describe_platform.h"
#include "download_helper.h"

static UINT gFinal = 0;
static LPARAM gFinalCode = -1;

static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == tovik::UM_DOWNLOAD_DONE || message == tovik::UM_DOWNLOAD_FAILED) {
    gFinal = message;
    gFinalCode = lParam;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

// Runs the worker on its own thread with a message-only host window.
static long RunWorker() {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = Proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"TvProbeHost";
  RegisterClassW(&wc);
  HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  tovik::StoredInstaller stored;
  tovik::DownloadHelper* helper = tovik::DownloadHelper::Create(hwnd, &stored);
  helper->AddRef();
  HANDLE thread = CreateThread(nullptr, 0, tovik::DownloadThreadProc, helper, 0, nullptr);
  WaitForSingleObject(thread, 60000);
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  helper->DetachContext();
  helper->Release();
  return static_cast<long>(code);
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  tovik::PlatformDescriptor d;
  d.majorVersion = 77;
  tovik::DescribePlatform(&d);
  char installer[512] = "";
  char signature[512] = "";
  bool built = tovik::BuildDownloadAddresses(installer, sizeof(installer), signature, sizeof(signature));
  char text[1400];
  int n = snprintf(text, sizeof(text), "platform=%d\nversion=%d.%d\narchitecture=%d\nbuilt=%d\ninstaller=%s\nsignature=%s\n",
                   (int)d.platform, (int)d.majorVersion, (int)d.minorVersion, (int)d.architecture, built ? 1 : 0,
                   installer, signature);
  if (argc > 2 && wcscmp(argv[2], L"worker") == 0) {
    long result = RunWorker();
    n += snprintf(text + n, sizeof(text) - n, "worker=%ld\nfinal=%s %ld\n", result,
                  gFinal == tovik::UM_DOWNLOAD_FAILED ? "FAILED" : gFinal == tovik::UM_DOWNLOAD_DONE ? "DONE" : "none",
                  static_cast<long>(gFinalCode));
  }
  HANDLE h = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 3;
  DWORD wrote = 0;
  WriteFile(h, text, (DWORD)n, &wrote, nullptr);
  CloseHandle(h);
  return 0;
}
