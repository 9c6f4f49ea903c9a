// The download worker against a server that misbehaves: stalls, drips,
// lies about lengths, redirects without end, sends oversized signatures and
// CRLs. Every run must end within its bound with the right code and log
// lines. The time-outs are shortened for the tests; the ceilings are the
// product's.
#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download_helper.h"
#include "download_limits.h"
#include "download_test_support.h"
#include "http_fixture.h"
#include "log_reader.h"
#include "test_support.h"

namespace {

using Lines = std::vector<std::string>;
using tovik::DownloadHelper;

constexpr DWORD kReceiveMs = 1500;
constexpr DWORD kCrlTotalMs = 3000;
// What a run may take beyond its bound (process and platform overhead).
constexpr DWORD kSlackMs = 5000;

std::string BeginRuntime() { return "Begin runtime download from " + tvtest::InstallerAddress(); }
std::string BeginSignature() { return "Begin signature download from " + tvtest::SignatureAddress(); }
const std::string kInterCrl = "/crl/inter.crl";
const std::string kCrlBegin = "Begin crl download from http://127.0.0.1/crl/inter.crl";
const std::string kCrlFailure = "Download failure: could not retrieve crl crypt object";
const Lines kSigned = {"Download success", "Detached signature verified", "Begin cert chain validation"};

tvtest::HttpResponse Body(const std::string& body) {
  tvtest::HttpResponse r;
  r.body = body;
  return r;
}

tvtest::HttpResponse Generated(uint64_t bytes, bool contentLength = true) {
  tvtest::HttpResponse r;
  r.generatedBytes = bytes;
  r.contentLength = contentLength;
  return r;
}

tvtest::HttpResponse Redirect(const std::string& to) {
  tvtest::HttpResponse r;
  r.status = 302;
  r.extraHeaders = "Location: " + to + "\r\n";
  return r;
}

size_t PeakWorkingSet() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
  return counters.PeakWorkingSetSize;
}

size_t WorkingSet() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
  return counters.WorkingSetSize;
}

struct Case {
  const char* name;
  tvtest::HttpResponse installer;
  tvtest::HttpResponse signature;
  DWORD result;
  Lines lines;
  DWORD boundMs;  // the run ends within this (plus kSlackMs)
};

class Bounds : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.listening()) << "port 80 is taken";
    tovik::DownloadLimits limits = tovik::kDownloadLimits;
    limits.connectTimeoutMs = 2000;
    limits.sendTimeoutMs = 2000;
    limits.receiveTimeoutMs = kReceiveMs;
    limits.crlTotalMs = kCrlTotalMs;
    tovik::OverrideDownloadLimits(&limits);
    installer_ = tvtest::Pki("installer.bin");
    signature_ = tvtest::Pki("good.p7");
    server_.Serve(kInterCrl, tvtest::Pki("inter.crl"));
    SetEnvironmentVariableW(L"TEMP", temp_.path().c_str());
    SetEnvironmentVariableW(L"TMP", temp_.path().c_str());
  }

  void TearDown() override {
    tovik::OverrideDownloadLimits(nullptr);
    SetEnvironmentVariableW(L"TEMP", nullptr);
    SetEnvironmentVariableW(L"TMP", nullptr);
    tovik::ReleaseStoredInstaller(stored_);
  }

  // One worker run as the host window starts it; its result, the time it
  // took and the log lines it wrote.
  DWORD RunWorker(DWORD* elapsedMs, Lines* lines) {
    tvtest::TovikLogTail log;
    tvtest::TestHost host;
    DWORD start = GetTickCount();
    DownloadHelper* helper = DownloadHelper::Create(host.hwnd(), &stored_);
    EXPECT_NE(helper, nullptr);
    if (helper == nullptr) return 0xDEAD;
    helper->AddRef();
    HANDLE thread = CreateThread(nullptr, 0, tovik::DownloadThreadProc, helper, 0, nullptr);
    EXPECT_TRUE(host.WaitForFinal(120000));
    EXPECT_EQ(WaitForSingleObject(thread, 60000), WAIT_OBJECT_0);
    *elapsedMs = GetTickCount() - start;
    DWORD code = 0xDEAD;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    helper->DetachContext();
    helper->Release();
    *lines = log.Lines();
    return code;
  }

  // Each case serves its two responses to one worker run.
  void RunCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      tovik::ReleaseStoredInstaller(stored_);
      server_.Serve(tvtest::InstallerPath(), c.installer);
      server_.Serve(tvtest::SignaturePath(), c.signature);
      DWORD elapsed = 0;
      Lines lines;
      EXPECT_EQ(RunWorker(&elapsed, &lines), c.result);
      EXPECT_EQ(lines, c.lines);
      EXPECT_LT(elapsed, c.boundMs + kSlackMs);
    }
  }

  tvtest::HttpFixture server_;
  tvtest::TempDir temp_{L"bounds"};
  tovik::StoredInstaller stored_;
  std::string installer_;
  std::string signature_;
};

