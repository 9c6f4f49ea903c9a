// Payload location and ZIP-style extraction on the launcher's own file: the
// portable scan and entry walker, driven through Windows file handles.
#include "launcher.h"

#include <stdint.h>

#include "entry_name.h"
#include "pe_image.h"
#include "payload_scan.h"
#include "zip_entries.h"

namespace {

constexpr DWORD kHeadSize = 4096;
constexpr DWORD kReadBuffer = 64 * 1024;

void SeekTo(HANDLE file, uint64_t offset) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(file, to, nullptr, FILE_BEGIN)) Fail();
}

// Reads the file in large blocks so that the many small reads of entry
// headers and names do not each go to the system.
class FileReader final : public ByteReader {
 public:
  explicit FileReader(HANDLE file) : file_(file) {}

  bool Read(uint8_t* buffer, uint32_t size, uint32_t* got) override {
    *got = 0;
    while (*got < size) {
      if (next_ == end_) {
        // A request as large as the buffer goes straight to the caller.
        if (size - *got >= kReadBuffer) {
          DWORD read = 0;
          if (!ReadFile(file_, buffer + *got, size - *got, &read, nullptr)) return false;
          if (read == 0) return true;
          *got += read;
          continue;
        }
        DWORD read = 0;
        if (!ReadFile(file_, buffer_, kReadBuffer, &read, nullptr)) return false;
        if (read == 0) return true;
        next_ = 0;
        end_ = read;
      }
      DWORD part = end_ - next_;
      if (part > size - *got) part = size - *got;
      CopyMemory(buffer + *got, buffer_ + next_, part);
      next_ += part;
      *got += part;
    }
    return true;
  }

  bool Skip(uint32_t count) override {
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

 private:
  HANDLE file_;
  DWORD next_ = 0;
  DWORD end_ = 0;
  static uint8_t buffer_[kReadBuffer];
};

uint8_t FileReader::buffer_[kReadBuffer];

class FileSink final : public ZipEntrySink {
 public:
  FileSink(DWORD folderLength, wchar_t* outputPath)
      : folderLength_(folderLength), outputPath_(outputPath) {}

  uint32_t DecodeName(const uint8_t* bytes, uint32_t size, wchar_t* name,
                      uint32_t capacity) override {
    if (size == 0) return 0;
    const int chars = MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<const char*>(bytes),
                                          static_cast<int>(size), name, static_cast<int>(capacity));
    return chars > 0 ? static_cast<uint32_t>(chars) : 0;
  }

  bool CreateFolders(const wchar_t* name, uint32_t length) override {
    CreateParentFolders(outputPath_, folderLength_, name, length);
    return true;
  }

  bool CreateOutputFile() override {
    file_ = CreateFileW(outputPath_, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    return file_ != INVALID_HANDLE_VALUE;
  }

  bool Write(const uint8_t* data, uint32_t size) override {
    DWORD written = 0;
    return WriteFile(file_, data, size, &written, nullptr) && written == size;
  }

  bool CloseOutputFile() override {
    const BOOL closed = CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    return closed != FALSE;
  }

 private:
  DWORD folderLength_;
  wchar_t* outputPath_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

}  // namespace

PayloadKind LocatePayload(HANDLE file) {
  // The scan starts behind the image, so no byte of the launcher's own code
  // or data can be taken for a payload.
  static uint8_t head[kHeadSize];
  DWORD read = 0;
  if (!ReadFile(file, head, kHeadSize, &read, nullptr)) Fail();
  uint64_t imageEnd = 0;
  if (!ImageEndFromHeaders(head, read, &imageEnd)) Fail();
  SeekTo(file, imageEnd);

  FileReader reader(file);
  PayloadKind kind = PayloadNone;
  uint64_t offset = 0;
  if (!ScanForPayload(reader, &kind, &offset)) Fail();
  if (kind != PayloadNone) SeekTo(file, imageEnd + offset);
  return kind;
}

void ExtractZipEntries(HANDLE file, DWORD folderLength, wchar_t* outputPath) {
  FileReader reader(file);
  FileSink sink(folderLength, outputPath);
  if (WalkZipEntries(reader, folderLength, sink) != ZipResult::kEnded) Fail();
}

namespace {

// The folders the last name made or found, as the leading part of that name
// up to and including its last "/": a later name that starts with the same
// folders needs none of them made again (nothing removes a folder while the
// payload is unpacked). Kept for one output buffer and folder length.
struct MadeFolders {
  const wchar_t* outputPath = nullptr;
  DWORD folderLength = 0;
  DWORD length = 0;  // characters of `name` that are known folders
  wchar_t name[MAX_PATH + 2];
};
MadeFolders made;

}  // namespace

void CreateParentFolders(wchar_t* outputPath, DWORD folderLength, const wchar_t* name,
                         DWORD nameLength) {
  DWORD visible = 0;
  while (visible < nameLength && name[visible] != L'\0') ++visible;
  if (!EntryNameIsSafe(name, visible)) Fail();
  // The buffer holds MAX_PATH + 2 characters: the folder, its backslash and
  // the name with its terminator.
  if (folderLength + 1 + nameLength > MAX_PATH + 2) Fail();
  if (made.outputPath != outputPath || made.folderLength != folderLength) {
    made.outputPath = outputPath;
    made.folderLength = folderLength;
    made.length = 0;
  }
  // Folders this name shares with the last one, whole levels only.
  DWORD known = 0;
  for (DWORD i = 0; i < made.length && i < visible && name[i] == made.name[i]; ++i)
    if (name[i] == L'/') known = i + 1;
  wchar_t* target = outputPath + folderLength + 1;
  CopyMemory(target, name, known * sizeof(wchar_t));
  DWORD last = known;
  for (DWORD i = known; i < nameLength; ++i) {
    if (name[i] == L'/') {
      target[i] = L'\0';
      if (!CreateDirectoryW(outputPath, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) Fail();
      last = i + 1;
    }
    target[i] = name[i];
  }
  CopyMemory(made.name, name, last * sizeof(wchar_t));
  made.length = last;
}
