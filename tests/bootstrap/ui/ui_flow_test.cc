// The installation flow's windows under Wine, driven from a second thread
// of the same process: the flow runs on the main thread with a scripted
// worker; the driver finds the dialogs, reads their texts and the bar,
// presses buttons and keys and clicks the link. Screenshots of the dialogs
// go to <build>/artifacts/ui/.
#include <windows.h>

#include <commctrl.h>
#include <richedit.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "download_helper.h"
#include "installation_flow.h"
#include "language_table.h"
#include "test_support.h"
#include "ui_driver.h"
#include "ui_fakes.h"
#include "ui_screenshot.h"

namespace {

using tovik::DownloadHelper;

constexpr DWORD kWaitMs = 10000;

std::wstring Text(HWND window) {
  wchar_t buffer[4096] = L"";
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000,
                      &ignored);
  return buffer;
}

std::wstring ControlText(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }

struct Found {
  std::vector<HWND> dialogs;
};

BOOL CALLBACK CollectDialogs(HWND window, LPARAM lParam) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  wchar_t klass[32] = L"";
  GetClassNameW(window, klass, 32);
  if (pid == GetCurrentProcessId() && lstrcmpW(klass, L"#32770") == 0) {
    reinterpret_cast<Found*>(lParam)->dialogs.push_back(window);
  }
  return TRUE;
}

enum class Kind { Progress, Error, MessageBox };

bool IsKind(HWND dialog, Kind kind) {
  switch (kind) {
    case Kind::Progress:
      return GetDlgItem(dialog, 1003) != nullptr;
    case Kind::Error:
      return GetDlgItem(dialog, 1004) != nullptr;
    case Kind::MessageBox:
      return GetDlgItem(dialog, 1003) == nullptr && GetDlgItem(dialog, 1004) == nullptr;
  }
  return false;
}

// The first dialog of this process of the given kind (visible ones only when
// asked), waiting up to kWaitMs.
HWND WaitDialog(Kind kind, bool mustBeVisible = true, DWORD waitMs = kWaitMs) {
  const ULONGLONG until = GetTickCount64() + waitMs;
  do {
    Found found;
    EnumWindows(CollectDialogs, reinterpret_cast<LPARAM>(&found));
    for (HWND dialog : found.dialogs) {
      if (IsKind(dialog, kind) && (!mustBeVisible || IsWindowVisible(dialog))) return dialog;
    }
    Sleep(20);
  } while (GetTickCount64() < until);
  return nullptr;
}

template <typename Pred>
bool WaitFor(Pred pred, DWORD waitMs = kWaitMs) {
  const ULONGLONG until = GetTickCount64() + waitMs;
  while (!pred()) {
    if (GetTickCount64() >= until) return false;
    Sleep(20);
  }
  return true;
}

void Click(HWND button) {
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
}

