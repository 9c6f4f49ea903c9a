#include "command_line.h"

namespace tovik {

namespace {

uint32_t Length(const wchar_t* text) {
  uint32_t n = 0;
  while (text[n] != L'\0') ++n;
  return n;
}

// Room for `extra` more characters behind the `used` ones and the terminator.
bool Fits(uint32_t used, uint32_t extra, uint32_t capacity) {
  return capacity > used && extra <= capacity - used - 1;
}

}  // namespace

bool ArgumentNeedsQuotes(const wchar_t* argument) {
  if (argument[0] == L'\0') return true;
  for (const wchar_t* p = argument; *p != L'\0'; ++p) {
    if (*p == L' ' || *p == L'\t' || *p == L'\n' || *p == L'\v' || *p == L'"') return true;
  }
  return false;
}

uint32_t QuotedArgumentLength(const wchar_t* argument, bool alwaysQuote) {
  if (!alwaysQuote && !ArgumentNeedsQuotes(argument)) return Length(argument);
  uint32_t length = 2;
  uint32_t backslashes = 0;
  for (const wchar_t* p = argument; *p != L'\0'; ++p) {
    if (*p == L'\\') {
      ++backslashes;
      ++length;
      continue;
    }
    // A quote takes its backslashes twice and one of its own.
    if (*p == L'"') length += backslashes + 1;
    backslashes = 0;
    ++length;
  }
  // So do the backslashes before the closing quote.
  return length + backslashes;
}

bool AppendArgument(wchar_t* line, uint32_t capacity, const wchar_t* argument, bool alwaysQuote) {
  uint32_t used = Length(line);
  if (!Fits(used, QuotedArgumentLength(argument, alwaysQuote), capacity)) return false;
  wchar_t* out = line + used;
  if (!alwaysQuote && !ArgumentNeedsQuotes(argument)) {
    for (const wchar_t* p = argument; *p != L'\0'; ++p) *out++ = *p;
    *out = L'\0';
    return true;
  }
  *out++ = L'"';
  uint32_t backslashes = 0;
  for (const wchar_t* p = argument; *p != L'\0'; ++p) {
    if (*p == L'\\') {
      ++backslashes;
      *out++ = L'\\';
      continue;
    }
    if (*p == L'"') {
      for (uint32_t i = 0; i < backslashes + 1; ++i) *out++ = L'\\';
    }
    backslashes = 0;
    *out++ = *p;
  }
  for (uint32_t i = 0; i < backslashes; ++i) *out++ = L'\\';
  *out++ = L'"';
  *out = L'\0';
  return true;
}

bool AppendText(wchar_t* line, uint32_t capacity, const wchar_t* text) {
  uint32_t used = Length(line);
  uint32_t length = Length(text);
  if (!Fits(used, length, capacity)) return false;
  for (uint32_t i = 0; i <= length; ++i) line[used + i] = text[i];
  return true;
}

bool AppendProgram(wchar_t* line, uint32_t capacity, const wchar_t* program) {
  for (const wchar_t* p = program; *p != L'\0'; ++p) {
    if (*p == L'"') return false;
  }
  uint32_t used = Length(line);
  if (!Fits(used, Length(program) + 2, capacity)) return false;
  AppendText(line, capacity, L"\"");
  AppendText(line, capacity, program);
  AppendText(line, capacity, L"\"");
  return true;
}

}  // namespace tovik
