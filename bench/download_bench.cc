// Download-and-verify benchmark of the runtime download worker.
//   download_bench serve <installer> <signature> <crl> <ready-file> <stop-file>
//     serves the files on 127.0.0.1:80 at the worker's paths, writes the
//     installer's path to <ready-file>, and runs until <stop-file> exists.
//   download_bench run <temp-folder>
//     runs the worker once against that server and prints its figures.
#include <windows.h>
#include <psapi.h>

#include <stdio.h>

#include <string>

#include "describe_platform.h"
#include "download_helper.h"
#include "http_fixture.h"

namespace {

std::string ReadAll(const wchar_t* path) {
  std::string bytes;
  HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return bytes;
  LARGE_INTEGER size;
  GetFileSizeEx(h, &size);
  bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  size_t at = 0;
  while (at < bytes.size() && ReadFile(h, &bytes[at], static_cast<DWORD>(std::min<size_t>(bytes.size() - at, 1 << 24)), &got, nullptr) && got != 0) {
    at += got;
  }
  CloseHandle(h);
  return bytes;
}

std::string Path(const char* address) {
  const char* p = strstr(address, "://");
  p = p != nullptr ? strchr(p + 3, '/') : nullptr;
  return p != nullptr ? p : "";
}

void Print(const char* text) {
  DWORD wrote;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(strlen(text)), &wrote, nullptr);
}

int Serve(wchar_t** argv) {
  char installer[512], signature[512];
  if (!tovik::BuildDownloadAddresses(installer, sizeof(installer), signature, sizeof(signature))) return 2;
  tvtest::HttpFixture server(80);
  if (!server.listening()) return 3;
  server.Serve(Path(installer), ReadAll(argv[2]));
  server.Serve(Path(signature), ReadAll(argv[3]));
  server.Serve("/crl/inter.crl", ReadAll(argv[4]));
  std::string path = Path(installer);
  HANDLE ready = CreateFileW(argv[5], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD wrote;
  WriteFile(ready, path.data(), static_cast<DWORD>(path.size()), &wrote, nullptr);
  CloseHandle(ready);
  while (GetFileAttributesW(argv[6]) == INVALID_FILE_ATTRIBUTES) Sleep(100);
  return 0;
}

struct Host {
  LARGE_INTEGER verifying = {};
  LARGE_INTEGER final = {};
  LPARAM code = -1;
  bool done = false;
};

LRESULT CALLBACK HostProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Host* host = reinterpret_cast<Host*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (host != nullptr && message == tovik::UM_DOWNLOAD_VERIFYING) QueryPerformanceCounter(&host->verifying);
  if (host != nullptr && (message == tovik::UM_DOWNLOAD_DONE || message == tovik::UM_DOWNLOAD_FAILED)) {
    QueryPerformanceCounter(&host->final);
    host->code = message == tovik::UM_DOWNLOAD_DONE ? 0 : lParam;
    host->done = true;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

int Run(wchar_t** argv) {
  SetEnvironmentVariableW(L"TEMP", argv[2]);
  SetEnvironmentVariableW(L"TMP", argv[2]);
  WNDCLASSW wc = {};
  wc.lpfnWndProc = HostProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"TvDownloadBench";
  RegisterClassW(&wc);
  HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  Host host;
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&host));

  PROCESS_MEMORY_COUNTERS before = {};
  before.cb = sizeof(before);
  GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof(before));

  tovik::StoredInstaller stored;
  tovik::DownloadHelper* helper = tovik::DownloadHelper::Create(hwnd, &stored);
  LARGE_INTEGER frequency, start;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  if (helper == nullptr || !helper->StartWorker()) return 2;
  MSG msg;
  while (!host.done && GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  helper->DetachContext();
  helper->Release();

  PROCESS_MEMORY_COUNTERS after = {};
  after.cb = sizeof(after);
  GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof(after));
  double total = double(host.final.QuadPart - start.QuadPart) / double(frequency.QuadPart);
  double download = double(host.verifying.QuadPart - start.QuadPart) / double(frequency.QuadPart);
  LARGE_INTEGER size = {};
  if (stored.path != nullptr) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExW(stored.path, GetFileExInfoStandard, &data)) {
      size.LowPart = data.nFileSizeLow;
      size.HighPart = static_cast<LONG>(data.nFileSizeHigh);
    }
  }
  tovik::ReleaseStoredInstaller(stored);
  double mb = double(size.QuadPart) / 1e6;
  char text[600];
  snprintf(text, sizeof(text),
           "worker result:              %ld\n"
           "installer size:             %.1f MB\n"
           "installer transfer:         %.3f s (%.1f MB/s)\n"
           "download-and-verify total:  %.3f s (%.1f MB/s)\n"
           "  of which signature, verification and store: %.3f s\n"
           "peak working set:           %.1f MB (%.1f MB before the run)\n",
           static_cast<long>(host.code), mb, download, download > 0 ? mb / download : 0.0, total,
           total > 0 ? mb / total : 0.0, total - download, after.PeakWorkingSetSize / 1e6,
           before.WorkingSetSize / 1e6);
  Print(text);
  return host.code == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 7 && wcscmp(argv[1], L"serve") == 0) return Serve(argv);
  if (argc == 3 && wcscmp(argv[1], L"run") == 0) return Run(argv);
  Print("usage: download_bench serve <installer> <signature> <crl> <ready-file> <stop-file>\n"
        "       download_bench run <temp-folder>\n");
  return 2;
}