// A key as the keyboard would deliver it: posted to the focused window, so
// it passes the flow's message loop (and IsDialogMessageW) first.
void PressKey(HWND dialog, UINT key) {
  GUITHREADINFO info = {sizeof(info)};
  GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
  HWND target = info.hwndFocus != nullptr ? info.hwndFocus : dialog;
  PostMessageW(target, WM_KEYDOWN, key, 1);
  PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

HWND FocusOf(HWND dialog) {
  GUITHREADINFO info = {sizeof(info)};
  GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
  return info.hwndFocus;
}

// A gate the worker script waits at until the driver opens it.
class Gate {
 public:
  Gate() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Gate() { CloseHandle(event_); }
  void Open() { SetEvent(event_); }
  bool Wait(DWORD ms = kWaitMs) { return WaitForSingleObject(event_, ms) == WAIT_OBJECT_0; }

 private:
  HANDLE event_;
};

struct FlowArgs {
  const wchar_t* options = L"-opt";
  bool silent = false;
  const wchar_t* applicationPath = L"C:\\Apps\\Sample App.exe";
  bool runtimeFound = false;
};

// Runs the flow on this thread while `drive` runs on another. If the driver
// gives up early, the flow is ended by a quit message so the test cannot hang.
int32_t RunFlow(const FlowArgs& args, const std::function<void()>& drive) {
  const DWORD uiThread = GetCurrentThreadId();
  std::atomic<bool> flowEnded{false};
  std::thread driver([&] {
    drive();
    if (!WaitFor([&] { return flowEnded.load(); }, 5000)) {
      ADD_FAILURE() << "flow still running after the driver finished";
      PostThreadMessageW(uiThread, WM_QUIT, 99, 0);
    }
  });
  const int32_t result = tovik::RunInstallationFlow(args.options, args.silent, args.applicationPath,
                                                   args.runtimeFound);
  flowEnded = true;
  driver.join();
  return result;
}

void PostProgress(DownloadHelper* helper, DWORD received, DWORD total) {
  helper->totalBytes = total;
  helper->receivedBytes = received;
  PostMessageW(helper->hostWindow, tovik::UM_DOWNLOAD_PROGRESS, received, total);
}

// Waits until the worker's step is Finished (a cancel), up to kWaitMs.
void WaitCancelled(DownloadHelper* helper) {
  WaitFor([&] { return helper->step == tovik::Finished; });
}

std::pair<int, int> BarRange(HWND bar) {
  PBRANGE range = {};
  SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  return {range.iLow, range.iHigh};
}

const tovik::LanguageTexts& UserRow() {
  return tovik::kLanguageTable[tovik::FindLanguageRow(GetUserDefaultUILanguage())];
}

class UiFlow : public ::testing::Test {
 protected:
  void SetUp() override { tvtest::Reset(); }
};

TEST_F(UiFlow, ProgressDialogShowsTextsAndBarThenRunsTheInstaller) {
  tvtest::TempDir temp(L"ui-success");
  const std::wstring stored = temp / L"VantelRuntimeInstaller.exe";
  tvtest::WriteFileBytes(stored, "MZ");
  Gate step1, step2, step3, step4;
  tvtest::installerExitCode = 7;
  tvtest::workerScript = [&](DownloadHelper* helper) {
    PostProgress(helper, 250, 1000);
    step1.Wait();
    PostProgress(helper, 5000, 0);
    step2.Wait();
    PostProgress(helper, 9000000, 0x80000000u);
    step3.Wait();
    PostMessageW(helper->hostWindow, tovik::UM_DOWNLOAD_VERIFYING, 0, 0);
    step4.Wait();
    ShowWindow(helper->progressDialog, SW_HIDE);
    wchar_t* path = new wchar_t[stored.size() + 1];
    lstrcpyW(path, stored.c_str());
    helper->context->path = path;
    helper->result = 0;
    helper->step = tovik::Finished;
    PostMessageW(helper->hostWindow, tovik::UM_DOWNLOAD_DONE, 0, 0);
  };
  const int32_t result = RunFlow({}, [&] {
    HWND dialog = WaitDialog(Kind::Progress);
    ASSERT_NE(dialog, nullptr);
    HWND bar = GetDlgItem(dialog, 1003);
    EXPECT_EQ(Text(dialog), L"Installing Sample App.exe");
    EXPECT_EQ(ControlText(dialog, 1002), L"Please wait.");
    EXPECT_EQ(ControlText(dialog, 1001), L"Cancel");
    EXPECT_TRUE(WaitFor([&] { return SendMessageW(bar, PBM_GETPOS, 0, 0) == 250; }));
    EXPECT_EQ(BarRange(bar), std::make_pair(0, 1000));
    Screenshot(dialog, L"progress_en_success_run");
    step1.Open();
    EXPECT_TRUE(WaitFor([&] { return SendMessageW(bar, PBM_GETPOS, 0, 0) == 5000; }));
    EXPECT_EQ(BarRange(bar), std::make_pair(0, 8192000));
    step2.Open();
    // A size of 2^31 or more counts as unknown; a position past the end
    // leaves the bar full.
    EXPECT_TRUE(WaitFor([&] { return SendMessageW(bar, PBM_GETPOS, 0, 0) == 8192000; }));
    EXPECT_EQ(BarRange(bar), std::make_pair(0, 8192000));
    step3.Open();
    EXPECT_TRUE(WaitFor([&] { return ControlText(dialog, 1002) == L"Verifying download..."; }));
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 8192000);
    step4.Open();
  });
  EXPECT_EQ(result, 7);
  ASSERT_EQ(tvtest::installerCalls.size(), 1u);
  EXPECT_EQ(tvtest::installerCalls[0].installerPath, stored);
  EXPECT_EQ(tvtest::installerCalls[0].options, L"-opt");
  EXPECT_EQ(tvtest::installerCalls[0].applicationPath, L"C:\\Apps\\Sample App.exe");
  EXPECT_TRUE(tvtest::installerCalls[0].installerExisted);
  EXPECT_FALSE(tvtest::Exists(stored)) << "the stored installer outlived the run";
  EXPECT_TRUE(tvtest::LogLines().empty());
}

