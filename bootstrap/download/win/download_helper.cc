#include "download_helper.h"

#include <shlwapi.h>
#include <wininet.h>

#include <new>
#include <stdio.h>
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
    case kTransferProxyAuth: return "407 proxy authentication required";
    case kTransferIncomplete: return "Body shorter than its announced length";
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

// The steps of storing the installer, as the log names them.
constexpr char kStoreSecurity[] = "Store runtime installer: private access list";
constexpr char kStoreTempFolder[] = "Store runtime installer: temporary folder";
constexpr char kStoreCreateFolder[] = "Store runtime installer: create folder";
constexpr char kStoreCreateFile[] = "Store runtime installer: create file";
constexpr char kStoreWriteFile[] = "Store runtime installer: write file";
constexpr char kStoreReopenFile[] = "Store runtime installer: open file again";
constexpr char kStoreReadBack[] = "Store runtime installer: read back file";

// Creates a new folder of its own in the temporary folder, with `security`,
// and writes its path (no trailing separator) to `folder`. Logs and answers
// false when the temporary folder is missing or leaves no room for the
// folder and the file name, or no new folder could be created.
bool CreateRunFolder(PrivateSecurity* security, wchar_t* folder) {
  folder[0] = L'\0';
  DWORD length = GetTempPathW(MAX_PATH, folder);
  if (length == 0) {
    LogStepFailed(kStoreTempFolder, nullptr, GetLastError());
    return false;
  }
  // The folder, a separator and the file name with its terminator must fit.
  // (A longer answer did not fit the buffer, which then holds nothing.)
  if (length >= MAX_PATH ||
      length + kRunFolderNameLength + 1 + sizeof(kInstallerFileName) / sizeof(wchar_t) > MAX_PATH) {
    LogStepFailed(kStoreTempFolder, length < MAX_PATH ? folder : nullptr, ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  if (folder[length - 1] != L'\\') {
    LogStepFailed(kStoreTempFolder, folder, ERROR_BAD_PATHNAME);
    return false;
  }
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
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS || attempt == 63) {
      LogStepFailed(kStoreCreateFolder, folder, error);
      return false;
    }
  }
  return false;
}

// Writes `data` to the new file `file` (`path`); logs and answers false when
// it cannot be written whole.
bool WriteWhole(HANDLE file, const wchar_t* path, const DownloadBuffer* data) {
  static const uint8_t kNothing = 0;
  DWORD written = 0;
  if (!WriteFile(file, data->data != nullptr ? data->data : &kNothing, data->size, &written, nullptr)) {
    LogStepFailed(kStoreWriteFile, path, GetLastError());
    return false;
  }
  if (written != data->size) {
    // A short write that reports success: the medium took no more.
    LogStepFailed(kStoreWriteFile, path, ERROR_DISK_FULL);
    return false;
  }
  return true;
}

// Whether the bytes read through `held` are exactly `data`; logs when not.
bool ReadsBackEqual(HANDLE held, const wchar_t* path, const DownloadBuffer* data) {
  uint8_t* chunk = new (std::nothrow) uint8_t[kCompareChunk];
  if (chunk == nullptr) {
    LogStepFailed(kStoreReadBack, path, ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  bool same = true;
  for (uint32_t offset = 0;;) {
    DWORD got = 0;
    if (!ReadFile(held, chunk, kCompareChunk, &got, nullptr)) {
      LogStepFailed(kStoreReadBack, path, GetLastError());
      same = false;
      break;
    }
    if (got == 0) {
      same = offset == data->size;
    } else {
      same = got <= data->size - offset && memcmp(chunk, data->data + offset, got) == 0;
      offset += got;
    }
    if (!same) LogStepRefused(kStoreReadBack, path, "stored bytes differ from the verified ones");
    if (got == 0 || !same) break;
  }
  delete[] chunk;
  return same;
}

// Creates `path` new with `security`, writes `data`, and opens it again for
// reading with writing and deleting shared with nobody; answers that handle
// once the file's bytes are read back equal to `data`, or
// INVALID_HANDLE_VALUE (logged, and no file stays) on any failure.
HANDLE StoreVerified(const wchar_t* path, PrivateSecurity* security, const DownloadBuffer* data) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, &security->attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    LogStepFailed(kStoreCreateFile, path, GetLastError());
    return INVALID_HANDLE_VALUE;
  }
  bool wrote = WriteWhole(file, path, data);
  CloseHandle(file);
  HANDLE held = INVALID_HANDLE_VALUE;
  if (wrote) {
    held = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) LogStepFailed(kStoreReopenFile, path, GetLastError());
  }
  // Between the two opens nobody else may open the folder's files, but the
  // bytes that will run are compared with the verified ones all the same.
  if (held == INVALID_HANDLE_VALUE || !ReadsBackEqual(held, path, data)) {
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    // Best effort: what stays cannot be run, nobody is handed its path.
    DeleteFileW(path);
    return INVALID_HANDLE_VALUE;
  }
  return held;
}

