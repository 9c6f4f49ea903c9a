// Host tests of the choice of who may open the launcher's folders, for each
// kind of token, and of the descriptor text handed to the system.
#include <gtest/gtest.h>

#include <string>

#include "folder_access.h"

namespace {

constexpr wchar_t kUser[] = L"S-1-5-21-1004336348-1177238915-682003330-1000";

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::wstring Descriptor(const TokenFacts& facts) {
  wchar_t text[kFolderDescriptorCapacity];
  if (!FormatFolderDescriptor(ChooseFolderAccess(facts), facts.userSid, text,
                              kFolderDescriptorCapacity))
    return L"<refused>";
  return text;
}

TEST(FolderAccess, EachKindOfToken) {
  const std::wstring user(kUser);
  const std::wstring adminsAndSystem = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
  const std::wstring userAdminsAndSystem =
      L"O:" + user + L"D:P(A;OICI;FA;;;" + user + L")(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
  struct Case {
    const char* what;
    const wchar_t* userSid;
    bool elevated;
    std::wstring descriptor;
  } cases[] = {
      {"limited user token", kUser, false, userAdminsAndSystem},
      {"administrator's full token", kUser, true, adminsAndSystem},
      {"SYSTEM, not reported elevated", L"S-1-5-18", false, adminsAndSystem},
      {"SYSTEM, reported elevated", L"S-1-5-18", true, adminsAndSystem},
      // Only SYSTEM itself, not a SID that starts like it.
      {"S-1-5-18-1", L"S-1-5-18-1", false,
       L"O:S-1-5-18-1D:P(A;OICI;FA;;;S-1-5-18-1)(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)"},
      {"LOCAL SERVICE", L"S-1-5-19", false,
       L"O:S-1-5-19D:P(A;OICI;FA;;;S-1-5-19)(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)"},
      // The elevated descriptor names no user, so no user text can spoil it.
      {"elevated, user unreadable", nullptr, true, adminsAndSystem},
  };
  for (const auto& c : cases) EXPECT_EQ(Narrow(Descriptor({c.userSid, c.elevated})), Narrow(c.descriptor)) << c.what;
}

TEST(FolderAccess, UserTextThatIsNoSidIsRefused) {
  for (const wchar_t* sid :
       {static_cast<const wchar_t*>(nullptr), L"", L"S-1-", L"S-1-5-", L"s-1-5-21-7", L"S-2-5-21",
        L"S-1-5-21-7)(A;OICI;FA;;;WD", L"S-1-5-21-7 ", L"BA", L"WD", L"S-1-5-21-7D:P"}) {
    wchar_t text[kFolderDescriptorCapacity];
    EXPECT_FALSE(FormatFolderDescriptor(ChooseFolderAccess({sid, false}), sid, text,
                                        kFolderDescriptorCapacity))
        << (sid ? Narrow(sid) : "null");
  }
}

TEST(FolderAccess, DescriptorMustFitItsBuffer) {
  // A SID with the most sub-authorities the system allows, each at its largest.
  std::wstring longest = L"S-1-5";
  for (int i = 0; i < 15; ++i) longest += L"-4294967295";
  const FolderAccess access = ChooseFolderAccess({longest.c_str(), false});
  wchar_t text[kFolderDescriptorCapacity];
  ASSERT_TRUE(FormatFolderDescriptor(access, longest.c_str(), text, kFolderDescriptorCapacity));
  const size_t needed = std::wstring(text).size() + 1;
  EXPECT_TRUE(FormatFolderDescriptor(access, longest.c_str(), text, needed));
  EXPECT_EQ(std::wstring(text).size() + 1, needed);
  EXPECT_FALSE(FormatFolderDescriptor(access, longest.c_str(), text, needed - 1));
  EXPECT_FALSE(FormatFolderDescriptor(access, longest.c_str(), text, 0));
}

}  // namespace
