#include "payload_locate.h"

#include <stdint.h>

#include "file_reader.h"
#include "payload_scan.h"
#include "pe_image.h"

PayloadKind LocatePayload(HANDLE file) {
  // The scan starts behind the image, so no byte of the launcher's own code
  // or data can be taken for a payload.
  static uint8_t head[kImageHeadSize];
  DWORD read = 0;
  if (!ReadFile(file, head, kImageHeadSize, &read, nullptr)) return PayloadNone;
  uint64_t imageEnd = 0;
  if (!ImageEndFromHeaders(head, read, &imageEnd)) return PayloadNone;
  if (!SeekTo(file, imageEnd)) return PayloadNone;

  FileReader reader(file);
  PayloadKind kind = PayloadNone;
  uint64_t offset = 0;
  if (!ScanForPayload(reader, &kind, &offset)) return PayloadNone;
  if (kind != PayloadNone && !SeekTo(file, imageEnd + offset)) return PayloadNone;
  return kind;
}
