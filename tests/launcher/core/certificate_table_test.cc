// Where a signed package's payload may come from: the table behind it must be
// signature entries only, ending the file.
#include <gtest/gtest.h>

#include <string>

#include "bytes_builder.h"
#include "certificate_table.h"
#include "memory_io.h"
#include "pe_builder.h"
#include "signature_table.h"

using namespace tvtest;

namespace {

// One table entry: header with `length` (0: 8 + DER), `type`, then a DER
// SEQUENCE of `content` bytes and `padding` bytes of `padByte`.
std::string Entry(size_t content, size_t padding, char padByte = 0, uint32_t length = 0,
                  uint16_t type = 2) {
  const std::string der = DerSequence(std::string(content, 'S'));
  std::string entry;
  PutLe(entry, length ? length : 8 + der.size(), 4);
  PutLe(entry, 0x0200, 2);
  PutLe(entry, type, 2);
  return entry + der + std::string(padding, padByte);
}

struct Outcome {
  SealFault fault;
  PayloadSpan span;
};

// A file of an image (headers only, 0x400 bytes; its end is taken to be
// 0x200), a payload and `table`, whose directory
// names the table at `offset` (default: right behind the payload) of `size`
// bytes (default: the table's), with `behind` appended.
Outcome Check(const std::string& table, int64_t offset = -1, int64_t size = -1,
              const std::string& behind = "", size_t failAt = SIZE_MAX) {
  const std::string image = MinimalPe(1), payload(0x100, 'P');
  const uint64_t at = offset >= 0 ? offset : image.size() + payload.size();
  const std::string file = image + payload + table + behind;
  CertificateTable directory{table.empty() && size < 0 ? 0 : at,
                             size >= 0 ? static_cast<uint64_t>(size) : table.size()};
  MemoryReader reader(at < file.size() ? file.substr(at) : "", SIZE_MAX, failAt);
  Outcome out{SealFault::kUnreadable, {}};
  out.fault = CheckSeal(0x200, directory, file.size(), reader, &out.span);
  return out;
}

TEST(CheckSeal, Table) {
  const std::string padded = Entry(21, 5);  // 8 + 6 + 21 = 35, padded to 40
  std::string countsPadding = padded;
  countsPadding[0] = 40;
  struct Case {
    const char* what;
    Outcome got;
    SealFault fault;
  } cases[] = {
      {"one entry, padding not counted", Check(padded), SealFault::kNone},
      {"one entry, padding counted", Check(countsPadding), SealFault::kNone},
      {"two entries", Check(padded + Entry(26, 0)), SealFault::kNone},
      {"last entry unpadded at the end", Check(Entry(21, 0)), SealFault::kNone},
      {"a padding byte that is not zero", Check(Entry(21, 5, 'x')), SealFault::kHiddenData},
      {"length counts more than the padding", Check(Entry(21, 13, 0, 48)), SealFault::kHiddenData},
      {"bytes after the last entry", Check(padded + std::string(8, '\0')), SealFault::kHiddenData},
      {"an entry that is not a signature", Check(Entry(21, 5, 0, 0, 1)), SealFault::kHiddenData},
      {"DER longer than its entry", Check(Entry(21, 5, 0, 20)), SealFault::kHiddenData},
      {"indefinite DER length", Check(std::string("\x10\0\0\0\0\x02\x02\0\x30\x80\0\0\0\0\0\0", 16)),
       SealFault::kHiddenData},
      {"table does not end the file", Check(padded, -1, -1, "ZZZZ"), SealFault::kBytesBehind},
      {"table starts inside the image", Check(padded, 0x100, 40), SealFault::kTableMisplaced},
      {"table runs past the file's end", Check(padded, -1, 48), SealFault::kTableMisplaced},
      {"read failure", Check(padded, -1, -1, "", 12), SealFault::kUnreadable},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got.fault, c.fault) << c.what;

  const Outcome sealed = Check(padded);
  EXPECT_TRUE(sealed.span.signedFile);
  EXPECT_EQ(sealed.span.start, 0x200u);
  EXPECT_EQ(sealed.span.end, 0x500u);  // the table's first byte
  const Outcome plain = Check("");
  EXPECT_EQ(plain.fault, SealFault::kNone);
  EXPECT_FALSE(plain.span.signedFile);
  EXPECT_EQ(plain.span.end, 0x500u);  // the file's end
}

TEST(CertificateTableFromHeaders, ReadsPe32AndPe32PlusDirectories) {
  std::string pe32 = MinimalPe(1);
  pe32[0x80 + 24] = 0x0B, pe32[0x80 + 25] = 0x01;  // PE32
  pe32[0x80 + 24 + 92] = 16;                       // data directories
  for (const std::string& image : {pe32, FakeProgram("x")}) {
    const std::string file = WithTable(image, DerSequence("abc"));
    CertificateTable table;
    ASSERT_TRUE(CertificateTableFromHeaders(reinterpret_cast<const uint8_t*>(file.data()),
                                            file.size(), &table));
    EXPECT_EQ(table.offset, (image.size() + 7) / 8 * 8);
    EXPECT_EQ(table.size, 24u);  // 8 + 6 + 3, padded
  }
  // Too few data directories to hold the security directory: unsigned.
  pe32[0x80 + 24 + 92] = 4;
  const std::string file = WithTable(pe32, DerSequence("abc"));
  CertificateTable table;
  ASSERT_TRUE(CertificateTableFromHeaders(reinterpret_cast<const uint8_t*>(file.data()),
                                          file.size(), &table));
  EXPECT_EQ(table.size, 0u);
}

}  // namespace
