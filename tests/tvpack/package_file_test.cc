// The package file as tvpack's verification reads it while it is written: a
// reader sees settled bytes only, never a placeholder that is overwritten
// later, waits for bytes still to come and stops when the writer gives up.
#include "package_file.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "host_helpers.h"

namespace {

using tvtest::Scratch;

struct OpenPackage {
  explicit OpenPackage(const std::string& path)
      : write(fopen(path.c_str(), "wb+")), read(fopen(path.c_str(), "rb")) {}
  ~OpenPackage() {
    if (write) fclose(write);
    if (read) fclose(read);
  }
  FILE* write;
  FILE* read;
};

std::string ReadAt(GrowingFileBytes& bytes, uint64_t offset, size_t size, bool* ok = nullptr) {
  std::string out(size, '?');
  size_t got = 0;
  const bool done = bytes.ReadAt(offset, reinterpret_cast<uint8_t*>(out.data()), size, &got);
  if (ok) *ok = done;
  out.resize(got);
  return out;
}

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// A header written as a placeholder and patched later (as a deflated file's
// local header is) must never reach the reader as the placeholder, although
// the placeholder is in the file before the patch.
TEST(FollowingReader, NeverSeesAPlaceholderThatIsPatchedLater) {
  Scratch s;
  OpenPackage file(s / "p.exe");
  ASSERT_TRUE(file.write && file.read);
  WrittenExtent extent;
  FileSink sink(file.write, 10, &extent);
  ASSERT_EQ(fwrite("0123456789", 1, 10, file.write), 10u);
  const std::string first(70000, 'a'), placeholder(70000, '\0'), patch(70000, 'b');
  ASSERT_TRUE(sink.Write(Bytes(first), first.size()));
  sink.Settled(first.size());
  ASSERT_TRUE(sink.Write(Bytes(placeholder), placeholder.size()));
  ASSERT_EQ(fflush(file.write), 0);  // the placeholder is in the file now

  GrowingFileBytes bytes(file.read, extent);
  EXPECT_EQ(ReadAt(bytes, 0, 12), "0123456789aa");
  EXPECT_EQ(ReadAt(bytes, 10 + 69990, 10), std::string(10, 'a'));

  ASSERT_TRUE(sink.WriteAt(first.size(), Bytes(patch), patch.size()));
  sink.Settled(first.size() + patch.size());
  EXPECT_EQ(ReadAt(bytes, 10 + 69995, 10), "aaaaabbbbb");
  EXPECT_EQ(ReadAt(bytes, 10 + 139990, 10), std::string(10, 'b'));
}

TEST(FollowingReader, WaitsForTheWriterAndStopsAtTheEnd) {
  Scratch s;
  OpenPackage file(s / "p.exe");
  ASSERT_TRUE(file.write && file.read);
  WrittenExtent extent;
  FileSink sink(file.write, 0, &extent);
  GrowingFileBytes bytes(file.read, extent);
  std::string tail;
  bool ok = false;
  uint64_t size = 0;
  std::thread reader([&] {
    tail = ReadAt(bytes, 99990, 100, &ok);  // runs past the end once it is known
    size = bytes.Size();
  });
  const std::string data(100000, 'x');
  ASSERT_TRUE(sink.Write(Bytes(data), data.size()));
  ASSERT_EQ(fflush(file.write), 0);
  extent.Finish(true, sink.End());
  reader.join();
  EXPECT_TRUE(ok);
  EXPECT_EQ(tail, std::string(10, 'x'));
  EXPECT_EQ(size, 100000u);
}

TEST(FollowingReader, AWriterThatGivesUpFailsTheRead) {
  Scratch s;
  OpenPackage file(s / "p.exe");
  ASSERT_TRUE(file.write && file.read);
  WrittenExtent extent;
  GrowingFileBytes bytes(file.read, extent);
  bool ok = true;
  std::thread reader([&] { ReadAt(bytes, 0, 10, &ok); });
  extent.Finish(false, 0);
  reader.join();
  EXPECT_FALSE(ok);
}

}  // namespace
