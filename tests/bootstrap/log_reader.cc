#include "log_reader.h"

#include <windows.h>
#include <shlobj.h>
#include <gtest/gtest.h>

#include "test_support.h"

namespace tvtest {
namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";
// "[YYYY-MM-DD:hh:mm:ss] ": '#' stands for a digit.
constexpr char kStampShape[] = "[####-##-##:##:##:##] ";
constexpr size_t kStampLength = sizeof(kStampShape) - 1;

bool HasStamp(const std::string& line) {
  if (line.size() < kStampLength) return false;
  for (size_t i = 0; i < kStampLength; ++i) {
    const bool digit = line[i] >= '0' && line[i] <= '9';
    if (kStampShape[i] == '#' ? !digit : line[i] != kStampShape[i]) return false;
  }
  return true;
}

}  // namespace

std::wstring TovikLogFile() {
  wchar_t folder[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, folder))) return L"";
  return std::wstring(folder) + L"\\Tessaro\\Vantel\\logs\\Install.log";
}

void RemoveTovikLog() { DeleteFileW(TovikLogFile().c_str()); }

std::vector<std::string> LogLinesOf(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find("\r\n", at);
    if (end == std::string::npos) {
      ADD_FAILURE() << "unterminated log line: " << text.substr(at);
      end = text.size();
    }
    const std::string line = text.substr(at, end - at);
    if (HasStamp(line)) {
      lines.push_back(line.substr(kStampLength));
    } else {
      ADD_FAILURE() << "log line without timestamp: " << line;
      lines.push_back("<no stamp>" + line);
    }
    at = end + 2;
  }
  return lines;
}

std::vector<std::string> TovikLogLines() {
  const std::string bytes = ReadFileBytes(TovikLogFile());
  if (bytes.empty()) return {};
  if (bytes.compare(0, 3, kBom) != 0) {
    ADD_FAILURE() << "log without byte-order mark";
    return {};
  }
  return LogLinesOf(bytes.substr(3));
}

TovikLogTail::TovikLogTail() {
  const std::wstring path = TovikLogFile();
  start_ = Exists(path) ? ReadFileBytes(path).size() : 0;
}

std::vector<std::string> TovikLogTail::Lines() const {
  const std::string all = ReadFileBytes(TovikLogFile());
  if (all.size() < start_) return {"<log was emptied>"};
  std::string text = all.substr(start_);
  if (text.compare(0, 3, kBom) == 0) text.erase(0, 3);
  return LogLinesOf(text);
}

}  // namespace tvtest