// One file as it arrives, across the requests made for it.
struct FileBody {
  uint32_t ceiling = 0;   // most bytes it may announce or grow to
  uint8_t* data = nullptr;  // owned (new[]); `held` bytes
  DWORD held = 0;
  DWORD capacity = 0;     // announced length of the whole file
  DWORD offset = 0;       // bytes stored from its start
  bool hashing = false;
  Sha256 hash;            // over the `offset` stored bytes, when hashing
  bool ranged = false;    // the current request asks for the rest
  // The server's validator of the file (a strong ETag or a Last-Modified
  // date), sent with a request for the rest; empty when it gave none.
  char validator[128] = {};
};

enum class AttemptEnd {
  kComplete,  // the whole body; or, without a length, what came
  kCut,       // the body stopped early after bytes arrived: ask for the rest
  kRetry,     // a connection that could not be made or a status worth another try
  kFinal,     // failed for good
};

// Wait before a retry that the server did not name.
constexpr DWORD kDefaultWait = 0xFFFFFFFF;

bool IsRetryableStatus(DWORD code) {
  return code == 408 || code == 429 || code == 500 || code == 502 || code == 503 || code == 504;
}

// "Range" (and "If-Range") asking for the bytes after `body`'s stored ones,
// or nothing for a body not yet begun.
void RangeHeaders(const FileBody& body, char* headers, size_t capacity) {
  headers[0] = '\0';
  if (body.offset == 0) return;
  int used = snprintf(headers, capacity, "Range: bytes=%lu-\r\n", static_cast<unsigned long>(body.offset));
  if (used > 0 && body.validator[0] != '\0' && static_cast<size_t>(used) < capacity) {
    snprintf(headers + used, capacity - used, "If-Range: %s\r\n", body.validator);
  }
}

// The wait a response asks for in whole seconds of Retry-After, cut at the
// cap; kDefaultWait when it names none (an HTTP date is not taken).
DWORD RetryAfterMs(const HttpTransfer& transfer, DWORD capMs) {
  char text[32];
  if (!transfer.QueryHeader(HTTP_QUERY_RETRY_AFTER, text, sizeof(text))) return kDefaultWait;
  const char* p = text;
  while (*p == ' ') ++p;
  if (*p < '0' || *p > '9') return kDefaultWait;
  DWORD seconds = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (seconds > capMs / 1000) return capMs;
    seconds = seconds * 10 + static_cast<DWORD>(*p - '0');
  }
  return seconds * 1000 < capMs ? seconds * 1000 : capMs;
}

void RetryReason(const HttpTransfer& transfer, int32_t status, char* reason, size_t capacity) {
  if (status == kTransferUnableToConnect) {
    snprintf(reason, capacity, "Unable to connect (error %lu)", static_cast<unsigned long>(transfer.lastError()));
  } else {
    snprintf(reason, capacity, "status %lu", static_cast<unsigned long>(transfer.status()));
  }
}

