#include "package_verify.h"

#include <string.h>
#include <wchar.h>

#include <map>
#include <unordered_map>
#include <vector>

#include "7zAlloc.h"
#include "certificate_table.h"
#include "launch_descriptor.h"
#include "launcher_constants.h"
#include "pack_rules.h"
#include "payload_scan.h"
#include "pe_image.h"
#include "setup_program.h"
#include "seven_zip_core.h"
#include "text.h"
#include "zip_entries.h"

namespace {

class StringBytes final : public PackageBytes {
 public:
  explicit StringBytes(const std::string& data) : data_(data) {}
  uint64_t Size() override { return data_.size(); }
  bool ReadAt(uint64_t offset, uint8_t* buffer, size_t size, size_t* got) override {
    const uint64_t left = offset < data_.size() ? data_.size() - offset : 0;
    *got = static_cast<size_t>(left < size ? left : size);
    if (*got) memcpy(buffer, data_.data() + offset, *got);
    return true;
  }

 private:
  const std::string& data_;
};

// The package cut at `end`: the part a payload may come from.
class ClippedBytes final : public PackageBytes {
 public:
  ClippedBytes(PackageBytes& inner, uint64_t end) : inner_(inner), end_(end) {}
  uint64_t Size() override { return end_; }
  bool ReadAt(uint64_t offset, uint8_t* buffer, size_t size, size_t* got) override {
    const uint64_t left = offset < end_ ? end_ - offset : 0;
    if (size > left) size = static_cast<size_t>(left);
    *got = 0;
    return size == 0 || inner_.ReadAt(offset, buffer, size, got);
  }

 private:
  PackageBytes& inner_;
  uint64_t end_;
};

// The package from `start` on, forward only; a read failure is remembered.
class PackageReader final : public ByteReader {
 public:
  PackageReader(PackageBytes& data, uint64_t start) : data_(data), pos_(start) {}
  bool Read(uint8_t* buffer, uint32_t size, uint32_t* got) override {
    size_t count = 0;
    if (!data_.ReadAt(pos_, buffer, size, &count)) {
      failed = true;
      return false;
    }
    *got = static_cast<uint32_t>(count);
    pos_ += count;
    return true;
  }
  bool Skip(uint32_t count) override {
    pos_ += count;
    return true;
  }
  bool failed = false;

 private:
  PackageBytes& data_;
  uint64_t pos_;
};

std::string FoldedUtf8(const std::wstring& name) {
  std::wstring key = FoldCase(name);
  for (wchar_t& c : key)
    if (c == L'\\') c = L'/';
  return EncodeUtf8(key);
}

// What the unpacked folder would hold, by name folded as Windows compares.
class Extraction final : public PackageFiles {
 public:
  explicit Extraction(VerifyReport* report) : report_(report) {}

  Kind KindOf(const wchar_t* name) override {
    std::wstring wide;
    if (!DecodeUtf8(NormalizeRelative(EncodeUtf8(name, wcslen(name))), &wide)) return Kind::kNothing;
    auto it = kinds_.find(Key(wide));
    if (it == kinds_.end()) return Kind::kNothing;
    return it->second == kFile ? Kind::kFile : Kind::kFolder;
  }

  std::string Head(const std::string& name) override {
    std::wstring wide;
    if (!DecodeUtf8(name, &wide)) return "";
    auto it = heads.find(FoldedUtf8(wide));
    return it == heads.end() ? "" : it->second;
  }

  // Records a file; false (with a problem noted) when the launcher could not
  // create it: a file or folder of that name exists, or a file lies on its way.
  bool AddFile(const std::wstring& name) {
    const std::wstring key = Key(name);
    if (!AddFolders(name, key.size())) return false;
    if (kinds_.count(key)) {
      report_->problems.push_back(EncodeUtf8(name) +
                                  ": the name (ignoring case) was unpacked before; the launcher "
                                  "refuses to overwrite it");
      return false;
    }
    kinds_[key] = kFile;
    return true;
  }

  // Records a folder entry and the folders on its way; false (with a problem
  // noted) when a file of one of their names was unpacked before.
  bool AddFolder(const std::wstring& name) {
    std::wstring key = Key(name);
    while (!key.empty() && key.back() == L'/') key.pop_back();
    if (!AddFolders(name, key.size())) return false;
    if (kinds_.count(key) && kinds_[key] == kFile) {
      report_->problems.push_back(EncodeUtf8(name) + ": a file of the same name was unpacked before");
      return false;
    }
    kinds_[key] = kFolder;
    return true;
  }

