#include "download_helper.h"

#include <shlwapi.h>
#include <wininet.h>

#include <new>
#include <string.h>

#include "describe_platform.h"
#include "download_limits.h"
#include "http_transfer.h"
#include "log.h"
#include "sha256.h"

namespace tovik {

namespace {

constexpr wchar_t kInstallerFileName[] = L"VantelRuntimeInstaller.exe";
constexpr DWORD kAddressCapacity = 512;
constexpr DWORD kChunk = 32768;
// The stored file is read back against the verified bytes in pieces of this
// size: few reads, and little memory beside the installer.
constexpr DWORD kCompareChunk = 1024 * 1024;

// Marks the context as taken while the worker stores the installer's path,
// so that DetachContext waits for the store to finish.
char gContextBusyMarker;
StoredInstaller* ContextBusy() { return reinterpret_cast<StoredInstaller*>(&gContextBusyMarker); }

void* volatile* ContextSlot(StoredInstaller** slot) { return reinterpret_cast<void* volatile*>(slot); }

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

// A security descriptor that grants the current user everything and nobody
// else anything, inherited by what is created inside and not taking the
// parent's entries.
struct PrivateSecurity {
  alignas(void*) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  alignas(void*) BYTE acl[sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE];
  SECURITY_DESCRIPTOR descriptor;
  SECURITY_ATTRIBUTES attributes;
};

bool MakePrivateSecurity(PrivateSecurity* security) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  DWORD size = 0;
  BOOL got = GetTokenInformation(token, TokenUser, security->user, sizeof(security->user), &size);
  CloseHandle(token);
  if (!got) return false;
  PSID user = reinterpret_cast<TOKEN_USER*>(security->user)->User.Sid;
  PACL acl = reinterpret_cast<PACL>(security->acl);
  if (!InitializeAcl(acl, sizeof(security->acl), ACL_REVISION) ||
      !AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS, user) ||
      !InitializeSecurityDescriptor(&security->descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&security->descriptor, TRUE, acl, FALSE) ||
      !SetSecurityDescriptorControl(&security->descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
    return false;
  }
  security->attributes.nLength = sizeof(security->attributes);
  security->attributes.lpSecurityDescriptor = &security->descriptor;
  security->attributes.bInheritHandle = FALSE;
  return true;
}

// "tovik-" and eight hexadecimal digits.
constexpr size_t kRunFolderNameLength = 14;

// Creates a new folder of its own in the temporary folder, with `security`,
// and writes its path (no trailing separator) to `folder`. False when the
// temporary folder is missing or leaves no room for the folder and the file
// name, or no new folder could be created.
bool CreateRunFolder(PrivateSecurity* security, wchar_t* folder) {
  DWORD length = GetTempPathW(MAX_PATH, folder);
  // The folder, a separator and the file name with its terminator must fit.
  if (length == 0 || length >= MAX_PATH ||
      length + kRunFolderNameLength + 1 + sizeof(kInstallerFileName) / sizeof(wchar_t) > MAX_PATH) {
    return false;
  }
  if (folder[length - 1] != L'\\') return false;
  static volatile LONG counter = 0;
  DWORD seed = GetCurrentProcessId() * 2654435761u ^ GetTickCount();
  for (int attempt = 0; attempt < 64; ++attempt) {
    DWORD value = seed + static_cast<DWORD>(InterlockedIncrement(&counter)) * 40503u;
    wchar_t* p = folder + length;
    memcpy(p, L"tovik-", 6 * sizeof(wchar_t));
    for (int i = 0; i < 8; ++i) p[6 + i] = L"0123456789abcdef"[(value >> (28 - 4 * i)) & 0xF];
    p[kRunFolderNameLength] = L'\0';
    // Never an existing folder: whatever someone else made there is not ours.
    if (CreateDirectoryW(folder, &security->attributes)) return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

// Creates `path` new with `security`, writes `data`, and opens it again for
// reading with writing and deleting shared with nobody; answers that handle
// once the file's bytes are read back equal to `data`, or
// INVALID_HANDLE_VALUE (and no file stays) on any failure.
HANDLE StoreVerified(const wchar_t* path, PrivateSecurity* security, const DownloadBuffer* data) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, &security->attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
  static const uint8_t kNothing = 0;
  DWORD written = 0;
  BOOL wrote = WriteFile(file, data->data != nullptr ? data->data : &kNothing, data->size, &written, nullptr);
  CloseHandle(file);
  HANDLE held = INVALID_HANDLE_VALUE;
  if (wrote && written == data->size) {
    held = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  // Between the two opens nobody else may open the folder's files, but the
  // bytes that will run are compared with the verified ones all the same.
  bool same = held != INVALID_HANDLE_VALUE;
  uint8_t* chunk = same ? new (std::nothrow) uint8_t[kCompareChunk] : nullptr;
  if (chunk == nullptr) same = false;
  for (uint32_t offset = 0; same;) {
    DWORD got = 0;
    if (!ReadFile(held, chunk, kCompareChunk, &got, nullptr)) {
      same = false;
    } else if (got == 0) {
      same = offset == data->size;
      break;
    } else {
      same = got <= data->size - offset && memcmp(chunk, data->data + offset, got) == 0;
      offset += got;
    }
  }
  delete[] chunk;
  if (!same) {
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    // Best effort: what stays cannot be run, nobody is handed its path.
    DeleteFileW(path);
    return INVALID_HANDLE_VALUE;
  }
  return held;
}

}  // namespace

DownloadHelper* DownloadHelper::Create(HWND hostWindow, StoredInstaller* context) {
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
      if (VerifyDetachedSignature(installerData, signatureData, &step)) {
        result = WriteInstaller();
      } else if (step == Finished) {
        // Cut short by a cancel: that is no verdict on the installer.
        result = kDownloadGeneralFailure;
      }
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
  const DownloadLimits& limits = ActiveDownloadLimits();
  // The signature is the one transfer into signatureData; a few kilobytes
  // are expected there, an installer may be large.
  const uint32_t ceiling = out == &signatureData ? limits.signatureCeiling : limits.installerCeiling;
  HttpTransfer transfer({limits.connectTimeoutMs, limits.sendTimeoutMs, limits.receiveTimeoutMs, 0,
                         limits.maxRedirects});
  int32_t status = kTransferOk;
  uint8_t* data = nullptr;
  // The installer is hashed as its bytes arrive, so that its verification
  // needs no second pass over them (a transfer that does not start at
  // offset 0 is not: the verification then takes that pass).
  const bool hashing = out == &installerData && receivedBytes == 0;
  Sha256 hash;

  do {
    // Plain HTTP on port 80, whatever the address's scheme says.
    HttpTransfer::Outcome opened = transfer.Open(host, INTERNET_DEFAULT_HTTP_PORT, false, path);
    if (opened != HttpTransfer::kOk) {
      status = opened == HttpTransfer::kUnableToConnect ? kTransferUnableToConnect : kTransferReadFailed;
      break;
    }
    DWORD code = transfer.status();
    if (code >= 400) {
      status = code == 404 ? kTransferNotFound : kTransferBadStatus;
      break;
    }

    if (transfer.hasLength()) {
      // Refused before anything is allocated: what a server announces does
      // not decide how much memory is taken.
      if (transfer.length() > ceiling) {
        status = kTransferAllocFailed;
        break;
      }
      totalBytes = static_cast<DWORD>(transfer.length());
    }
    // Without the header the announced length stays what it was; what is
    // held never exceeds the ceiling all the same.
    const DWORD capacity = totalBytes;
    const DWORD held = capacity < ceiling ? capacity : ceiling;
    if (held != 0) {
      data = new (std::nothrow) uint8_t[held];
      if (data == nullptr) {
        status = kTransferAllocFailed;
        break;
      }
      for (;;) {
        DWORD offset = receivedBytes;
        // Never past the allocation, even if the counter already is.
        DWORD want = offset < held ? held - offset : 0;
        if (want > kChunk) want = kChunk;
        DWORD got = 0;
        if (want == 0) {
          if (held < capacity) {
            // Full at the ceiling while more was expected: a response that
            // grows beyond it is refused like one that announced it.
            uint8_t probe = 0;
            if (transfer.Read(&probe, 1, &got) != HttpTransfer::kOk) {
              status = kTransferReadFailed;
            } else if (got != 0) {
              status = kTransferAllocFailed;
            }
          }
          break;
        }
        if (transfer.Read(data + offset, want, &got) != HttpTransfer::kOk) {
          status = kTransferReadFailed;
          break;
        }
        if (got == 0) break;
        if (hashing) hash.Update(data + offset, got);
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
    buffer->size = receivedBytes < held ? receivedBytes : held;
    if (hashing) {
      hash.Final(buffer->sha256);
      buffer->hashed = true;
    }
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

  PrivateSecurity security;
  wchar_t path[MAX_PATH];
  if (!MakePrivateSecurity(&security) || !CreateRunFolder(&security, path)) return kDownloadGeneralFailure;
  const size_t folderLength = wcslen(path);
  path[folderLength] = L'\\';
  memcpy(path + folderLength + 1, kInstallerFileName, sizeof(kInstallerFileName));

  HANDLE held = StoreVerified(path, &security, installerData);
  if (held == INVALID_HANDLE_VALUE) {
    path[folderLength] = L'\0';
    // Best effort: the folder is empty and ours.
    RemoveDirectoryW(path);
    return kDownloadGeneralFailure;
  }

  size_t chars = wcslen(path) + 1;
  wchar_t* copy = new (std::nothrow) wchar_t[chars];
  if (copy != nullptr) memcpy(copy, path, chars * sizeof(wchar_t));

  // Hand the path over only if neither a cancel nor the teardown came first.
  StoredInstaller* owner = static_cast<StoredInstaller*>(InterlockedExchangePointer(ContextSlot(&context), ContextBusy()));
  bool handOver = owner != nullptr && copy != nullptr &&
                  InterlockedCompareExchange(&step, Finished, VerifyAndStore) == VerifyAndStore;
  if (handOver) {
    ReleaseStoredInstaller(*owner);
    owner->path = copy;
    owner->file = held;
    copy = nullptr;
    held = INVALID_HANDLE_VALUE;
  }
  InterlockedExchangePointer(ContextSlot(&context), owner);
  delete[] copy;
  if (!handOver) {
    // Nothing may run an installer that nobody asked for any more.
    RemoveStoredInstaller(path, held);
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
