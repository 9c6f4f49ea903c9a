// The 7z open-and-extract flow over memory, against archives made at build
// time by the 7-Zip program (TV_7Z_ARCHIVES holds them and their sources),
// and against the earlier walk that decoded each block whole. The walks that
// can fail part-way run twice: on one thread, and with every block decoded
// ahead on a second one.
#include "seven_zip_core.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "7zAlloc.h"
#include "7zTypes.h"
#include "memory_archive.h"
#include "std_second_thread.h"
#include "whole_block_walk.h"

namespace fs = std::filesystem;
using namespace tvtest;

namespace {

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

fs::path Archives() { return fs::path(TV_7Z_ARCHIVES); }

// Every file below src/<name>, by its "/"-separated relative name.
std::map<std::string, std::string> SourceFiles(const std::string& name) {
  std::map<std::string, std::string> files;
  const fs::path root = Archives() / "src" / name;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file())
      files[fs::relative(entry.path(), root).generic_string()] = ReadAll(entry.path());
  return files;
}

// Holds the bytes it hands out to `cap` at a time (0: no cap) and records
// the most it held at once.
struct CappedAlloc {
  ISzAlloc vt{&Alloc, &Free};
  size_t cap = 0;
  size_t live = 0;
  size_t peak = 0;
  std::map<void*, size_t> blocks;
  static CappedAlloc* Self(ISzAllocPtr p) {
    return const_cast<CappedAlloc*>(reinterpret_cast<const CappedAlloc*>(p));
  }
  static void* Alloc(ISzAllocPtr p, size_t size) {
    CappedAlloc* self = Self(p);
    if (self->cap && self->live + size > self->cap) return nullptr;
    void* block = SzAlloc(p, size);
    if (!block) return nullptr;
    self->blocks[block] = size;
    self->live += size;
    if (self->live > self->peak) self->peak = self->live;
    return block;
  }
  static void Free(ISzAllocPtr p, void* address) {
    if (!address) return;
    CappedAlloc* self = Self(p);
    self->live -= self->blocks.at(address);
    self->blocks.erase(address);
    SzFree(p, address);
  }
};

struct Outcome {
  SRes result = SZ_OK;
  SevenZipMemorySink sink;
  CappedAlloc main;
  bool ahead = false;  // every block decoded ahead on a second thread
};

