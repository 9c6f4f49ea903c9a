// In-memory reader and sink for host tests and the fuzz target of the
// launcher's portable core.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "byte_reader.h"
#include "zip_entries.h"

namespace tvtest {

// Reads `data`; hands out at most `piece` bytes per call and fails every read
// that would touch bytes from `failAt` on.
class MemoryReader final : public ByteReader {
 public:
  explicit MemoryReader(std::string data, size_t piece = SIZE_MAX, size_t failAt = SIZE_MAX)
      : data_(std::move(data)), piece_(piece), failAt_(failAt) {}

  bool Read(uint8_t* buffer, uint32_t size, uint32_t* got) override {
    size_t n = std::min<size_t>({size, piece_, data_.size() - std::min(pos_, data_.size())});
    if (n > 0 && pos_ + n > failAt_) return false;
    if (n > 0) std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    *got = static_cast<uint32_t>(n);
    return true;
  }
  bool Skip(uint32_t count) override {
    pos_ += count;
    return true;
  }
  size_t position() const { return pos_; }

 private:
  std::string data_;
  size_t piece_, failAt_;
  size_t pos_ = 0;
};

// Decodes UTF-8 like the platform (ill-formed bytes become U+FFFD), keeps
// folders and files in maps, and refuses a second file of the same name.
class MemorySink final : public ZipEntrySink {
 public:
  uint32_t DecodeName(const uint8_t* bytes, uint32_t size, wchar_t* name,
                      uint32_t capacity) override {
    uint32_t out = 0;
    for (uint32_t i = 0; i < size;) {
      uint32_t c = bytes[i], extra = c < 0x80 ? 0 : c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 9;
      if (extra == 9 || i + extra >= size) {
        c = 0xFFFD, extra = 0;
      } else {
        c &= 0x7F >> extra;
        for (uint32_t k = 1; k <= extra; ++k) c = (c << 6) | (bytes[i + k] & 0x3F);
      }
      if (out >= capacity) return 0;
      name[out++] = static_cast<wchar_t>(c);
      i += extra + 1;
    }
    return out;
  }
  bool CreateFolders(const wchar_t* name, uint32_t length) override {
    current_.clear();
    for (uint32_t i = 0; i < length && name[i]; ++i) {
      if (name[i] == L'/') folders.push_back(current_);
      current_.push_back(static_cast<char>(name[i]));  // tests use ASCII names
    }
    return !failFolders;
  }
  bool CreateOutputFile() override {
    if (files.count(current_)) return false;
    files[current_];
    order.push_back(current_);
    return true;
  }
  bool Write(const uint8_t* data, uint32_t size) override {
    if (failWrites) return false;
    files[current_].append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  bool CloseOutputFile() override { return true; }

  std::vector<std::string> folders;  // every folder creation, in order
  std::map<std::string, std::string> files;
  std::vector<std::string> order;    // files in creation order
  bool failFolders = false, failWrites = false;

 private:
  std::string current_;
};

}  // namespace tvtest
