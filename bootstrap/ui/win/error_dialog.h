// The error dialog (template 104): a message with optional link markup in a
// read-only rich-edit control, and an OK button. A left click on a link
// opens its address with the shell.
#pragma once

#include <windows.h>

namespace tovik {

// Initialisation record of the dialog.
struct ErrorDialogParams {
  HWND ownerWindow;
  const wchar_t* messageText;  // link markup; not owned; may be absent
};

// Loads the rich-edit library (kept loaded) and shows the dialog modally,
// owned by `owner`. Returns once it has been closed; shows nothing when the
// dialog cannot be created (for instance without the rich-edit library).
void ShowErrorDialog(HWND owner, const wchar_t* messageText);

INT_PTR CALLBACK ErrorDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Fills the rich-edit `control` from the params' message: plain runs as
// text, each link as a hidden address and marker followed by its label,
// formatted as one link.
void AppendMarkedUpText(HWND control, const ErrorDialogParams* params);

}  // namespace tovik
