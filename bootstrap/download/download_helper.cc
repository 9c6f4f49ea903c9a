#include "download_helper.h"

#include <shlwapi.h>
#include <wininet.h>

#include <new>
#include <string.h>

#include "describe_platform.h"
#include "log.h"

namespace tovik {

namespace {

constexpr char kAgent[] = "Tessaro Vantel Bootstrapper32.0.0.116";
constexpr wchar_t kInstallerFileName[] = L"VantelRuntimeInstaller.exe";
constexpr DWORD kAddressCapacity = 512;
constexpr DWORD kChunk = 32768;

// Marks the context as taken while the worker stores the installer's path,
// so that DetachContext waits for the store to finish.
char gContextBusyMarker;
InstallContext* ContextBusy() { return reinterpret_cast<InstallContext*>(&gContextBusyMarker); }

void* volatile* ContextSlot(InstallContext** slot) { return reinterpret_cast<void* volatile*>(slot); }

void FreeBuffer(DownloadBuffer** buffer) {
  if (*buffer == nullptr) return;
  delete[] (*buffer)->data;
  delete *buffer;
  *buffer = nullptr;
}

const char* StatusWord(int32_t status) {
  switch (status) {
    case kTransferOk: return "No error";
    case kTransferReadFailed: return "Internet read failed";
    case kTransferAllocFailed: return "Memory alloc failed";
    case kTransferBadStatus: return "Bad status";
    case kTransferUnableToConnect: return "Unable to connect";
    case kTransferNotFound: return "404 not found";
    default: return "Unable to connect";
  }
}

// The host name of `address` into `host`, and where the request path starts
// in `address` (right after the host name). False when there is no host.
bool SplitAddress(const char* address, char* host, const char** path) {
  DWORD length = kAddressCapacity;
  if (FAILED(UrlGetPartA(address, host, &length, URL_PART_HOSTNAME, 0)) || host[0] == '\0') return false;
  // Look for the host after the scheme, so that a host name that also occurs
  // in "https" cannot move the path into the scheme.
  const char* afterScheme = strstr(address, "://");
  const char* at = strstr(afterScheme != nullptr ? afterScheme + 3 : address, host);
  if (at == nullptr) return false;
  *path = at + strlen(host);
  return true;
}

}  // namespace

DownloadHelper* DownloadHelper::Create(HWND hostWindow, InstallContext* context) {
  DownloadHelper* helper = new (std::nothrow) DownloadHelper();
  if (helper == nullptr) return nullptr;
  helper->hostWindow = hostWindow;
  helper->context = context;
  return helper;
}

DownloadHelper::~DownloadHelper() {
  FreeBuffer(&installerData);
  FreeBuffer(&signatureData);
}

void DownloadHelper::AddRef() { InterlockedIncrement(&references_); }

void DownloadHelper::Release() {
  if (InterlockedDecrement(&references_) == 0) delete this;
}

bool DownloadHelper::StartWorker() {
  AddRef();
  HANDLE thread = CreateThread(nullptr, 0, DownloadThreadProc, this, 0, nullptr);
  if (thread == nullptr) {
    Release();
    return false;
  }
  // The worker is never joined; it drops its own reference when it ends.
  CloseHandle(thread);
  return true;
}

bool DownloadHelper::Cancel() {
  // The worker moves from VerifyAndStore to Finished in the same atomic step
  // in which it claims the right to hand the installer over, so exactly one
  // of the two wins.
  for (;;) {
    LONG seen = step;
    if (seen == Finished) return false;
    if (InterlockedCompareExchange(&step, Finished, seen) == seen) return true;
  }
}

void DownloadHelper::DetachContext() {
  for (;;) {
    void* seen = *ContextSlot(&context);
    if (seen == ContextBusy()) {
      // The worker holds it only for the copy of one path.
      Sleep(1);
      continue;
    }
    if (InterlockedCompareExchangePointer(ContextSlot(&context), nullptr, seen) == seen) return;
  }
}

LONG DownloadHelper::Run() {
  result = kDownloadGeneralFailure;
  char installerAddress[kAddressCapacity];
  char signatureAddress[kAddressCapacity];
  char installerHost[kAddressCapacity];
  char signatureHost[kAddressCapacity];
  const char* installerPath = nullptr;
  const char* signaturePath = nullptr;
  if (BuildDownloadAddresses(installerAddress, kAddressCapacity, signatureAddress, kAddressCapacity) &&
      SplitAddress(installerAddress, installerHost, &installerPath) &&
      SplitAddress(signatureAddress, signatureHost, &signaturePath)) {
    result = kDownloadOk;
  }

  bool stored = false;
  while (result == kDownloadOk) {
    LONG current = step;
    if (current == DownloadInstaller) {
      LogDownloadBegin("runtime", installerAddress);
      int32_t status = Download(installerHost, installerPath, true, &installerData);
      if (status == kTransferOk) {
        // A cancel that came during the transfer stays in force.
        InterlockedCompareExchange(&step, DownloadSignature, DownloadInstaller);
        receivedBytes = 0;
        // Best effort: a host window that is gone no longer needs to know.
        PostMessageW(hostWindow, UM_DOWNLOAD_VERIFYING, 0, 0);
      } else {
        result = status == kTransferNotFound ? kDownloadNotAvailable : kDownloadGeneralFailure;
      }
    } else if (current == DownloadSignature) {
      LogDownloadBegin("signature", signatureAddress);
      int32_t status = Download(signatureHost, signaturePath, false, &signatureData);
      if (status == kTransferOk) {
        InterlockedCompareExchange(&step, VerifyAndStore, DownloadSignature);
      } else {
        result = status == kTransferNotFound ? kDownloadNotAvailable : kDownloadGeneralFailure;
      }
    } else if (current == VerifyAndStore) {
      result = kDownloadValidationFailed;
      if (VerifyDetachedSignature(installerData, signatureData)) result = WriteInstaller();
      stored = result == kDownloadOk;
      FreeBuffer(&installerData);
      FreeBuffer(&signatureData);
      InterlockedExchange(&step, Finished);
    } else {
      break;
    }
  }

  // Left by a cancel before anything was stored: that is no success.
  if (result == kDownloadOk && !stored) result = kDownloadGeneralFailure;

  // Best effort: what is posted after the host window is gone is lost.
  if (result == kDownloadOk) {
    PostMessageW(hostWindow, UM_DOWNLOAD_DONE, 0, 0);
  } else {
    PostMessageW(hostWindow, UM_DOWNLOAD_FAILED, 0, static_cast<LPARAM>(result));
  }
  return result;
}

int32_t DownloadHelper::Download(const char* host, const char* path, bool reportProgress, DownloadBuffer** out) {
  int32_t status = kTransferUnableToConnect;
  HINTERNET internet = nullptr;
  HINTERNET connection = nullptr;
  HINTERNET request = nullptr;
  uint8_t* data = nullptr;

  do {
    internet = InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (internet == nullptr) break;
    connection = InternetConnectA(internet, host, INTERNET_DEFAULT_HTTP_PORT, nullptr, nullptr,
                                  INTERNET_SERVICE_HTTP, 0, 0);
    if (connection == nullptr) break;
    // Plain HTTP (no INTERNET_FLAG_SECURE), always from the server and never
    // kept in the cache.
    request = HttpOpenRequestA(connection, "GET", path, "HTTP/1.0", nullptr, nullptr,
                               INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (request == nullptr) break;
    if (!HttpSendRequestA(request, nullptr, 0, nullptr, 0)) break;

    DWORD code = 0;
    DWORD length = sizeof(code);
    if (HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &length, nullptr) &&
        code >= 400) {
      status = code == 404 ? kTransferNotFound : kTransferBadStatus;
      break;
    }

    // Without the header the announced length stays what it was.
    DWORD announced = 0;
    length = sizeof(announced);
    if (HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &announced, &length,
                       nullptr)) {
      totalBytes = announced;
    }

    status = kTransferOk;
    const DWORD capacity = totalBytes;
    if (capacity != 0) {
      data = new (std::nothrow) uint8_t[capacity];
      if (data == nullptr) {
        status = kTransferAllocFailed;
        break;
      }
      for (;;) {
        DWORD offset = receivedBytes;
        // Never past the allocation, even if the counter already is.
        DWORD want = offset < capacity ? capacity - offset : 0;
        if (want > kChunk) want = kChunk;
        DWORD got = 0;
        if (!InternetReadFile(request, want != 0 ? data + offset : data, want, &got)) {
          status = kTransferReadFailed;
          break;
        }
        if (got == 0) break;
        if (got > want) {
          // Never happens with a sound platform; refuse rather than trust it.
          status = kTransferReadFailed;
          break;
        }
        receivedBytes = offset + got;
        if (reportProgress) {
          // Best effort: progress is only for the display.
          PostMessageW(hostWindow, UM_DOWNLOAD_PROGRESS, static_cast<WPARAM>(receivedBytes),
                       static_cast<LPARAM>(capacity));
        }
      }
      if (status != kTransferOk) break;
    }

    DownloadBuffer* buffer = new (std::nothrow) DownloadBuffer();
    if (buffer == nullptr) {
      status = kTransferAllocFailed;
      break;
    }
    buffer->data = data;
    buffer->size = receivedBytes < capacity ? receivedBytes : capacity;
    data = nullptr;
    FreeBuffer(out);
    *out = buffer;
    if (receivedBytes != 0 && totalBytes != 0) {
      LogDownloadSuccess();
    } else {
      LogDownloadFailure(StatusWord(kTransferOk));
    }
  } while (false);

