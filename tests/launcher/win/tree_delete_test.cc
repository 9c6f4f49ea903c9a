// The launcher's own removal of the extraction folder, called directly under
// Wine on trees such as a setup program leaves behind.
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"
#include "tree_delete.h"

using namespace tvtest;

namespace {

std::wstring Long(const std::wstring& path) { return L"\\\\?\\" + path; }

void MakeFile(const std::wstring& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
  HANDLE file = CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes,
                            nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << Narrow(path);
  DWORD written = 0;
  WriteFile(file, "x", 1, &written, nullptr);
  CloseHandle(file);
}

void MakeFolder(const std::wstring& path) {
  ASSERT_TRUE(CreateDirectoryW(Long(path).c_str(), nullptr)) << Narrow(path);
}

bool Present(const std::wstring& path) {
  return GetFileAttributesW(Long(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(DeleteTree, RemovesWhatTheSetupProgramLeft) {
  struct Case {
    const char* name;
    void (*make)(const std::wstring& root);
  };
  const Case cases[] = {
      {"empty folder", [](const std::wstring&) {}},
      {"files and nested folders",
       [](const std::wstring& root) {
         MakeFile(root + L"\\setup.exe");
         MakeFolder(root + L"\\data");
         MakeFolder(root + L"\\data\\empty");
         MakeFolder(root + L"\\data\\nested");
         MakeFile(root + L"\\data\\nested\\file.txt");
         MakeFile(root + L"\\data\\\u00e4\u00f6\u00fc.txt");
       }},
      {"read-only files and folder",
       [](const std::wstring& root) {
         MakeFile(root + L"\\locked.dll", FILE_ATTRIBUTE_READONLY);
         MakeFolder(root + L"\\ro");
         MakeFile(root + L"\\ro\\inner.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
         SetFileAttributesW(Long(root + L"\\ro").c_str(), FILE_ATTRIBUTE_READONLY);
       }},
      {"paths beyond 260 characters",
       [](const std::wstring& root) {
         std::wstring path = root;
         for (int level = 0; level < 6; ++level) {
           path += L"\\" + std::wstring(60, static_cast<wchar_t>(L'a' + level));
           MakeFolder(path);
         }
         ASSERT_GT(path.size(), 300u);
         MakeFile(path + L"\\deep.txt", FILE_ATTRIBUTE_READONLY);
       }},
  };
  for (const Case& c : cases) {
    TempDir scratch(L"tree-delete");
    const std::wstring root = scratch / L"Van1a2b.tmp";
    MakeFolder(root);
    c.make(root);
    DeleteTree(root.c_str());
    EXPECT_FALSE(Present(root)) << c.name;
    EXPECT_TRUE(ListDir(scratch.path()).empty()) << c.name;
  }
}

TEST(DeleteTree, AnOpenFileStaysAndTheRestGoes) {
  TempDir scratch(L"tree-delete");
  const std::wstring root = scratch / L"Van1a2b.tmp";
  MakeFolder(root);
  MakeFolder(root + L"\\busy");
  MakeFile(root + L"\\busy\\held.log");
  MakeFile(root + L"\\busy\\free.txt");
  MakeFile(root + L"\\other.txt");
  HANDLE held = CreateFileW((root + L"\\busy\\held.log").c_str(), GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  DeleteTree(root.c_str());
  EXPECT_TRUE(Present(root + L"\\busy\\held.log"));
  EXPECT_FALSE(Present(root + L"\\busy\\free.txt"));
  EXPECT_FALSE(Present(root + L"\\other.txt"));
  CloseHandle(held);
  DeleteTree(root.c_str());
  EXPECT_FALSE(Present(root));
}

TEST(DeleteTree, LinksAreRemovedNotFollowed) {
  TempDir scratch(L"tree-delete");
  const std::wstring outside = scratch / L"outside";
  MakeFolder(outside);
  MakeFile(outside + L"\\keep.txt");
  const std::wstring root = scratch / L"Van1a2b.tmp";
  MakeFolder(root);
  const std::wstring link = root + L"\\link";
  // Where the system lets this process make a folder link through the Win32
  // call (Windows needs the privilege or developer mode; Wine may lack it).
  using CreateLinkFn = BOOLEAN(WINAPI*)(const wchar_t*, const wchar_t*, DWORD);
  auto createLink = reinterpret_cast<CreateLinkFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CreateSymbolicLinkW")));
  if (!createLink || !createLink(link.c_str(), outside.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY))
    GTEST_SKIP() << "no folder link could be made here (error " << GetLastError() << ")";
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(link.c_str(), &found);
  // Wine 8 reports success but makes nothing that can be found again.
  if (search == INVALID_HANDLE_VALUE) GTEST_SKIP() << "the link made here cannot be found";
  FindClose(search);
  EXPECT_TRUE(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) << found.dwFileAttributes;
  DeleteTree(root.c_str());
  EXPECT_FALSE(Present(root));
  EXPECT_TRUE(Present(outside + L"\\keep.txt")) << "the walk followed the link";
}

}  // namespace
