#include "download_test_support.h"

#include <gtest/gtest.h>

#include <cstring>

#include "describe_platform.h"
#include "test_support.h"
#include "tv_download_test_paths.h"

namespace tvtest {

std::string Pki(const std::string& name) {
  return tvtest::ReadFileBytes(tvtest::WinPath((std::string(TV_TEST_PKI_DIR) + "/" + name).c_str()));
}

tovik::DownloadBuffer* NewBuffer(const std::string& bytes) {
  auto* b = new tovik::DownloadBuffer();
  if (!bytes.empty()) {
    b->data = new uint8_t[bytes.size()];
    memcpy(b->data, bytes.data(), bytes.size());
  }
  b->size = static_cast<uint32_t>(bytes.size());
  return b;
}

void FreeBuffer(tovik::DownloadBuffer* buffer) {
  if (buffer == nullptr) return;
  delete[] buffer->data;
  delete buffer;
}

TestHost::TestHost() {
  static const wchar_t* kClass = L"TvDownloadTestHost";
  static bool registered = false;
  if (!registered) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClass;
    RegisterClassW(&wc);
    registered = true;
  }
  hwnd_ = CreateWindowExW(0, kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), this);
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

TestHost::~TestHost() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

LRESULT CALLBACK TestHost::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<TestHost*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self != nullptr && message >= tovik::UM_DOWNLOAD_PROGRESS && message <= tovik::UM_DOWNLOAD_DONE) {
    self->posted_.push_back({message, wParam, lParam});
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

bool TestHost::WaitForFinal(DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    for (const Posted& p : posted_) {
      if (p.message == tovik::UM_DOWNLOAD_DONE || p.message == tovik::UM_DOWNLOAD_FAILED) return true;
    }
    if (GetTickCount() - start > timeoutMs) return false;
    Pump(20);
  }
}

void TestHost::Pump(DWORD ms) {
  DWORD start = GetTickCount();
  do {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  } while (GetTickCount() - start < ms);
}

static void Addresses(std::string* installer, std::string* signature) {
  char a[512];
  char b[512];
  EXPECT_TRUE(tovik::BuildDownloadAddresses(a, sizeof(a), b, sizeof(b)));
  *installer = a;
  *signature = b;
}

std::string InstallerAddress() {
  std::string a, b;
  Addresses(&a, &b);
  return a;
}

std::string SignatureAddress() {
  std::string a, b;
  Addresses(&a, &b);
  return b;
}

static std::string PathOf(const std::string& address) {
  const std::string prefix = std::string("https://") + TV_DOWNLOAD_HOST;
  return address.substr(prefix.size());
}

std::string InstallerPath() { return PathOf(InstallerAddress()); }
std::string SignaturePath() { return PathOf(SignatureAddress()); }

}  // namespace tvtest
