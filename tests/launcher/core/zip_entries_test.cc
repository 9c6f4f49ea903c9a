// Host tests of the ZIP-style entry walker on crafted streams.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "memory_io.h"
#include "zip_builder.h"
#include "zip_entries.h"

namespace {

using tvtest::MemoryReader;
using tvtest::MemorySink;
using tvtest::ZipEntry;
using tvtest::ZipStream;

constexpr uint32_t kFolderLength = 40;

ZipResult Walk(const std::string& stream, MemorySink& sink, size_t piece = SIZE_MAX,
               uint32_t folderLength = kFolderLength) {
  MemoryReader reader(stream, piece);
  return WalkZipEntries(reader, folderLength, sink);
}

std::string Random(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string out(size, '\0');
  for (auto& c : out) c = static_cast<char>(random());
  return out;
}

TEST(WalkZipEntries, UnpacksStoredDeflatedEmptyAndNestedFiles) {
  const std::string big = Random(300000, 1) + std::string(500000, 'z');  // several chunks
  const std::string stream = ZipStream({
      {.name = "a.txt", .data = "stored"},
      {.name = "d.txt", .data = "deflated deflated deflated", .deflate = true},
      {.name = "empty", .data = ""},
      {.name = "empty-deflated", .data = "", .deflate = true},
      {.name = "x/", .data = ""},  // folder entry
      {.name = "x/y/z.bin", .data = big, .deflate = true, .extra = std::string(9, 'E')},
      {.name = "x/s.bin", .data = big, .extra = "UT\x05\0abcde"},
  });
  for (size_t piece : {SIZE_MAX, size_t{7}}) {
    MemorySink sink;
    ASSERT_EQ(Walk(stream, sink, piece), ZipResult::kEnded);
    EXPECT_EQ(sink.order, (std::vector<std::string>{"a.txt", "d.txt", "empty", "empty-deflated",
                                                    "x/y/z.bin", "x/s.bin"}));
    EXPECT_EQ(sink.files["a.txt"], "stored");
    EXPECT_EQ(sink.files["d.txt"], "deflated deflated deflated");
    EXPECT_EQ(sink.files["empty"], "");
    EXPECT_EQ(sink.files["empty-deflated"], "");
    EXPECT_TRUE(sink.files["x/y/z.bin"] == big);
    EXPECT_TRUE(sink.files["x/s.bin"] == big);
    // Folders from the top down, per entry; the folder entry made its own.
    EXPECT_EQ(sink.folders, (std::vector<std::string>{"x", "x", "x/y", "x"}));
  }
}

TEST(WalkZipEntries, HowTheStreamEnds) {
  const std::string one = tvtest::LocalEntry({.name = "a", .data = "1"});
  // An end record without a comment: 22 bytes.
  const std::string endRecord = std::string("PK\x05\x06", 4) + std::string(18, '\0');
  struct Case {
    const char* what;
    std::string stream;
    ZipResult result;
  } cases[] = {
      {"by a central directory", one + tvtest::StreamEnd(), ZipResult::kEnded},
      {"by an end record", one + endRecord + std::string(30, 'c'), ZipResult::kEnded},
      {"by an end record that ends the file", one + endRecord, ZipResult::kEnded},
      {"by 30 bytes without a signature", one + std::string(30, 'q'), ZipResult::kBadSignature},
      {"by a local signature's first three bytes", one + "PK\x03\x05" + std::string(26, '\0'),
       ZipResult::kBadSignature},
      {"by a data descriptor", one + "PK\x07\x08" + std::string(26, '\0'),
       ZipResult::kBadSignature},
      {"by the end of the file", one, ZipResult::kShortRead},
      {"by an end record cut short", one + endRecord.substr(0, 21), ZipResult::kShortRead},
      {"by a cut header", one + tvtest::StreamEnd().substr(0, 29), ZipResult::kShortRead},
      {"nothing at all", "", ZipResult::kShortRead},
  };
  for (const auto& c : cases) {
    MemorySink sink;
    EXPECT_EQ(Walk(c.stream, sink), c.result) << c.what;
  }
}

// Damage in the middle of a stream stops the walk as a failure instead of
// passing for its end and dropping the entries behind it.
TEST(WalkZipEntries, DamageInTheMiddleIsNoEnd) {
  const std::vector<ZipEntry> entries = {
      {.name = "a.txt", .data = std::string(5000, 'a'), .deflate = true},
      {.name = "b.txt", .data = "b"},
      {.name = "c.txt", .data = "c"},
  };
  const std::string intact = ZipStream(entries);
  const size_t second = tvtest::LocalEntry(entries[0]).size();
  std::string badSignature = intact;
  badSignature[second + 3] = '\x05';
  std::vector<ZipEntry> enlarged = entries;
  enlarged[0].packedSize = static_cast<uint32_t>(tvtest::RawDeflate(entries[0].data).size() + 12);
  struct Case {
    const char* what;
    std::string stream;
  } cases[] = {
      {"corrupted signature of the second entry", badSignature},
      {"compressed size enlarged into the second entry", ZipStream(enlarged)},
  };
  MemorySink whole;
  ASSERT_EQ(Walk(intact, whole), ZipResult::kEnded);
  ASSERT_EQ(whole.order.size(), 3u);
  for (const auto& c : cases) {
    MemorySink sink;
    EXPECT_EQ(Walk(c.stream, sink), ZipResult::kBadSignature) << c.what;
    EXPECT_EQ(sink.order, std::vector<std::string>{"a.txt"}) << c.what;
  }
}

TEST(WalkZipEntries, DeviceNamesCreateNothing) {
  for (const char* name : {"nul", "NUL.txt", "con", "aux.dll", "prn. ", "com1", "LPT9.x",
                           "conin$", "CONOUT$", "lib/nul .txt", "Com1/x.txt", "x\\aux\\y",
                           "COM\xC2\xB9", "nul/"}) {
    MemorySink sink;
    const std::string stream = ZipStream({{.name = "first", .data = "1"}, {.name = name, .data = "x"}});
    EXPECT_EQ(Walk(stream, sink), ZipResult::kNameRefused) << name;
    EXPECT_EQ(sink.order, std::vector<std::string>{"first"}) << name;
    EXPECT_TRUE(sink.folders.empty()) << name;
  }
}

TEST(WalkZipEntries, NameLengthLimitCountsBytes) {
  // L + n + 1 < 260: with L = 40, 218 bytes pass and 219 do not. A two-byte
  // character counts twice.
  const std::string longest(258 - kFolderLength, 'n');
  MemorySink accepted;
  EXPECT_EQ(Walk(ZipStream({{.name = longest, .data = "x"}}), accepted), ZipResult::kEnded);
  EXPECT_EQ(accepted.files.count(longest), 1u);
  MemorySink refused;
  EXPECT_EQ(Walk(ZipStream({{.name = longest + "n", .data = "x"}}), refused),
            ZipResult::kNameTooLong);
  MemorySink wide;
  EXPECT_EQ(Walk(ZipStream({{.name = longest.substr(1) + "\xC3\xA9", .data = "x"}}), wide),
            ZipResult::kNameTooLong);
  MemorySink folderZero;
  EXPECT_EQ(Walk(ZipStream({{.name = std::string(258, 'n'), .data = ""}}), folderZero, SIZE_MAX, 0),
            ZipResult::kEnded);
}

TEST(WalkZipEntries, RefusedNamesCreateNothing) {
  for (const char* name : {"../evil.txt", "a/../../evil.txt", "a\\..\\..\\evil.txt", "..",
                           "C:evil.txt", "C:/evil.txt", "evil.txt:stream", "/evil.txt",
                           "\\evil.txt", "a/. ./evil.txt", "../", "ok/../../x/"}) {
    MemorySink sink;
    const std::string stream = ZipStream({{.name = "first", .data = "1"}, {.name = name, .data = "x"}});
    EXPECT_EQ(Walk(stream, sink), ZipResult::kNameRefused) << name;
    EXPECT_EQ(sink.order, std::vector<std::string>{"first"}) << name;
    EXPECT_TRUE(sink.folders.empty()) << name;
  }
}

// Names Windows would write under another name (or not at all) stop the
// walk before anything is made for them.
TEST(WalkZipEntries, NamesWindowsWouldChangeCreateNothing) {
  for (const char* name : {"what?.txt", "a*b", "d|x/y.txt", "q\"q", "trail.", "trail ",
                           "dir./x.txt", "dir /", "tab\tx"}) {
    MemorySink sink;
    const std::string stream = ZipStream({{.name = "first", .data = "1"}, {.name = name, .data = "x"}});
    EXPECT_EQ(Walk(stream, sink), ZipResult::kNameNotKept) << name;
    EXPECT_EQ(sink.order, std::vector<std::string>{"first"}) << name;
    EXPECT_TRUE(sink.folders.empty()) << name;
  }
}

TEST(WalkZipEntries, NamesThatFail) {
  struct Case {
    const char* what;
    std::vector<ZipEntry> entries;
    ZipResult result;
  } cases[] = {
      {"empty name", {{.name = "", .data = "x"}}, ZipResult::kNameUndecodable},
      {"a folder entry named \"/\" alone", {{.name = "/"}}, ZipResult::kNameRefused},
      {"duplicate name", {{.name = "a", .data = "1"}, {.name = "a", .data = "2"}},
       ZipResult::kCreateFailed},
  };
  for (const auto& c : cases) {
    MemorySink sink;
    EXPECT_EQ(Walk(ZipStream(c.entries), sink), c.result) << c.what;
  }
  // A name hidden behind a NUL is checked up to the NUL, as the file system
  // sees it.
  MemorySink sink;
  EXPECT_EQ(Walk(ZipStream({{.name = std::string("..\0x", 4), .data = "1"}}), sink),
            ZipResult::kNameRefused);
}

// Headers the walk cannot follow, or data it cannot unpack, stop it before
// anything is made for the entry: the entry behind would otherwise be read
// from the wrong place or written with the wrong bytes.
TEST(WalkZipEntries, RefusedHeadersCreateNothing) {
  const std::string text(3000, 't');
  struct Case {
    const char* what;
    ZipEntry entry;
    ZipResult result;
    uint32_t method;
  } cases[] = {
      {"encrypted, stored", {.data = text, .flags = 1}, ZipResult::kEncrypted, 0},
      {"encrypted, deflated", {.data = text, .deflate = true, .flags = 1}, ZipResult::kEncrypted, 8},
      {"encrypted with strong encryption", {.data = text, .flags = 0x41}, ZipResult::kEncrypted, 0},
      {"data descriptor, stored, sizes 0",
       {.data = text, .crc = 0, .packedSize = 0, .size = 0, .flags = 8},
       ZipResult::kDataDescriptor, 0},
      {"data descriptor, deflated, sizes given",
       {.data = text, .deflate = true, .flags = 8}, ZipResult::kDataDescriptor, 8},
      {"data descriptor and UTF-8 flag", {.data = text, .flags = 0x808}, ZipResult::kDataDescriptor, 0},
      {"shrunk", {.data = text, .method = 1}, ZipResult::kUnsupportedMethod, 1},
      {"deflate64", {.data = text, .method = 9}, ZipResult::kUnsupportedMethod, 9},
      {"bzip2", {.data = text, .method = 12}, ZipResult::kUnsupportedMethod, 12},
      {"LZMA", {.data = text, .method = 14}, ZipResult::kUnsupportedMethod, 14},
      {"zstd", {.data = text, .method = 93}, ZipResult::kUnsupportedMethod, 93},
      {"AES", {.data = text, .method = 99}, ZipResult::kUnsupportedMethod, 99},
      {"zip64 sizes", {.data = text, .packedSize = 0xFFFFFFFF, .size = 0xFFFFFFFF},
       ZipResult::kZip64, 0},
      {"zip64 compressed size only", {.data = text, .deflate = true, .packedSize = 0xFFFFFFFF},
       ZipResult::kZip64, 8},
      {"zip64 size only", {.data = text, .size = 0xFFFFFFFF}, ZipResult::kZip64, 0},
  };
  for (auto& c : cases) {
    c.entry.name = "d/refused.txt";
    MemorySink sink;
    ZipStop stop;
    MemoryReader reader(ZipStream({{.name = "first", .data = "1"}, c.entry,
                                   {.name = "after.txt", .data = "2"}}));
    EXPECT_EQ(WalkZipEntries(reader, kFolderLength, sink, &stop), c.result) << c.what;
    EXPECT_EQ(sink.order, std::vector<std::string>{"first"}) << c.what;
    EXPECT_TRUE(sink.folders.empty()) << c.what;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stop.name), stop.nameSize), "d/refused.txt")
        << c.what;
    EXPECT_EQ(stop.method, c.method) << c.what;
  }
  // Folder entries are refused alike: a stream written with zip64 sizes
  // marks every entry.
  MemorySink sink;
  EXPECT_EQ(Walk(ZipStream({{.name = "f/", .packedSize = 0xFFFFFFFF, .size = 0xFFFFFFFF}}), sink),
            ZipResult::kZip64);
  EXPECT_TRUE(sink.folders.empty());
}