// The title is the prefix and the file-name part of the path, cut at 1023
// characters; a path without separator counts whole.
TEST_F(UiFlow, TitleTakesTheFileNameAndIsCut) {
  const std::wstring longName(2000, L'n');
  const struct {
    std::wstring path;
    std::wstring title;
  } cases[] = {
      {L"setup.exe", L"Installing setup.exe"},
      {L"C:\\a b\\c\\My App.exe", L"Installing My App.exe"},
      {L"C:\\x\\" + longName, (L"Installing " + longName).substr(0, 1023)},
  };
  for (const auto& c : cases) {
    tvtest::Reset();
    Gate close;
    tvtest::workerScript = [&](DownloadHelper*) { close.Wait(); };
    FlowArgs args;
    args.applicationPath = c.path.c_str();
    std::wstring title;
    RunFlow(args, [&] {
      HWND dialog = WaitDialog(Kind::Progress);
      ASSERT_NE(dialog, nullptr);
      title = Text(dialog);
      Click(GetDlgItem(dialog, 1001));
    });
    close.Open();
    EXPECT_EQ(title, c.title);
  }
}

// The worker may hold the record's context slot (a marker in place of the
// context) while it stores the installer's path; the verifying message
// handled meanwhile must not read through it.
TEST_F(UiFlow, VerifyingTextDoesNotReadTheContextSlot) {
  Gate held, released;
  tvtest::workerScript = [&](DownloadHelper* helper) {
    tovik::StoredInstaller* context = helper->context;
    static char marker;
    helper->context = reinterpret_cast<tovik::StoredInstaller*>(&marker);
    PostMessageW(helper->hostWindow, tovik::UM_DOWNLOAD_VERIFYING, 0, 0);
    held.Open();
    released.Wait();
    helper->context = context;
    helper->result = 13;
    PostMessageW(helper->hostWindow, tovik::UM_DOWNLOAD_FAILED, 0, 13);
  };
  std::wstring status;
  const int32_t result = RunFlow({}, [&] {
    HWND dialog = WaitDialog(Kind::Progress);
    ASSERT_NE(dialog, nullptr);
    held.Wait();
    WaitFor([&] { return ControlText(dialog, 1002) == L"Verifying download..."; });
    status = ControlText(dialog, 1002);
    released.Open();
    HWND box = WaitDialog(Kind::MessageBox);
    ASSERT_NE(box, nullptr);
    Click(GetDlgItem(box, IDOK));
  });
  EXPECT_EQ(status, L"Verifying download...");
  EXPECT_EQ(result, 13);
}

