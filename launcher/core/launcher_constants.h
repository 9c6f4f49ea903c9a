// The launcher's fixed numbers and names, shared by the launcher itself, the
// packaging tool (tvpack), the fuzzers and the tests. Portable.
#pragma once

#include <stdint.h>

#include "tv_launcher_name.h"

// The launcher's path buffers: 260 characters with the terminator (MAX_PATH).
inline constexpr uint32_t kPathCapacity = 260;

// The exit code of every failure of the launcher itself.
inline constexpr uint32_t kLauncherFailureExitCode = 5;

// The launcher's name in its version resource ("FileDescription"): tvpack
// takes an image that carries it for the launcher.
inline constexpr char kLauncherName[] = TV_LAUNCHER_NAME;

// The setup program run when the payload carries no launch descriptor, and
// also the launcher's own file name. One spelling for both text forms.
#define TV_DEFAULT_SETUP_NAME TV_LAUNCHER_FILE_NAME
inline constexpr char kDefaultSetupName[] = TV_DEFAULT_SETUP_NAME;
inline constexpr wchar_t kDefaultSetupNameW[] = L"" TV_DEFAULT_SETUP_NAME;

// The prefix the launcher hands GetTempFileNameW for its extraction folder
// (launcher_flow.cc). The system keeps at most three characters of it, so the
// folder is named "Van" + up to four hexadecimal digits + ".tmp".
// kDefaultMaxFolder below counts on that length: change them together.
inline constexpr wchar_t kTempNamePrefixW[] = L"Vantel";
inline constexpr uint32_t kTempNameKept =
    sizeof(kTempNamePrefixW) / sizeof(wchar_t) - 1 < 3 ? sizeof(kTempNamePrefixW) / sizeof(wchar_t) - 1 : 3;
// The extraction folder's own name: the kept prefix, four hexadecimal digits
// at most, ".tmp".
inline constexpr uint32_t kTempNameLength = kTempNameKept + 4 + 4;

// The longest temporary folder tvpack allows for by default: the one under a
// 20-character user name (the longest the system allows),
// "C:\Users\<20>\AppData\Local\Temp\" with its final backslash.
inline constexpr uint32_t kLongestUsualTempFolder = 49;
// The default worst case of the extraction folder's length that tvpack
// checks paths against (--max-folder): that temporary folder and the
// extraction folder's name made from kTempNamePrefixW.
inline constexpr uint32_t kDefaultMaxFolder = kLongestUsualTempFolder + kTempNameLength;