// A stored entry with a data descriptor carries sizes 0 and CRC 0, which an
// empty file matches; its data would then be read as the next headers. Here
// the data is an end record: taken for the stream's end, it would hide
// "after.txt" and report success.
TEST(WalkZipEntries, DataDescriptorIsNoEmptyFile) {
  const std::string endRecord = std::string("PK\x05\x06", 4) + std::string(18, '\0');
  const std::string stream =
      tvtest::LocalEntry({.name = "x.zip", .crc = 0, .packedSize = 0, .size = 0, .flags = 8}) +
      endRecord + ZipStream({{.name = "after.txt", .data = "after"}});
  MemorySink sink;
  EXPECT_EQ(Walk(stream, sink), ZipResult::kDataDescriptor);
  EXPECT_TRUE(sink.order.empty());
}

// A name is unpacked under the name the payload holds, or not at all: bytes
// that are not well-formed UTF-8 would become U+FFFD, and two such names the
// same file.
TEST(WalkZipEntries, NamesThatAreNotUtf8CreateNothing) {
  for (const char* name : {"caf\x82.txt", "d\x82/x.txt", "\xC0\xAF", "\xE0\x80\xAF",
                           "\xED\xA0\x80.txt", "\xF4\x90\x80\x80", "cut\xE2\x82",
                           "\xFF", "\x80/"}) {
    MemorySink sink;
    const std::string stream = ZipStream({{.name = "first", .data = "1"}, {.name = name, .data = "x"}});
    EXPECT_EQ(Walk(stream, sink), ZipResult::kNameNotUtf8) << name;
    EXPECT_EQ(sink.order, std::vector<std::string>{"first"}) << name;
    EXPECT_TRUE(sink.folders.empty()) << name;
  }
  // Well-formed names outside ASCII pass, a four-byte sequence included.
  MemorySink sink;
  EXPECT_EQ(Walk(ZipStream({{.name = "caf\xC3\xA9.txt", .data = "1"},
                            {.name = "\xF0\x9F\x98\x80/\xE6\x97\xA5.txt", .data = "2"}}),
                 sink),
            ZipResult::kEnded);
  EXPECT_EQ(sink.order.size(), 2u);
}

