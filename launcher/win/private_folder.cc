// The launcher's folders admit only who the launcher's token calls for: an
// elevated or SYSTEM launcher's setup program must not be replaceable, nor
// get a library planted beside it, by the user's other processes.
#include "private_folder.h"

#include "folder_access.h"
#include "system_functions.h"

namespace {

// A SID in text form: "S-1-" and at most 15 sub-authorities of 10 digits.
constexpr DWORD kSidTextCapacity = 192;

// S-1-5-32-544 in the layout of a SID: revision, two sub-authorities, the NT
// authority, then BUILTIN and Administrators.
struct BuiltinSid {
  BYTE revision;
  BYTE subAuthorityCount;
  BYTE authority[6];
  DWORD subAuthority[2];
};
constexpr BuiltinSid kAdministrators = {SID_REVISION, 2, {0, 0, 0, 0, 0, 5},
                                        {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}};

bool tokenRead = false;
bool tokenElevated = false;
wchar_t tokenUser[kSidTextCapacity];

}  // namespace

bool ReadLauncherToken() {
  if (tokenRead) return true;
  HANDLE token;
  if (!gSystem.openProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  // TOKEN_USER with its SID behind it: SECURITY_MAX_SID_SIZE (68) bytes.
  union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + 68];
  } user;
  DWORD size = 0;
  bool ok = gSystem.getTokenInformation(token, TokenUser, &user, sizeof(user), &size) != FALSE;
  wchar_t* text = nullptr;
  if (ok) ok = gSystem.convertSidToStringSid(user.user.User.Sid, &text) != FALSE;
  if (ok) {
    ok = lstrlenW(text) < static_cast<int>(kSidTextCapacity);
    if (ok) lstrcpynW(tokenUser, text, kSidTextCapacity);
    LocalFree(text);
  }
  // An administrator's full token is elevated and has the Administrators
  // group enabled: an elevated administrator's, or SYSTEM's. A limited token
  // is not elevated (Wine enables the group in it all the same), and an
  // elevated token without the group (another privileged group's) could
  // neither own the folder as Administrators nor open it afterwards. Before
  // Vista there is no elevation to ask about: the group decides alone.
  BOOL member = FALSE;
  ok = ok && gSystem.checkTokenMembership(nullptr, const_cast<BuiltinSid*>(&kAdministrators), &member);
  TOKEN_ELEVATION elevation = {};
  if (ok && !gSystem.getTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size))
    elevation.TokenIsElevated = TRUE;
  tokenElevated = member && elevation.TokenIsElevated;
  // Best effort: the handle was only queried.
  CloseHandle(token);
  tokenRead = ok;
  return ok;
}

bool RunsAsLocalSystem() { return tokenRead && IsLocalSystemSid(tokenUser); }

DWORD LauncherTempPath(DWORD capacity, wchar_t* buffer) {
  if (!ReadLauncherToken()) return 0;
  if (RunsAsLocalSystem()) {
    // Newer systems only: for SYSTEM it answers a folder below the Windows
    // folder that only SYSTEM may open, where the user's temporary folder of
    // a service is open to more.
    using GetTempPath2Fn = DWORD(WINAPI*)(DWORD, wchar_t*);
    if (auto getTempPath2 = OptionalKernel32Function<GetTempPath2Fn>("GetTempPath2W"))
      return getTempPath2(capacity, buffer);
  }
  return GetTempPathW(capacity, buffer);
}

bool CreatePrivateFolder(const wchar_t* folder) {
  if (!ReadLauncherToken()) return false;
  wchar_t text[kFolderDescriptorCapacity];
  const TokenFacts facts = {tokenUser, tokenElevated};
  if (!FormatFolderDescriptor(ChooseFolderAccess(facts), tokenUser, text,
                              kFolderDescriptorCapacity))
    return false;
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
  if (!gSystem.convertStringSecurityDescriptor(text, SDDL_REVISION_1,
                                               &attributes.lpSecurityDescriptor, nullptr))
    return false;
  const bool created = CreateDirectoryW(folder, &attributes) != FALSE;
  // Best effort: the descriptor was copied into the folder.
  LocalFree(attributes.lpSecurityDescriptor);
  return created;
}