TEST_F(UiFlow, InstallerExitCodeZeroIsTheResult) {
  tvtest::TempDir temp(L"ui-zero");
  const std::wstring stored = temp / L"VantelRuntimeInstaller.exe";
  tvtest::WriteFileBytes(stored, "MZ");
  tvtest::installerExitCode = 0;
  tvtest::workerScript = [&](DownloadHelper* helper) {
    wchar_t* path = new wchar_t[stored.size() + 1];
    lstrcpyW(path, stored.c_str());
    helper->context->path = path;
    helper->result = 0;
    PostMessageW(helper->hostWindow, tovik::UM_DOWNLOAD_DONE, 0, 0);
  };
  EXPECT_EQ(RunFlow({}, [] {}), 0);
  EXPECT_EQ(tvtest::installerCalls.size(), 1u);
  EXPECT_FALSE(tvtest::Exists(stored));
}

enum class CancelBy { Button, Escape, Enter, TitleBar };

TEST_F(UiFlow, CancelEndsWith11AndStartsNothing) {
  const struct {
    CancelBy by;
    bool logged;
    const char* name;
  } cases[] = {
      {CancelBy::Button, true, "button"},
      {CancelBy::Escape, true, "Escape"},
      {CancelBy::Enter, true, "Enter"},
      {CancelBy::TitleBar, false, "title bar"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tvtest::Reset();
    // The worker has built its addresses (result 0) and stores an installer
    // right after the cancel: neither may lead to an installer being run.
    tvtest::workerScript = [](DownloadHelper* helper) {
      helper->result = 0;
      PostProgress(helper, 10, 100);
      WaitCancelled(helper);
      PostMessageW(helper->hostWindow, tovik::UM_DOWNLOAD_DONE, 0, 0);
    };
    const int32_t result = RunFlow({}, [&] {
      HWND dialog = WaitDialog(Kind::Progress);
      ASSERT_NE(dialog, nullptr);
      // Keys reach the dialog only once it has been activated.
      ASSERT_TRUE(WaitFor([&] { return GetForegroundWindow() == dialog && FocusOf(dialog) != nullptr; }));
      switch (c.by) {
        case CancelBy::Button:
          Click(GetDlgItem(dialog, 1001));
          break;
        case CancelBy::Escape:
          PressKey(dialog, VK_ESCAPE);
          break;
        case CancelBy::Enter:
          PressKey(dialog, VK_RETURN);
          break;
        case CancelBy::TitleBar:
          PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
          break;
      }
      EXPECT_TRUE(WaitFor([&] { return !IsWindow(dialog); }));
    });
    EXPECT_EQ(result, 11);
    EXPECT_TRUE(tvtest::installerCalls.empty());
    const std::vector<std::string> expected =
        c.logged ? std::vector<std::string>{"Download cancelled"} : std::vector<std::string>{};
    EXPECT_EQ(tvtest::LogLines(), expected);
  }
}

// A click activation leaves the keys to the focused control (Escape and Enter
// do nothing); a real activation brings the dialog's keys back.
TEST_F(UiFlow, KeysWorkOnlyAfterARealActivation) {
  tvtest::Reset();
  tvtest::workerScript = [](DownloadHelper* helper) {
    helper->result = 0;
    PostProgress(helper, 10, 100);
    WaitCancelled(helper);
    PostMessageW(helper->hostWindow, tovik::UM_DOWNLOAD_DONE, 0, 0);
  };
  bool survivedKeys = false;
  const int32_t result = RunFlow({}, [&] {
    HWND dialog = WaitDialog(Kind::Progress);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitFor([&] { return GetForegroundWindow() == dialog && FocusOf(dialog) != nullptr; }));
    // Posted messages of one thread arrive in order: the activation first.
    PostMessageW(dialog, WM_ACTIVATE, MAKEWPARAM(WA_CLICKACTIVE, 0), 0);
    PressKey(dialog, VK_ESCAPE);
    PressKey(dialog, VK_RETURN);
    Sleep(700);
    survivedKeys = IsWindow(dialog) != FALSE;
    PostMessageW(dialog, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, 0), 0);
    PressKey(dialog, VK_ESCAPE);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(dialog); }));
  });
  EXPECT_TRUE(survivedKeys) << "keys worked after a click activation";
  EXPECT_EQ(result, 11);
  EXPECT_EQ(tvtest::LogLines(), std::vector<std::string>{"Download cancelled"});
}