  bool IsFile(const std::string& utf8) const {
    std::wstring wide;
    if (!DecodeUtf8(utf8, &wide)) return false;
    auto it = kinds_.find(Key(wide));
    return it != kinds_.end() && it->second == kFile;
  }

  void Measure(const std::string& name, uint32_t length) {
    if (length > report_->longestPath) {
      report_->longestPath = length;
      report_->longestName = name;
    }
  }

  // Keeps what the choice of the setup program needs of a file's first
  // bytes: the top-level ".launch", and the heads of files that may be
  // programs (a Windows program starts with "MZ"; for any other file the
  // check finds no head, which is no program either).
  void KeepHead(const std::wstring& name, const std::string& head) {
    if (name == kDescriptorNameW) descriptor = head;
    if (head.size() >= 2 && head[0] == 'M' && head[1] == 'Z') heads[FoldedUtf8(name)] = head;
  }

  std::string descriptor;  // the bytes of a top-level ".launch"
  std::map<std::string, std::string> heads;  // first bytes of possible programs, by folded name

 private:
  enum Unpacked { kFile, kFolder };

  // The name as Windows compares it: case folded, "\\" and "/" alike.
  static std::wstring Key(const std::wstring& name) {
    std::wstring key = FoldCase(name);
    for (wchar_t& c : key)
      if (c == L'\\') c = L'/';
    return key;
  }

  // Records the folders before each separator in the first `length`
  // characters of `name`.
  bool AddFolders(const std::wstring& name, size_t length) {
    const std::wstring key = Key(name);
    for (size_t at = key.find(L'/'); at != std::wstring::npos && at < length;
         at = key.find(L'/', at + 1)) {
      const std::wstring folder = key.substr(0, at);
      if (kinds_.count(folder) && kinds_[folder] == kFile) {
        report_->problems.push_back(EncodeUtf8(name) + ": a file of the same name as its folder " +
                                    EncodeUtf8(name.substr(0, at)) + " was unpacked before");
        return false;
      }
      kinds_[folder] = kFolder;
    }
    return true;
  }

  std::unordered_map<std::wstring, Unpacked> kinds_;
  VerifyReport* report_;
};


bool EndsWithSeparator(const std::wstring& name) {
  return !name.empty() && (name.back() == L'/' || name.back() == L'\\');
}

class ZipVerifySink final : public ZipEntrySink {
 public:
  ZipVerifySink(Extraction& extraction, VerifyReport* report, uint32_t folderLength)
      : x_(extraction), report_(report), folderLength_(folderLength) {}

  bool CreateFolders(const wchar_t* name, uint32_t length) override {
    size_t visible = 0;
    while (visible < length && name[visible]) ++visible;
    current_.assign(name, visible);
    // The walk measures the name in bytes; a name it decoded is UTF-8.
    x_.Measure(EncodeUtf8(current_),
               folderLength_ + static_cast<uint32_t>(EncodeUtf8(name, length - 1).size()) + 1);
    if (!EndsWithSeparator(current_)) return true;
    if (!x_.AddFolder(current_)) return false;
    report_->entries.push_back({EncodeUtf8(current_), 0, true});
    return true;
  }
  bool CreateOutputFile(uint32_t) override {
    if (!x_.AddFile(current_)) return false;
    report_->entries.push_back({EncodeUtf8(current_), 0});
    head_.clear();
    return true;
  }
  bool Write(const uint8_t* data, uint32_t size) override {
    report_->entries.back().size += size;
    if (head_.size() < kImageHeadSize)
      head_.append(reinterpret_cast<const char*>(data), std::min<size_t>(size, kImageHeadSize - head_.size()));
    return true;
  }
  bool CloseOutputFile() override {
    x_.KeepHead(current_, head_);
    return true;
  }

 private:
  Extraction& x_;
  VerifyReport* report_;
  uint32_t folderLength_;
  std::wstring current_;
  std::string head_;  // the current file's first bytes
};

class SevenZipVerifySink final : public SevenZipSink {
 public:
  SevenZipVerifySink(Extraction& extraction, VerifyReport* report, uint32_t folderLength)
      : x_(extraction), report_(report), folderLength_(folderLength) {}

  bool CreateFolder(const wchar_t* name, size_t nameLength) override {
    const std::wstring wide(name, nameLength - 1);
    const std::string utf8 = EncodeUtf8(wide);
    x_.Measure(utf8, folderLength_ + 1 + static_cast<uint32_t>(nameLength - 1));
    if (!x_.AddFolder(wide)) return false;
    report_->entries.push_back({utf8, 0, true});
    return true;
  }

