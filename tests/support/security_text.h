// Text forms of a token and of a security descriptor that tests compare,
// shared by the recorder program and the Windows-side test support:
//   token:      "<user SID>|<1 when elevated, else 0>|<1 when the
//               Administrators group is enabled in it, else 0>"
//   descriptor: "<1 when its DACL is protected, else 0>|<owner SID>|<entries>",
//               entries "A,<flags>,<mask>,<SID>" (hexadecimal flags and mask)
//               with ";" between them.
#pragma once

#include <windows.h>

#include <sddl.h>

#include <string>

namespace tvtest {

inline std::wstring SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!sid || !ConvertSidToStringSidW(sid, &text)) return L"?";
  std::wstring result(text);
  LocalFree(text);
  return result;
}

// The token of this process, or "error <code>".
inline std::wstring TokenText() {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
    return L"error " + std::to_wstring(GetLastError());
  BYTE user[256];
  DWORD size = 0;
  std::wstring value = GetTokenInformation(token, TokenUser, user, sizeof(user), &size)
                           ? SidText(reinterpret_cast<TOKEN_USER*>(user)->User.Sid)
                           : L"?";
  TOKEN_ELEVATION elevation = {};
  GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size);
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID admins = nullptr;
  BOOL member = FALSE;
  if (AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                               0, 0, 0, &admins)) {
    CheckTokenMembership(nullptr, admins, &member);
    FreeSid(admins);
  }
  CloseHandle(token);
  return value + (elevation.TokenIsElevated ? L"|1" : L"|0") + (member ? L"|1" : L"|0");
}

inline std::wstring DescriptorText(PSECURITY_DESCRIPTOR sd) {
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision;
  GetSecurityDescriptorControl(sd, &control, &revision);
  PSID owner = nullptr;
  BOOL defaulted, present = FALSE;
  GetSecurityDescriptorOwner(sd, &owner, &defaulted);
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
  std::wstring value = std::wstring((control & SE_DACL_PROTECTED) ? L"1|" : L"0|") + SidText(owner) + L"|";
  if (!present || !dacl) value += L"no DACL";
  for (DWORD i = 0; present && dacl && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) break;
    const ACE_HEADER* header = static_cast<ACE_HEADER*>(ace);
    if (i > 0) value += L";";
    wchar_t numbers[32];
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
      auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
      wsprintfW(numbers, L"A,%x,%lx,", header->AceFlags, allowed->Mask);
      value += numbers + SidText(&allowed->SidStart);
    } else {
      value += L"type " + std::to_wstring(header->AceType);
    }
  }
  return value;
}

}  // namespace tvtest
