// The built-in texts of the download user interface: sixteen languages and an
// English fallback, and the choice of a row from a Windows language id.
// Portable: no Windows headers.
#pragma once

#include <stdint.h>

namespace tovik {

// One language. Every text is a zero-terminated wide string; none is absent.
struct LanguageTexts {
  const char* languageCode;  // language tag such as "de" or "zh-Hans"; "" in the fallback
  uint32_t languageId;       // Windows LANGID of the row; 0 in the fallback
  const wchar_t* runtimeMissing;     // message box for result 11
  const wchar_t* installFailed;      // kept for completeness; no screen shows it
  const wchar_t* okLabel;            // no screen shows it
  const wchar_t* cancelLabel;        // progress dialog's button
  const wchar_t* pleaseWait;         // progress dialog's first status line
  const wchar_t* downloadFailed;     // no screen shows it
  const wchar_t* validationFailed;   // message box for result 13
  const wchar_t* verifying;          // status line once the installer has arrived
  const wchar_t* updateUnavailable;  // error dialog for result 14, with one link
  const wchar_t* installingPrefix;   // progress dialog's title, before the file name
  const wchar_t* updateBlocked;      // error dialog for result 15
};

inline constexpr int kLanguageRowCount = 17;
inline constexpr int kFallbackLanguageRow = 16;

// Rows in a fixed order: the order settles ties in FindLanguageRow.
extern const LanguageTexts kLanguageTable[kLanguageRowCount];

// Index (0 to 16) of the row for `languageId`: the first row with exactly
// this id; else the first of rows 0 to 15 with the same primary language
// (low 10 bits); else the English fallback, row 16.
int FindLanguageRow(uint16_t languageId);

}  // namespace tovik
