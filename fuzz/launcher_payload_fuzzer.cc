// Fuzzes what the launcher reads from its own file: the PE headers that give
// the image end and the certificate table, the table's check, the payload scan, and the ZIP-style entry walker. Every name
// that reaches the sink must pass the name rule and stay inside the folder.
#include <cstddef>
#include <cstdint>
#include <string>

#include "certificate_table.h"
#include "memory_io.h"
#include "name_oracle.h"
#include "payload_scan.h"
#include "pe_image.h"
#include "zip_entries.h"

namespace {

// The in-memory sink, with every name checked on its way to the folder.
class CheckingSink final : public ZipEntrySink {
 public:
  bool CreateFolders(const wchar_t* name, uint32_t length) override {
    // `length` counts the terminator; a NUL inside ends the name, as the file
    // system sees it.
    if (length == 0 || name[length - 1] != L'\0') __builtin_trap();
    uint32_t visible = 0;
    while (name[visible] != L'\0') ++visible;
    tvfuzz::CheckSunkName(name, visible);
    return inner_.CreateFolders(name, length);
  }
  bool CreateOutputFile(uint32_t size) override { return inner_.CreateOutputFile(size); }
  bool Write(const uint8_t* data, uint32_t size) override { return inner_.Write(data, size); }
  bool CloseOutputFile() override { return inner_.CloseOutputFile(); }

 private:
  tvtest::MemorySink inner_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint64_t end = 0;
  CertificateTable table;
  if (ImageEndFromHeaders(data, size, &end) && CertificateTableFromHeaders(data, size, &table)) {
    const std::string file(reinterpret_cast<const char*>(data), size);
    tvtest::MemoryReader tableReader(table.offset < size ? file.substr(table.offset) : "");
    PayloadSpan span;
    if (CheckSeal(end, table, size, tableReader, &span) == SealFault::kNone &&
        (span.start > span.end || span.end > size || (span.signedFile && span.end != table.offset)))
      __builtin_trap();
  }
  if (size == 0) return 0;

  // The first byte picks the extraction folder length and how the reader
  // splits its data.
  const uint32_t folderLength = data[0] % 200;
  const size_t piece = 1 + data[0] % 37;
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  tvtest::MemoryReader scanReader(bytes, piece);
  PayloadKind kind = PayloadNone;
  uint64_t offset = 0;
  if (ScanForPayload(scanReader, &kind, &offset) && kind != PayloadNone && offset > bytes.size())
    __builtin_trap();

  tvtest::MemoryReader reader(bytes, piece);
  CheckingSink sink;
  WalkZipEntries(reader, folderLength, sink);
  return 0;
}