  bool BeginFile(const wchar_t* name, size_t nameLength, uint64_t size) override {
    current_.assign(name, nameLength - 1);
    const std::string utf8 = EncodeUtf8(current_);
    x_.Measure(utf8, folderLength_ + 1 + static_cast<uint32_t>(nameLength - 1));
    if (!x_.AddFile(current_)) return false;
    report_->entries.push_back({utf8, size});
    head_.clear();
    return true;
  }
  bool WriteFile(const uint8_t* data, size_t size) override {
    if (head_.size() < kImageHeadSize)
      head_.append(reinterpret_cast<const char*>(data),
                   std::min<size_t>(size, kImageHeadSize - head_.size()));
    return true;
  }
  bool EndFile() override {
    x_.KeepHead(current_, head_);
    return true;
  }
  // The walk fails with the file; its entry stays in the report.
  void DiscardFile() override {}

 private:
  Extraction& x_;
  VerifyReport* report_;
  uint32_t folderLength_;
  std::wstring current_;
  std::string head_;  // the current file's first bytes
};

// The 7z archive from a start offset: the reader's offsets count from the
// signature, as the launcher's file stream does.
struct PackageInStream {
  ISeekInStream vt;
  PackageBytes* data;
  uint64_t start;
  uint64_t pos;
};

SRes PackageRead(ISeekInStreamPtr p, void* buffer, size_t* size) {
  PackageInStream* s = Z7_CONTAINER_FROM_VTBL(p, PackageInStream, vt);
  size_t got = 0;
  if (!s->data->ReadAt(s->start + s->pos, static_cast<uint8_t*>(buffer), *size, &got))
    return SZ_ERROR_READ;
  *size = got;
  s->pos += got;
  return SZ_OK;
}

SRes PackageSeek(ISeekInStreamPtr p, Int64* pos, ESzSeek origin) {
  PackageInStream* s = Z7_CONTAINER_FROM_VTBL(p, PackageInStream, vt);
  // Positions are those of the whole file, like a file handle's.
  int64_t base = 0;
  if (origin == SZ_SEEK_CUR) base = static_cast<int64_t>(s->start + s->pos);
  if (origin == SZ_SEEK_END) base = static_cast<int64_t>(s->data->Size());
  const int64_t to = base + *pos;
  if (to < static_cast<int64_t>(s->start)) return SZ_ERROR_READ;
  s->pos = static_cast<uint64_t>(to) - s->start;
  *pos = to;
  return SZ_OK;
}

const char* ZipReason(ZipResult result) {
  switch (result) {
    case ZipResult::kEnded: return "";
    case ZipResult::kShortRead: return "the payload is cut short (an entry or the end of the stream is missing)";
    case ZipResult::kBadSignature: return "damaged data where an entry header or the stream's end belongs";
    case ZipResult::kSkipFailed: return "an extra field runs past the end of the file";
    case ZipResult::kNameTooLong: return "a name is too long for the extraction folder";
    case ZipResult::kNameUndecodable: return "an entry has an empty name";
    case ZipResult::kNameNotUtf8: return "the name is not valid UTF-8";
    case ZipResult::kNameNotKept: return "Windows would write the name otherwise (a character it does not take in file names, or a name part ending in a dot or space)";
    case ZipResult::kEncrypted: return "the entry is encrypted";
    case ZipResult::kDataDescriptor: return "the entry's CRC and sizes follow its data (data descriptor), but the launcher takes them from its header";
    case ZipResult::kUnsupportedMethod: return "compression method";
    case ZipResult::kZip64: return "zip64: its sizes are in a zip64 extra field (0xFFFFFFFF in the header), which the launcher does not read";
    case ZipResult::kNameRefused: return "an entry's name could leave the extraction folder (the launcher's name rule refuses it)";
    case ZipResult::kFolderFailed: return "a folder could not be created";
    case ZipResult::kCreateFailed: return "a file could not be created (its name was unpacked before)";
    case ZipResult::kWriteFailed: return "a file could not be written";
    case ZipResult::kCloseFailed: return "a file could not be closed";
    case ZipResult::kOutOfMemory: return "out of memory while inflating";
    case ZipResult::kBadDeflate: return "damaged deflate data";
    case ZipResult::kDeflateShort: return "a deflated entry ends before its stated size";
    case ZipResult::kDeflateLong: return "a deflated entry runs beyond its stated size";
    case ZipResult::kDeflateTruncated: return "a deflated entry's data is cut short";
    case ZipResult::kCrcMismatch: return "a CRC-32 does not match (damaged data)";
  }
  return "unknown entry walk result";
}

// The reason, behind the name of the entry the walk stopped at where it had
// read one.
std::string ZipProblem(ZipResult result, const ZipStop& stop) {
  std::string reason = ZipReason(result);
  if (result == ZipResult::kUnsupportedMethod)
    reason += " " + std::to_string(stop.method) +
              " (the launcher unpacks method 0, stored, and 8, deflate)";
  if (stop.nameSize == 0) return reason;
  return Printable(std::string(reinterpret_cast<const char*>(stop.name), stop.nameSize)) + ": " +
         reason;
}

std::string SevenZipProblem(SRes result) {
  switch (result) {
    case SZ_ERROR_DATA: return "damaged data in the 7z archive";
    case SZ_ERROR_CRC: return "a CRC does not match in the 7z archive (damaged data)";
    case SZ_ERROR_UNSUPPORTED: return "the 7z archive uses something the launcher's decoder does not support";
    case SZ_ERROR_NO_ARCHIVE: return "no valid 7z archive at the payload's position";
    case SZ_ERROR_ARCHIVE: return "the 7z archive's header is damaged";
    case SZ_ERROR_INPUT_EOF: return "the 7z archive is cut short";
    case SZ_ERROR_MEM: return "out of memory while decoding the 7z archive";
    case SZ_ERROR_FAIL: return "a name in the 7z archive is refused (empty, too long, could leave the extraction folder, or Windows would write it otherwise)";
    default: return "the 7z archive cannot be read (error " + std::to_string(result) + ")";
  }
}


std::string SealProblem(SealFault fault, const CertificateTable& table, uint64_t fileSize) {
  switch (fault) {
    case SealFault::kTableMisplaced:
      return "the signature table (" + std::to_string(table.size) + " bytes at offset " +
             std::to_string(table.offset) + ") does not lie between the image's end and the file's end";
    case SealFault::kBytesBehind:
      return "bytes behind the signature table: " +
             std::to_string(fileSize - table.offset - table.size) +
             " bytes that the signature does not cover follow it";
    case SealFault::kHiddenData:
      return "data hidden in the signature table: it holds more than its signature entries "
             "(each a signature and at most 7 zero bytes of padding)";
    case SealFault::kUnreadable:
    case SealFault::kNone:
      break;
  }
  return "cannot read the package";
}

// After no payload was found in the signed part: names one that lies in the
// signature table instead, where the signature does not cover it.
void ReportPayloadOutsideSignedPart(PackageBytes& package, const PayloadSpan& span,
                                    VerifyReport* report) {
  PackageReader reader(package, span.end);
  PayloadKind kind = PayloadNone;
  uint64_t offset = 0;
  if (!ScanForPayload(reader, &kind, &offset) || kind == PayloadNone) return;
  report->problems.push_back(
      "payload outside the signed part: a payload at offset " + std::to_string(span.end + offset) +
      " lies in the signature table, which the signature does not cover; the launcher reads a "
      "signed package's payload only between its image and its signature table");
}

}  // namespace

