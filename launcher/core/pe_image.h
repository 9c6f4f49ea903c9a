// Where a Windows executable's image ends inside its file.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The bytes a launcher image's headers are read from: its first 4096.
inline constexpr uint32_t kImageHeadSize = 4096;

// Reads the PE headers in `head` (the file's first `size` bytes) and stores in
// `*end` the file offset just behind the last section's raw data: the first
// byte that is not part of the image. False when `head` holds no complete MZ
// and PE header with at least one section (the headers must lie in `head`).
bool ImageEndFromHeaders(const uint8_t* head, size_t size, uint64_t* end);
