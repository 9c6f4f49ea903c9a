#include "package_file.h"

#include <string.h>

#include <algorithm>

#include "platform.h"

namespace {

constexpr uint64_t kPublishStep = 64u << 10;
constexpr size_t kCache = 1u << 20;

}  // namespace

void WrittenExtent::Publish(uint64_t end) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    readable_ = end;
  }
  changed_.notify_all();
}

void WrittenExtent::Finish(bool ok, uint64_t size) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    failed_ = !ok;
    if (ok) readable_ = size;
  }
  changed_.notify_all();
}

bool WrittenExtent::WaitFor(uint64_t end, uint64_t* readable, bool* complete) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return finished_ || readable_ >= end; });
  *readable = readable_;
  *complete = finished_;
  return !failed_;
}

bool FileSink::Write(const uint8_t* data, size_t size) {
  written_ += size;
  return fwrite(data, 1, size, file_) == size;
}

bool FileSink::WriteAt(uint64_t offset, const uint8_t* data, size_t size) {
  if (fflush(file_) != 0 || !platform::Seek(file_, base_ + offset)) return false;
  const bool ok = fwrite(data, 1, size, file_) == size;
  return fflush(file_) == 0 && fseek(file_, 0, SEEK_END) == 0 && ok;
}

void FileSink::Settled(uint64_t offset) {
  if (!extent_ || base_ + offset < published_ + kPublishStep) return;
  if (fflush(file_) != 0) return;  // the write error shows when the writer ends
  published_ = base_ + offset;
  extent_->Publish(published_);
}

bool FileBytes::ReadAt(uint64_t offset, uint8_t* buffer, size_t size, size_t* got) {
  *got = 0;
  if (offset >= size_) return true;
  if (offset != position_ && !platform::Seek(file_, offset)) return false;
  if (size > size_ - offset) size = static_cast<size_t>(size_ - offset);
  *got = fread(buffer, 1, size, file_);
  position_ = offset + *got;
  return *got == size;
}

GrowingFileBytes::GrowingFileBytes(FILE* file, WrittenExtent& extent) : file_(file), extent_(extent) {
  setvbuf(file_, nullptr, _IONBF, 0);
}

uint64_t GrowingFileBytes::Size() {
  uint64_t readable = 0;
  bool complete = false;
  extent_.WaitFor(UINT64_MAX, &readable, &complete);
  return readable;
}

bool GrowingFileBytes::ReadAt(uint64_t offset, uint8_t* buffer, size_t size, size_t* got) {
  *got = 0;
  while (*got < size) {
    const uint64_t at = offset + *got;
    if (at >= cacheStart_ && at < cacheStart_ + cache_.size()) {
      const size_t part = static_cast<size_t>(
          std::min<uint64_t>(size - *got, cacheStart_ + cache_.size() - at));
      memcpy(buffer + *got, cache_.data() + (at - cacheStart_), part);
      *got += part;
      continue;
    }
    uint64_t readable = 0;
    bool complete = false;
    if (!extent_.WaitFor(at + 1, &readable, &complete)) return false;
    if (at >= readable) return true;  // the end of the finished package
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kCache, readable - at));
    cache_.resize(want);
    if (!platform::Seek(file_, at) || fread(cache_.data(), 1, want, file_) != want) {
      cache_.clear();
      return false;
    }
    cacheStart_ = at;
  }
  return true;
}
