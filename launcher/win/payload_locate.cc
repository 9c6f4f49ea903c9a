#include "payload_locate.h"

#include <stdint.h>

#include "file_reader.h"
#include "payload_scan.h"
#include "pe_image.h"

PayloadKind LocatePayload(HANDLE file, PayloadSpan* payload) {
  static uint8_t head[kImageHeadSize];
  DWORD read = 0;
  if (!ReadFile(file, head, kImageHeadSize, &read, nullptr)) return PayloadNone;
  uint64_t imageEnd = 0;
  CertificateTable table;
  if (!ImageEndFromHeaders(head, read, &imageEnd) ||
      !CertificateTableFromHeaders(head, read, &table))
    return PayloadNone;
  LARGE_INTEGER fileSize;
  if (!GetFileSizeEx(file, &fileSize)) return PayloadNone;

  PayloadSpan span;
  {
    if (table.size != 0 && !SeekTo(file, table.offset)) return PayloadNone;
    FileReader tableReader(file);
    if (CheckSeal(imageEnd, table, static_cast<uint64_t>(fileSize.QuadPart), tableReader, &span) !=
        SealFault::kNone)
      return PayloadNone;
  }

  // The scan starts behind the image, so no byte of the launcher's own code
  // or data can be taken for a payload, and stops where the signed part does.
  if (!SeekTo(file, span.start)) return PayloadNone;
  FileReader reader(file, span.end - span.start);
  PayloadKind kind = PayloadNone;
  uint64_t offset = 0;
  if (!ScanForPayload(reader, &kind, &offset)) return PayloadNone;
  if (kind == PayloadNone || !SeekTo(file, span.start + offset)) return PayloadNone;
  *payload = {span.start + offset, span.end, span.signedFile};
  return kind;
}