// "\" separates folders as "/" does, and a folder entry makes its folder,
// so an empty folder of the archive appears in the extraction folder.
TEST(WalkZipEntries, SeparatorsAndFolderEntries) {
  struct Case {
    const char* what;
    std::vector<ZipEntry> entries;
    std::vector<std::string> folders;  // every folder creation, in order
    std::vector<std::string> files;
  } cases[] = {
      {"backslash before a file", {{.name = "a\\b.txt", .data = "1"}}, {"a"}, {"a\\b.txt"}},
      {"backslashes, deeper", {{.name = "a\\b\\c.txt", .data = "1"}}, {"a", "a\\b"}, {"a\\b\\c.txt"}},
      {"both kinds", {{.name = "m\\n/o.txt", .data = "1"}}, {"m", "m\\n"}, {"m\\n/o.txt"}},
      {"folder entry", {{.name = "empty/"}}, {"empty"}, {}},
      {"folder entry with backslashes", {{.name = "d\\e\\"}}, {"d", "d\\e"}, {}},
      {"nested folder entry", {{.name = "x/y/"}}, {"x", "x/y"}, {}},
      {"folder entry with an extra field", {{.name = "f/", .extra = "UT\x05\0abcde"}, {.name = "g", .data = "2"}},
       {"f"}, {"g"}},
  };
  for (const auto& c : cases) {
    MemorySink sink;
    EXPECT_EQ(Walk(ZipStream(c.entries), sink), ZipResult::kEnded) << c.what;
    EXPECT_EQ(sink.folders, c.folders) << c.what;
    EXPECT_EQ(sink.order, c.files) << c.what;
  }
  // A folder entry obeys the name length limit of files.
  MemorySink sink;
  EXPECT_EQ(Walk(ZipStream({{.name = std::string(258 - kFolderLength, 'n') + "/"}}), sink),
            ZipResult::kNameTooLong);
  EXPECT_TRUE(sink.folders.empty());
}

