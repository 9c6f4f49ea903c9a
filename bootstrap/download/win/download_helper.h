// The download worker of the bootstrapper and the record it shares with the
// user interface: fetches the runtime installer and its detached signature
// over HTTP, verifies them, stores the installer in the temporary folder and
// reports to the host window with posted messages.
//
// Ownership of the record (reference counted, interlocked):
//   UI thread, WM_CREATE:   helper = DownloadHelper::Create(hwnd, &stored);  // 1 reference: the UI's
//                           helper->progressDialog = dialog;
//                           helper->StartWorker();   // takes a 2nd reference for the worker thread
//                                                    // (or: AddRef(); CreateThread(..., DownloadThreadProc,
//                                                    //  helper, ...); Release() if that fails)
//   UI thread, cancel:      helper->Cancel();        // step = Finished, cooperatively
//   UI thread, WM_DESTROY:  helper->DetachContext(); // from here on the worker never touches the context
//                           result = helper->result;
//                           helper->Release();       // drops the UI's reference
//   Worker thread:          DownloadThreadProc runs Run() and then drops the worker's reference.
// The last Release frees the record and both buffers; the UI never frees the
// buffers itself, because a worker that is still inside a transfer may be
// writing into them.
//
// The stored-installer record (`context`, the one the installation context
// holds) is written only by the worker; whoever releases it does so with
// ReleaseStoredInstaller.
#pragma once

#include <windows.h>

#include <stdint.h>

#include "exit_codes.h"
#include "stored_installer.h"

namespace tovik {

// Worker -> host window (all posted; see DownloadHelper::Run).
//   wParam: bytes received so far, lParam: bytes announced. Installer transfer only.
constexpr UINT UM_DOWNLOAD_PROGRESS = WM_USER;
//   The installer has arrived; the signature transfer comes next. wParam 0, lParam 0.
constexpr UINT UM_DOWNLOAD_VERIFYING = WM_USER + 1;
//   Final message on failure. wParam 0, lParam the code: 11, 13 or 14.
constexpr UINT UM_DOWNLOAD_FAILED = WM_USER + 2;
//   Final message on success; the record's path is set. wParam 0, lParam 0.
constexpr UINT UM_DOWNLOAD_DONE = WM_USER + 3;

// Values of DownloadHelper::step.
enum DownloadStep : LONG {
  DownloadSignature = 0,
  VerifyAndStore = 1,
  Finished = 2,  // also set by the UI to cancel
  DownloadInstaller = 3,  // initial
};

// Outcome codes of the worker (DownloadHelper::result).
constexpr LONG kDownloadOk = 0;
constexpr LONG kDownloadGeneralFailure = kExitFlowFailed;
constexpr LONG kDownloadValidationFailed = kExitValidationFailed;
constexpr LONG kDownloadNotAvailable = kExitUpdateUnavailable;

// Status of one transfer (DownloadHelper::Download).
enum DownloadStatus : int32_t {
  kTransferOk = 0,            // also an empty response
  kTransferReadFailed = 1,
  kTransferAllocFailed = 2,
  kTransferBadStatus = 3,     // HTTP 400 or above, other than 404
  kTransferUnableToConnect = 4,
  kTransferNotFound = 5,      // HTTP 404
  kTransferProxyAuth = 6,     // HTTP 407: the proxy wants credentials that were not given
  kTransferIncomplete = 7,    // the body stopped before its announced length
};

// One fetched file held in memory.
struct DownloadBuffer {
  uint8_t* data = nullptr;  // owned (new[]); absent when the announced length was 0
  uint32_t size = 0;        // bytes received into data (at most its allocated length)
  // SHA-256 of the `size` bytes of data, taken as they arrived; only when
  // `hashed` (otherwise the verification hashes data itself).
  uint8_t sha256[32] = {};
  bool hashed = false;
};

class DownloadHelper {
 public:
  // Fields shared by the UI thread and the worker, in this order.
  HWND hostWindow = nullptr;       // target of every posted message
  HWND progressDialog = nullptr;   // hidden by the worker right before it stores the file
  volatile DWORD totalBytes = 0;   // announced length of the current transfer
  volatile DWORD receivedBytes = 0;  // bytes of the current transfer so far
  StoredInstaller* context = nullptr;  // where the installer goes; not owned; see DetachContext
  volatile LONG step = DownloadInstaller;
  DownloadBuffer* installerData = nullptr;  // owned, may be absent
  DownloadBuffer* signatureData = nullptr;  // owned, may be absent
  volatile LONG result = kDownloadGeneralFailure;
  // Set by the UI before StartWorker in an interactive run: a proxy's 407
  // then shows the system's credential prompt over progressDialog.
  bool promptForCredentials = false;

  // A new record with one reference (the caller's), set up as the host window
  // hands it to the worker: counters 0, step DownloadInstaller, no buffers,
  // result 11. Null when it cannot be allocated.
  static DownloadHelper* Create(HWND hostWindow, StoredInstaller* context);

  void AddRef();
  // Drops one reference; the last one frees the record and both buffers.
  void Release();

  // Starts the worker thread with a reference of its own and closes the
  // thread handle. False (and no reference taken) when no thread was created.
  bool StartWorker();

  // Cooperative cancel: sets step to Finished; the worker starts no further
  // step, and an installer it has not yet stored is never handed to the
  // context (a file written after the cancel is deleted by the worker).
  // True when the cancel came first; false when the worker had already
  // stored the installer (its UM_DOWNLOAD_DONE is on its way or handled).
  bool Cancel();

