#include "json.h"

#include <stdio.h>

namespace {

// Length of the valid UTF-8 sequence at `s[i]`, or 0.
size_t SequenceLength(const std::string& s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  const size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (length == 0 || i + length > s.size()) return 0;
  uint32_t point = length == 1 ? c : c & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    const unsigned char next = static_cast<unsigned char>(s[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    point = (point << 6) | (next & 0x3F);
  }
  // Overlong forms, surrogates and points beyond Unicode are not valid.
  static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (point < kLeast[length] || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF) return 0;
  return length;
}

std::string Quoted(const std::string& s) {
  std::string out = "\"";
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const size_t length = SequenceLength(s, i);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (length == 1 && c >= 0x20) {
      out += static_cast<char>(c);
    } else if (length > 1) {
      out.append(s, i, length);
      i += length;
      continue;
    } else {
      char escaped[8];
      snprintf(escaped, sizeof(escaped), "\\u%04x", c);
      out += escaped;
    }
    ++i;
  }
  return out + "\"";
}

}  // namespace

void JsonObject::Key(const char* key) {
  if (!body_.empty()) body_ += ", ";
  body_ += Quoted(key) + ": ";
}

JsonObject& JsonObject::Text(const char* key, const std::string& value) {
  Key(key);
  body_ += Quoted(value);
  return *this;
}

JsonObject& JsonObject::Number(const char* key, uint64_t value) {
  Key(key);
  body_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::Bool(const char* key, bool value) {
  Key(key);
  body_ += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::Null(const char* key) {
  Key(key);
  body_ += "null";
  return *this;
}

JsonObject& JsonObject::Texts(const char* key, const std::vector<std::string>& values) {
  Key(key);
  body_ += "[";
  for (size_t i = 0; i < values.size(); ++i) body_ += (i ? ", " : "") + Quoted(values[i]);
  body_ += "]";
  return *this;
}