// A message box of the failure, its text, and OK ends the run with the code.
TEST_F(UiFlow, WorkerFailuresShowTheirTextAndEndWithTheirCode) {
  const tovik::LanguageTexts& en = tovik::kLanguageTable[1];
  const struct {
    int code;
    const wchar_t* text;  // null: nothing is shown
  } cases[] = {{11, en.runtimeMissing}, {13, en.validationFailed}, {12, nullptr}, {0x7FFF, nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    tvtest::Reset();
    tvtest::workerScript = [&](DownloadHelper* helper) {
      helper->result = c.code;
      PostMessageW(helper->hostWindow, tovik::UM_DOWNLOAD_FAILED, 0, c.code);
    };
    const int32_t result = RunFlow({}, [&] {
      if (c.text == nullptr) return;
      HWND box = WaitDialog(Kind::MessageBox);
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(Text(box), L"Tessaro Vantel");
      EXPECT_EQ(ControlText(box, 0xFFFF), c.text);
      // The box is the progress dialog's, which takes no input meanwhile.
      HWND progress = WaitDialog(Kind::Progress, false);
      EXPECT_EQ(GetWindow(box, GW_OWNER), progress);
      EXPECT_FALSE(IsWindowEnabled(progress));
      Click(GetDlgItem(box, IDOK));
    });
    EXPECT_EQ(result, c.code);
    EXPECT_TRUE(tvtest::installerCalls.empty());
  }
}

// A real mouse click at the centre of `window`, through the system's input.
void MouseClick(HWND window) {
  RECT r = {};
  GetWindowRect(window, &r);
  SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  INPUT input[2] = {};
  input[0].type = input[1].type = INPUT_MOUSE;
  input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, input, sizeof(INPUT));
}

// A click on Cancel while the failure's box is up neither closes the box nor
// cancels: the result stays the failure's code.
TEST_F(UiFlow, CancelClickDuringFailureBoxKeepsTheCode) {
  const tovik::LanguageTexts& en = tovik::kLanguageTable[1];
  for (int code : {13, 11}) {
    SCOPED_TRACE(code);
    tvtest::Reset();
    tvtest::workerScript = [&](DownloadHelper* helper) {
      helper->result = code;
      PostMessageW(helper->hostWindow, tovik::UM_DOWNLOAD_FAILED, 0, code);
    };
    bool boxStayed = false;
    const int32_t result = RunFlow({}, [&] {
      HWND box = WaitDialog(Kind::MessageBox);
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(ControlText(box, 0xFFFF), code == 13 ? en.validationFailed : en.runtimeMissing);
      HWND progress = WaitDialog(Kind::Progress);
      ASSERT_NE(progress, nullptr);
      // Out of the way of the Cancel button, so the click lands on it.
      RECT cancel = {};
      GetWindowRect(GetDlgItem(progress, 1001), &cancel);
      RECT boxRect = {};
      GetWindowRect(box, &boxRect);
      const int x = cancel.right + 20 + (boxRect.right - boxRect.left) < 1024 ? cancel.right + 20 : 0;
      const int y = cancel.bottom + 20 + (boxRect.bottom - boxRect.top) < 768 ? cancel.bottom + 20 : 0;
      SetWindowPos(box, HWND_TOP, x, y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
      MouseClick(GetDlgItem(progress, 1001));
      Sleep(300);
      boxStayed = IsWindow(box) && IsWindowVisible(box);
      Click(GetDlgItem(box, IDOK));
    });
    EXPECT_TRUE(boxStayed);
    EXPECT_EQ(result, code);
    EXPECT_EQ(tvtest::LogLines(), std::vector<std::string>{});
  }
}

// The link's hidden address sits before the label; returns the client point
// of the label's first character.
POINT LabelPoint(HWND richEdit, const std::wstring& label) {
  const std::wstring text = Text(richEdit);
  const size_t at = text.find(label);
  POINTL point = {};
  SendMessageW(richEdit, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&point), static_cast<LPARAM>(at + 2));
  return {point.x + 2, point.y + 4};
}