  if (status != kTransferOk) LogDownloadFailure(StatusWord(status));
  delete[] data;
  if (request != nullptr) InternetCloseHandle(request);
  if (connection != nullptr) InternetCloseHandle(connection);
  if (internet != nullptr) InternetCloseHandle(internet);
  return status;
}

LONG DownloadHelper::WriteInstaller() {
  // A cancel noticed here: nothing is written.
  if (step == Finished) return kDownloadGeneralFailure;
  if (progressDialog != nullptr) {
    // Best effort: the dialog only has to be out of sight.
    ShowWindow(progressDialog, SW_HIDE);
  }
  if (installerData == nullptr) return kDownloadGeneralFailure;

  wchar_t path[MAX_PATH];
  DWORD length = GetTempPathW(MAX_PATH, path);
  // The file name and its separator must fit behind the folder.
  if (length == 0 || length + 27 >= MAX_PATH) return kDownloadGeneralFailure;
  if (!PathAppendW(path, kInstallerFileName)) return kDownloadGeneralFailure;

  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kDownloadGeneralFailure;
  static const uint8_t kNothing = 0;
  DWORD written = 0;
  BOOL wrote = WriteFile(file, installerData->data != nullptr ? installerData->data : &kNothing,
                         installerData->size, &written, nullptr);
  CloseHandle(file);
  if (!wrote || written != installerData->size) {
    // Best effort: a partial installer must not stay behind.
    DeleteFileW(path);
    return kDownloadGeneralFailure;
  }

  size_t chars = wcslen(path) + 1;
  wchar_t* copy = new (std::nothrow) wchar_t[chars];
  if (copy != nullptr) memcpy(copy, path, chars * sizeof(wchar_t));

  // Hand the path over only if neither a cancel nor the teardown came first.
  InstallContext* owner = static_cast<InstallContext*>(InterlockedExchangePointer(ContextSlot(&context), ContextBusy()));
  bool handOver = owner != nullptr && copy != nullptr &&
                  InterlockedCompareExchange(&step, Finished, VerifyAndStore) == VerifyAndStore;
  if (handOver) {
    delete[] owner->installerPath;
    owner->installerPath = copy;
    copy = nullptr;
  }
  InterlockedExchangePointer(ContextSlot(&context), owner);
  delete[] copy;
  if (!handOver) {
    // Best effort: nothing may run an installer that nobody asked for any more.
    DeleteFileW(path);
    return kDownloadGeneralFailure;
  }
  return kDownloadOk;
}

DWORD WINAPI DownloadThreadProc(LPVOID parameter) {
  if (parameter == nullptr) return static_cast<DWORD>(-1);
  DownloadHelper* helper = static_cast<DownloadHelper*>(parameter);
  LONG result = helper->Run();
  helper->Release();
  return static_cast<DWORD>(result);
}

}  // namespace tovik
