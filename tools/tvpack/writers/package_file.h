// The package file while tvpack writes it and reads it back: the sink that
// writes behind the launcher's image, and two readers for the verification,
// one of the finished file and one that follows the writer.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "package_verify.h"
#include "payload_writer.h"

// How much of the package being written a reader may see: the bytes that are
// in the file (flushed) and settled. Shared by the writer and one reader on
// another thread.
class WrittenExtent {
 public:
  // Bytes before `end` are in the file for good.
  void Publish(uint64_t end);
  // The package is complete (`ok`) at `size` bytes, or will never be.
  void Finish(bool ok, uint64_t size);
  // Waits until `end` is readable or the package is finished; false when it
  // will never be complete. `*readable` is what may be read now,
  // `*complete` whether that is all.
  bool WaitFor(uint64_t end, uint64_t* readable, bool* complete);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t readable_ = 0;
  bool finished_ = false;
  bool failed_ = false;
};

// Writes the payload behind the launcher's image (`base` bytes) in `file`.
// With an `extent`, settled bytes are flushed and published in steps of
// 64 KiB, so that a reader can follow.
class FileSink final : public PayloadSink {
 public:
  FileSink(FILE* file, uint64_t base, WrittenExtent* extent)
      : file_(file), base_(base), extent_(extent) {}
  bool Write(const uint8_t* data, size_t size) override;
  bool WriteAt(uint64_t offset, const uint8_t* data, size_t size) override;
  void Settled(uint64_t offset) override;
  // The package's size so far.
  uint64_t End() const { return base_ + written_; }

 private:
  FILE* file_;
  uint64_t base_;
  WrittenExtent* extent_;
  uint64_t written_ = 0;
  uint64_t published_ = 0;
};

// A finished package file of `size` bytes, read where the verification asks
// (a package is never held in memory whole).
class FileBytes final : public PackageBytes {
 public:
  FileBytes(FILE* file, uint64_t size) : file_(file), size_(size) {}
  uint64_t Size() override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* buffer, size_t size, size_t* got) override;

 private:
  FILE* file_;
  uint64_t size_;
  uint64_t position_ = 0;
};

// The package while it is being written: a read waits until its bytes are
// published, and fails once the writer gave up. `file` (opened for reading
// on the same path) is made unbuffered: stdio would read ahead into bytes
// not yet written, and keep them. Reads go through a cache of our own that
// never holds more than was published. Size() waits for the end.
class GrowingFileBytes final : public PackageBytes {
 public:
  GrowingFileBytes(FILE* file, WrittenExtent& extent);
  uint64_t Size() override;
  bool ReadAt(uint64_t offset, uint8_t* buffer, size_t size, size_t* got) override;

 private:
  FILE* file_;
  WrittenExtent& extent_;
  std::vector<uint8_t> cache_;
  uint64_t cacheStart_ = 0;
};