TEST(WalkZipEntries, DamagedData) {
  const std::string text(100000, 't');
  const std::string packed = tvtest::RawDeflate(text);
  struct Case {
    const char* what;
    ZipEntry entry;
    bool terminated;
    ZipResult result;
  } cases[] = {
      {"cut stored data", {.name = "a", .data = "12345", .size = 9}, false, ZipResult::kShortRead},
      {"cut deflated data",
       {.name = "a", .data = text, .deflate = true, .packedSize = uint32_t(packed.size() + 40)},
       false, ZipResult::kShortRead},
      {"cut name", {.name = "abc"}, false, ZipResult::kShortRead},
      {"bad CRC stored", {.name = "a", .data = "12345", .crc = 1}, true, ZipResult::kCrcMismatch},
      {"bad CRC deflated", {.name = "a", .data = text, .deflate = true, .crc = 1}, true,
       ZipResult::kCrcMismatch},
      {"deflate ends before the size",
       {.name = "a", .data = text, .deflate = true, .size = uint32_t(text.size() + 1)}, true,
       ZipResult::kDeflateShort},
      {"deflate goes on past the size",
       {.name = "a", .data = text, .deflate = true, .size = uint32_t(text.size() - 1)}, true,
       ZipResult::kDeflateLong},
      {"deflate goes on past a zero size",
       {.name = "a", .data = text, .deflate = true, .size = 0}, true, ZipResult::kDeflateLong},
      {"deflate needs more than the compressed size",
       {.name = "a", .data = text, .deflate = true, .packedSize = uint32_t(packed.size() / 2)},
       true, ZipResult::kDeflateTruncated},
      {"not a deflate stream",
       {.name = "a", .data = "x", .deflate = true, .packed = std::string("\xFF\xFF\xFF\xFF", 4)},
       true, ZipResult::kBadDeflate},
  };
  for (const auto& c : cases) {
    MemorySink sink;
    EXPECT_EQ(Walk(ZipStream({c.entry}, c.terminated), sink), c.result) << c.what;
    // Never more bytes than the header's size.
    for (const auto& [name, data] : sink.files)
      EXPECT_LE(data.size(), c.entry.size.value_or(c.entry.data.size())) << c.what;
  }
}

TEST(WalkZipEntries, CompressedBytesAfterTheStreamEndAreSkipped) {
  ZipEntry padded{.name = "a", .data = "abcabc", .deflate = true};
  padded.packed = tvtest::RawDeflate(padded.data) + "PK\x03\x04 junk";
  MemorySink sink;
  EXPECT_EQ(Walk(ZipStream({padded, {.name = "b", .data = "2"}}), sink), ZipResult::kEnded);
  EXPECT_EQ(sink.files["a"], "abcabc");
  EXPECT_EQ(sink.files["b"], "2");
}

TEST(WalkZipEntries, SinkFailuresStopTheWalk) {
  const std::string stream = ZipStream({{.name = "d/a", .data = "1"}});
  MemorySink folders;
  folders.failFolders = true;
  EXPECT_EQ(Walk(stream, folders), ZipResult::kFolderFailed);
  EXPECT_TRUE(folders.order.empty());
  MemorySink writes;
  writes.failWrites = true;
  EXPECT_EQ(Walk(stream, writes), ZipResult::kWriteFailed);
}

}  // namespace
