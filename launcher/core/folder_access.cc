#include "folder_access.h"

#include "path_join.h"

namespace {

bool Same(const wchar_t* a, const wchar_t* b) {
  while (*a && *a == *b) ++a, ++b;
  return *a == *b;
}

// "S-1-" and then digits and hyphens, with a digit last: nothing that could
// end an entry of the descriptor text or start another.
bool LooksLikeSid(const wchar_t* sid) {
  if (!sid || sid[0] != L'S' || sid[1] != L'-' || sid[2] != L'1' || sid[3] != L'-') return false;
  const wchar_t* p = sid + 4;
  if (*p < L'0' || *p > L'9') return false;
  for (; *p; ++p)
    if ((*p < L'0' || *p > L'9') && *p != L'-') return false;
  return p[-1] != L'-';
}

}  // namespace

bool IsLocalSystemSid(const wchar_t* sid) { return sid && Same(sid, kLocalSystemSid); }

FolderAccess ChooseFolderAccess(const TokenFacts& facts) {
  if (facts.elevated || IsLocalSystemSid(facts.userSid))
    return {Trustee::kAdministrators, {Trustee::kAdministrators, Trustee::kLocalSystem}, 2};
  return {Trustee::kTokenUser,
          {Trustee::kTokenUser, Trustee::kAdministrators, Trustee::kLocalSystem},
          3};
}

bool FormatFolderDescriptor(const FolderAccess& access, const wchar_t* userSid, wchar_t* text,
                            size_t capacity) {
  if (capacity == 0) return false;
  text[0] = L'\0';
  auto trustee = [userSid](Trustee t) -> const wchar_t* {
    switch (t) {
      case Trustee::kAdministrators:
        return L"BA";
      case Trustee::kLocalSystem:
        return L"SY";
      case Trustee::kTokenUser:
        return LooksLikeSid(userSid) ? userSid : nullptr;
    }
    return nullptr;
  };
  const wchar_t* owner = trustee(access.owner);
  if (!owner || !AppendText(text, capacity, L"O:") || !AppendText(text, capacity, owner) ||
      !AppendText(text, capacity, L"D:P"))
    return false;
  const size_t most = sizeof(access.grantees) / sizeof(access.grantees[0]);
  for (size_t i = 0; i < access.granteeCount && i < most; ++i) {
    // Allowed, inherited by files (OI) and folders (CI), full control (FA).
    const wchar_t* grantee = trustee(access.grantees[i]);
    if (!grantee || !AppendText(text, capacity, L"(A;OICI;FA;;;") ||
        !AppendText(text, capacity, grantee) || !AppendText(text, capacity, L")"))
      return false;
  }
  return true;
}
