#include "ui_fakes.h"

#include <mutex>
#include <new>
#include <string>

#include "log.h"

namespace tvtest {

std::function<void(tovik::DownloadHelper*)> workerScript;
LONG workersStarted = 0;
bool updatesAllowed = true;
std::vector<InstallerCall> installerCalls;
int installerExitCode = 0;

namespace {
std::mutex logMutex;
std::vector<std::string> logLines;

void AddLine(const char* line) {
  std::lock_guard<std::mutex> lock(logMutex);
  logLines.push_back(line);
}

DWORD WINAPI FakeWorker(LPVOID parameter) {
  auto* helper = static_cast<tovik::DownloadHelper*>(parameter);
  if (workerScript) workerScript(helper);
  helper->Release();
  return 0;
}
}  // namespace

std::vector<std::string> LogLines() {
  std::lock_guard<std::mutex> lock(logMutex);
  return logLines;
}

void Reset() {
  workerScript = nullptr;
  workersStarted = 0;
  updatesAllowed = true;
  installerCalls.clear();
  installerExitCode = 0;
  std::lock_guard<std::mutex> lock(logMutex);
  logLines.clear();
}

}  // namespace tvtest

namespace tovik {

void LogUpdatesDisabled() {
  tvtest::AddLine("Cannot complete installation because runtime updates are disabled on this machine");
}
void LogDownloadCancelled() { tvtest::AddLine("Download cancelled"); }
void LogStepFailed(const char* step, const wchar_t*, uint32_t error) {
  tvtest::AddLine((std::string(step) + " failed: error " + std::to_string(error)).c_str());
}
void LogStepRefused(const char* step, const wchar_t*, const char* reason) {
  tvtest::AddLine((std::string(step) + " failed: " + reason).c_str());
}

bool UpdatesAllowed() { return tvtest::updatesAllowed; }

int32_t RunRuntimeInstaller(const wchar_t* installerPath, const wchar_t* options, const wchar_t* applicationPath) {
  tvtest::InstallerCall call;
  call.installerPath = installerPath ? installerPath : L"";
  call.options = options ? options : L"";
  call.applicationPath = applicationPath ? applicationPath : L"";
  call.installerExisted = installerPath && GetFileAttributesW(installerPath) != INVALID_FILE_ATTRIBUTES;
  tvtest::installerCalls.push_back(call);
  return tvtest::installerExitCode;
}

DownloadHelper* DownloadHelper::Create(HWND hostWindow, StoredInstaller* context) {
  auto* helper = new (std::nothrow) DownloadHelper();
  if (helper == nullptr) return nullptr;
  helper->hostWindow = hostWindow;
  helper->context = context;
  return helper;
}

DownloadHelper::~DownloadHelper() {
  for (DownloadBuffer* buffer : {installerData, signatureData}) {
    if (buffer != nullptr) {
      delete[] buffer->data;
      delete buffer;
    }
  }
}

void DownloadHelper::AddRef() { InterlockedIncrement(&references_); }

void DownloadHelper::Release() {
  if (InterlockedDecrement(&references_) == 0) delete this;
}

bool DownloadHelper::StartWorker() {
  AddRef();
  InterlockedIncrement(&tvtest::workersStarted);
  HANDLE thread = CreateThread(nullptr, 0, tvtest::FakeWorker, this, 0, nullptr);
  if (thread == nullptr) {
    Release();
    return false;
  }
  CloseHandle(thread);
  return true;
}

bool DownloadHelper::Cancel() {
  return InterlockedExchange(&step, Finished) != Finished;
}

void DownloadHelper::DetachContext() {
  InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&context), nullptr);
}

}  // namespace tovik
