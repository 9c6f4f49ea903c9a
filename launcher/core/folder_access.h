// Who may open the folders the launcher makes in the temporary folder (the
// extraction folder and the relaunch folder), chosen from what the launcher's
// token is. An elevated launcher (an administrator's full token) or one
// running as SYSTEM starts programs with rights the user's other processes
// lack, so its folders admit Administrators and SYSTEM only; otherwise the
// user keeps full access beside them. Portable: the Win32 side reads the
// token and hands the descriptor text to the system.
#pragma once

#include <stddef.h>
#include <stdint.h>

// What the launcher knows of its token.
struct TokenFacts {
  const wchar_t* userSid;  // the token's user in text form ("S-1-5-21-...")
  bool elevated;           // an administrator's full token: elevated, Administrators enabled
};

enum class Trustee {
  kAdministrators,  // the built-in group, S-1-5-32-544
  kLocalSystem,     // S-1-5-18
  kTokenUser,       // TokenFacts::userSid
};

struct FolderAccess {
  Trustee owner;
  // Each is allowed full control of the folder, inherited by every file and
  // folder made below it. Nobody else is let in: the list is protected from
  // the temporary folder's inheritable entries.
  Trustee grantees[3];
  size_t granteeCount;
};

// The well-known SID of SYSTEM, in text form.
inline constexpr wchar_t kLocalSystemSid[] = L"S-1-5-18";

// True when `sid` (text form) is SYSTEM.
bool IsLocalSystemSid(const wchar_t* sid);

// Elevated or SYSTEM: owner Administrators, Administrators and SYSTEM.
// Otherwise: owner the token's user, the user, Administrators and SYSTEM.
FolderAccess ChooseFolderAccess(const TokenFacts& facts);

// Room for the longest descriptor text: a user SID of up to 15
// sub-authorities appears twice.
inline constexpr size_t kFolderDescriptorCapacity = 512;

// Writes `access` as security-descriptor text into `text` (`capacity`
// characters including the terminator), the form the system's descriptor
// text conversion reads: "O:<owner>D:P" and one "(A;OICI;FA;;;<trustee>)"
// per grantee. False, with `text` undefined, when it does not fit or when
// the token's user is needed and `userSid` is not a SID in text form (only
// "S-1-" followed by digits and hyphens is taken into the text).
bool FormatFolderDescriptor(const FolderAccess& access, const wchar_t* userSid, wchar_t* text,
                            size_t capacity);
