// The download worker against the fixture server, driven by a message-only
// host window: posted messages, log lines, requests and the stored file.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "download_helper.h"
#include "download_limits.h"
#include "download_test_support.h"
#include "http_fixture.h"
#include "log_reader.h"
#include "test_support.h"
#include "tv_version.h"

namespace {

using Lines = std::vector<std::string>;
using tovik::DownloadHelper;

constexpr char kAgent[] = "Tessaro Vantel Bootstrapper" TV_VERSION_TEXT;
constexpr DWORD kRetryWaitMs = 200;

std::string BeginRuntime() { return "Begin runtime download from " + tvtest::InstallerAddress(); }
std::string BeginSignature() { return "Begin signature download from " + tvtest::SignatureAddress(); }

// The worker's non-progress messages in order, e.g. {"VERIFYING", "FAILED 14"}.
std::vector<std::string> Milestones(const std::vector<tvtest::Posted>& posted) {
  std::vector<std::string> out;
  for (const auto& p : posted) {
    if (p.message == tovik::UM_DOWNLOAD_VERIFYING) out.push_back("VERIFYING " + std::to_string(p.wParam) + " " + std::to_string(p.lParam));
    if (p.message == tovik::UM_DOWNLOAD_DONE) out.push_back("DONE " + std::to_string(p.wParam) + " " + std::to_string(p.lParam));
    if (p.message == tovik::UM_DOWNLOAD_FAILED) out.push_back("FAILED " + std::to_string(p.wParam) + " " + std::to_string(p.lParam));
  }
  return out;
}

// Progress comes first, grows with every chunk of at most 32768 bytes, carries
// the announced length and ends at `lastReceived`.
void ExpectProgress(const std::vector<tvtest::Posted>& posted, size_t announced, size_t lastReceived) {
  WPARAM previous = 0;
  size_t count = 0;
  bool afterOthers = false;
  for (const auto& p : posted) {
    if (p.message != tovik::UM_DOWNLOAD_PROGRESS) {
      afterOthers = true;
      continue;
    }
    ++count;
    EXPECT_FALSE(afterOthers) << "progress after another message";
    EXPECT_GT(p.wParam, previous);
    EXPECT_LE(p.wParam - previous, 32768u);
    EXPECT_EQ(static_cast<size_t>(p.lParam), announced);
    previous = p.wParam;
  }
  EXPECT_GE(count, (lastReceived + 32767) / 32768);
  EXPECT_EQ(static_cast<size_t>(previous), lastReceived);
}

size_t ProgressCount(const std::vector<tvtest::Posted>& posted) {
  size_t n = 0;
  for (const auto& p : posted) n += p.message == tovik::UM_DOWNLOAD_PROGRESS;
  return n;
}

class Worker : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.listening()) << "port 80 is taken";
    installer_ = tvtest::Pki("installer.bin");
    signature_ = tvtest::Pki("good.p7");
    server_.Serve("/crl/inter.crl", tvtest::Pki("inter.crl"));
    SetTemp(temp_.path());
    // Retries and resumptions wait a tenth of the product's time here.
    tovik::DownloadLimits limits = tovik::kDownloadLimits;
    limits.retryWaitMs = kRetryWaitMs;
    limits.resumeWaitMs = 100;
    tovik::OverrideDownloadLimits(&limits);
  }

  void TearDown() override {
    tovik::OverrideDownloadLimits(nullptr);
    SetTemp(L"");
    tovik::ReleaseStoredInstaller(stored_);
  }

  static void SetTemp(const std::wstring& folder) {
    const wchar_t* value = folder.empty() ? nullptr : folder.c_str();
    SetEnvironmentVariableW(L"TEMP", value);
    SetEnvironmentVariableW(L"TMP", value);
  }

  void ServeBoth() {
    server_.Serve(tvtest::InstallerPath(), installer_);
    server_.Serve(tvtest::SignaturePath(), signature_);
  }

  // Starts the worker the way the host window does; the test keeps a
  // reference (the UI's) and the thread handle.
  void Start() {
    helper_ = DownloadHelper::Create(host_.hwnd(), &stored_);
    ASSERT_NE(helper_, nullptr);
    helper_->AddRef();
    thread_ = CreateThread(nullptr, 0, tovik::DownloadThreadProc, helper_, 0, nullptr);
    ASSERT_NE(thread_, nullptr);
  }

  // Waits for the final message and the thread; returns the thread's exit code.
  DWORD Finish() {
    EXPECT_TRUE(host_.WaitForFinal());
    EXPECT_EQ(WaitForSingleObject(thread_, 60000), WAIT_OBJECT_0);
    DWORD code = 0xDEAD;
    GetExitCodeThread(thread_, &code);
    CloseHandle(thread_);
    thread_ = nullptr;
    host_.Pump(50);  // nothing more may arrive
    helper_->DetachContext();
    helper_->Release();
    helper_ = nullptr;
    return code;
  }

  DWORD RunWorker() {
    Start();
    return Finish();
  }

  // Pumps until the server has seen a request for `target`.
  bool WaitForRequest(const std::string& target, DWORD timeoutMs = 20000) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
      for (const auto& t : server_.RequestedTargets()) {
        if (t == target) return true;
      }
      host_.Pump(10);
    }
    return false;
  }

  // Nothing of the run is left in the temporary folder.
  bool TempIsEmpty() const { return tvtest::ListDir(temp_.path()).empty(); }

  tvtest::HttpFixture server_;
  tvtest::TempDir temp_{L"worker"};
  tvtest::TestHost host_;
  tovik::StoredInstaller stored_;
  DownloadHelper* helper_ = nullptr;
  HANDLE thread_ = nullptr;
  std::string installer_;
  std::string signature_;
};

