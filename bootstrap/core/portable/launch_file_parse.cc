#include "launch_file_parse.h"

#include <string.h>

namespace tovik {

const char* ParseLaunchFile(char* bytes, size_t count) {
  static const char kPrefix[] = "Install ";
  if (count < 4 || count > kLaunchFileReadLimit) return nullptr;
  bytes[count - 4] = '\0';
  // strncmp stops at the terminator, so a text shorter than the prefix (or
  // with a zero byte inside it) fails here.
  if (strncmp(bytes, kPrefix, sizeof(kPrefix) - 1) != 0) return nullptr;
  return bytes + sizeof(kPrefix) - 1;
}

}  // namespace tovik
