// In-memory reader and sink for host tests and the fuzz target of the
// launcher's portable core (the reader is memory_source.h's).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "byte_reader.h"
#include "memory_source.h"
#include "zip_entries.h"

namespace tvtest {

// The launcher core's in-memory reader over bytes it owns: `data` read from
// its start, at most `piece` bytes per call, every read failing that would
// touch bytes from `failAt` on.
namespace detail {
struct OwnedBytes {
  std::string bytes;
};
}  // namespace detail

class MemoryReader final : private detail::OwnedBytes, public MemoryByteReader {
 public:
  explicit MemoryReader(std::string data, size_t piece = SIZE_MAX, size_t failAt = SIZE_MAX)
      : detail::OwnedBytes{std::move(data)},
        MemoryByteReader(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 0, piece,
                         failAt) {}
};

// Keeps folders and files in maps, and refuses a second file of the same
// name. Both "/" and "\" end a folder, as on the platform.
class MemorySink final : public ZipEntrySink {
 public:
  bool CreateFolders(const wchar_t* name, uint32_t length) override {
    current_.clear();
    for (uint32_t i = 0; i < length && name[i]; ++i) {
      if (name[i] == L'/' || name[i] == L'\\') folders.push_back(current_);
      current_.push_back(static_cast<char>(name[i]));  // tests use ASCII names
    }
    return !failFolders;
  }
  bool CreateOutputFile(uint32_t) override {
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