TEST_F(Worker, SuccessfulRun) {
  ServeBoth();
  tvtest::TovikLogTail log;
  EXPECT_EQ(RunWorker(), 0u);

  ExpectProgress(host_.posted(), installer_.size(), installer_.size());
  EXPECT_EQ(Milestones(host_.posted()), (std::vector<std::string>{"VERIFYING 0 0", "DONE 0 0"}));
  EXPECT_EQ(log.Lines(), (Lines{BeginRuntime(), "Download success", BeginSignature(), "Download success",
                                "Detached signature verified", "Begin cert chain validation",
                                "Begin crl download from http://127.0.0.1/crl/inter.crl", "Download success",
                                "Cert chain validation succeeded"}));

  // Plain HTTP/1.0 GETs on port 80 although the addresses say https.
  auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].target, tvtest::InstallerPath());
  EXPECT_EQ(requests[1].target, tvtest::SignaturePath());
  EXPECT_EQ(requests[2].target, "/crl/inter.crl");
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(requests[i].method, "GET");
    EXPECT_EQ(requests[i].version, "HTTP/1.0");
    EXPECT_EQ(requests[i].Header("User-Agent"), kAgent);
    EXPECT_EQ(requests[i].Header("Host"), "127.0.0.1");
  }

  // In a folder of its own below the temporary folder, under its fixed name.
  ASSERT_NE(stored_.path, nullptr);
  const std::wstring stored = stored_.path;
  const std::wstring folder = stored.substr(0, stored.rfind(L'\\'));
  EXPECT_EQ(stored.substr(folder.size()), L"\\VantelRuntimeInstaller.exe");
  EXPECT_EQ(folder.substr(0, folder.rfind(L'\\')), temp_.path());
  EXPECT_EQ(tvtest::ListDir(temp_.path()).size(), 1u);
  EXPECT_EQ(tvtest::ReadFileBytes(stored), installer_);
}

