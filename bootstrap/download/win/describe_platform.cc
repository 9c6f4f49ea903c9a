#include "describe_platform.h"

#include <windows.h>

#ifndef TOVIK_DOWNLOAD_HOST
#error "TOVIK_DOWNLOAD_HOST must name the download server"
#endif

namespace tovik {

namespace {

// An address is at most 50 characters besides the host name; both must fit
// the worker's 512-character buffers.
static_assert(sizeof(TOVIK_DOWNLOAD_HOST) - 1 + 50 < 512, "TOVIK_DOWNLOAD_HOST is too long");

class SystemVerifier final : public VersionVerifier {
 public:
  bool AtLeast(int32_t major, int32_t minor) override {
    OSVERSIONINFOEXW info = Info();
    info.dwMajorVersion = static_cast<DWORD>(major);
    info.dwMinorVersion = static_cast<DWORD>(minor);
    info.wServicePackMajor = 0;
    DWORDLONG mask = 0;
    mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&info, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, mask) != FALSE;
  }

  bool Exactly(int32_t major, int32_t minor) override {
    OSVERSIONINFOEXW info = Info();
    info.dwMajorVersion = static_cast<DWORD>(major);
    info.dwMinorVersion = static_cast<DWORD>(minor);
    DWORDLONG mask = 0;
    mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_EQUAL);
    mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_EQUAL);
    return VerifyVersionInfoW(&info, VER_MAJORVERSION | VER_MINORVERSION, mask) != FALSE;
  }

  bool IsServer() override {
    OSVERSIONINFOEXW info = Info();
    info.wProductType = VER_NT_WORKSTATION;
    DWORDLONG mask = VerSetConditionMask(0, VER_PRODUCT_TYPE, VER_EQUAL);
    return VerifyVersionInfoW(&info, VER_PRODUCT_TYPE, mask) == FALSE;
  }

  bool HasHomeServerSuite() override {
    OSVERSIONINFOEXW info = Info();
    info.wSuiteMask = VER_SUITE_WH_SERVER;
    DWORDLONG mask = VerSetConditionMask(0, VER_SUITENAME, VER_AND);
    return VerifyVersionInfoW(&info, VER_SUITENAME, mask) != FALSE;
  }

  bool IsNativeAmd64() override {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return false;
    SYSTEM_INFO system = {};
    // Looked up at run time: the entry point is missing on the oldest systems.
    using NativeInfoFn = void(WINAPI*)(LPSYSTEM_INFO);
    FARPROC proc = GetProcAddress(kernel, "GetNativeSystemInfo");
    if (proc != nullptr) {
      reinterpret_cast<NativeInfoFn>(reinterpret_cast<void*>(proc))(&system);
    } else {
      GetSystemInfo(&system);
    }
    return system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
  }

 private:
  static OSVERSIONINFOEXW Info() {
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    return info;
  }
};

}  // namespace

void DescribePlatform(PlatformDescriptor* descriptor) {
  *descriptor = PlatformDescriptor{};
  SystemVerifier verifier;
  ClassifyWindows(verifier, descriptor);
}

bool BuildDownloadAddresses(char* installer, size_t installerCapacity, char* signature,
                            size_t signatureCapacity) {
  PlatformDescriptor descriptor;
  DescribePlatform(&descriptor);
  return FormatDownloadAddresses(descriptor, TOVIK_DOWNLOAD_HOST, installer, installerCapacity, signature,
                                 signatureCapacity);
}

const char* DownloadHost() { return TOVIK_DOWNLOAD_HOST; }

}  // namespace tovik
