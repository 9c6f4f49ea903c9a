// CreateParentFolders, called directly under Wine: each name's folders exist
// afterwards, however the names before it left the ones it remembers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher.h"
#include "test_support.h"

using namespace tvtest;

namespace {

TEST(CreateParentFolders, EveryNameFindsItsFolders) {
  // Names in payload order; after each, its folders must exist and the
  // output path must name the entry.
  const std::vector<std::wstring> names = {
      L"a/b/c/file1.txt", L"a/b/c/file2.txt", L"a/b/d/file3.txt", L"a/bb/file4.txt",
      L"a/b/file5.txt",   L"top.txt",         L"a/b/c/e/f.txt",   L"x/y/",
      L"x/y/z.txt",       L"A/B/upper.txt",
  };
  TempDir scratch(L"parents");
  const std::wstring folder = scratch.path();
  wchar_t outputPath[MAX_PATH + 2];
  lstrcpynW(outputPath, folder.c_str(), MAX_PATH + 2);
  const DWORD folderLength = static_cast<DWORD>(folder.size());
  outputPath[folderLength] = L'\\';
  outputPath[folderLength + 1] = L'\0';
  for (const std::wstring& name : names) {
    CreateParentFolders(outputPath, folderLength, name.c_str(), static_cast<DWORD>(name.size() + 1));
    EXPECT_EQ(std::wstring(outputPath), folder + L"\\" + name);
    const size_t slash = name.find_last_of(L'/');
    if (slash == std::wstring::npos) continue;
    std::wstring parent = name.substr(0, slash);
    for (wchar_t& c : parent)
      if (c == L'/') c = L'\\';
    EXPECT_TRUE(IsDirectory(folder + L"\\" + parent)) << Narrow(name);
  }
}

}  // namespace
