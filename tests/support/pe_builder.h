// PE images for tests: the bare headers the launcher reads to find where its
// image ends, and a small whole program that signing tools accept.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "bytes_builder.h"

namespace tvtest {

// 0x400 bytes: MZ and PE headers (at `peOffset`) with `sections` section
// headers; section i's raw data lies at 0x400 * (i + 1) and is
// 0x200 * (sections - i) bytes long, so the last section ends the image.
inline std::string MinimalPe(uint32_t sections, uint32_t peOffset = 0x80) {
  std::string image(0x400, '\0');
  image[0] = 'M', image[1] = 'Z';
  std::memcpy(&image[0x3C], &peOffset, 4);
  std::memcpy(&image[peOffset], "PE\0\0", 4);
  const uint16_t count = static_cast<uint16_t>(sections), optional = 0xE0;
  std::memcpy(&image[peOffset + 6], &count, 2);
  std::memcpy(&image[peOffset + 20], &optional, 2);
  for (uint32_t i = 0; i < sections; ++i) {
    // Raw data of section i: 0x400 * (i + 1) .. + 0x200 * (sections - i).
    const uint32_t size = 0x200 * (sections - i), pointer = 0x400 * (i + 1);
    size_t at = peOffset + 24 + 0xE0 + 40 * i;
    std::memcpy(&image[at + 16], &size, 4);
    std::memcpy(&image[at + 20], &pointer, 4);
  }
  return image;
}

// A small PE32+ image with one section that holds `text` (UTF-16) and the
// headers a signing tool expects: the stand-in for the launcher and for a
// setup program in tests that run nothing.
inline std::string FakeProgram(const std::string& text) {
  std::string pe(0x40, '\0');
  pe[0] = 'M';
  pe[1] = 'Z';
  pe[0x3C] = 0x40;
  pe += std::string("PE\0\0", 4);
  PutLe(pe, 0x8664, 2);  // machine
  PutLe(pe, 1, 2);       // sections
  PutLe(pe, 0, 4);       // time
  PutLe(pe, 0, 4);
  PutLe(pe, 0, 4);
  PutLe(pe, 0xF0, 2);    // optional header size
  PutLe(pe, 0x22, 2);    // executable, large address aware
  std::string opt;
  PutLe(opt, 0x20B, 2);  // PE32+
  PutLe(opt, 0, 2);
  PutLe(opt, 0x200, 4);  // code size
  PutLe(opt, 0, 4);
  PutLe(opt, 0, 4);
  PutLe(opt, 0x1000, 4);  // entry
  PutLe(opt, 0x1000, 4);  // code base
  PutLe(opt, 0x140000000ull, 8);  // image base
  PutLe(opt, 0x1000, 4);  // section alignment
  PutLe(opt, 0x200, 4);   // file alignment
  PutLe(opt, 6, 2);
  PutLe(opt, 0, 2);
  PutLe(opt, 0, 2);
  PutLe(opt, 0, 2);
  PutLe(opt, 6, 2);
  PutLe(opt, 0, 2);
  PutLe(opt, 0, 4);
  PutLe(opt, 0x2000, 4);  // image size
  PutLe(opt, 0x200, 4);   // headers size
  PutLe(opt, 0, 4);       // checksum
  PutLe(opt, 3, 2);       // console
  PutLe(opt, 0, 2);
  for (int i = 0; i < 4; ++i) PutLe(opt, 0x100000, 8);
  PutLe(opt, 0, 4);
  PutLe(opt, 16, 4);  // data directories
  opt.append(16 * 8, '\0');
  pe += opt;
  std::string section(".text\0\0\0", 8);
  PutLe(section, 0x200, 4);   // virtual size
  PutLe(section, 0x1000, 4);  // virtual address
  PutLe(section, 0x200, 4);   // raw size
  PutLe(section, 0x200, 4);   // raw offset
  section.append(12, '\0');
  PutLe(section, 0x60000020, 4);
  pe += section;
  pe.resize(0x200, '\0');
  std::string body;
  for (char c : text) {
    body.push_back(c);
    body.push_back('\0');
  }
  body.resize(0x200, '\x90');
  return pe + body;
}

}  // namespace tvtest