bool HasLauncherMark(const std::string& image) {
  std::string wide;
  for (const char* c = kLauncherName; *c; ++c) {
    wide.push_back(*c);
    wide.push_back('\0');
  }
  return image.find(wide) != std::string::npos;
}

VerifyReport VerifyPackage(const std::string& package, uint32_t folderLength, unsigned threads) {
  StringBytes bytes(package);
  return VerifyPackage(bytes, folderLength, threads);
}

namespace {

// Reads the headers and checks the seal: where the image ends, whether the
// file is signed, and the part a payload may come from (`*span`). False,
// with a problem noted, when the launcher would stop there.
bool ReadImage(PackageBytes& whole, VerifyReport* report, PayloadSpan* span) {
  uint8_t head[kImageHeadSize];
  size_t headSize = 0;
  if (!whole.ReadAt(0, head, sizeof(head), &headSize)) {
    report->problems.push_back("cannot read the package");
    return false;
  }
  CertificateTable table;
  if (!ImageEndFromHeaders(head, headSize, &report->imageEnd) ||
      !CertificateTableFromHeaders(head, headSize, &table)) {
    report->problems.push_back("not a Windows program: no PE headers in its first " +
                               std::to_string(kImageHeadSize) + " bytes");
    return false;
  }
  // The launcher reads a signed package's payload only from the part its
  // signature covers, and refuses one whose table is more than signatures.
  report->signedFile = table.size != 0;
  PackageReader tableReader(whole, table.offset);
  const SealFault fault = CheckSeal(report->imageEnd, table, whole.Size(), tableReader, span);
  if (fault == SealFault::kNone) return true;
  report->problems.push_back(SealProblem(fault, table, whole.Size()));
  return false;
}

// Scans `package` (the signed part) for the payload as the launcher does.
// False, with a problem noted, when there is none the launcher would read.
bool FindPayload(PackageBytes& whole, PackageBytes& package, const PayloadSpan& span, VerifyReport* report) {
  PackageReader scanReader(package, report->imageEnd);
  uint64_t offset = 0;
  const bool scanned = ScanForPayload(scanReader, &report->kind, &offset);
  if (scanReader.failed) {
    report->problems.push_back("cannot read the package");
    return false;
  }
  if (!scanned || report->kind == PayloadNone) {
    if (span.signedFile) ReportPayloadOutsideSignedPart(whole, span, report);
    if (report->problems.empty())
      report->problems.push_back(
          !scanned ? "nothing appended behind the launcher's image (fewer than 33 bytes)"
                   : "no payload found behind the image (no ZIP local header, and no 7z signature "
                     "whose first packed stream is LZMA)");
    return false;
  }
  report->payloadOffset = report->imageEnd + offset;
  if (report->kind == PayloadSevenZipNotLzma) {
    report->problems.push_back(
        "the payload is a 7z archive whose first stream is not LZMA: the launcher reads only "
        "7z archives whose first packed stream is LZMA-coded (for example 7-Zip's -m0=LZMA)");
    return false;
  }
  return true;
}

// The launcher's ZIP-style entry walk over the payload, writing nothing.
void WalkZip(PackageBytes& package, uint32_t folderLength, Extraction& extraction, VerifyReport* report) {
  report->pathLimit = PathLimit(PackFormat::kZip);
  PackageReader reader(package, report->payloadOffset);
  ZipVerifySink sink(extraction, report, folderLength);
  ZipStop stop;
  const size_t before = report->problems.size();
  const ZipResult result = WalkZipEntries(reader, folderLength, sink, &stop);
  if (reader.failed)
    report->problems.push_back("cannot read the package");
  else if (result != ZipResult::kEnded && report->problems.size() == before)
    report->problems.push_back(ZipProblem(result, stop));
}

// The launcher's 7z reader over the payload, writing nothing: each block is
// decoded in pieces, in the launcher's bounded memory.
void WalkSevenZip(PackageBytes& package, uint32_t folderLength, Extraction& extraction,
                  VerifyReport* report) {
  report->pathLimit = PathLimit(PackFormat::kSevenZip);
  PackageInStream stream = {{PackageRead, PackageSeek}, &package, report->payloadOffset, 0};
  const ISzAlloc allocMain = {SzAlloc, SzFree};
  const ISzAlloc allocTemp = {SzAlloc, SzFree};
  const size_t maxNameLength = SevenZipMaxNameLength(folderLength);
  SevenZipVerifySink sink(extraction, report, folderLength);
  const size_t before = report->problems.size();
  const SRes result = ExtractSevenZipArchive(&stream.vt, &allocMain, &allocTemp, maxNameLength, sink);
  if (result != SZ_OK && report->problems.size() == before) report->problems.push_back(SevenZipProblem(result));
}

// The setup program, chosen as the launcher chooses it.
void CheckSetup(Extraction& extraction, uint32_t folderLength, VerifyReport* report) {
  const bool hasDescriptor = extraction.IsFile(kDescriptorName);
  Refusal refusal;
  if (!CheckSetupProgram(hasDescriptor ? &extraction.descriptor : nullptr, folderLength, extraction,
                         &report->setup, &refusal))
    report->problems.push_back(refusal.name + ": " + refusal.reason);
}

}  // namespace

VerifyReport VerifyPackage(PackageBytes& whole, uint32_t folderLength, unsigned) {  VerifyReport report;
  PayloadSpan span;
  if (!ReadImage(whole, &report, &span)) return report;
  ClippedBytes package(whole, span.end);
  if (!FindPayload(whole, package, span, &report)) return report;
  Extraction extraction(&report);
  if (report.kind == PayloadZip)
    WalkZip(package, folderLength, extraction, &report);
  else
    WalkSevenZip(package, folderLength, extraction, &report);
  if (report.longestPath > report.pathLimit && report.problems.empty())
    report.problems.push_back(report.longestName + ": path too long for the extraction folder");
  if (report.problems.empty()) CheckSetup(extraction, folderLength, &report);
  report.ok = report.problems.empty();
  return report;
}
