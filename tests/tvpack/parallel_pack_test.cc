// Host tests of packing on several threads: every thread count gives the
// same package, files of several pieces unpack exactly with the launcher's
// own walker and decoder, pieces cost next to nothing in size, and 7z
// payloads copy what will not shrink yet still start with LZMA.
#include <gtest/gtest.h>
#include <zlib.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "7zAlloc.h"
#include "host_helpers.h"
#include "memory_archive.h"
#include "memory_io.h"
#include "package_verify.h"
#include "payload_writer.h"
#include "seven_zip_core.h"
#include "zip_entries.h"

using namespace tvtest;

namespace {

constexpr size_t kMiB = 1u << 20;

std::string Noise(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (char& c : out) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    c = static_cast<char>(x >> 24);
  }
  return out;
}

std::string Text(size_t size, uint32_t seed) {
  static const char* kWords[] = {"alpha ", "package ", "launcher ", "setup ", "folder ",
                                 "payload ", "entry ", "name ", "deflate ", "stream\n"};
  std::string out;
  uint32_t x = seed;
  while (out.size() < size) {
    x = x * 1103515245 + 12345;
    out += kWords[(x >> 16) % 10];
    if ((x >> 8) % 7 == 0) out += std::to_string(x % 100000);
  }
  out.resize(size);
  return out;
}

