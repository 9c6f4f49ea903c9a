// One JSON object on one line, for the --json answers of verify and
// check-runtime. Portable.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// Builds {"key": value, ...} in the order the fields are added.
class JsonObject {
 public:
  // Texts are UTF-8; a byte that is not part of valid UTF-8 is written as the
  // code point of the same number, so the answer is always valid JSON.
  JsonObject& Text(const char* key, const std::string& value);
  JsonObject& Number(const char* key, uint64_t value);
  JsonObject& Bool(const char* key, bool value);
  JsonObject& Null(const char* key);
  JsonObject& Texts(const char* key, const std::vector<std::string>& values);
  // The object with a line end.
  std::string Line() const { return "{" + body_ + "}\n"; }

 private:
  void Key(const char* key);
  std::string body_;
};