// Link and hidden effects of the character at `at` (selects it).
DWORD Effects(HWND richEdit, size_t at) {
  SendMessageW(richEdit, EM_SETSEL, at, static_cast<LPARAM>(at + 1));
  CHARFORMAT2W format = {};
  format.cbSize = sizeof(format);
  SendMessageW(richEdit, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
  return format.dwEffects;
}

void PostMouse(HWND window, UINT message, POINT at, WPARAM keys) {
  PostMessageW(window, message, keys, MAKELPARAM(at.x, at.y));
}

class HttpsRecorder {
 public:
  HttpsRecorder() : dir_(L"ui-https") {
    record_ = dir_ / L"https.txt";
    tvtest::RegisterHttpsRecorder(record_);
  }
  ~HttpsRecorder() { SetEnvironmentVariableW(L"TV_RECORD", nullptr); }
  tvtest::Record Read() const { return tvtest::ReadRecord(record_); }
  const std::wstring& file() const { return record_; }

 private:
  tvtest::TempDir dir_;
  std::wstring record_;
};

TEST_F(UiFlow, UpdateUnavailableShowsErrorDialogWhoseLinkOpensOnLeftButtonDown) {
  HttpsRecorder recorder;
  const tovik::LanguageTexts& en = tovik::kLanguageTable[1];
  tvtest::workerScript = [](DownloadHelper* helper) {
    helper->result = 14;
    PostMessageW(helper->hostWindow, tovik::UM_DOWNLOAD_FAILED, 0, 14);
  };
  const std::wstring sysreqs = std::wstring(en.updateUnavailable).substr(
      std::wstring(en.updateUnavailable).find(L"'") + 1,
      std::wstring(en.updateUnavailable).find(L"'>") - std::wstring(en.updateUnavailable).find(L"'") - 1);
  const int32_t result = RunFlow({}, [&] {
    HWND dialog = WaitDialog(Kind::Error);
    ASSERT_NE(dialog, nullptr);
    HWND progress = WaitDialog(Kind::Progress);
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), progress);
    EXPECT_EQ(Text(dialog), L"Tessaro Vantel Installer");
    EXPECT_EQ(ControlText(dialog, IDOK), L"OK");
    HWND rich = GetDlgItem(dialog, 1004);
    EXPECT_EQ(Text(rich),
              L"This application requires an update to Tessaro Vantel that is not available for your system. "
              L"Please view the " + sysreqs + L"<<!>>LINK<<!>>system requirements for Tessaro Vantel and update "
              L"your system accordingly.");
    Screenshot(dialog, L"error_update_unavailable");
    // Address and marker hidden link, label visible link, the rest plain.
    const std::wstring all = Text(rich);
    const size_t addressAt = all.find(sysreqs), labelAt = all.find(L"system requirements");
    EXPECT_EQ(Effects(rich, addressAt) & (CFE_LINK | CFE_HIDDEN), DWORD{CFE_LINK | CFE_HIDDEN});
    EXPECT_EQ(Effects(rich, labelAt - 1) & (CFE_LINK | CFE_HIDDEN), DWORD{CFE_LINK | CFE_HIDDEN});
    EXPECT_EQ(Effects(rich, labelAt) & (CFE_LINK | CFE_HIDDEN), DWORD{CFE_LINK});
    EXPECT_EQ(Effects(rich, labelAt + 18) & (CFE_LINK | CFE_HIDDEN), DWORD{CFE_LINK});
    EXPECT_EQ(Effects(rich, labelAt + 19) & (CFE_LINK | CFE_HIDDEN), 0u) << "text after the label is a link";
    EXPECT_EQ(Effects(rich, all.size() - 1) & (CFE_LINK | CFE_HIDDEN), 0u);
    EXPECT_EQ(Effects(rich, 0) & (CFE_LINK | CFE_HIDDEN), 0u);
    const POINT label = LabelPoint(rich, L"system requirements");
    // Neither a right click nor a move opens anything.
    PostMouse(rich, WM_MOUSEMOVE, label, 0);
    PostMouse(rich, WM_RBUTTONDOWN, label, MK_RBUTTON);
    PostMouse(rich, WM_RBUTTONUP, label, 0);
    Sleep(1500);
    EXPECT_FALSE(tvtest::Exists(recorder.file())) << "opened without a left click";
    // The left button going down opens it, without a release.
    PostMouse(rich, WM_LBUTTONDOWN, label, MK_LBUTTON);
    EXPECT_TRUE(WaitFor([&] { return recorder.Read().present; }));
    const tvtest::Record record = recorder.Read();
    EXPECT_NE(record.commandLine.find(L"\"" + sysreqs + L"\""), std::wstring::npos) << record.commandLine;
    PostMouse(rich, WM_LBUTTONUP, label, 0);
    // The opened handler (or another test program) may take the activation;
    // the dialog then keeps its focus control and restores it when it is
    // activated again, so the check survives that and still sees a focus left
    // in the text.
    EXPECT_TRUE(WaitFor([&] {
      if (GetForegroundWindow() != dialog) SetForegroundWindow(dialog);
      return FocusOf(dialog) == GetDlgItem(dialog, IDOK);
    }));
    Click(GetDlgItem(dialog, IDOK));
  });
  EXPECT_EQ(result, 14);
  EXPECT_TRUE(tvtest::installerCalls.empty());
}

