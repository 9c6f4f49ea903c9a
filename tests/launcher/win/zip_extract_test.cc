// ExtractZipEntries, called directly under Wine on a file that holds a
// ZIP-style entry stream: the walk's result comes back to the caller, a
// folder that cannot be made included (ZipResult::kFolderFailed).
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"
#include "zip_builder.h"
#include "zip_extract.h"

using namespace tvtest;

namespace {


// Writes `stream` to a file in `scratch` and unpacks it into `folder`,
// reading at most `limit` bytes of it.
ZipResult Extract(const TempDir& scratch, const std::string& stream, const std::wstring& folder,
                  uint64_t limit = UINT64_MAX) {
  const std::wstring payload = scratch / L"payload.bin";
  WriteFileBytes(payload, stream);
  HANDLE file = CreateFileW(payload.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            0, nullptr);
  EXPECT_NE(file, INVALID_HANDLE_VALUE);
  wchar_t outputPath[MAX_PATH + 2];
  lstrcpynW(outputPath, folder.c_str(), MAX_PATH + 2);
  const DWORD folderLength = static_cast<DWORD>(folder.size());
  outputPath[folderLength] = L'\\';
  outputPath[folderLength + 1] = L'\0';
  const ZipResult result = ExtractZipEntries(file, limit, folderLength, outputPath);
  CloseHandle(file);
  return result;
}

TEST(ExtractZipEntries, UnpacksIntoTheExtractionFolder) {
  TempDir scratch(L"zip_extract");
  const std::wstring folder = scratch / L"out";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const std::string stream =
      ZipStream({{.name = "top.txt", .data = "1"},
                 {.name = "d/e/deflated.txt", .data = std::string(5000, 'x'), .deflate = true}});
  EXPECT_EQ(Extract(scratch, stream, folder), ZipResult::kEnded);
  EXPECT_EQ(ReadFileBytes(folder + L"\\top.txt"), "1");
  EXPECT_EQ(ReadFileBytes(folder + L"\\d\\e\\deflated.txt"), std::string(5000, 'x'));
}

TEST(ExtractZipEntries, ReadsNothingBeyondItsLimit) {
  TempDir scratch(L"zip_extract_limit");
  const std::wstring folder = scratch / L"out";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const std::string first = ZipStream({{.name = "a.txt", .data = "1"}});
  // The stream goes on behind the limit, central directory and all.
  const std::string stream = ZipStream({{.name = "a.txt", .data = "1"}, {.name = "b.txt", .data = "2"}});
  const uint64_t firstEntry = 30 + 5 + 1;
  ASSERT_EQ(stream.compare(0, firstEntry, first, 0, firstEntry), 0);
  EXPECT_NE(Extract(scratch, stream, folder, firstEntry + 29), ZipResult::kEnded);
  EXPECT_TRUE(Exists(folder + L"\\a.txt"));
  EXPECT_FALSE(Exists(folder + L"\\b.txt"));
}

TEST(ExtractZipEntries, AFolderThatCannotBeMadeIsReported) {
  TempDir scratch(L"zip_extract_fail");
  // No folder can be made below an extraction folder that does not exist.
  const std::wstring folder = scratch / L"missing";
  EXPECT_EQ(Extract(scratch, ZipStream({{.name = "d/a.txt", .data = "1"}}), folder),
            ZipResult::kFolderFailed);
  EXPECT_FALSE(Exists(folder));
}

TEST(ExtractZipEntries, AFileThatCannotBeCreatedIsReported) {
  TempDir scratch(L"zip_extract_twice");
  const std::wstring folder = scratch / L"out";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  EXPECT_EQ(Extract(scratch,
                    ZipStream({{.name = "a.txt", .data = "1"}, {.name = "a.txt", .data = "2"}}),
                    folder),
            ZipResult::kCreateFailed);
  // Small files are written by two threads: either may come first.
  const std::string kept = ReadFileBytes(folder + L"\\a.txt");
  EXPECT_TRUE(kept == "1" || kept == "2") << kept;
}

}  // namespace