  // Called by the UI before the context goes away: waits while the worker is
  // in the middle of storing the installer's path, then unhooks the context.
  // Afterwards the worker never reads or writes it, and deletes any installer
  // file it writes from then on.
  void DetachContext();

  // The worker sequence: builds both addresses, fetches the installer (posting
  // progress) and the signature, verifies, stores; posts exactly one final
  // message (UM_DOWNLOAD_DONE or UM_DOWNLOAD_FAILED) and returns result.
  LONG Run();

  // One file fetched by HTTP GET of `path` on `host`, port 80, plain
  // HTTP/1.0, bypassing the cache, through the system's proxy settings.
  // Reads into a buffer of the announced length (totalBytes), at most 32768
  // bytes per read; posts UM_DOWNLOAD_PROGRESS when `reportProgress` and
  // receivedBytes grows (it never falls within one call). A body that stops
  // before its announced length after bytes arrived (closed, reset or timed
  // out) is asked for again from where it stopped ("Range: bytes=N-", with
  // "If-Range" when the server gave a validator), at most maxResumptions
  // times: a 206 continues the buffer and its hash, a 200 starts it again.
  // A connection that cannot be made and the statuses 408, 429, 500, 502,
  // 503 and 504 are tried again at most maxRetries times after a wait (a
  // Retry-After of the server honoured up to its cap). A cancel (step
  // Finished) starts no further request and ends any wait at once. A
  // refused response is closed, not read. On kTransferOk a new buffer is
  // stored in *out (ownership passes; an earlier one is freed); otherwise
  // *out is untouched. Every outcome, retry and resumption is logged.
  int32_t Download(const char* host, const char* path, bool reportProgress, DownloadBuffer** out);

  // Writes installerData to "VantelRuntimeInstaller.exe" in a new folder
  // of this run in the temporary folder, which only the current user may
  // open; the file is created new, read back against the verified bytes and
  // kept open for reading with writing and deleting shared with nobody. The
  // path and that handle go to the record `context` (see ReleaseStoredInstaller).
  // Returns 0 or 11 (no data, temporary folder missing or too long, folder
  // or file not created, written or equal, or the run cancelled or detached
  // meanwhile, in which case file and folder are removed again).
  LONG WriteInstaller();

  // Verification of a downloaded installer against its detached PKCS #7
  // signature. Each answers true when the test passed; every failure is
  // logged as the log's messages say.
  //
  // The whole decision: signature over exactly the installer bytes, the
  // signer's key usage and names, and its chain up to the compiled-in root.
  // When `step` is given, a cancel (*step == Finished) noticed between CRL
  // fetches fails the decision without further fetches.
  static bool VerifyDetachedSignature(const DownloadBuffer* installer, const DownloadBuffer* signature,
                                      const volatile LONG* step = nullptr);
  // The signer carries the maker's usage identifier in its enhanced key
  // usage (and at least two extensions).
  static bool VerifyEKU(PCCERT_CONTEXT cert);
  // Country, common name, organisation and organisational unit, in order.
  static bool VerifySignerName(PCCERT_CONTEXT cert);
  // One subject attribute (`oid`) equals `value` exactly.
  static bool VerifyDNField(PCCERT_CONTEXT cert, const char* oid, const wchar_t* value);
  // Walks from `signer` through the certificates carried in `signature` up
  // to the compiled-in root, testing signature and validity at each link
  // and that every issuer (the root included) is a CA whose path-length
  // limit allows the certificates below it. Only a chain that reached the
  // root is then tested for revocation, below its top, with at most
  // kMaxCrlAddresses CRL addresses fetched in all; a cancel seen through
  // `step` between fetches fails the chain. At most kMaxChainLinks links
  // are walked (signer_rules.h).
  static bool VerifyCertChain(const DownloadBuffer* signature, PCCERT_CONTEXT signer,
                              const volatile LONG* step = nullptr);
  // What the revocation checks of one chain may still fetch, and where a
  // cancel shows (null: none).
  struct CrlBudget {
    int addressesLeft;
    const volatile LONG* step;
  };
  // Fetches the CRLs named by `cert`'s distribution points, one address per
  // unit of `budget`, none once a cancel shows; keeps only those whose
  // issuer name is `issuer`'s subject and whose signature `issuer`'s key
  // verifies. True when at least one was kept: then *crls is a process-heap
  // array of *count CRL infos plus a terminating null, owned by the caller,
  // whose entries stay valid while the matching contexts in *contexts live;
  // release both with FreeCrls.
  static bool RetrieveCrls(PCCERT_CONTEXT cert, PCCERT_CONTEXT issuer, CrlBudget* budget, PCRL_INFO** crls,
                           PCCRL_CONTEXT** contexts, DWORD* count);
  static void FreeCrls(PCRL_INFO* crls, PCCRL_CONTEXT* contexts, DWORD count);

  static constexpr int kMaxCrlAddresses = 8;

 private:
  DownloadHelper() = default;
  ~DownloadHelper();
  DownloadHelper(const DownloadHelper&) = delete;
  DownloadHelper& operator=(const DownloadHelper&) = delete;

  volatile LONG references_ = 1;
};

// Thread procedure of the worker: runs Run() on the record and then drops
// the worker's reference to it. Returns Run's result, or -1 (0xFFFFFFFF)
// when given no record.
DWORD WINAPI DownloadThreadProc(LPVOID helper);

}  // namespace tovik
