// CreateParentFolders, called directly under Wine: each name's folders exist
// afterwards, however the names before it left the ones it remembers; a
// folder that cannot be made, a refused name or one that does not fit is
// reported, not ended on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parent_folders.h"
#include "test_support.h"

using namespace tvtest;

namespace {

// The output path for `folder`: the folder and one backslash.
DWORD StartOutputPath(wchar_t* outputPath, const std::wstring& folder) {
  lstrcpynW(outputPath, folder.c_str(), MAX_PATH + 2);
  const DWORD folderLength = static_cast<DWORD>(folder.size());
  outputPath[folderLength] = L'\\';
  outputPath[folderLength + 1] = L'\0';
  return folderLength;
}

bool Create(wchar_t* outputPath, DWORD folderLength, const std::wstring& name) {
  return CreateParentFolders(outputPath, folderLength, name.c_str(),
                             static_cast<DWORD>(name.size() + 1));
}

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
  const DWORD folderLength = StartOutputPath(outputPath, folder);
  for (const std::wstring& name : names) {
    ASSERT_TRUE(Create(outputPath, folderLength, name)) << Narrow(name);
    EXPECT_EQ(std::wstring(outputPath), folder + L"\\" + name);
    const size_t slash = name.find_last_of(L'/');
    if (slash == std::wstring::npos) continue;
    std::wstring parent = name.substr(0, slash);
    for (wchar_t& c : parent)
      if (c == L'/') c = L'\\';
    EXPECT_TRUE(IsDirectory(folder + L"\\" + parent)) << Narrow(name);
  }
}

// "\" separates as "/" does; a name ending in either names a folder, which
// is made too.
TEST(CreateParentFolders, BackslashesAndFolderNames) {
  struct Case {
    std::wstring name;
    std::vector<std::wstring> folders;  // below the extraction folder
  } cases[] = {
      {L"p\\q\\r.txt", {L"p", L"p\\q"}},
      {L"s\\t\\", {L"s", L"s\\t"}},
      {L"u/v\\", {L"u", L"u\\v"}},
      {L"w\\x/", {L"w", L"w\\x"}},
      {L"empty/", {L"empty"}},
  };
  TempDir scratch(L"parents_backslash");
  wchar_t outputPath[MAX_PATH + 2];
  const DWORD folderLength = StartOutputPath(outputPath, scratch.path());
  for (const Case& c : cases) {
    ASSERT_TRUE(Create(outputPath, folderLength, c.name)) << Narrow(c.name);
    for (const std::wstring& folder : c.folders)
      EXPECT_TRUE(IsDirectory(scratch / folder)) << Narrow(c.name) << ": " << Narrow(folder);
  }
  EXPECT_FALSE(Exists(scratch / L"p\\q\\r.txt"));
}

// A file where a folder belongs is no folder: the name fails instead of
// passing for one whose folder exists.
TEST(CreateParentFolders, AFileInTheWayIsAFailure) {
  TempDir scratch(L"parents_file");
  WriteFileBytes(scratch / L"f", "file");
  wchar_t outputPath[MAX_PATH + 2];
  const DWORD folderLength = StartOutputPath(outputPath, scratch.path());
  for (const wchar_t* name : {L"f/", L"f\\", L"f/g.txt", L"F\\g\\h.txt"})
    EXPECT_FALSE(Create(outputPath, folderLength, name)) << Narrow(name);
  EXPECT_TRUE(Create(outputPath, folderLength, L"g/"));
}

TEST(CreateParentFolders, AFolderThatCannotBeMadeIsAFailure) {
  TempDir scratch(L"parents_fail");
  // The extraction folder itself does not exist, so no folder below it can
  // be made.
  const std::wstring missing = scratch / L"missing";
  wchar_t outputPath[MAX_PATH + 2];
  const DWORD folderLength = StartOutputPath(outputPath, missing);
  EXPECT_FALSE(Create(outputPath, folderLength, L"a/b.txt"));
  EXPECT_FALSE(IsDirectory(missing + L"\\a"));
  // A name without folders needs none made.
  EXPECT_TRUE(Create(outputPath, folderLength, L"top.txt"));
  // The failed folder is not remembered as made: once the extraction folder
  // exists, the same folder is made.
  ASSERT_TRUE(CreateDirectoryW(missing.c_str(), nullptr));
  EXPECT_TRUE(Create(outputPath, folderLength, L"a/b.txt"));
  EXPECT_TRUE(IsDirectory(missing + L"\\a"));
}

TEST(CreateParentFolders, RefusedOrOverlongNamesAreFailures) {
  TempDir scratch(L"parents_refused");
  wchar_t outputPath[MAX_PATH + 2];
  const DWORD folderLength = StartOutputPath(outputPath, scratch.path());
  for (const std::wstring& name : {std::wstring(L"../x/y.txt"), std::wstring(L"C:/x/y.txt"),
                                   std::wstring(L"nul/y.txt")})
    EXPECT_FALSE(Create(outputPath, folderLength, name)) << Narrow(name);
  EXPECT_FALSE(IsDirectory(scratch / L"x"));
  // Folder, backslash, name and terminator fill MAX_PATH + 2 characters at most.
  const std::wstring fits(MAX_PATH + 2 - folderLength - 2, L'n');
  EXPECT_TRUE(Create(outputPath, folderLength, fits));
  EXPECT_FALSE(Create(outputPath, folderLength, fits + L"n"));
}

}  // namespace