// The package's payload, unpacked by the launcher's walker or 7z reader
// (every CRC checked).
std::map<std::string, std::string> Unpack(const std::string& package, const std::string& what) {
  const VerifyReport report = VerifyPackage(package, 60);
  EXPECT_TRUE(report.ok) << what << (report.problems.empty() ? "" : ": " + report.problems[0]);
  const std::string payload = package.substr(report.payloadOffset);
  if (report.kind == PayloadZip) {
    tvtest::MemoryReader reader(payload);
    tvtest::MemorySink sink;
    EXPECT_EQ(WalkZipEntries(reader, 60, sink), ZipResult::kEnded) << what;
    return sink.files;
  }
  MemoryArchive archive(reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
  SevenZipMemorySink sink;
  const ISzAlloc alloc = {SzAlloc, SzFree};
  EXPECT_EQ(ExtractSevenZipArchive(&archive.vt, &alloc, &alloc, 198, sink), SZ_OK) << what;
  return sink.files;
}

struct LocalEntry {
  uint16_t method = 0;
  uint32_t packed = 0, size = 0;
};

// The local header of `name` in a ZIP-style package.
LocalEntry FindEntry(const std::string& package, const std::string& name) {
  const size_t at = package.find(name);
  LocalEntry e;
  if (at == std::string::npos || at < 30) return e;
  const uint8_t* h = reinterpret_cast<const uint8_t*>(package.data()) + at - 30;
  e.method = static_cast<uint16_t>(h[8] | h[9] << 8);
  e.packed = h[18] | h[19] << 8 | h[20] << 16 | static_cast<uint32_t>(h[21]) << 24;
  e.size = h[22] | h[23] << 8 | h[24] << 16 | static_cast<uint32_t>(h[25]) << 24;
  return e;
}

// Raw deflate of the whole of `data` in one run, at level 6.
size_t WholeDeflate(const std::string& data) {
  z_stream stream = {};
  deflateInit2(&stream, 6, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, data.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  const size_t size = stream.total_out;
  deflateEnd(&stream);
  return size;
}

// A folder whose files start and end on either side of the 4 MiB pieces.
struct Tree {
  Scratch dir;
  std::string launcher = dir / "launcher.exe";
  std::string folder = dir / "src";
  std::map<std::string, std::string> files;

  explicit Tree(bool small = false) {
    WriteBytes(launcher, FakeLauncher());
    Add("Tessaro Vantel Installer.exe", FakeProgram("setup"));
    for (int i = 0; i < 150; ++i) Add("small/f" + std::to_string(i) + ".txt", Text(100 + i * 37, i));
    if (small) {
      Add("text.txt", Text(kMiB, 1));
      Add("noise.bin", Noise(kMiB / 4, 3));
      return;
    }
    Add("text-2-pieces.txt", Text(4 * kMiB + 12345, 1));
    Add("text-a-piece-and-a-byte.txt", Text(4 * kMiB + 1, 2));
    Add("noise-2-pieces.bin", Noise(4 * kMiB + 1000, 3));
    Add("noise-then-text.bin", Noise(4 * kMiB + 100, 4) + Text(kMiB, 5));
    Add("empty.dat", "");
  }
  void Add(const std::string& name, const std::string& bytes) {
    WriteBytes(folder + "/" + name, bytes);
    files[name] = bytes;
  }
  std::string Create(const std::string& name, std::vector<std::string> extra) {
    const std::string output = dir / name;
    std::vector<std::string> args = {"create", folder, "-o", output, "--launcher", launcher, "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    const ToolRun run = Tvpack(args);
    EXPECT_EQ(run.code, kTvpackOk) << name << ": " << run.err;
    return ReadBytes(output);
  }
};

TEST(ParallelPack, EveryThreadCountGivesTheSamePackage) {
  struct Row {
    const char* format;
    bool small;  // LZMA is slow under the sanitizers: 7z packs a smaller tree
    std::vector<const char*> threads;
  } rows[] = {
      {"zip", false, {"2", "7"}},
      {"7z", true, {"2"}},
  };
  for (const Row& row : rows) {
    Tree tree(row.small);
    const std::string one = tree.Create("one.exe", {"--format", row.format, "--threads", "1"});
    EXPECT_EQ(Unpack(one, row.format), tree.files) << row.format;
    for (const char* threads : row.threads) {
      const std::string many = tree.Create("many.exe", {"--format", row.format, "--threads", threads});
      EXPECT_TRUE(many == one) << row.format << " with " << threads << " threads differs from one thread";
    }
  }
}

TEST(ParallelPack, PiecesAreDeflatedOrStoredAsAWholeFileWouldBe) {
  Tree tree;
  const std::string package = tree.Create("p.exe", {"--threads", "2"});
  struct Row {
    const char* name;
    bool deflated;
  } rows[] = {
      {"text-2-pieces.txt", true},
      {"text-a-piece-and-a-byte.txt", true},
      {"noise-2-pieces.bin", false},
      {"noise-then-text.bin", true},
      {"small/f3.txt", true},
  };
  for (const Row& row : rows) {
    const LocalEntry e = FindEntry(package, row.name);
    const std::string& data = tree.files.at(row.name);
    EXPECT_EQ(e.size, data.size()) << row.name;
    EXPECT_EQ(e.method, row.deflated ? 8 : 0) << row.name;
    if (!row.deflated) EXPECT_EQ(e.packed, data.size()) << row.name;
    // Each piece starts with the 32 KiB before it as its dictionary: apart
    // from the few bytes that close a piece, nothing is lost to the split.
    if (row.deflated && data.size() > 4 * kMiB) {
      const size_t pieces = (data.size() + 4 * kMiB - 1) / (4 * kMiB);
      EXPECT_LE(e.packed, WholeDeflate(data) + 64 * pieces) << row.name;
    }
  }
  EXPECT_EQ(Unpack(package, "zip"), tree.files);
}

TEST(ParallelPack, ThreadsSwitchIsChecked) {
  Tree tree(true);
  for (const char* bad : {"0", "65", "two", ""}) {
    const ToolRun run = Tvpack({"create", tree.folder, "-o", tree.dir / "p.exe", "--launcher",
                                tree.launcher, "--threads", bad});
    EXPECT_EQ(run.code, kTvpackError) << bad;
    EXPECT_NE(run.err.find("--threads takes 1 to 64"), std::string::npos) << bad << run.err;
  }
}

class MemoryItems final : public ItemSource {
 public:
  bool Read(const PackItem& item, std::string* data, std::string*) override {
    *data = item.content;
    return true;
  }
};

class StringSink final : public PayloadSink {
 public:
  bool Write(const uint8_t* data, size_t size) override {
    bytes.append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  bool WriteAt(uint64_t offset, const uint8_t* data, size_t size) override {
    bytes.replace(offset, size, reinterpret_cast<const char*>(data), size);
    return true;
  }
  std::string bytes;
};

class NoProgress final : public PackProgress {
 public:
  void Advance(uint64_t, uint32_t) override {}
};

PackItem Item(const std::string& name, const std::string& content) {
  PackItem item;
  item.name = name;
  item.content = content;
  item.size = content.size();
  return item;
}

std::map<std::string, std::string> UnpackSevenZip(const std::string& payload) {
  MemoryArchive archive(reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
  SevenZipMemorySink sink;
  const ISzAlloc alloc = {SzAlloc, SzFree};
  EXPECT_EQ(ExtractSevenZipArchive(&archive.vt, &alloc, &alloc, 198, sink), SZ_OK);
  return sink.files;
}

// Incompressible files are copied, not coded; the first packed stream is
// LZMA all the same, since the launcher finds a 7z payload by it.
TEST(ParallelPack, SevenZipCopiesWhatWillNotShrink) {
  struct Row {
    const char* what;
    std::vector<PackItem> items;
    size_t maxPayload;  // bytes
  } rows[] = {
      {"noise beside text", {Item("a.txt", Text(200000, 7)), Item("b.bin", Noise(kMiB, 8))}, kMiB + 60000},
      {"noise alone", {Item("b.bin", Noise(kMiB, 9)), Item("c.bin", Noise(70000, 10))},
       kMiB + 70000 + 30000},
      {"noise in a program", {Item("d.dll", Noise(300000, 11))}, 300000 + 10000},
      // Above 4 MiB deflate tries slices of the file, not all of it.
      {"large noise", {Item("a.txt", Text(20000, 15)), Item("n.bin", Noise(5 * kMiB + 7, 16))},
       5 * kMiB + 7 + 30000},
      // Two coded blocks and a copied one: with four threads the coded
      // blocks run side by side.
      {"text, program and noise",
       {Item("a.txt", Text(200000, 12)), Item("e.exe", Text(150000, 13)), Item("f.bin", Noise(kMiB, 14))},
       kMiB + 90000},
  };
  for (Row& row : rows) {
    std::map<std::string, std::string> expected;
    for (const PackItem& item : row.items) expected[item.name] = item.content;
    MemoryItems source;
    NoProgress progress;
    std::string first;
    for (unsigned threads : {1u, 2u, 4u}) {
      StringSink sink;
      std::string error;
      ASSERT_TRUE(WriteSevenZipPayload(row.items, 5, threads, source, sink, progress, &error))
          << row.what << ": " << error;
      EXPECT_EQ(sink.bytes[32], '\0') << row.what << ": the first packed stream is not LZMA";
      EXPECT_LE(sink.bytes.size(), row.maxPayload) << row.what;
      EXPECT_EQ(UnpackSevenZip(sink.bytes), expected) << row.what;
      if (threads == 1) first = sink.bytes;
      EXPECT_TRUE(sink.bytes == first) << row.what;
    }
  }
}

// Ten thousand names make a header larger than its LZMA coding: it is stored
// coded, and the launcher's reader takes it.
TEST(ParallelPack, SevenZipHeaderOfManyNamesIsCoded) {
  std::vector<PackItem> items;
  std::map<std::string, std::string> expected;
  size_t names = 0;
  for (int i = 0; i < 3000; ++i) {
    const std::string name = "items/group" + std::to_string(i % 30) + "/item" + std::to_string(i) + ".cfg";
    items.push_back(Item(name, Text(20 + i % 50, i)));
    expected[name] = items.back().content;
    names += 2 * (name.size() + 1);
  }
  MemoryItems source;
  NoProgress progress;
  StringSink sink;
  std::string error;
  ASSERT_TRUE(WriteSevenZipPayload(items, 5, 2, source, sink, progress, &error)) << error;
  EXPECT_LT(sink.bytes.size(), names / 2);
  EXPECT_EQ(UnpackSevenZip(sink.bytes), expected);
}


// Files are read on the pool's threads: a file that cannot be read stops the
// payload with that file's message, whichever thread read it and wherever it
// stands among files read ahead.
class FailingItems final : public ItemSource {
 public:
  explicit FailingItems(std::string bad) : bad_(std::move(bad)) {}
  bool Read(const PackItem& item, std::string* data, std::string* error) override {
    if (item.name == bad_) {
      *error = "cannot read " + item.name;
      return false;
    }
    *data = item.content;
    return true;
  }

 private:
  std::string bad_;
};

TEST(ParallelPack, AFileThatCannotBeReadStopsThePayload) {
  std::vector<PackItem> items;
  for (int i = 0; i < 40; ++i) items.push_back(Item("f" + std::to_string(i) + ".txt", Text(3000 + i, i)));
  items.push_back(Item("big.txt", Text(5 * kMiB, 99)));
  struct Row {
    const char* bad;
  } rows[] = {{"f0.txt"}, {"f17.txt"}, {"f39.txt"}, {"big.txt"}};
  for (const Row& row : rows) {
    for (unsigned threads : {1u, 2u, 4u}) {
      for (int level : {0, 6}) {
        FailingItems source(row.bad);
        StringSink sink;
        NoProgress progress;
        std::string error;
        EXPECT_FALSE(WriteZipPayload(items, level, threads, source, sink, progress, &error))
            << row.bad << " threads " << threads << " level " << level;
        EXPECT_EQ(error, std::string("cannot read ") + row.bad) << threads << " level " << level;
      }
    }
  }
}

// Code with a CALL (E8) or JMP (E9) every few bytes, whose 32-bit operands
// the x86 filter converts, among compressible filler.
std::string Calls(size_t size, uint32_t seed) {
  std::string out;
  uint32_t x = seed;
  while (out.size() < size) {
    x = x * 1103515245 + 12345;
    out += static_cast<char>((x >> 20) & 1 ? 0xE8 : 0xE9);
    const uint32_t target = (x >> 8) & 0xFFFF;
    for (int i = 0; i < 3; ++i) out += static_cast<char>((target >> (8 * i)) & 0xFF);
    out += static_cast<char>((x >> 21) & 1 ? 0x00 : 0xFF);
    out.append((x >> 24) % 9, static_cast<char>(0x90));
  }
  out.resize(size);
  return out;
}

// Files are read and filtered in parts of 1 MiB: programs larger than a part,
// a call straddling each part's end, and a block of several files whose
// parts do not line up with the files, all unpack exactly.
TEST(ParallelPack, SevenZipProgramsLargerThanAPartUnpackExactly) {
  const std::vector<PackItem> items = {
      Item("a.dll", Calls(kMiB + 3, 1)), Item("b.exe", Calls(3 * kMiB - 1, 2)),
      Item("c.exe", Calls(kMiB - 2, 3)), Item("d.txt", Text(2 * kMiB + 5, 4))};
  std::map<std::string, std::string> expected;
  for (const PackItem& item : items) expected[item.name] = item.content;
  MemoryItems source;
  NoProgress progress;
  std::string first;
  for (unsigned threads : {1u, 2u, 4u}) {
    StringSink sink;
    std::string error;
    // Level 1: the filter is the subject, not the coder (sanitizer builds are slow).
    ASSERT_TRUE(WriteSevenZipPayload(items, 1, threads, source, sink, progress, &error)) << error;
    EXPECT_TRUE(UnpackSevenZip(sink.bytes) == expected) << "unpacked otherwise, threads " << threads;
    if (threads == 1) first = sink.bytes;
    EXPECT_TRUE(sink.bytes == first) << threads;
  }
}

// A file read in parts that is shorter or longer than the folder walk saw
// stops the 7z payload, whichever part the change falls in.
TEST(ParallelPack, SevenZipFileThatChangedStopsThePayload) {
  struct Row {
    const char* what;
    size_t content, seen;
  } rows[] = {
      {"shrank", 2 * kMiB, 2 * kMiB + 1},
      {"grew", 2 * kMiB + 1, 2 * kMiB},
      {"grew by a part", 3 * kMiB, 2 * kMiB},
      {"small, grew", 5000, 4000},
      {"small, shrank", 4000, 5000},
  };
  for (const Row& row : rows) {
    PackItem changed = Item("changed.txt", Text(row.content, 5));
    changed.sourcePath = "changed.txt";
    changed.size = row.seen;
    const std::vector<PackItem> items = {Item("a.txt", Text(3000, 6)), changed};
    MemoryItems source;
    NoProgress progress;
    StringSink sink;
    std::string error;
    EXPECT_FALSE(WriteSevenZipPayload(items, 5, 2, source, sink, progress, &error)) << row.what;
    EXPECT_EQ(error, "changed.txt changed while it was being packed") << row.what;
  }
}

TEST(ParallelPack, SevenZipFileThatCannotBeReadStopsThePayload) {
  std::vector<PackItem> items;
  for (int i = 0; i < 40; ++i) items.push_back(Item("f" + std::to_string(i) + ".txt", Text(3000 + i, i)));
  items.push_back(Item("big.txt", Text(3 * kMiB, 99)));
  items.push_back(Item("prog.exe", Calls(200000, 7)));
  for (const char* bad : {"f0.txt", "f39.txt", "big.txt", "prog.exe"}) {
    for (unsigned threads : {1u, 4u}) {
      FailingItems source(bad);
      StringSink sink;
      NoProgress progress;
      std::string error;
      EXPECT_FALSE(WriteSevenZipPayload(items, 5, threads, source, sink, progress, &error)) << bad;
      EXPECT_EQ(error, std::string("cannot read ") + bad) << bad << " threads " << threads;
    }
  }
}

}  // namespace

namespace {

std::string Describe(const VerifyReport& r) {
  std::string out = (r.ok ? "ok" : "refused") + std::string(" setup=") + r.setup + "\n";
  for (const VerifiedEntry& e : r.entries)
    out += e.name + " " + std::to_string(e.size) + (e.folder ? " folder" : "") + "\n";
  for (const std::string& p : r.problems) out += "problem: " + p + "\n";
  return out;
}

// The check of a 7z package decodes blocks ahead of its walk on other
// threads; the verdict, entries and problems must be those of the plain walk
// on intact and damaged packages alike (a block that fails ahead is decoded
// again by the walk, which then fails as the launcher would).
TEST(ParallelPack, CheckDecodingBlocksAheadGivesThePlainWalksVerdict) {
  const std::vector<PackItem> items = {
      Item("a.txt", Text(300000, 21)), Item("b.exe", Calls(200000, 22)),
      Item("c.bin", Noise(100000, 23)), Item("d.txt", Text(70000, 24)),
      Item(kDefaultSetupName, FakeProgram("setup"))};
  MemoryItems source;
  NoProgress progress;
  StringSink sink;
  std::string error;
  ASSERT_TRUE(WriteSevenZipPayload(items, 1, 1, source, sink, progress, &error)) << error;
  const std::string intact = FakeLauncher() + sink.bytes;
  const size_t start = intact.size() - sink.bytes.size();
  struct Row {
    const char* what;
    double at;  // where in the payload a byte is changed; < 0: none
    size_t cut;
  } rows[] = {
      {"intact", -1, 0},         {"first block", 0.05, 0}, {"middle", 0.4, 0},
      {"later block", 0.7, 0},   {"last block", 0.9, 0},   {"cut short", -1, 40},
  };
  for (const Row& row : rows) {
    std::string package = intact.substr(0, intact.size() - row.cut);
    if (row.at >= 0) package[start + 32 + static_cast<size_t>(row.at * (sink.bytes.size() - 200))] ^= 0x55;
    const std::string plain = Describe(VerifyPackage(package, 60, 1));
    EXPECT_EQ(Describe(VerifyPackage(package, 60, 4)), plain) << row.what;
    EXPECT_EQ(Describe(VerifyPackage(package, 60, 2)), plain) << row.what;
    if (row.at < 0 && row.cut == 0) EXPECT_EQ(plain.substr(0, 2), "ok");
    if (row.at >= 0) EXPECT_NE(plain.substr(0, 2), "ok") << row.what;
  }
}

}  // namespace