// Sleeps `ms` unless a cancel comes first; false when it did.
bool WaitUnlessCancelled(const volatile LONG& step, DWORD ms) {
  constexpr DWORD kSliceMs = 50;
  const DWORD start = GetTickCount();
  for (;;) {
    if (step == Finished) return false;
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= ms) return true;
    Sleep(ms - elapsed < kSliceMs ? ms - elapsed : kSliceMs);
  }
}

// The decimal number at *text (at most 32 bits), moving past it; false
// when there is none or it is larger.
bool TakeNumber(const char** text, DWORD* value) {
  const char* p = *text;
  if (*p < '0' || *p > '9') return false;
  uint64_t number = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    number = number * 10 + static_cast<uint64_t>(*p - '0');
    if (number > 0xFFFFFFFFu) return false;
  }
  *value = static_cast<DWORD>(number);
  *text = p;
  return true;
}

// Whether a 206 carries exactly the rest of `body`: "bytes <offset>-<last>/<capacity>".
bool ContinuesBody(const HttpTransfer& transfer, const FileBody& body) {
  char text[96];
  if (!transfer.QueryHeader(HTTP_QUERY_CONTENT_RANGE, text, sizeof(text))) return false;
  const char* p = text;
  DWORD first = 0, last = 0, total = 0;
  if (strncmp(p, "bytes ", 6) != 0) return false;
  p += 6;
  if (!TakeNumber(&p, &first) || *p++ != '-' || !TakeNumber(&p, &last) || *p++ != '/' || !TakeNumber(&p, &total)) {
    return false;
  }
  return *p == '\0' && first == body.offset && total == body.capacity && last + 1 == total;
}

// Keeps the validator the server gave for the file, when it gave one.
void TakeValidator(const HttpTransfer& transfer, FileBody* body) {
  char text[sizeof(body->validator)];
  body->validator[0] = '\0';
  // A weak tag may not stand for these exact bytes: the date then serves.
  if (transfer.QueryHeader(HTTP_QUERY_ETAG, text, sizeof(text)) && strncmp(text, "W/", 2) != 0) {
    strcpy(body->validator, text);
  } else if (transfer.QueryHeader(HTTP_QUERY_LAST_MODIFIED, text, sizeof(text))) {
    strcpy(body->validator, text);
  }
}

// Sets `body` up for a response from the file's start: its length (the
// last announced one when it names none), a buffer of that length (kept
// when it has it already), the hash anew. kTransferOk, or why not.
int32_t StartBody(DownloadHelper& helper, const HttpTransfer& transfer, FileBody* body) {
  if (transfer.hasLength()) {
    // Refused before anything is allocated: what a server announces does
    // not decide how much memory is taken.
    if (transfer.length() > body->ceiling) return kTransferAllocFailed;
    helper.totalBytes = static_cast<DWORD>(transfer.length());
  }
  // Without the header the announced length stays what it was; what is
  // held never exceeds the ceiling all the same.
  body->capacity = helper.totalBytes;
  const DWORD held = body->capacity < body->ceiling ? body->capacity : body->ceiling;
  if (held != body->held || body->data == nullptr) {
    delete[] body->data;
    body->data = held != 0 ? new (std::nothrow) uint8_t[held] : nullptr;
    body->held = body->data != nullptr ? held : 0;
    if (held != 0 && body->data == nullptr) return kTransferAllocFailed;
  }
  body->offset = 0;
  body->hash = Sha256();
  TakeValidator(transfer, body);
  return kTransferOk;
}

