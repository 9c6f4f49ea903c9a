// Little-endian fields for the tests' payload and image builders.
#pragma once

#include <cstdint>
#include <string>

namespace tvtest {

// Appends the `bytes` low bytes of `value`, least significant first.
inline void PutLe(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace tvtest
