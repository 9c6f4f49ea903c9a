// Host tests of the launcher's portable core: command-line tail, refused entry
// names, image end, payload scan.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>
#include <random>
#include <string>

#include "command_line_tail.h"
#include "entry_name.h"
#include "memory_io.h"
#include "payload_scan.h"
#include "pe_builder.h"
#include "pe_image.h"
#include "setup_choice.h"
#include "bytes_builder.h"

namespace {

using tvtest::MinimalPe;

std::string tvtest_narrow(const wchar_t* text) {
  std::string out;
  for (; *text; ++text) out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
  return out;
}

TEST(CommandLineTail, Table) {
  struct Case {
    const wchar_t* line;
    const wchar_t* tail;
  } cases[] = {
      {L"-x \"a b\"", L"-x \"a b\""},              // no program name: all of it
      {L"\"C:\\p q\\s.exe\" arg", L" arg"},        // quoted: after the closing quote
      {L"C:\\s.exe  arg", L" arg"},                // unquoted: after the first space
      {L"\"C:\\s.exe\"", L""},                     // program name only
      {L"C:\\s.exe", L""},
      {L"", L""},
      {L"\"C:\\s.exe\"\"x\" y", L"\"x\" y"},       // quoting of the tail kept
      {L"\"unterminated arg", L""},
  };
  for (const auto& c : cases) {
    const wchar_t* tail = CommandLineTail(c.line);
    EXPECT_STREQ(tail, c.tail) << tvtest_narrow(c.line);
    EXPECT_GE(tail, c.line);
    EXPECT_LE(tail, c.line + wcslen(c.line));  // a pointer into the line, not a copy
  }
}

TEST(EntryNameIsSafe, Table) {
  struct Case {
    const wchar_t* name;
    bool safe;
  } cases[] = {
      {L"setup.exe", true},        {L"a/b/c.txt", true},     {L"a\\b.txt", true},
      {L".launch", true},          {L"./a", true},           {L"a..b/c", true},
      {L"..a/x", true},            {L"a/b../c", true},       {L"dir/", true},
      {L"..", false},              {L"../x", false},         {L"a/../../x", false},
      {L"a\\..\\x", false},        {L"a/..", false},         {L"...", false},
      {L". ./x", false},           {L"a/.. /x", false},      {L"C:x", false},
      {L"C:/x", false},            {L"x:stream", false},     {L"/x", false},
      {L"\\x", false},             {L"\\\\server\\s\\x", false},
      // Devices, in any element, any case, with an extension or trailing dots
      // and spaces.
      {L"CON", false},             {L"nul.txt", false},      {L"a/Aux/b.txt", false},
      {L"prn.", false},            {L"nul .txt", false},     {L"con. ", false},
      {L"com1", false},            {L"COM9.log", false},     {L"lpt1/x", false},
      {L"a\\LPT9.a.b", false},     {L"conin$", false},       {L"CONOUT$.txt", false},
      {L"com\u00B9", false},       {L"LPT\u00B3.x", false},  {L"d/nul/", false},
      // Only the whole stem is a device name.
      {L"console", true},          {L"nul_.txt", true},      {L"anul", true},
      {L"com10", true},            {L"com0", true},          {L"lpt", true},
      {L"x.con", true},            {L"conin", true},         {L"conout$x", true},
      {L" nul", true},             {L"co.n", true},          {L"a/com1x/b", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(EntryNameIsSafe(c.name, wcslen(c.name)), c.safe) << tvtest_narrow(c.name);
}

// Names Windows would write otherwise: the unpacked tree would not be the
// archive's.
TEST(EntryNameKeptByWindows, Table) {
  struct Case {
    const wchar_t* name;
    bool kept;
  } cases[] = {
      {L"setup.exe", true},       {L"a/b c/d.txt", true},   {L"a\\b.txt", true},
      {L"dir/", true},            {L"dir\\", true},         {L"./a", true},
      {L"a/./b", true},           {L".launch", true},       {L"caf\u00E9 \u65E5.txt", true},
      {L"a.b/c", true},           {L" lead", true},         {L"x~1", true},
      {L"what?.txt", false},      {L"star*", false},        {L"a<b", false},
      {L"a>b", false},            {L"say\"hi\"", false},     {L"pipe|x", false},
      {L"tab\tx", false},         {L"bell\x07", false},      {L"line\x1F", false},
      {L"trail.", false},         {L"trail ", false},       {L"dir./x", false},
      {L"dir /x", false},         {L"a\\b.\\c", false},     {L"ends./", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(EntryNameKeptByWindows(c.name, wcslen(c.name)), c.kept) << tvtest_narrow(c.name);
}

// tvpack names each change in its refusal, so every kind found counts, not
// only the first.
TEST(EntryNameChangesOnWindows, Table) {
  constexpr unsigned kChar = kNameCharacterNotTaken, kEnd = kNameEndingDropped;
  struct Case {
    const wchar_t* name;
    unsigned changes;
  } cases[] = {
      {L"setup.exe", 0},         {L"a/./b", 0},             {L"dir/", 0},
      {L"what?.txt", kChar},     {L"a/b/c|d", kChar},       {L"x\\y\\\x01", kChar},
      {L"trail.", kEnd},         {L"a /b", kEnd},           {L"x\\y.\\z", kEnd},
      {L"what?./x", kChar | kEnd}, {L"dir./a*b", kChar | kEnd}, {L"a b /c	d", kChar | kEnd},
  };
  for (const auto& c : cases)
    EXPECT_EQ(EntryNameChangesOnWindows(c.name, wcslen(c.name)), c.changes)
        << tvtest_narrow(c.name);
}

TEST(ImageEndFromHeaders, EndOfTheFurthestSectionData) {
  uint64_t end = 0;
  std::string pe = MinimalPe(3);
  ASSERT_TRUE(ImageEndFromHeaders(reinterpret_cast<const uint8_t*>(pe.data()), pe.size(), &end));
  EXPECT_EQ(end, 0xC00u + 0x200u);  // the last section, not the largest one
}

TEST(ImageEndFromHeaders, RefusesDamagedHeaders) {
  uint64_t end = 0;
  auto refused = [&](std::string pe, size_t size) {
    return !ImageEndFromHeaders(reinterpret_cast<const uint8_t*>(pe.data()), size, &end);
  };
  EXPECT_TRUE(refused(MinimalPe(0), 0x400));
  EXPECT_TRUE(refused(MinimalPe(2), 0x80 + 24 + 0xE0 + 40 + 39));  // table cut short
  std::string outside = MinimalPe(1);
  const uint32_t far = 0xFFFFFFF0;
  std::memcpy(&outside[0x3C], &far, 4);
  EXPECT_TRUE(refused(outside, 0x400));  // PE header beyond the bytes given
  std::string noMz = MinimalPe(1);
  noMz[0] = 'X';
  EXPECT_TRUE(refused(noMz, 0x400));
  std::string noPe = MinimalPe(1);
  noPe[0x81] = 'X';
  EXPECT_TRUE(refused(noPe, 0x400));
  EXPECT_TRUE(refused(MinimalPe(1), 63));
}

const std::string kSevenZip("\x37\x7A\xBC\xAF\x27\x1C", 6);
const std::string kZip("PK\x03\x04", 4);

// True when the 20 bytes at p + 12 match the CRC-32 at p + 8 (zlib's).
bool StartHeaderCrcHolds(const std::string& data, size_t p) {
  const auto* bytes = reinterpret_cast<const Bytef*>(data.data() + p);
  const uint32_t stored = bytes[8] | bytes[9] << 8 | bytes[10] << 16 | uint32_t(bytes[11]) << 24;
  return crc32(0, bytes + 12, 20) == stored;
}

// The reference: a byte-by-byte scan, as simple as can be.
std::pair<PayloadKind, uint64_t> ScanByteWise(const std::string& data) {
  for (size_t p = 0; p + kPayloadWindow <= data.size(); ++p) {
    if (data.compare(p, 6, kSevenZip) == 0 && data[p + 32] == 0) return {PayloadSevenZip, p};
    if (data.compare(p, 6, kSevenZip) == 0 && StartHeaderCrcHolds(data, p))
      return {PayloadSevenZipNotLzma, p};
    if (data.compare(p, 4, kZip) == 0) return {PayloadZip, p};
  }
  return {PayloadNone, 0};
}

// A 7z signature header with its start-header CRC right, followed by
// `firstByte`, the first byte of the first packed stream.
std::string SevenZipStart(char firstByte) {
  std::string next;
  tvtest::PutLe(next, 1234, 8);  // next header offset
  tvtest::PutLe(next, 56, 8);    // next header size
  tvtest::PutLe(next, 0xCAFE, 4);
  std::string out = kSevenZip + std::string("\x00\x04", 2);
  tvtest::PutLe(out, crc32(0, reinterpret_cast<const Bytef*>(next.data()), 20), 4);
  return out + next + std::string(1, firstByte);
}

std::pair<PayloadKind, uint64_t> Scan(const std::string& data, size_t piece = SIZE_MAX) {
  tvtest::MemoryReader reader(data, piece);
  PayloadKind kind = PayloadZip;
  uint64_t offset = 99;
  EXPECT_TRUE(ScanForPayload(reader, &kind, &offset));
  return {kind, kind == PayloadNone ? 0 : offset};
}

std::string Filler(size_t size) { return std::string(size, 'x'); }

std::string With(std::string data, size_t at, const std::string& what) {
  data.replace(at, what.size(), what);
  return data;
}

TEST(ScanForPayload, Table) {
  const std::string sevenZip = kSevenZip + std::string(26, 'y') + std::string(1, '\0');
  const std::string sevenZipNoZero = kSevenZip + std::string(27, 'y');
  struct Case {
    const char* what;
    std::string data;
    PayloadKind kind;
    uint64_t offset;
  } cases[] = {
      {"nothing", Filler(1000), PayloadNone, 0},
      {"zip at 0", With(Filler(100), 0, kZip), PayloadZip, 0},
      {"zip", With(Filler(1000), 500, kZip), PayloadZip, 500},
      {"7z", With(Filler(1000), 500, sevenZip), PayloadSevenZip, 500},
      {"lower offset wins: 7z", With(With(Filler(1000), 600, kZip), 500, sevenZip),
       PayloadSevenZip, 500},
      {"lower offset wins: zip", With(With(Filler(1000), 600, sevenZip), 500, kZip), PayloadZip,
       500},
      {"7z without 00 at byte 32 is passed over",
       With(With(Filler(1000), 700, kZip), 500, sevenZipNoZero), PayloadZip, 700},
      // The zip signature inside the 7z header, byte 32 not 00: the zip wins.
      {"zip inside a rejected 7z header", With(With(Filler(1000), 500, sevenZipNoZero), 510, kZip),
       PayloadZip, 510},
      {"zip in the last 32 bytes", With(Filler(1000), 1000 - 32, kZip), PayloadNone, 0},
      {"zip 33 bytes before the end", With(Filler(1000), 1000 - 33, kZip), PayloadZip, 967},
      {"7z in the last 32 bytes", With(Filler(1000), 1000 - 32, kSevenZip), PayloadNone, 0},
      {"exactly 33 bytes", With(Filler(33), 0, kZip), PayloadZip, 0},
      // A whole signature header is an archive: one the launcher cannot read
      // ends the scan instead of letting it go on into the archive's data.
      {"7z archive, LZMA2 first", With(With(Filler(1000), 600, kZip), 500, SevenZipStart('\x01')),
       PayloadSevenZipNotLzma, 500},
      {"7z archive, stored first", With(With(Filler(1000), 600, kZip), 500, SevenZipStart('P')),
       PayloadSevenZipNotLzma, 500},
      {"7z archive, LZMA first", With(Filler(1000), 500, SevenZipStart('\0')), PayloadSevenZip, 500},
      {"7z archive after a zip", With(With(Filler(1000), 600, SevenZipStart('\x01')), 500, kZip),
       PayloadZip, 500},
      {"7z archive with its CRC broken is passed over",
       With(With(With(Filler(1000), 600, kZip), 500, SevenZipStart('\x01')), 520, "x"),
       PayloadZip, 600},
  };
  for (const auto& c : cases) {
    auto found = Scan(c.data);
    EXPECT_EQ(found.first, c.kind) << c.what;
    EXPECT_EQ(found.second, c.offset) << c.what;
    EXPECT_EQ(ScanByteWise(c.data), found) << c.what;
  }
}

// Signatures placed around the 64 KiB reads: each position must be found
// exactly where a byte-by-byte scan finds it, however the reader splits data.
TEST(ScanForPayload, SignaturesAcrossBufferBoundaries) {
  const size_t kChunk = 64 * 1024;
  const size_t total = 3 * kChunk + 100;
  const std::string sevenZip = kSevenZip + std::string(26, 'y') + std::string(1, '\0');
  for (size_t boundary : {kChunk + 32, 2 * kChunk, 3 * kChunk - 32}) {
    for (size_t at = boundary - 40; at <= boundary + 8; ++at) {
      for (const std::string* sig : {&kZip, &sevenZip}) {
        const std::string data = With(Filler(total), at, *sig);
        const auto expected = ScanByteWise(data);
        ASSERT_EQ(expected.second, at);
        EXPECT_EQ(Scan(data), expected) << "at " << at;
        EXPECT_EQ(Scan(data, 4093), expected) << "at " << at << " in pieces";
      }
    }
  }
  // A 7z signature whose byte 32 lies in the next read and is not 00.
  std::string data = With(Filler(total), kChunk, std::string(kSevenZip));
  data = With(data, kChunk + 40, kZip);
  EXPECT_EQ(Scan(data), std::make_pair(PayloadZip, uint64_t{kChunk + 40}));
}

TEST(ScanForPayload, AgreesWithByteWiseScanOnRandomData) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    std::string data(random() % 200000, '\0');
    for (auto& c : data) c = "PK\x03\x04\x37\x7A\xBC\xAF\x27\x1C\0a"[random() % 12];
    EXPECT_EQ(Scan(data, 1 + random() % 70000), ScanByteWise(data)) << "round " << round;
  }
}

TEST(ScanForPayload, FailsOnReadFailureOrTooLittleData) {
  PayloadKind kind;
  uint64_t offset;
  tvtest::MemoryReader tooShort(With(Filler(32), 0, kZip));
  EXPECT_FALSE(ScanForPayload(tooShort, &kind, &offset));
  tvtest::MemoryReader failing(With(Filler(300000), 200000, kZip), SIZE_MAX, 100000);
  EXPECT_FALSE(ScanForPayload(failing, &kind, &offset));
}

}  // namespace

// The choice of the setup program, which the launcher makes and tvpack
// predicts: the first fault wins, and the folder is asked only about a name
// that passed the descriptor's rule and fits the path buffers.
TEST(SelectSetupProgram, Table) {
  class Folder final : public SetupFolder {
   public:
    Kind KindOf(const wchar_t* name) override {
      asked = name;
      if (asked == L"bin") return Kind::kFolder;
      return asked == kDefaultSetupNameW || asked == L"bin\\setup.exe" ? Kind::kFile : Kind::kNothing;
    }
    std::wstring asked;
  };
  const std::wstring longName(200, L'n');
  struct Row {
    const wchar_t* descriptor;  // nullptr: no descriptor
    size_t folderLength;
    SetupFault fault;
    const wchar_t* chosen;  // on kNone
  } rows[] = {
      {nullptr, 60, SetupFault::kNone, kDefaultSetupNameW},
      {L"bin\\setup.exe", 60, SetupFault::kNone, L"bin\\setup.exe"},
      {L"", 60, SetupFault::kEmpty, nullptr},
      {L"..\\setup.exe", 60, SetupFault::kRefused, nullptr},
      {L"bin", 60, SetupFault::kFolder, nullptr},
      {L"other.exe", 60, SetupFault::kMissing, nullptr},
      // Folder, backslash, 28 characters and the terminator in 260: 230 fits, 231 does not.
      {nullptr, 231, SetupFault::kDoesNotFit, nullptr},
      {nullptr, 230, SetupFault::kNone, kDefaultSetupNameW},
      {longName.c_str(), 60, SetupFault::kDoesNotFit, nullptr},
  };
  for (const Row& row : rows) {
    Folder folder;
    const wchar_t* chosen = nullptr;
    const size_t length = row.descriptor ? wcslen(row.descriptor) : 0;
    EXPECT_EQ(SelectSetupProgram(row.descriptor, length, row.folderLength, folder, &chosen), row.fault)
        << (row.descriptor ? "descriptor" : "default") << " under " << row.folderLength;
    if (row.chosen) EXPECT_EQ(std::wstring(chosen ? chosen : L""), row.chosen);
    if (row.fault == SetupFault::kDoesNotFit || row.fault == SetupFault::kRefused) EXPECT_TRUE(folder.asked.empty());
  }
}
