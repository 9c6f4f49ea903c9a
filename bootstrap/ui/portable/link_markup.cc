#include "link_markup.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace tovik {
namespace {

constexpr wchar_t kOpen[] = L"<a href='";
constexpr size_t kOpenLength = 9;
constexpr wchar_t kLabelStart[] = L"'>";
constexpr size_t kLabelStartLength = 2;
constexpr wchar_t kClose[] = L"</a>";
constexpr size_t kCloseLength = 4;

}  // namespace

bool AppendMarkup(const wchar_t* messageText, MarkupSink& sink) {
  if (messageText == nullptr || messageText[0] == L'\0') return true;
  const size_t length = wcslen(messageText);
  // A working copy, because runs are cut in place to be appended one by one.
  auto* copy = static_cast<wchar_t*>(malloc((length + 1) * sizeof(wchar_t)));
  if (copy == nullptr) return false;
  memcpy(copy, messageText, (length + 1) * sizeof(wchar_t));

  wchar_t* position = copy;
  wchar_t* const end = copy + length;
  while (position < end) {
    wchar_t* open = wcsstr(position, kOpen);
    wchar_t* address = open ? open + kOpenLength : nullptr;
    wchar_t* labelStart = address ? wcsstr(address, kLabelStart) : nullptr;
    wchar_t* label = labelStart ? labelStart + kLabelStartLength : nullptr;
    wchar_t* close = label ? wcsstr(label, kClose) : nullptr;
    if (close == nullptr) {
      sink.Append(position);
      break;
    }
    *open = L'\0';
    if (open != position) sink.Append(position);
    *labelStart = L'\0';
    *close = L'\0';
    position = close + kCloseLength;

    const size_t start = sink.TextLength();
    const size_t addressLength = static_cast<size_t>(labelStart - address);
    const size_t labelLength = static_cast<size_t>(close - label);
    sink.Append(address);
    sink.Append(kLinkMarker);
    sink.Append(label);
    const size_t hiddenEnd = start + addressLength + kLinkMarkerLength;
    sink.FormatLink(start, hiddenEnd, true);
    sink.FormatLink(hiddenEnd, hiddenEnd + labelLength, false);
  }
  free(copy);
  return true;
}

bool CutAtLinkMarker(wchar_t* linkText) {
  wchar_t* marker = wcsstr(linkText, kLinkMarker);
  if (marker == nullptr) return false;
  *marker = L'\0';
  return true;
}

}  // namespace tovik