TEST_F(UiFlow, TextControlPassesTheFocusOnToOk) {
  tvtest::workerScript = [](DownloadHelper* helper) {
    PostMessageW(helper->hostWindow, tovik::UM_DOWNLOAD_FAILED, 0, 14);
  };
  const int32_t result = RunFlow({}, [&] {
    HWND dialog = WaitDialog(Kind::Error);
    ASSERT_NE(dialog, nullptr);
    HWND ok = GetDlgItem(dialog, IDOK);
    // What Tab does: the next tab stop after OK is the text, which hands the
    // focus straight back. Windows of other test programs may take the
    // activation (and with it the focus) meanwhile: then try again.
    bool handedBack = false;
    for (int attempt = 0; attempt < 3 && !handedBack; ++attempt) {
      SetForegroundWindow(dialog);
      if (!WaitFor([&] { return FocusOf(dialog) == ok; }, 3000)) continue;
      SendMessageW(dialog, WM_NEXTDLGCTL, 0, FALSE);
      handedBack = WaitFor([&] { return FocusOf(dialog) == ok; }, 3000);
    }
    EXPECT_TRUE(handedBack) << FocusOf(dialog);
    PressKey(dialog, VK_ESCAPE);  // the dialog manager's IDCANCEL closes it
  });
  EXPECT_EQ(result, 14);
}

TEST_F(UiFlow, BlockedUpdateShowsErrorOverProgressWithoutWorker) {
  tvtest::updatesAllowed = false;
  FlowArgs args;
  args.runtimeFound = true;
  const int32_t result = RunFlow(args, [&] {
    HWND dialog = WaitDialog(Kind::Error);
    ASSERT_NE(dialog, nullptr);
    HWND progress = WaitDialog(Kind::Progress);
    ASSERT_NE(progress, nullptr);
    EXPECT_EQ(ControlText(progress, 1002), L"Please wait.");
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), progress);
    EXPECT_EQ(Text(GetDlgItem(dialog, 1004)), tovik::kLanguageTable[1].updateBlocked);
    Screenshot(dialog, L"error_update_blocked");
    Click(GetDlgItem(dialog, IDOK));
  });
  EXPECT_EQ(result, 15);
  EXPECT_EQ(tvtest::workersStarted, 0);
  EXPECT_EQ(tvtest::LogLines(),
            std::vector<std::string>{"Cannot complete installation because runtime updates are disabled on this machine"});
}

