#include "param_checker.h"

#include "command_line.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace tovik {
namespace {

// A malloc'd UTF-8 copy of `wide`, or null when memory or the conversion fails.
char* ToUtf8(const wchar_t* wide) {
  int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return nullptr;
  char* copy = static_cast<char*>(malloc(static_cast<size_t>(size)));
  if (copy == nullptr) return nullptr;
  if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, copy, size, nullptr, nullptr) != size) {
    free(copy);
    return nullptr;
  }
  return copy;
}

// A malloc'd wide copy of `utf8`, or null when memory or the conversion fails.
wchar_t* ToWide(const char* utf8) {
  int size = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  if (size <= 0) return nullptr;
  wchar_t* copy = static_cast<wchar_t*>(malloc(static_cast<size_t>(size) * sizeof(wchar_t)));
  if (copy == nullptr) return nullptr;
  if (MultiByteToWideChar(CP_UTF8, 0, utf8, -1, copy, size) != size) {
    free(copy);
    return nullptr;
  }
  return copy;
}

}  // namespace

ParamChecker::ParamChecker(uint32_t argCount, wchar_t** argv) {
  if (argCount == 0) return;
  args = static_cast<char**>(calloc(argCount, sizeof(char*)));
  if (args == nullptr) {
    outOfMemory_ = true;
    return;
  }
  count = argCount;
  for (uint32_t i = 0; i < count; ++i) {
    args[i] = ToUtf8(argv[i]);
    if (args[i] == nullptr) outOfMemory_ = true;
  }
}

ParamChecker::~ParamChecker() {
  for (uint32_t i = count; i > 0; --i) free(args[i - 1]);
  free(args);
  free(options);
  free(auxText);
}

uint32_t ParamChecker::paramCount() const { return count; }

const char* ParamChecker::param(uint32_t index) const {
  // A copy that could not be made reads as empty; the run ends with 5 anyway.
  return args[index] != nullptr ? args[index] : "";
}

void ParamChecker::appendOption(const char* text, bool quoteIfSpaced) {
  wchar_t* wide = ToWide(text);
  if (wide == nullptr) {
    outOfMemory_ = true;
    return;
  }
  // A value is quoted by the platform's splitting rules, so that the child
  // reads back exactly the text given here.
  const size_t textLength = quoteIfSpaced ? QuotedArgumentLength(wide) : wcslen(wide);
  const size_t oldLength = options != nullptr ? wcslen(options) : 0;
  const size_t length = options != nullptr ? oldLength + 1 + textLength : textLength;
  wchar_t* joined = static_cast<wchar_t*>(malloc((length + 1) * sizeof(wchar_t)));
  if (joined == nullptr) {
    free(wide);
    outOfMemory_ = true;
    return;
  }
  wchar_t* p = joined;
  if (options != nullptr) {
    wmemcpy(p, options, oldLength);
    p += oldLength;
    *p++ = L' ';
  }
  *p = L'\0';
  if (quoteIfSpaced) {
    AppendArgument(p, static_cast<uint32_t>(textLength + 1), wide);
  } else {
    wmemcpy(p, wide, textLength);
    p[textLength] = L'\0';
  }
  free(wide);
  free(options);
  options = joined;
}

void ParamChecker::setAuxText(const char* text) {
  wchar_t* wide = ToWide(text);
  if (wide == nullptr) {
    outOfMemory_ = true;
    return;
  }
  free(auxText);
  auxText = wide;
}

// Defined with the store that prints through it, so that whatever links the
// store links its output. The console, a pipe or a file: WriteFile serves
// all three, where the console-only call fails on pipes.
void WriteStandardOutput(const char* text) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  // Best effort: there is nowhere else to report a lost line.
  WriteFile(out, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
}

}  // namespace tovik