// The SIDs (as text) that `path`'s access list grants anything to.
std::vector<std::wstring> AllowedSids(const std::wstring& path) {
  std::vector<std::wstring> out;
  std::vector<BYTE> descriptor(4096);
  DWORD needed = 0;
  if (!GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(),
                        static_cast<DWORD>(descriptor.size()), &needed)) {
    ADD_FAILURE() << "no security descriptor";
    return out;
  }
  BOOL present = FALSE, defaulted = FALSE;
  PACL acl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor.data(), &present, &acl, &defaulted) || !present || acl == nullptr) {
    out.push_back(L"(no access list: everyone)");
    return out;
  }
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(acl, i, reinterpret_cast<void**>(&ace)) || ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    LPWSTR text = nullptr;
    if (ConvertSidToStringSidW(&ace->SidStart, &text)) {
      out.push_back(text);
      LocalFree(text);
    }
  }
  return out;
}

std::wstring CurrentUserSid() {
  HANDLE token = nullptr;
  BYTE user[256];
  DWORD size = 0;
  LPWSTR text = nullptr;
  std::wstring out;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    if (GetTokenInformation(token, TokenUser, user, sizeof(user), &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &text)) {
      out = text;
      LocalFree(text);
    }
    CloseHandle(token);
  }
  return out;
}

// Only the current user is granted access to `folder` (and the local
// system, which Wine always lists for what it maps from the owner-only
// mode it gives the folder on disk).
void ExpectOnlyCurrentUser(const std::wstring& folder) {
  const std::wstring user = CurrentUserSid();
  ASSERT_FALSE(user.empty());
  std::vector<std::wstring> sids = AllowedSids(folder);
  EXPECT_NE(std::find(sids.begin(), sids.end(), user), sids.end());
  for (const std::wstring& sid : sids) {
    EXPECT_TRUE(sid == user || sid == L"S-1-5-18") << tvtest::Narrow(sid);
  }
}