void Extract(const std::string& archive, Outcome& run, size_t maxNameLength = kSevenZipNameCapacity) {
  const std::string bytes = ReadAll(Archives() / (archive + ".7z"));
  ASSERT_FALSE(bytes.empty()) << archive;
  MemoryArchive stream(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  const ISzAlloc temp = {SzAlloc, SzFree};
  StdSecondThread thread;
  run.result = ExtractSevenZipArchive(&stream.vt, &run.main.vt, &temp, maxNameLength, run.sink,
                                      run.ahead ? &thread : nullptr, 0);
  EXPECT_EQ(run.main.live, 0u) << archive;
}

// Every archive the build made (its list of them).
std::vector<std::string> AllArchives() {
  std::vector<std::string> names;
  const std::string list = ReadAll(Archives() / "stamp");
  for (size_t at = 0, end; at < list.size(); at = end + 1) {
    end = list.find('\n', at);
    if (end == std::string::npos) end = list.size();
    const fs::path path(list.substr(at, end - at));
    if (path.extension() == ".7z") names.push_back(path.stem().string());
  }
  return names;
}

TEST(SevenZipCore, StreamingWalkUnpacksWhatTheWholeBlockWalkUnpacks) {
  const std::vector<std::string> archives = AllArchives();
  ASSERT_GT(archives.size(), 20u);
  for (const std::string& name : archives) {
    Outcome streamed, ahead;
    Extract(name, streamed);
    ahead.ahead = true;
    Extract(name, ahead);
    EXPECT_EQ(ahead.result, streamed.result) << name;
    EXPECT_EQ(ahead.sink.files, streamed.sink.files) << name;
    EXPECT_EQ(ahead.sink.discarded, streamed.sink.discarded) << name;
    const std::string bytes = ReadAll(Archives() / (name + ".7z"));
    MemoryArchive stream(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    SevenZipMemorySink whole;
    const ISzAlloc alloc = {SzAlloc, SzFree};
    const SRes wholeResult = WholeBlockWalk(&stream.vt, &alloc, kSevenZipNameCapacity, whole);
    EXPECT_EQ(streamed.result == SZ_OK, wholeResult == SZ_OK) << name;
    EXPECT_EQ(streamed.sink.files, whole.files) << name;
    EXPECT_EQ(streamed.sink.folders, whole.folders) << name;
  }
}

// A block several times the memory the walk may hold comes out whole; the
// whole-block walk cannot even start on it.
TEST(SevenZipCore, BlockLargerThanTheMemoryCapIsUnpacked) {
  constexpr size_t kCap = 4u << 20;
  const auto source = SourceFiles("big_block");
  size_t blockSize = 0;
  for (const auto& [name, data] : source) blockSize += data.size();
  EXPECT_GT(blockSize, 4 * kCap);
  // Decoded ahead, the 1 MiB dictionary wraps many times under the pieces
  // not yet taken.
  for (const bool ahead : {false, true}) {
    Outcome run;
    run.main.cap = kCap;
    run.ahead = ahead;
    Extract("big_block", run);
    ASSERT_EQ(run.result, SZ_OK) << ahead;
    EXPECT_EQ(run.sink.files, source) << ahead;
  }

  const std::string bytes = ReadAll(Archives() / "big_block.7z");
  MemoryArchive stream(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  CappedAlloc capped;
  capped.cap = kCap;
  SevenZipMemorySink whole;
  EXPECT_EQ(WholeBlockWalk(&stream.vt, &capped.vt, kSevenZipNameCapacity, whole), SZ_ERROR_MEM);
}

// A file handed over in pieces whose CRC then fails is discarded, and the
// walk fails with the CRC's verdict.
TEST(SevenZipCore, FileWhoseCrcFailsIsDiscarded) {
  for (const bool ahead : {false, true}) {
    Outcome run;
    run.ahead = ahead;
    Extract("crc_mismatch", run);
    EXPECT_EQ(run.result, SZ_ERROR_CRC) << ahead;
    EXPECT_EQ(run.sink.order, std::vector<std::string>{"stored.bin"}) << ahead;
    EXPECT_EQ(run.sink.discarded, std::vector<std::string>{"stored.bin"}) << ahead;
    EXPECT_TRUE(run.sink.files.empty()) << ahead;
  }
}

class SevenZipArchives : public testing::TestWithParam<const char*> {};

TEST_P(SevenZipArchives, EveryFileComesOutAsItWentIn) {
  Outcome run;
  Extract(GetParam(), run);
  ASSERT_EQ(run.result, SZ_OK);
  EXPECT_EQ(run.sink.files, SourceFiles(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Coders, SevenZipArchives,
                         testing::Values("solid_many", "mixed", "filter_bcj", "filter_bcj2",
                                         "filter_ppc", "filter_ia64", "filter_arm",
                                         "filter_armt", "filter_sparc", "filter_arm64",
                                         "filter_riscv", "filter_delta", "lzma2_first"));

TEST(SevenZipCore, FoldersAreNeverHandedToTheSink) {
  Outcome run;
  Extract("mixed", run);
  ASSERT_EQ(run.result, SZ_OK);
  for (const auto& name : run.sink.order) {
    EXPECT_NE(name, "emptydir");
    EXPECT_NE(name, "a/b/emptytoo");
  }
  EXPECT_EQ(run.sink.files.at("empty.txt"), "");
}

// Folder items reach the sink as folders, the empty ones included: the
// unpacked tree is the archive's.
TEST(SevenZipCore, FolderItemsAreHandedAsFolders) {
  Outcome run;
  Extract("mixed", run);
  ASSERT_EQ(run.result, SZ_OK);
  std::set<std::string> source;
  const fs::path root = Archives() / "src" / "mixed";
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_directory()) source.insert(fs::relative(entry.path(), root).generic_string());
  EXPECT_EQ(std::set<std::string>(run.sink.folders.begin(), run.sink.folders.end()), source);
  EXPECT_EQ(run.sink.folders.size(), source.size());
}

TEST(SevenZipCore, DamagedStreamFailsAndKeepsTheFilesBeforeIt) {
  for (const bool ahead : {false, true}) {
    Outcome run;
    run.ahead = ahead;
    Extract("damaged", run);
    EXPECT_NE(run.result, SZ_OK) << ahead;
    EXPECT_EQ(run.sink.files.size(), 1u) << ahead;
    EXPECT_EQ(run.sink.files.count("1.dat"), 1u) << ahead;
  }
}

TEST(SevenZipCore, NameLimitCountsUnitsWithTheTerminator) {
  // 117 characters: 118 units with the terminator.
  for (const auto& [limit, expected] : std::vector<std::pair<size_t, SRes>>{
           {118, SZ_OK}, {117, SZ_ERROR_FAIL}, {1000, SZ_OK}}) {
    Outcome run;
    Extract("name_117", run, limit);
    EXPECT_EQ(run.result, expected) << limit;
    EXPECT_EQ(run.sink.files.size(), expected == SZ_OK ? 1u : 0u) << limit;
  }
}

class RefusedNames : public testing::TestWithParam<const char*> {};

TEST_P(RefusedNames, StopBeforeTheSinkSeesThem) {
  Outcome run;
  Extract(GetParam(), run);
  EXPECT_EQ(run.result, SZ_ERROR_FAIL);
  EXPECT_EQ(run.sink.order, std::vector<std::string>{"0ok.txt"});
}

INSTANTIATE_TEST_SUITE_P(Names, RefusedNames,
                         testing::Values("refused_parent", "refused_deep_parent",
                                         "refused_drive", "refused_leading",
                                         "refused_backslash", "refused_device",
                                         "refused_device_folder", "refused_device_port"));

// Folder items come before the files in these archives: a refused name on
// an empty folder stops the extraction before anything is made.
TEST(SevenZipCore, RefusedFolderItemsStopBeforeAnythingIsMade) {
  for (const char* archive : {"refused_folder_parent", "refused_folder_device"}) {
    Outcome run;
    Extract(archive, run);
    EXPECT_EQ(run.result, SZ_ERROR_FAIL) << archive;
    EXPECT_TRUE(run.sink.folders.empty()) << archive;
    EXPECT_TRUE(run.sink.order.empty()) << archive;
  }
}

// The header of one empty file, without (the archive of the build) and with a
// names table: an archive may leave the names out, and its file then has no
// name to be written under.
TEST(SevenZipCore, FileWithoutANameIsRefused) {
  const std::string files = "\x01\x05\x01\x0E\x01\x80\x0F\x01\x80";
  const std::string named = files + std::string("\x11\x05\x00" "a\x00\x00\x00", 7);
  struct Case {
    std::string archive;
    SRes result;
    std::vector<std::string> order;
  } cases[] = {
      {ReadAll(Archives() / "nameless.7z"), SZ_ERROR_FAIL, {}},
      {SevenZipArchive(std::string(1, '\0'), files + std::string(2, '\0')), SZ_ERROR_FAIL, {}},
      {SevenZipArchive(std::string(1, '\0'), named + std::string(2, '\0')), SZ_OK, {"a"}},
  };
  for (const auto& c : cases) {
    MemoryArchive stream(reinterpret_cast<const uint8_t*>(c.archive.data()), c.archive.size());
    SevenZipMemorySink sink;
    const ISzAlloc alloc = {SzAlloc, SzFree};
    EXPECT_EQ(ExtractSevenZipArchive(&stream.vt, &alloc, &alloc, kSevenZipNameCapacity, sink),
              c.result);
    EXPECT_EQ(sink.order, c.order);
  }
}

// Decoded ahead, the walk stops while the second thread still decodes.
TEST(SevenZipCore, SinkFailureStopsTheExtraction) {
  for (const bool ahead : {false, true}) {
    Outcome run;
    run.sink.failAfter = 2;
    run.ahead = ahead;
    Extract("solid_many", run);
    EXPECT_EQ(run.result, SZ_ERROR_FAIL) << ahead;
    EXPECT_EQ(run.sink.order.size(), 3u) << ahead;  // two accepted, the third refused
  }
}

TEST(SevenZipCore, BytesThatAreNoArchiveDoNotOpen) {
  for (const std::string& bytes : {std::string(), std::string(100, 'x'),
                                   std::string("7z\xBC\xAF\x27\x1C", 6) + std::string(40, '\0')}) {
    MemoryArchive stream(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    SevenZipMemorySink sink;
    const ISzAlloc alloc = {SzAlloc, SzFree};
    EXPECT_NE(ExtractSevenZipArchive(&stream.vt, &alloc, &alloc, kSevenZipNameCapacity, sink),
              SZ_OK);
    EXPECT_TRUE(sink.order.empty());
  }
}

}  // namespace
