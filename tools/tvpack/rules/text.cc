#include "text.h"

#include "utf8_name.h"

bool DecodeUtf8(const std::string& utf8, std::wstring* wide) {
  wide->clear();
  const auto* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
  for (size_t i = 0; i < utf8.size();) {
    uint32_t c = 0;
    const size_t length = Utf8Sequence(bytes + i, utf8.size() - i, &c);
    if (length == 0) return false;
    if (c >= 0x10000) {
      c -= 0x10000;
      wide->push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
      wide->push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
    } else {
      wide->push_back(static_cast<wchar_t>(c));
    }
    i += length;
  }
  return true;
}

std::wstring DecodeUtf8Lenient(const uint8_t* bytes, size_t size) {
  // At most one unit per byte: a sequence of four bytes gives two units.
  std::wstring out(size, L'\0');
  const uint32_t units = DecodeUtf8Name(bytes, static_cast<uint32_t>(size), out.data(),
                                        static_cast<uint32_t>(size));
  out.resize(units);
  return out;
}

std::string EncodeUtf8(const wchar_t* wide, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    // A wide character is a UTF-16 unit, or a code point where it has 32 bits.
    uint32_t c = static_cast<uint32_t>(wide[i]);
    if (c > 0x10FFFF) c = 0xFFFD;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length) {
      const uint32_t low = static_cast<uint32_t>(wide[i + 1]) & 0xFFFF;
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::wstring FoldCase(const std::wstring& name) {
  std::wstring out = name;
  for (wchar_t& ch : out) {
    const uint32_t c = static_cast<uint32_t>(ch);
    if (c >= 'a' && c <= 'z') {
      ch = static_cast<wchar_t>(c - 32);
    } else if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) {
      ch = static_cast<wchar_t>(c - 32);
    } else if (c == 0xFF) {
      ch = static_cast<wchar_t>(0x178);
    } else if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149) {
      // Latin Extended-A pairs capital and small letters as even and odd
      // code points, shifted by one between U+0139 and U+0148 and from U+0179.
      const bool shifted = (c >= 0x139 && c <= 0x148) || c >= 0x179;
      if (shifted ? (c % 2 == 0) : (c % 2 == 1)) ch = static_cast<wchar_t>(c - 1);
    } else if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) {
      ch = static_cast<wchar_t>(c - 32);
    } else if (c >= 0x430 && c <= 0x44F) {
      ch = static_cast<wchar_t>(c - 32);
    } else if (c >= 0x450 && c <= 0x45F) {
      ch = static_cast<wchar_t>(c - 80);
    }
  }
  return out;
}

std::string Printable(const std::string& text) {
  std::wstring wide;
  if (DecodeUtf8(text, &wide)) {
    bool plain = true;
    for (wchar_t c : wide)
      if (c < 0x20 || c == 0x7F) plain = false;
    if (plain) return text;
  }
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (char ch : text) {
    const uint8_t b = static_cast<uint8_t>(ch);
    if (b >= 0x20 && b < 0x7F && b != '\\') {
      out.push_back(ch);
    } else {
      out += "\\x";
      out.push_back(kHex[b >> 4]);
      out.push_back(kHex[b & 15]);
    }
  }
  return out;
}