TEST_F(Worker, StoredInstallerIsPrivateAndCannotBeChanged) {
  // A file planted at the fixed name in the shared temporary folder is
  // neither used nor touched.
  const std::wstring planted = temp_ / L"VantelRuntimeInstaller.exe";
  tvtest::WriteFileBytes(planted, "planted");
  ServeBoth();
  EXPECT_EQ(RunWorker(), 0u);
  ASSERT_NE(stored_.path, nullptr);
  const std::wstring stored = stored_.path;
  const std::wstring folder = stored.substr(0, stored.rfind(L'\\'));
  EXPECT_NE(stored, planted);
  EXPECT_EQ(tvtest::ReadFileBytes(planted), "planted");
  ExpectOnlyCurrentUser(folder);
  ExpectOnlyCurrentUser(stored);
  // What the check tells apart: the shared folder grants others access.
  std::vector<std::wstring> shared = AllowedSids(temp_.path());
  EXPECT_NE(std::find(shared.begin(), shared.end(), L"S-1-1-0"), shared.end());

  // While the context holds it, nobody may write, replace or delete it;
  // reading (what starting it takes) is shared.
  const DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE writer = CreateFileW(stored.c_str(), GENERIC_WRITE, shareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  EXPECT_FALSE(DeleteFileW(stored.c_str()));
  EXPECT_FALSE(MoveFileW(stored.c_str(), (folder + L"\\moved.exe").c_str()));
  EXPECT_FALSE(MoveFileExW(planted.c_str(), stored.c_str(), MOVEFILE_REPLACE_EXISTING));
  HANDLE reader = CreateFileW(stored.c_str(), GENERIC_READ, shareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
  EXPECT_EQ(tvtest::ReadFileBytes(stored), installer_);

  // Released: the file and its folder go, the planted file stays.
  tovik::ReleaseStoredInstaller(stored_);
  EXPECT_EQ(stored_.path, nullptr);
  EXPECT_EQ(stored_.file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(tvtest::ListDir(temp_.path()), std::vector<std::wstring>{L"VantelRuntimeInstaller.exe"});
}

TEST_F(Worker, EachRunHasItsOwnFolder) {
  ServeBoth();
  EXPECT_EQ(RunWorker(), 0u);
  ASSERT_NE(stored_.path, nullptr);
  const std::wstring first = stored_.path;
  // The context already holds an installer: the new one replaces it.
  host_.Clear();
  EXPECT_EQ(RunWorker(), 0u);
  ASSERT_NE(stored_.path, nullptr);
  EXPECT_NE(std::wstring(stored_.path), first);
  EXPECT_FALSE(tvtest::Exists(first));
  EXPECT_EQ(tvtest::ListDir(temp_.path()).size(), 1u);
}

struct FailureCase {
  const char* name;
  tvtest::HttpResponse installer;
  tvtest::HttpResponse signature;
  DWORD result;
  const char* asked;  // the files requested in order: I installer, S signature
  std::vector<std::string> milestones;
  Lines (*lines)();
};

tvtest::HttpResponse Status(int status) {
  tvtest::HttpResponse r;
  r.status = status;
  r.body = "status page";
  return r;
}

tvtest::HttpResponse Body(const std::string& body, bool contentLength = true) {
  tvtest::HttpResponse r;
  r.body = body;
  r.contentLength = contentLength;
  return r;
}

std::string Retry(int n, const char* reason) {
  return "Download retry " + std::to_string(n) + " of 2 in " + std::to_string(kRetryWaitMs << (n - 1)) +
         " ms after " + reason;
}

std::string Interrupted(size_t received, size_t total, int n) {
  return "Download interrupted after " + std::to_string(received) + " of " + std::to_string(total) +
         " bytes, resumption " + std::to_string(n) + " of 3";
}

const char kRestarted[] = "Download restarted from the beginning: the server sent the whole file";

TEST_F(Worker, TransferOutcomes) {
  const std::string installer = installer_;
  const std::string signature = signature_;
  tvtest::HttpResponse cut = Body(installer);
  cut.sendBytes = installer.size() / 2;
  tvtest::HttpResponse proxyAuth = Status(407);
  proxyAuth.extraHeaders = "Proxy-Authenticate: Basic realm=\"proxy\"\r\n";
  static size_t half;
  static size_t whole;
  half = installer.size() / 2;
  whole = installer.size();
  const FailureCase cases[] = {
      {"404 for the installer", Status(404), Body(signature), 14, "I", {"FAILED 0 14"},
       [] { return Lines{BeginRuntime(), "Download failure: 404 not found"}; }},
      {"404 for the signature", Body(installer), Status(404), 14, "IS", {"VERIFYING 0 0", "FAILED 0 14"},
       [] { return Lines{BeginRuntime(), "Download success", BeginSignature(), "Download failure: 404 not found"}; }},
      {"500 for the installer, tried three times", Status(500), Body(signature), 11, "III", {"FAILED 0 11"},
       [] {
         return Lines{BeginRuntime(), Retry(1, "status 500"), Retry(2, "status 500"), "Download failure: Bad status"};
       }},
      {"500 for the signature, tried three times", Body(installer), Status(500), 11, "ISSS",
       {"VERIFYING 0 0", "FAILED 0 11"},
       [] {
         return Lines{BeginRuntime(), "Download success", BeginSignature(), Retry(1, "status 500"),
                      Retry(2, "status 500"), "Download failure: Bad status"};
       }},
      {"407 from a proxy in a silent run", proxyAuth, Body(signature), 11, "I", {"FAILED 0 11"},
       [] { return Lines{BeginRuntime(), "Download failure: 407 proxy authentication required"}; }},
      {"installer without Content-Length", Body(installer, false), Body(signature), 13, "IS",
       {"VERIFYING 0 0", "FAILED 0 13"},
       [] {
         return Lines{BeginRuntime(), "Download failure: No error", BeginSignature(), "Download success",
                      "Detatched signature validation failed"};
       }},
      {"empty installer", Body(""), Body(signature), 13, "IS", {"VERIFYING 0 0", "FAILED 0 13"},
       [] {
         return Lines{BeginRuntime(), "Download failure: No error", BeginSignature(), "Download success",
                      "Detatched signature validation failed"};
       }},
      // Every response cut: asked for again three times, then a download
      // failure, and no signature is asked for.
      {"installer cut short every time", cut, Body(signature), 11, "IIII", {"FAILED 0 11"},
       [] {
         return Lines{BeginRuntime(), Interrupted(half, whole, 1), kRestarted, Interrupted(half, whole, 2),
                      kRestarted, Interrupted(half, whole, 3), kRestarted,
                      "Download failure: Body shorter than its announced length"};
       }},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    server_.ClearRequests();
    host_.Clear();
    server_.Serve(tvtest::InstallerPath(), c.installer);
    server_.Serve(tvtest::SignaturePath(), c.signature);
    tvtest::TovikLogTail log;
    EXPECT_EQ(RunWorker(), c.result);
    EXPECT_EQ(Milestones(host_.posted()), c.milestones);
    EXPECT_EQ(log.Lines(), c.lines());
    std::vector<std::string> asked;
    for (const char* p = c.asked; *p != '\0'; ++p) {
      asked.push_back(*p == 'I' ? tvtest::InstallerPath() : tvtest::SignaturePath());
    }
    EXPECT_EQ(server_.RequestedTargets(), asked);
    EXPECT_EQ(stored_.path, nullptr);
    EXPECT_TRUE(TempIsEmpty());
  }
}

// A transfer that stops or is refused for a while still delivers the
// installer: the Range headers of the installer requests, the log lines
// between the first request and success, and a bar that never runs back.
TEST_F(Worker, InterruptedTransfersComplete) {
  const size_t cutAt = installer_.size() * 2 / 5;
  const std::string from = "bytes=" + std::to_string(cutAt) + "-";
  tvtest::HttpResponse whole = Body(installer_);
  whole.honourRange = true;
  whole.etag = "\"v1\"";
  tvtest::HttpResponse cut = whole;
  cut.sendBytes = cutAt;
  tvtest::HttpResponse ignoring = Body(installer_);
  tvtest::HttpResponse ignoringCut = ignoring;
  ignoringCut.sendBytes = cutAt;
  tvtest::HttpResponse busy = Status(503);
  tvtest::HttpResponse busyOneSecond = busy;
  busyOneSecond.extraHeaders = "Retry-After: 1\r\n";
  const std::string interrupted = Interrupted(cutAt, installer_.size(), 1);
  struct Case {
    const char* name;
    std::vector<tvtest::HttpResponse> installer;
    std::vector<std::string> ranges;   // Range header of each installer request
    std::vector<std::string> ifRange;  // If-Range header of each installer request
    Lines between;
  } cases[] = {
      {"cut at 40%, the rest as 206", {cut, whole}, {"", from}, {"", "\"v1\""}, {interrupted}},
      {"cut at 40%, Range ignored", {ignoringCut, ignoring}, {"", from}, {"", ""}, {interrupted, kRestarted}},
      {"503 once", {busy, whole}, {"", ""}, {"", ""}, {Retry(1, "status 503")}},
      {"503 with Retry-After: 1", {busyOneSecond, whole}, {"", ""}, {"", ""},
       {"Download retry 1 of 2 in 1000 ms after status 503"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server_.ClearRequests();
    host_.Clear();
    tovik::ReleaseStoredInstaller(stored_);
    server_.ServeSequence(tvtest::InstallerPath(), c.installer);
    server_.Serve(tvtest::SignaturePath(), signature_);
    tvtest::TovikLogTail log;
    EXPECT_EQ(RunWorker(), 0u);
    ExpectProgress(host_.posted(), installer_.size(), installer_.size());
    ASSERT_NE(stored_.path, nullptr);
    EXPECT_EQ(tvtest::ReadFileBytes(stored_.path), installer_);
    std::vector<std::string> ranges, ifRange;
    for (const tvtest::HttpRequest& r : server_.Requests()) {
      if (r.target != tvtest::InstallerPath()) continue;
      ranges.push_back(r.Header("Range"));
      ifRange.push_back(r.Header("If-Range"));
    }
    EXPECT_EQ(ranges, c.ranges);
    EXPECT_EQ(ifRange, c.ifRange);
    const Lines lines = log.Lines();
    ASSERT_GE(lines.size(), c.between.size() + 2);
    EXPECT_EQ(Lines(lines.begin() + 1, lines.begin() + 1 + c.between.size()), c.between);
    EXPECT_EQ(lines[c.between.size() + 1], "Download success");
  }
}

TEST_F(Worker, SignatureWithoutContentLengthVerifies) {
  server_.Serve(tvtest::InstallerPath(), installer_);
  server_.Serve(tvtest::SignaturePath(), Body(signature_, false));
  tvtest::TovikLogTail log;
  EXPECT_EQ(RunWorker(), 0u);
  EXPECT_EQ(Milestones(host_.posted()), (std::vector<std::string>{"VERIFYING 0 0", "DONE 0 0"}));
  // Progress only for the installer.
  ExpectProgress(host_.posted(), installer_.size(), installer_.size());
  ASSERT_NE(stored_.path, nullptr);
  EXPECT_EQ(tvtest::ReadFileBytes(stored_.path), installer_);
}

TEST_F(Worker, SlowServerIsWaitedFor) {
  tvtest::HttpResponse slow = Body(installer_);
  slow.delayMs = 700;
  slow.chunkSize = 20000;
  slow.chunkDelayMs = 150;
  server_.Serve(tvtest::InstallerPath(), slow);
  server_.Serve(tvtest::SignaturePath(), signature_);
  EXPECT_EQ(RunWorker(), 0u);
  ExpectProgress(host_.posted(), installer_.size(), installer_.size());
  ASSERT_NE(stored_.path, nullptr);
  EXPECT_EQ(tvtest::ReadFileBytes(stored_.path), installer_);
}

TEST_F(Worker, TemporaryFolderLength) {
  // GetTempPathW answers the folder with a trailing separator; 218 characters
  // leave room for the run folder ("tovik-" and 8 digits) and the file name,
  // 219 do not.
  for (size_t length : {218u, 219u}) {
    SCOPED_TRACE(length);
    std::wstring folder = temp_.path();
    while (folder.size() + 1 < length) {
      size_t part = std::min<size_t>(100, length - 1 - folder.size() - 1);
      if (part == 0) break;
      folder += L"\\" + std::wstring(part, L'd');
      CreateDirectoryW(folder.c_str(), nullptr);
    }
    ASSERT_EQ(folder.size() + 1, length);
    SetTemp(folder);
    ServeBoth();
    host_.Clear();
    tovik::ReleaseStoredInstaller(stored_);
    tvtest::TovikLogTail log;
    DWORD result = RunWorker();
    if (length == 218) {
      EXPECT_EQ(result, 0u);
      ASSERT_NE(stored_.path, nullptr);
      EXPECT_EQ(wcslen(stored_.path), 259u);
      EXPECT_TRUE(tvtest::Exists(stored_.path));
      tovik::ReleaseStoredInstaller(stored_);
      EXPECT_TRUE(tvtest::ListDir(folder).empty());
    } else {
      EXPECT_EQ(result, 11u);
      EXPECT_EQ(Milestones(host_.posted()), (std::vector<std::string>{"VERIFYING 0 0", "FAILED 0 11"}));
      // The cause, with the folder it concerns.
      const std::string cause =
          "Store runtime installer: temporary folder failed for " + tvtest::Narrow(folder) + "\\: error 206 (";
      EXPECT_EQ(log.Lines().back().substr(0, cause.size()), cause);
      EXPECT_EQ(stored_.path, nullptr);
      EXPECT_TRUE(tvtest::ListDir(folder).empty());
    }
  }
}

TEST_F(Worker, CancelDuringInstallerTransferStartsNoFurtherStep) {
  tvtest::HttpResponse slow = Body(installer_);
  slow.delayMs = 1000;
  server_.Serve(tvtest::InstallerPath(), slow);
  server_.Serve(tvtest::SignaturePath(), signature_);
  tvtest::TovikLogTail log;
  Start();
  ASSERT_TRUE(WaitForRequest(tvtest::InstallerPath()));
  EXPECT_TRUE(helper_->Cancel());
  EXPECT_EQ(Finish(), 11u);
  // The transfer under way ends normally; nothing follows it.
  EXPECT_EQ(server_.RequestedTargets(), std::vector<std::string>{tvtest::InstallerPath()});
  EXPECT_EQ(Milestones(host_.posted()), (std::vector<std::string>{"VERIFYING 0 0", "FAILED 0 11"}));
  EXPECT_EQ(log.Lines(), (Lines{BeginRuntime(), "Download success"}));
  EXPECT_TRUE(TempIsEmpty());
}

TEST_F(Worker, CancelDuringSignatureTransferVerifiesNothing) {
  tvtest::HttpResponse slow = Body(signature_);
  slow.delayMs = 1000;
  server_.Serve(tvtest::InstallerPath(), installer_);
  server_.Serve(tvtest::SignaturePath(), slow);
  tvtest::TovikLogTail log;
  Start();
  ASSERT_TRUE(WaitForRequest(tvtest::SignaturePath()));
  EXPECT_TRUE(helper_->Cancel());
  EXPECT_EQ(Finish(), 11u);
  EXPECT_EQ(log.Lines(), (Lines{BeginRuntime(), "Download success", BeginSignature(), "Download success"}));
  EXPECT_EQ(Milestones(host_.posted()), (std::vector<std::string>{"VERIFYING 0 0", "FAILED 0 11"}));
  EXPECT_TRUE(TempIsEmpty());
}

TEST_F(Worker, CancelDuringVerificationLeavesNoInstaller) {
  tvtest::HttpResponse slowCrl = Body(tvtest::Pki("inter.crl"));
  slowCrl.delayMs = 1000;
  server_.Serve("/crl/inter.crl", slowCrl);
  ServeBoth();
  Start();
  ASSERT_TRUE(WaitForRequest("/crl/inter.crl"));
  EXPECT_TRUE(helper_->Cancel());
  EXPECT_EQ(Finish(), 11u);
  EXPECT_EQ(Milestones(host_.posted()), (std::vector<std::string>{"VERIFYING 0 0", "FAILED 0 11"}));
  EXPECT_EQ(stored_.path, nullptr);
  EXPECT_TRUE(TempIsEmpty());
}

TEST_F(Worker, TeardownDuringVerificationLeavesNoInstaller) {
  // The UI goes away (context detached, its reference dropped) while the
  // worker still runs: the record lives on, and the file the worker then
  // writes does not stay behind.
  tvtest::HttpResponse slowCrl = Body(tvtest::Pki("inter.crl"));
  slowCrl.delayMs = 1000;
  server_.Serve("/crl/inter.crl", slowCrl);
  ServeBoth();
  DownloadHelper* helper = DownloadHelper::Create(host_.hwnd(), &stored_);
  ASSERT_TRUE(helper->StartWorker());
  ASSERT_TRUE(WaitForRequest("/crl/inter.crl"));
  helper->DetachContext();
  helper->Release();
  ASSERT_TRUE(host_.WaitForFinal());
  EXPECT_EQ(Milestones(host_.posted()), (std::vector<std::string>{"VERIFYING 0 0", "FAILED 0 11"}));
  EXPECT_EQ(stored_.path, nullptr);
  // The worker deletes the file right after it wrote it, before it posts.
  EXPECT_TRUE(TempIsEmpty());
}

TEST_F(Worker, CancelAfterStoreReportsTooLate) {
  ServeBoth();
  Start();
  EXPECT_TRUE(host_.WaitForFinal());
  EXPECT_FALSE(helper_->Cancel());
  EXPECT_EQ(Finish(), 0u);
  ASSERT_NE(stored_.path, nullptr);
}

TEST(WorkerThread, WithoutRecord) { EXPECT_EQ(tovik::DownloadThreadProc(nullptr), static_cast<DWORD>(-1)); }

}  // namespace