// Reads the body of an open response into `body` from its offset on.
AttemptEnd ReadBody(DownloadHelper& helper, HttpTransfer& transfer, bool reportProgress, FileBody* body,
                    int32_t* status) {
  for (;;) {
    // Never past the allocation, even if the offset already is.
    DWORD want = body->offset < body->held ? body->held - body->offset : 0;
    if (want > kChunk) want = kChunk;
    DWORD got = 0;
    if (want == 0) {
      if (body->held < body->capacity) {
        // Full at the ceiling while more was expected: a response that
        // grows beyond it is refused like one that announced it.
        uint8_t probe = 0;
        if (transfer.Read(&probe, 1, &got) != HttpTransfer::kOk) {
          *status = kTransferReadFailed;
          return AttemptEnd::kFinal;
        }
        if (got != 0) {
          *status = kTransferAllocFailed;
          return AttemptEnd::kFinal;
        }
      }
      return AttemptEnd::kComplete;
    }
    if (transfer.Read(body->data + body->offset, want, &got) != HttpTransfer::kOk) {
      // Closed, reset or timed out: the rest may still be had.
      *status = kTransferReadFailed;
      return body->offset != 0 ? AttemptEnd::kCut : AttemptEnd::kFinal;
    }
    if (got == 0) {
      // Some platforms end a response cut short as if it were whole; only
      // its announced length tells. Without one, what came is the body.
      if (!transfer.hasLength() || body->offset >= body->capacity) return AttemptEnd::kComplete;
      *status = kTransferIncomplete;
      return body->offset != 0 ? AttemptEnd::kCut : AttemptEnd::kFinal;
    }
    if (body->hashing) body->hash.Update(body->data + body->offset, got);
    body->offset += got;
    // The bar never runs backwards: after a restart it holds still until
    // the body passes what it showed.
    if (body->offset > helper.receivedBytes) {
      helper.receivedBytes = body->offset;
      if (reportProgress) {
        // Best effort: progress is only for the display.
        PostMessageW(helper.hostWindow, UM_DOWNLOAD_PROGRESS, static_cast<WPARAM>(body->offset),
                     static_cast<LPARAM>(body->capacity));
      }
    }
  }
}

// One request of the file: its response classified, its body read.
AttemptEnd RunAttempt(DownloadHelper& helper, HttpTransfer& transfer, const char* host, const char* path,
                      bool reportProgress, FileBody* body, int32_t* status, DWORD* waitMs) {
  *status = kTransferOk;
  body->ranged = body->offset != 0;
  // Plain HTTP on port 80, whatever the address's scheme says.
  HttpTransfer::Outcome opened = transfer.Open(host, INTERNET_DEFAULT_HTTP_PORT, false, path);
  if (opened == HttpTransfer::kUnableToConnect) {
    *status = kTransferUnableToConnect;
    *waitMs = kDefaultWait;
    return AttemptEnd::kRetry;
  }
  if (opened != HttpTransfer::kOk) {
    *status = kTransferReadFailed;
    return AttemptEnd::kFinal;
  }
  const DWORD code = transfer.status();
  AttemptEnd end = AttemptEnd::kFinal;
  if (IsRetryableStatus(code)) {
    *status = kTransferBadStatus;
    *waitMs = RetryAfterMs(transfer, ActiveDownloadLimits().retryAfterCapMs);
    end = AttemptEnd::kRetry;
  } else if (code >= 400 || (code == 206 && !body->ranged)) {
    *status = code == 404 ? kTransferNotFound : code == 407 ? kTransferProxyAuth : kTransferBadStatus;
  } else if (body->ranged && code == 206 && ContinuesBody(transfer, *body)) {
    // The rest of the same file: same buffer, same running hash.
    end = ReadBody(helper, transfer, reportProgress, body, status);
  } else {
    if (body->ranged) LogDownloadRestart();
    *status = StartBody(helper, transfer, body);
    if (*status == kTransferOk) {
      end = body->held == 0 ? AttemptEnd::kComplete : ReadBody(helper, transfer, reportProgress, body, status);
    }
  }
  // A refused response is not read to its end.
  if (end == AttemptEnd::kFinal || end == AttemptEnd::kRetry) transfer.Discard();
  return end;
}

