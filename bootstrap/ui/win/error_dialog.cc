#include "error_dialog.h"

#include <richedit.h>
#include <shellapi.h>

#include "link_markup.h"
#include "system_libraries.h"
#include "ui_resources.h"

namespace tovik {
namespace {

// Initialisation record of the dialog.
struct ErrorDialogParams {
  HWND ownerWindow;
  const wchar_t* messageText;  // link markup; not owned; may be absent
};

class RichEditSink final : public MarkupSink {
 public:
  explicit RichEditSink(HWND control) : control_(control) {}

  void Append(const wchar_t* text) override {
    const size_t start = TextLength();
    SendMessageW(control_, EM_SETSEL, static_cast<WPARAM>(-1), 0);
    SendMessageW(control_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
    // Inserted text takes the format of the text before it, so a run after
    // a link would become part of the link: every run starts out plain.
    SetFormat(start, TextLength(), 0);
  }

  size_t TextLength() override {
    return static_cast<size_t>(SendMessageW(control_, WM_GETTEXTLENGTH, 0, 0));
  }

  void FormatLink(size_t start, size_t end, bool hidden) override {
    if (hidden) {
      SetFormat(start, end, CFM_LINK | CFM_HIDDEN);
    } else {
      SetFormat(start, end, CFE_LINK);
    }
  }

 private:
  // Gives [start, end) exactly `effects` among link and hidden; the mask
  // names only what is set, as the links need.
  void SetFormat(size_t start, size_t end, DWORD effects) {
    SendMessageW(control_, EM_SETSEL, start, static_cast<LPARAM>(end));
    CHARFORMAT2W format = {};
    format.cbSize = sizeof(format);
    format.dwMask = effects != 0 ? effects : (CFM_LINK | CFM_HIDDEN);
    format.dwEffects = effects;
    SendMessageW(control_, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
  }

  HWND control_;
};

void FocusOk(HWND dialog) {
  HWND ok = GetDlgItem(dialog, IDOK);
  // Posted: the text control is still taking the focus when this is asked.
  if (ok != nullptr) PostMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(ok), TRUE);
}

void OpenLink(const ENLINK* link) {
  const LONG first = link->chrg.cpMin;
  const LONG last = link->chrg.cpMax;
  if (last <= first) return;
  const SIZE_T count = static_cast<SIZE_T>(last - first) + 1;
  auto* text = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, count * sizeof(wchar_t)));
  if (text == nullptr) return;
  TEXTRANGEW range = {{first, last}, text};
  SendMessageW(link->nmhdr.hwndFrom, EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range));
  text[count - 1] = L'\0';
  if (CutAtLinkMarker(text)) {
    // Best effort: without a handler for the address the dialog simply stays.
    ShellExecuteW(nullptr, L"open", text, nullptr, nullptr, SW_SHOW);
  }
  HeapFree(GetProcessHeap(), 0, text);
}

// Fills the rich-edit `control` from the params' message: plain runs as
// text, each link as a hidden address and marker followed by its label,
// formatted as one link.
void AppendMarkedUpText(HWND control, const ErrorDialogParams* params) {
  if (params == nullptr) return;
  RichEditSink sink(control);
  // Best effort: a copy that cannot be made leaves the control empty.
  AppendMarkup(params->messageText, sink);
}

INT_PTR CALLBACK ErrorDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace

void ShowErrorDialog(HWND owner, const wchar_t* messageText) {
  // Best effort: without the library the dialog cannot be created and
  // DialogBoxParamW fails at once, which ends the run as if it was closed.
  LoadSystemLibrary(L"riched20.dll");
  ErrorDialogParams params = {owner, messageText};
  DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ERROR), owner, ErrorDialogProc,
                  reinterpret_cast<LPARAM>(&params));
}

namespace {

INT_PTR CALLBACK ErrorDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      HWND text = GetDlgItem(dialog, IDC_ERROR_TEXT);
      if (text != nullptr) {
        const LRESULT mask = SendMessageW(text, EM_GETEVENTMASK, 0, 0);
        SendMessageW(text, EM_SETEVENTMASK, 0, mask | ENM_LINK);
        AppendMarkedUpText(text, reinterpret_cast<const ErrorDialogParams*>(lParam));
      }
      return TRUE;
    }
    case WM_COMMAND: {
      const WORD id = LOWORD(wParam);
      if (id == IDOK || id == IDCANCEL) {
        EndDialog(dialog, static_cast<INT_PTR>(wParam));
        return TRUE;
      }
      if (id == IDC_ERROR_TEXT && HIWORD(wParam) == EN_SETFOCUS) {
        FocusOk(dialog);
        return TRUE;
      }
      return FALSE;
    }
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->idFrom == IDC_ERROR_TEXT && header->code == EN_LINK) {
        const auto* link = reinterpret_cast<const ENLINK*>(lParam);
        if (link->msg == WM_LBUTTONDOWN) {
          OpenLink(link);
          FocusOk(dialog);
          return TRUE;
        }
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

}  // namespace tovik