TEST_F(UiFlow, FirstInstallNeverConsultsThePolicy) {
  tvtest::updatesAllowed = false;
  tvtest::workerScript = [](DownloadHelper* helper) {
    PostMessageW(helper->hostWindow, tovik::UM_DOWNLOAD_FAILED, 0, 12);
  };
  EXPECT_EQ(RunFlow({}, [] {}), 12);
  EXPECT_EQ(tvtest::workersStarted, 1);
  EXPECT_TRUE(tvtest::LogLines().empty());
}

TEST_F(UiFlow, SilentRunKeepsProgressHiddenButShowsFailures) {
  Gate done;
  tvtest::workerScript = [&](DownloadHelper* helper) {
    PostProgress(helper, 10, 100);
    done.Wait();
    PostMessageW(helper->hostWindow, tovik::UM_DOWNLOAD_FAILED, 0, 11);
  };
  FlowArgs args;
  args.silent = true;
  const int32_t result = RunFlow(args, [&] {
    HWND progress = WaitDialog(Kind::Progress, false);
    ASSERT_NE(progress, nullptr);
    EXPECT_TRUE(WaitFor([&] { return SendMessageW(GetDlgItem(progress, 1003), PBM_GETPOS, 0, 0) == 10; }));
    Sleep(300);
    EXPECT_FALSE(IsWindowVisible(progress));
    done.Open();
    HWND box = WaitDialog(Kind::MessageBox);
    ASSERT_NE(box, nullptr);
    EXPECT_FALSE(IsWindowVisible(progress));
    EXPECT_EQ(ControlText(box, 0xFFFF), tovik::kLanguageTable[1].runtimeMissing);
    Click(GetDlgItem(box, IDOK));
  });
  EXPECT_EQ(result, 11);
}

// Run once per language with LANG set (see CMakeLists); TV_UI_SHOT names the
// screenshot.
TEST(UiLanguage, ProgressDialogInTheUsersLanguage) {
  tvtest::Reset();
  wchar_t shot[64] = L"";
  GetEnvironmentVariableW(L"TV_UI_SHOT", shot, 64);
  wchar_t code[16] = L"";
  GetEnvironmentVariableW(L"TV_UI_LANGUAGE", code, 16);
  const tovik::LanguageTexts& row = UserRow();
  if (code[0] != L'\0') {
    EXPECT_EQ(tvtest::Widen(row.languageCode), code) << "Wine did not take the language from LANG";
  }
  Gate close;
  tvtest::workerScript = [&](DownloadHelper* helper) {
    PostProgress(helper, 420000, 1000000);
    close.Wait();
  };
  const int32_t result = RunFlow({}, [&] {
    HWND dialog = WaitDialog(Kind::Progress);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Text(dialog), std::wstring(row.installingPrefix) + L"Sample App.exe");
    EXPECT_EQ(ControlText(dialog, 1002), row.pleaseWait);
    EXPECT_EQ(ControlText(dialog, 1001), row.cancelLabel);
    EXPECT_TRUE(WaitFor([&] { return SendMessageW(GetDlgItem(dialog, 1003), PBM_GETPOS, 0, 0) == 420000; }));
    EXPECT_EQ(GetThreadLocale(), MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT));
    Screenshot(dialog, shot[0] != L'\0' ? shot : L"progress");
    Click(GetDlgItem(dialog, 1001));
  });
  close.Open();
  EXPECT_EQ(result, 11);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // An empty scratch folder as the current directory (see the Wine notes).
  static tvtest::TempDir cwd(L"ui-cwd");
  SetCurrentDirectoryW(cwd.path().c_str());
  return RUN_ALL_TESTS();
}