// Hands the finished body over as a new buffer in *out (freeing an earlier
// one) and logs the outcome; kTransferOk, or kTransferAllocFailed.
int32_t TakeBody(FileBody* body, DownloadBuffer** out) {
  DownloadBuffer* buffer = new (std::nothrow) DownloadBuffer();
  if (buffer == nullptr) return kTransferAllocFailed;
  buffer->data = body->data;
  buffer->size = body->offset < body->held ? body->offset : body->held;
  if (body->hashing) {
    body->hash.Final(buffer->sha256);
    buffer->hashed = true;
  }
  body->data = nullptr;
  FreeBuffer(out);
  *out = buffer;
  if (buffer->size != 0 && body->capacity != 0) {
    LogDownloadSuccess();
  } else {
    LogDownloadFailure(StatusWord(kTransferOk));
  }
  return kTransferOk;
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
  } else {
    LogStepRefused("Build download addresses", nullptr, "platform not described or address unusable");
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
  FileBody body;
  // The signature is the one transfer into signatureData; a few kilobytes
  // are expected there, an installer may be large.
  body.ceiling = out == &signatureData ? limits.signatureCeiling : limits.installerCeiling;
  // The installer is hashed as its bytes arrive, so that its verification
  // needs no second pass over them.
  body.hashing = out == &installerData;
  int32_t status = kTransferOk;
  uint32_t retries = 0;
  uint32_t resumptions = 0;
  for (;;) {
    HttpTransfer transfer({limits.connectTimeoutMs, limits.sendTimeoutMs, limits.receiveTimeoutMs, 0,
                           limits.maxRedirects});
    char headers[sizeof(body.validator) + 64];
    RangeHeaders(body, headers, sizeof(headers));
    // Best effort: the headers always fit, and without them the answer is
    // the whole file, which starts the body again.
    transfer.SetRequestHeaders(headers);
    if (promptForCredentials) transfer.SetCredentialOwner(progressDialog);
    DWORD waitMs = 0;
    const AttemptEnd end = RunAttempt(*this, transfer, host, path, reportProgress, &body, &status, &waitMs);
    if (end == AttemptEnd::kComplete || end == AttemptEnd::kFinal || step == Finished) break;
    char reason[64];
    if (end == AttemptEnd::kRetry && retries < limits.maxRetries) {
      ++retries;
      if (waitMs == kDefaultWait) waitMs = limits.retryWaitMs << (retries - 1);
      RetryReason(transfer, status, reason, sizeof(reason));
      LogDownloadRetry(reason, retries, limits.maxRetries, waitMs);
    } else if (end == AttemptEnd::kCut && resumptions < limits.maxResumptions) {
      ++resumptions;
      waitMs = limits.resumeWaitMs;
      LogDownloadResume(body.offset, body.capacity, resumptions, limits.maxResumptions);
    } else {
      break;
    }
    if (!WaitUnlessCancelled(step, waitMs)) break;
  }

  if (status == kTransferOk) status = TakeBody(&body, out);
  if (status != kTransferOk) LogDownloadFailure(StatusWord(status));
  delete[] body.data;
  return status;
}

LONG DownloadHelper::WriteInstaller() {
  // A cancel noticed here: nothing is written.
  if (step == Finished) return kDownloadGeneralFailure;
  if (progressDialog != nullptr) {
    // Best effort: the dialog only has to be out of sight.
    ShowWindow(progressDialog, SW_HIDE);
  }
  if (installerData == nullptr) {
    LogStepRefused("Store runtime installer", nullptr, "no installer bytes");
    return kDownloadGeneralFailure;
  }

  PrivateSecurity security;
  wchar_t path[MAX_PATH];
  if (!MakePrivateSecurity(&security)) {
    LogStepFailed(kStoreSecurity, nullptr, GetLastError());
    return kDownloadGeneralFailure;
  }
  if (!CreateRunFolder(&security, path)) return kDownloadGeneralFailure;
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
  if (copy != nullptr) {
    memcpy(copy, path, chars * sizeof(wchar_t));
  } else {
    LogStepFailed("Store runtime installer: keep its path", nullptr, ERROR_NOT_ENOUGH_MEMORY);
  }

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