TEST_F(Bounds, InstallerTransfer) {
  tvtest::HttpResponse stalled = Body(installer_);
  stalled.sendBytes = installer_.size() / 2;
  stalled.holdMs = 60000;
  tvtest::HttpResponse silent = Body(installer_);
  silent.delayMs = 60000;
  tvtest::HttpResponse cut = Body(installer_);
  cut.sendBytes = installer_.size() / 2;
  tvtest::HttpResponse drip = Body(installer_);
  drip.chunkSize = 10000;
  drip.chunkDelayMs = kReceiveMs / 2;  // 10 chunks: longer in all than one time-out
  tvtest::HttpResponse huge = Body(installer_);
  huge.lengthHeader = "4294967296";
  tvtest::HttpResponse overCeiling = Body(installer_);
  overCeiling.lengthHeader = "1073741825";
  tvtest::HttpResponse chunked = Body(installer_);
  chunked.chunked = true;
  tvtest::HttpResponse unannounced = Body(installer_);
  unannounced.contentLength = false;
  // Each body that stops early is asked for three more times, a second
  // apart (the fixture ignores Range: each answer starts it again).
  auto stoppedFourTimes = [&](size_t received, const std::string& failure) {
    Lines lines = {BeginRuntime()};
    for (int n = 1; n <= 3; ++n) {
      lines.push_back("Download interrupted after " + std::to_string(received) + " of " +
                      std::to_string(installer_.size()) + " bytes, resumption " + std::to_string(n) + " of 3");
      lines.push_back("Download restarted from the beginning: the server sent the whole file");
    }
    lines.push_back("Download failure: " + failure);
    return lines;
  };
  tvtest::HttpResponse busy = Body("busy");
  busy.status = 503;
  const Lines readFailed = {BeginRuntime(), "Download failure: Internet read failed"};
  const Lines allocFailed = {BeginRuntime(), "Download failure: Memory alloc failed"};
  const Lines empty = {BeginRuntime(), "Download failure: No error", BeginSignature(), "Download success",
                       "Detatched signature validation failed"};
  Lines passed = {BeginRuntime(), "Download success", BeginSignature()};
  passed.insert(passed.end(), kSigned.begin(), kSigned.end());
  passed.insert(passed.end(), {kCrlBegin, "Download success", "Cert chain validation succeeded"});
  const std::vector<Case> cases = {
      // Wine hands a read over only once its 32 KiB are full: of the half
      // sent before the stall, the first 32768 bytes arrive.
      {"stall after half, every time", stalled, Body(signature_), 11, stoppedFourTimes(32768, "Internet read failed"),
       4 * kReceiveMs + 3 * 1000},
      {"accepted, never answered", silent, Body(signature_), 11, readFailed, kReceiveMs},
      {"closed after half, every time", cut, Body(signature_), 11,
       stoppedFourTimes(installer_.size() / 2, "Body shorter than its announced length"), 3 * 1000},
      {"503 every time", busy, Body(signature_), 11,
       {BeginRuntime(), "Download retry 1 of 2 in 2000 ms after status 503",
        "Download retry 2 of 2 in 4000 ms after status 503", "Download failure: Bad status"},
       6000},
      {"slow drip completes", drip, Body(signature_), 0, passed, 10 * kReceiveMs},
      {"announces 4 GiB", huge, Body(signature_), 11, allocFailed, 0},
      {"announces 1 GiB and a byte", overCeiling, Body(signature_), 11, allocFailed, 0},
      {"chunked, so no length", chunked, Body(signature_), 13, empty, 0},
      {"no Content-Length", unannounced, Body(signature_), 13, empty, 0},
  };
  RunCases(cases);
}

TEST_F(Bounds, StalledSignatureTransfer) {
  tvtest::HttpResponse stalled = Body(signature_);
  stalled.sendBytes = 100;
  stalled.holdMs = 60000;
  DWORD elapsed = 0;
  Lines lines;
  server_.Serve(tvtest::InstallerPath(), installer_);
  server_.Serve(tvtest::SignaturePath(), stalled);
  EXPECT_EQ(RunWorker(&elapsed, &lines), 11u);
  EXPECT_EQ(lines, (Lines{BeginRuntime(), "Download success", BeginSignature(),
                          "Download failure: Internet read failed"}));
  EXPECT_LT(elapsed, kReceiveMs + kSlackMs);
}

