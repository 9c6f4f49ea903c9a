#include "path_join.h"

size_t TextLength(const wchar_t* text) {
  size_t length = 0;
  while (text[length] != L'\0') ++length;
  return length;
}

bool AppendText(wchar_t* buffer, size_t capacity, const wchar_t* text) {
  const size_t used = TextLength(buffer);
  const size_t extra = TextLength(text);
  if (used + extra >= capacity) return false;
  for (size_t i = 0; i <= extra; ++i) buffer[used + i] = text[i];
  return true;
}

bool JoinPath(wchar_t* path, size_t capacity, const wchar_t* folder, const wchar_t* name) {
  if (capacity == 0) return false;
  const size_t folderLength = TextLength(folder);
  const bool separator = !(folderLength > 0 && folder[folderLength - 1] == L'\\');
  path[0] = L'\0';
  return AppendText(path, capacity, folder) && (!separator || AppendText(path, capacity, L"\\")) &&
         AppendText(path, capacity, name);
}
