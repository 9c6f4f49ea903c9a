// Signed PE files for tests, and the tamperings an attacker would try on
// them: data grown into the certificate table (the signature still checks),
// bytes appended behind it, a table of our own making.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "bytes_builder.h"

namespace tvtest {

inline uint32_t GetLe32(const std::string& s, size_t at) {
  uint32_t v = 0;
  std::memcpy(&v, s.data() + at, 4);
  return v;
}
inline void SetLe32(std::string& s, size_t at, uint32_t v) { std::memcpy(&s[at], &v, 4); }

// Offset of the security directory entry (table offset, then size) in the
// headers of a PE32 or PE32+ file.
inline size_t SecurityDirectoryAt(const std::string& pe) {
  const size_t optional = GetLe32(pe, 0x3C) + 24;
  const bool pe32plus = static_cast<uint8_t>(pe[optional + 1]) == 0x02;
  return optional + (pe32plus ? 112 : 96) + 4 * 8;
}

// `signedFile` with `hidden` (padded with zeros to a multiple of 8) grown
// into its last table entry: the entry's length and the directory's size
// count it, so the signature still checks where padding is not checked.
inline std::string GrowLastEntry(std::string signedFile, std::string hidden) {
  hidden.resize((hidden.size() + 7) & ~size_t{7}, '\0');
  const size_t dir = SecurityDirectoryAt(signedFile);
  const uint32_t table = GetLe32(signedFile, dir), size = GetLe32(signedFile, dir + 4);
  size_t last = table;
  for (size_t at = table; at < table + size; at += (GetLe32(signedFile, at) + 7) & ~7u) last = at;
  const uint32_t entryEnd = (GetLe32(signedFile, last) + 7) & ~7u;
  signedFile.resize(last + entryEnd);  // nothing behind the table
  signedFile += hidden;
  SetLe32(signedFile, last, entryEnd + static_cast<uint32_t>(hidden.size()));
  SetLe32(signedFile, dir + 4, size + static_cast<uint32_t>(hidden.size()));
  return signedFile;
}

// `file` with a certificate table of one entry appended: its 8-byte header,
// then `der` (a DER SEQUENCE) padded to a multiple of 8.
inline std::string WithTable(std::string file, const std::string& der) {
  file.resize((file.size() + 7) & ~size_t{7}, '\0');
  const size_t dir = SecurityDirectoryAt(file);
  std::string entry;
  PutLe(entry, 8 + der.size(), 4);
  PutLe(entry, 0x0200, 2);  // revision 2.0
  PutLe(entry, 0x0002, 2);  // PKCS signed data
  entry += der;
  entry.resize((entry.size() + 7) & ~size_t{7}, '\0');
  SetLe32(file, dir, static_cast<uint32_t>(file.size()));
  SetLe32(file, dir + 4, static_cast<uint32_t>(entry.size()));
  return file + entry;
}

// A DER SEQUENCE (long-form length) holding `content`.
inline std::string DerSequence(const std::string& content) {
  std::string der = "\x30\x84";
  for (int shift = 24; shift >= 0; shift -= 8) der.push_back(static_cast<char>(content.size() >> shift));
  return der + content;
}

}  // namespace tvtest
