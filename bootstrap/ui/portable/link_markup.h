// The minimal link markup of the error dialog's message, turned into the
// appends and character formats that build the text in a rich-edit control.
// Portable: no Windows headers; the control is behind MarkupSink.
//
// Grammar: plain runs and links; a link is "<a href='" address "'>" label
// "</a>", matched exactly and case-sensitively, no escaping or nesting. An
// opening delimiter that lacks its "'>" or its "</a>" makes the rest of the
// text a plain run, shown with its markup characters.
#pragma once

#include <stddef.h>

namespace tovik {

// Written into the control between a link's address and its label; hidden.
inline constexpr wchar_t kLinkMarker[] = L"<<!>>LINK<<!>>";
inline constexpr size_t kLinkMarkerLength = 14;

// The control being filled. Positions count wide characters of its text.
class MarkupSink {
 public:
  // Appends `text` (zero-terminated) at the end of the control's text.
  virtual void Append(const wchar_t* text) = 0;
  // Current length of the control's text.
  virtual size_t TextLength() = 0;
  // Formats [start, end) as a link; `hidden` also hides it (the address and
  // marker part), otherwise it shows as a clickable label.
  virtual void FormatLink(size_t start, size_t end, bool hidden) = 0;

 protected:
  ~MarkupSink() = default;
};

// Fills `sink` from `messageText`: each plain run is appended; each link
// appends address, marker and label, formats address+marker as a hidden
// link and the label as a visible one. An absent or empty text, or a failed
// allocation of the working copy, appends nothing. Returns false only for
// that allocation failure.
bool AppendMarkup(const wchar_t* messageText, MarkupSink& sink);

// Cuts `linkText` (the whole text of a clicked link range) at the first link
// marker so that it holds the address alone. False when it has no marker:
// then nothing is to be opened.
bool CutAtLinkMarker(wchar_t* linkText);

}  // namespace tovik
