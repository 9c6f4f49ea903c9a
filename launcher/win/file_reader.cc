#include "file_reader.h"

namespace {

constexpr DWORD kReadBuffer = 64 * 1024;
uint8_t readBuffer[kReadBuffer];

}  // namespace

bool SeekTo(HANDLE file, uint64_t offset) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(file, to, nullptr, FILE_BEGIN) != FALSE;
}

bool FileReader::Read(uint8_t* buffer, uint32_t size, uint32_t* got) {
  *got = 0;
  if (size > left_) size = static_cast<uint32_t>(left_);
  left_ -= size;  // given back below for what the file did not hold
  while (*got < size) {
    if (next_ == end_) {
      // A request as large as the buffer goes straight to the caller.
      if (size - *got >= kReadBuffer) {
        DWORD read = 0;
        if (!ReadFile(file_, buffer + *got, size - *got, &read, nullptr)) return false;
        if (read == 0) break;
        *got += read;
        continue;
      }
      DWORD read = 0;
      if (!ReadFile(file_, readBuffer, kReadBuffer, &read, nullptr)) return false;
      if (read == 0) break;
      next_ = 0;
      end_ = read;
    }
    DWORD part = end_ - next_;
    if (part > size - *got) part = size - *got;
    CopyMemory(buffer + *got, readBuffer + next_, part);
    next_ += part;
    *got += part;
  }
  left_ += size - *got;
  return true;
}

bool FileReader::Skip(uint32_t count) {
  // Past the limit, like past the end: the next read comes up short.
  left_ = count < left_ ? left_ - count : 0;
  const DWORD buffered = end_ - next_;
  if (count <= buffered) {
    next_ += count;
    return true;
  }
  next_ = end_ = 0;
  LARGE_INTEGER by;
  by.QuadPart = count - buffered;
  return SetFilePointerEx(file_, by, nullptr, FILE_CURRENT) != FALSE;
}
