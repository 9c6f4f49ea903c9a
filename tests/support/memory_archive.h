// A 7z archive in memory and a sink that keeps what comes out: the host
// tests' and the fuzzer's stand-ins for the launcher's file and folder.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include <zlib.h>

#include "7zTypes.h"
#include "bytes_builder.h"
#include "memory_source.h"
#include "seven_zip_core.h"

namespace tvtest {

// A 7z archive of `packed` (the packed streams) and the plain `header` that
// follows them, behind a signature header with both CRCs right.
inline std::string SevenZipArchive(const std::string& packed, const std::string& header) {
  auto crc = [](const std::string& s, size_t from, size_t n) {
    return crc32(0, reinterpret_cast<const Bytef*>(s.data()) + from, static_cast<uInt>(n));
  };
  std::string next;
  PutLe(next, packed.size(), 8);
  PutLe(next, header.size(), 8);
  PutLe(next, crc(header, 0, header.size()), 4);
  std::string out("7z\xBC\xAF\x27\x1C\x00\x04", 8);
  PutLe(out, crc(next, 0, next.size()), 4);
  return out + next + packed + header;
}

// An ISeekInStream over `size` bytes at `data` (not copied), at position 0:
// memory_source.h's.
using MemoryArchive = MemoryInStream;

// Keeps every completed file by its name (narrowed to UTF-8 for ASCII names;
// other units as "?"); `order` holds the names of the files begun, in order,
// `discarded` those dropped again. Refuses to begin the file after
// `failAfter` begun ones. Folder items are kept by name in `folders`.
struct SevenZipMemorySink final : SevenZipSink {
  std::map<std::string, std::string> files;
  std::vector<std::string> order;
  std::vector<std::string> discarded;
  std::vector<std::string> folders;
  size_t failAfter = SIZE_MAX;

  static std::string Narrow(const wchar_t* name, size_t nameLength) {
    if (name[nameLength - 1] != 0) __builtin_trap();
    std::string narrow;
    for (size_t i = 0; i + 1 < nameLength; ++i)
      narrow += name[i] < 0x80 ? static_cast<char>(name[i]) : '?';
    return narrow;
  }

  bool CreateFolder(const wchar_t* name, size_t nameLength) override {
    folders.push_back(Narrow(name, nameLength));
    return true;
  }

  bool BeginFile(const wchar_t* name, size_t nameLength, uint64_t size) override {
    order.push_back(Narrow(name, nameLength));
    if (order.size() > failAfter) return false;
    current_.clear();
    size_ = size;
    return true;
  }
  bool WriteFile(const uint8_t* data, size_t size) override {
    if (size == 0 || current_.size() + size > size_) __builtin_trap();
    current_.append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  bool EndFile() override {
    if (current_.size() != size_) __builtin_trap();
    files[order.back()] = std::move(current_);
    return true;
  }
  void DiscardFile() override { discarded.push_back(order.back()); }

 private:
  std::string current_;
  uint64_t size_ = 0;
};

}  // namespace tvtest
