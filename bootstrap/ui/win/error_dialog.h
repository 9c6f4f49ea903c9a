// The error dialog (template 104): a message with optional link markup in a
// read-only rich-edit control, and an OK button. A left click on a link
// opens its address with the shell.
#pragma once

#include <windows.h>

namespace tovik {

// Loads the rich-edit library (kept loaded) and shows the dialog modally,
// owned by `owner`. Returns once it has been closed; shows nothing when the
// dialog cannot be created (for instance without the rich-edit library).
void ShowErrorDialog(HWND owner, const wchar_t* messageText);

}  // namespace tovik