TEST_F(Bounds, Redirects) {
  // Eight hops are followed; a ninth, or a loop, fails the transfer.
  const std::string path = tvtest::InstallerPath();
  for (int hops : {8, 9}) {
    SCOPED_TRACE(hops);
    server_.ClearRequests();
    server_.Serve(path, Redirect("/hop/1"));
    for (int i = 1; i < hops; ++i) server_.Serve("/hop/" + std::to_string(i), Redirect("/hop/" + std::to_string(i + 1)));
    server_.Serve("/hop/" + std::to_string(hops), installer_);
    server_.Serve(tvtest::SignaturePath(), signature_);
    DWORD elapsed = 0;
    Lines lines;
    DWORD result = RunWorker(&elapsed, &lines);
    if (hops == 8) {
      EXPECT_EQ(result, 0u);
      ASSERT_NE(stored_.path, nullptr);
      EXPECT_EQ(tvtest::ReadFileBytes(stored_.path), installer_);
    } else {
      EXPECT_EQ(result, 11u);
      EXPECT_EQ(lines, (Lines{BeginRuntime(), "Download failure: Internet read failed"}));
      EXPECT_EQ(server_.Requests().size(), 9u);
    }
  }
  // The address answering with itself.
  server_.ClearRequests();
  DWORD elapsed = 0;
  Lines lines;
  server_.Serve(path, Redirect(path));
  EXPECT_EQ(RunWorker(&elapsed, &lines), 11u);
  EXPECT_EQ(lines, (Lines{BeginRuntime(), "Download failure: Internet read failed"}));
  EXPECT_EQ(server_.Requests().size(), 9u);
  EXPECT_LT(elapsed, kSlackMs);
}

TEST_F(Bounds, SignatureCeiling) {
  // A few kilobytes are expected; 1 MiB is the most that is taken.
  tvtest::HttpResponse announced = Body(signature_);
  announced.lengthHeader = "943718400";
  tvtest::HttpResponse justOver = Generated(1024 * 1024 + 1);
  tvtest::HttpResponse atCeiling = Generated(1024 * 1024);
  // Without a length the installer's is taken: 3 MiB of room, and what
  // grows past 1 MiB is refused.
  tvtest::HttpResponse grown = Generated(1024 * 1024 + 4096, false);
  tvtest::HttpResponse chunked = Body(signature_);
  chunked.chunked = true;
  const std::string bigInstaller(3 * 1024 * 1024, 'i');
  const Lines allocFailed = {BeginRuntime(), "Download success", BeginSignature(),
                             "Download failure: Memory alloc failed"};
  const Lines readButWrong = {BeginRuntime(), "Download success", BeginSignature(), "Download success",
                              "Detatched signature validation failed"};
  Lines passed = {BeginRuntime(), "Download success", BeginSignature()};
  passed.insert(passed.end(), kSigned.begin(), kSigned.end());
  passed.insert(passed.end(), {kCrlBegin, "Download success", "Cert chain validation succeeded"});
  const std::vector<Case> cases = {
      {"announces 900 MB", Body(installer_), announced, 11, allocFailed, 0},
      // Refused at its headers and closed, not read to its end.
      {"announces and sends 900 MiB", Body(installer_), Generated(900u << 20), 11, allocFailed, 0},
      {"announces 1 MiB and a byte", Body(installer_), justOver, 11, allocFailed, 0},
      {"announces 1 MiB", Body(installer_), atCeiling, 13, readButWrong, 0},
      {"grows past 1 MiB unannounced", Body(bigInstaller), grown, 11, allocFailed, 0},
      {"chunked, within the installer's length", Body(installer_), chunked, 0, passed, 0},
  };
  RunCases(cases);
}

