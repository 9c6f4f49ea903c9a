// The packaging tool's system layer on Windows. Paths are UTF-8 inside the
// tool and UTF-16 at every system call.
#include <windows.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>

#include "platform.h"
#include "text.h"

namespace platform {

namespace {

std::wstring Wide(const std::string& utf8) {
  std::wstring wide;
  if (!DecodeUtf8(utf8, &wide)) wide = DecodeUtf8Lenient(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size());
  return wide;
}

// UTF-8 of a name the system gave; false when it holds an unpaired surrogate.
bool Narrow(const std::wstring& wide, std::string* utf8) {
  for (size_t i = 0; i < wide.size(); ++i) {
    const wchar_t c = wide[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      ++i;
      continue;
    }
    if (c >= 0xD800 && c <= 0xDFFF) {
      *utf8 = EncodeUtf8(wide);
      return false;
    }
  }
  *utf8 = EncodeUtf8(wide);
  return true;
}

void Walk(const std::wstring& path, const std::string& relative, std::vector<PackItem>* items) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    items->push_back({relative, true, 0, EncodeUtf8(path), "", "cannot read this folder"});
    return;
  }
  struct Child {
    std::string name;
    std::wstring wide;
    bool valid;
    DWORD attributes;
    uint64_t size;
  };
  std::vector<Child> children;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    Child child;
    child.wide = name;
    child.valid = Narrow(name, &child.name);
    child.attributes = found.dwFileAttributes;
    child.size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    children.push_back(child);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(children.begin(), children.end(),
            [](const Child& a, const Child& b) { return a.name < b.name; });
  if (children.empty() && !relative.empty())
    items->push_back({relative, true, 0, EncodeUtf8(path), "", ""});
  for (const Child& child : children) {
    const std::wstring full = path + L"\\" + child.wide;
    const std::string rel = relative.empty() ? child.name : relative + "/" + child.name;
    if (!child.valid) {
      items->push_back({rel, false, 0, EncodeUtf8(full), "", "not valid UTF-16 (an unpaired surrogate)"});
    } else if (child.attributes & FILE_ATTRIBUTE_REPARSE_POINT &&
               child.attributes & FILE_ATTRIBUTE_DIRECTORY) {
      items->push_back({rel, false, 0, EncodeUtf8(full), "", "a link to a folder: not followed"});
    } else if (child.attributes & FILE_ATTRIBUTE_DIRECTORY) {
      Walk(full, rel, items);
    } else {
      items->push_back({rel, false, child.size, EncodeUtf8(full), "", ""});
    }
  }
}

}  // namespace

bool ListFolder(const std::string& root, std::vector<PackItem>* items, std::string* error) {
  if (!IsFolder(root)) {
    *error = "no such folder: " + root;
    return false;
  }
  std::wstring path = Wide(root);
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  Walk(path, "", items);
  return true;
}

bool IsFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Exists(const std::string& path) {
  return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

FILE* Open(const std::string& path, const char* mode) {
  return _wfopen(Wide(path).c_str(), Wide(mode).c_str());
}
bool Seek(FILE* file, uint64_t offset) { return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0; }
bool SizeOf(FILE* file, uint64_t* size) {
  LARGE_INTEGER length;
  if (!GetFileSizeEx(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), &length)) return false;
  *size = static_cast<uint64_t>(length.QuadPart);
  return true;
}
bool ReadWholeFile(const std::string& path, std::string* data, uint64_t expected) {
  FILE* file = Open(path, "rb");
  if (!file) return false;
  data->clear();
  data->shrink_to_fit();
  data->reserve(static_cast<size_t>(expected));
  char buffer[1 << 16];
  size_t got = 0;
  while ((got = fread(buffer, 1, sizeof(buffer), file)) > 0) data->append(buffer, got);
  const bool ok = !ferror(file);
  fclose(file);
  return ok;
}

bool ReadFilePart(const std::string& path, uint64_t offset, uint8_t* buffer, size_t size, size_t* got) {
  *got = 0;
  FILE* file = Open(path, "rb");
  if (!file) return false;
  const bool ok = Seek(file, offset);
  if (ok) *got = fread(buffer, 1, size, file);
  const bool failed = !ok || ferror(file);
  fclose(file);
  return !failed;
}

bool Remove(const std::string& path) { return DeleteFileW(Wide(path).c_str()) != FALSE; }
bool Replace(const std::string& from, const std::string& to) {
  return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

std::string FullPath(const std::string& path) {
  wchar_t buffer[32768];
  const DWORD length = GetFullPathNameW(Wide(path).c_str(), 32768, buffer, nullptr);
  if (length == 0 || length >= 32768) return "";
  std::wstring full(buffer, length);
  while (full.size() > 3 && full.back() == L'\\') full.pop_back();
  return EncodeUtf8(full);
}

bool IsInside(const std::string& path, const std::string& folder) {
  const std::wstring p = FoldCase(Wide(path));
  const std::wstring f = FoldCase(Wide(folder));
  if (p == f) return true;
  const std::wstring prefix = !f.empty() && f.back() == L'\\' ? f : f + L"\\";
  return p.compare(0, prefix.size(), prefix) == 0;
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  const char last = folder.back();
  return last == '\\' || last == '/' ? folder + name : folder + "\\" + name;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string OwnExecutable() {
  wchar_t buffer[32768];
  const DWORD length = GetModuleFileNameW(nullptr, buffer, 32768);
  return length == 0 || length >= 32768 ? std::string() : EncodeUtf8(buffer, length);
}

std::vector<std::string> Arguments(int, char**) {
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return args;
  for (int i = 1; i < count; ++i) args.push_back(EncodeUtf8(wide[i], wcslen(wide[i])));
  LocalFree(wide);
  return args;
}

bool StderrIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != FALSE;
}

// WriteFile rather than console calls: those fail when the handle is a pipe.
static void WriteAll(DWORD which, const std::string& text) {
  HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  // Best effort: there is nowhere else to report a failed write.
  WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}
void WriteStdout(const std::string& text) { WriteAll(STD_OUTPUT_HANDLE, text); }
void WriteStderr(const std::string& text) { WriteAll(STD_ERROR_HANDLE, text); }

double Seconds() {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// One argument quoted so that the child's argument splitting gives it back.
static std::wstring Quote(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
    } else if (c == L'"') {
      out.append(backslashes * 2 + 1, L'\\');
      backslashes = 0;
    } else {
      backslashes = 0;
    }
    out.push_back(c);
  }
  out.append(backslashes, L'\\');
  return out + L"\"";
}

int Run(const std::vector<std::string>& argv) {
  std::wstring line;
  for (const std::string& a : argv) line += (line.empty() ? L"" : L" ") + Quote(Wide(a));
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return -1;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  if (!GetExitCodeProcess(process.hProcess, &code)) code = static_cast<DWORD>(-1);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

}  // namespace platform