TEST_F(Bounds, CrlFetches) {
  // A CRL that hits a bound could not be retrieved: the certificate counts
  // as not revoked, as for an unreachable address.
  tvtest::HttpResponse drip = Body(tvtest::Pki("inter.crl"));
  drip.chunkSize = 1;
  drip.chunkDelayMs = 200;  // 436 bytes: over a minute
  tvtest::HttpResponse stalled = Body(tvtest::Pki("inter.crl"));
  stalled.sendBytes = 10;
  stalled.holdMs = 60000;
  tvtest::HttpResponse slowButDone = Body(tvtest::Pki("inter.crl"));
  slowButDone.chunkSize = 100;
  slowButDone.chunkDelayMs = 300;
  tvtest::HttpResponse revokedChunked = Body(tvtest::Pki("inter-revoked.crl"));
  revokedChunked.chunked = true;
  struct CrlCase {
    const char* name;
    tvtest::HttpResponse crl;
    DWORD result;
    Lines tail;
    DWORD boundMs;
  } cases[] = {
      {"announces 20 MiB", Generated(20u << 20), 0, {kCrlFailure, "Cert chain validation succeeded"}, 0},
      {"sends 20 MiB unannounced", Generated(20u << 20, false), 0,
       {kCrlFailure, "Cert chain validation succeeded"}, kCrlTotalMs},
      {"drips without end", drip, 0, {kCrlFailure, "Cert chain validation succeeded"}, kCrlTotalMs},
      {"stalls after the headers", stalled, 0, {kCrlFailure, "Cert chain validation succeeded"}, kReceiveMs},
      {"slow within the bounds", slowButDone, 0, {"Download success", "Cert chain validation succeeded"},
       kCrlTotalMs},
      {"chunked and revoking", revokedChunked, 13,
       {"Download success", "Cert revocation found", "Cert chain validation failed"}, 0},
  };
  for (const CrlCase& c : cases) {
    SCOPED_TRACE(c.name);
    tovik::ReleaseStoredInstaller(stored_);
    server_.Serve(tvtest::InstallerPath(), installer_);
    server_.Serve(tvtest::SignaturePath(), signature_);
    server_.Serve(kInterCrl, c.crl);
    DWORD elapsed = 0;
    Lines lines;
    EXPECT_EQ(RunWorker(&elapsed, &lines), c.result);
    Lines expected = {BeginRuntime(), "Download success", BeginSignature()};
    expected.insert(expected.end(), kSigned.begin(), kSigned.end());
    expected.push_back(kCrlBegin);
    expected.insert(expected.end(), c.tail.begin(), c.tail.end());
    EXPECT_EQ(lines, expected);
    EXPECT_LT(elapsed, c.boundMs + kSlackMs);
  }
}

// Peak memory: each case runs in a process of its own (see CMakeLists.txt),
// so the process's peak working set is this case's.
class BoundsMemory : public Bounds {};

TEST_F(BoundsMemory, SignatureGrowingUnannounced) {
  // A 24 MiB installer, then a signature without a length that would fill
  // as much again: at most the installer and the signature's ceiling are held.
  const uint64_t installer = 24u << 20;
  server_.Serve(tvtest::InstallerPath(), Generated(installer));
  server_.Serve(tvtest::SignaturePath(), Generated(installer, false));
  const size_t before = WorkingSet();
  DWORD elapsed = 0;
  Lines lines;
  EXPECT_EQ(RunWorker(&elapsed, &lines), 11u);
  EXPECT_EQ(lines, (Lines{BeginRuntime(), "Download success", BeginSignature(),
                          "Download failure: Memory alloc failed"}));
  EXPECT_LT(PeakWorkingSet() - before, installer + (16u << 20));
}

TEST_F(BoundsMemory, WholeDownloadHoldsOneCopy) {
  // Fetched, verified and stored: one copy of the installer in memory, and
  // little beside it.
  // Held once here too: the fixture serves it from the one copy read.
  std::string big = tvtest::Pki("big-installer.bin");
  const uint64_t size = big.size();
  ASSERT_EQ(size, 32u << 20);
  server_.Serve(tvtest::InstallerPath(), std::move(big));
  server_.Serve(tvtest::SignaturePath(), tvtest::Pki("big.p7"));
  const size_t before = WorkingSet();
  DWORD elapsed = 0;
  Lines lines;
  EXPECT_EQ(RunWorker(&elapsed, &lines), 0u);
  EXPECT_LT(PeakWorkingSet() - before, size + (16u << 20));
  ASSERT_NE(stored_.path, nullptr);
  EXPECT_EQ(tvtest::ReadFileBytes(stored_.path).size(), size);
}

TEST_F(BoundsMemory, CrlGrowingUnannounced) {
  server_.Serve(tvtest::InstallerPath(), installer_);
  server_.Serve(tvtest::SignaturePath(), signature_);
  tovik::DownloadLimits limits = tovik::kDownloadLimits;
  limits.receiveTimeoutMs = kReceiveMs;
  tovik::OverrideDownloadLimits(&limits);  // the product's 15 s for the whole CRL
  server_.Serve(kInterCrl, Generated(64u << 20, false));
  const size_t before = WorkingSet();
  DWORD elapsed = 0;
  Lines lines;
  EXPECT_EQ(RunWorker(&elapsed, &lines), 0u);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 2], kCrlFailure);
  // The 16 MiB ceiling and the installer, nowhere near the 64 MiB sent.
  EXPECT_LT(PeakWorkingSet() - before, (16u << 20) + (16u << 20));
}

}  // namespace
