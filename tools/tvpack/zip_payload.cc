#include <zlib.h>

#include "payload_writer.h"

namespace {

constexpr uint16_t kFlagUtf8Name = 0x0800;
constexpr uint16_t kDate1980 = 0x21;  // 1980-01-01, the format's first day

void Put(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

struct CentralRecord {
  std::string name;
  uint16_t method = 0;
  uint32_t crc = 0, packed = 0, size = 0, offset = 0;
  bool folder = false;
};

std::string Header(const char* signature, const CentralRecord& r, bool central) {
  std::string out(signature, 4);
  if (central) Put(out, 20, 2);                     // made by: version 2.0, no host
  Put(out, r.method == 8 || r.folder ? 20 : 10, 2);  // needed to extract
  Put(out, kFlagUtf8Name, 2);
  Put(out, r.method, 2);
  Put(out, 0, 2);  // time 00:00
  Put(out, kDate1980, 2);
  Put(out, r.crc, 4);
  Put(out, r.packed, 4);
  Put(out, r.size, 4);
  Put(out, static_cast<uint32_t>(r.name.size()), 2);
  Put(out, 0, 2);  // extra field
  if (central) {
    Put(out, 0, 2);                   // comment
    Put(out, 0, 2);                   // disk
    Put(out, 0, 2);                   // internal attributes
    Put(out, r.folder ? 0x10 : 0, 4);  // external: the folder attribute
    Put(out, r.offset, 4);
  }
  return out + r.name;
}

bool Deflate(const std::string& data, int level, std::string* packed) {
  z_stream stream = {};
  if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  packed->assign(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(packed->data());
  stream.avail_out = static_cast<uInt>(packed->size());
  const int status = deflate(&stream, Z_FINISH);
  packed->resize(stream.total_out);
  deflateEnd(&stream);
  return status == Z_STREAM_END;
}

}  // namespace

bool WriteZipPayload(const std::vector<PackItem>& items, int level, ItemSource& source,
                     PayloadSink& sink, PackProgress& progress, std::string* error) {
  std::vector<CentralRecord> central;
  uint64_t position = 0;
  auto emit = [&](const std::string& bytes) {
    if (!sink.Write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())) {
      *error = "cannot write the package";
      return false;
    }
    position += bytes.size();
    return true;
  };
  auto tooLarge = [&]() {
    if (position < 0xFFFFFFFFull) return false;
    *error = "the package reached 4 GiB, the limit of the ZIP-style format; use --format 7z";
    return true;
  };

  std::string data, packed;
  for (const PackItem& item : items) {
    if (tooLarge()) return false;
    CentralRecord r;
    r.offset = static_cast<uint32_t>(position);
    r.folder = item.folder;
    r.name = item.folder ? item.name + "/" : item.name;
    if (!item.folder) {
      if (!source.Read(item, &data, error)) return false;
      r.size = static_cast<uint32_t>(data.size());
      r.crc = static_cast<uint32_t>(
          crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
      bool deflated = false;
      if (level > 0 && !data.empty()) {
        if (!Deflate(data, level, &packed)) {
          *error = "deflate failed on " + item.name;
          return false;
        }
        deflated = packed.size() < data.size();
      }
      r.method = deflated ? 8 : 0;
      const std::string& stored = deflated ? packed : data;
      r.packed = static_cast<uint32_t>(stored.size());
      if (!emit(Header("PK\x03\x04", r, false)) || !emit(stored)) return false;
    } else if (!emit(Header("PK\x03\x04", r, false))) {
      return false;
    }
    progress.Advance(r.size, item.folder ? 0 : 1);
    central.push_back(r);
  }

  const uint64_t directoryStart = position;
  for (const CentralRecord& r : central)
    if (!emit(Header("PK\x01\x02", r, true))) return false;
  if (tooLarge() || central.size() > 0xFFFF) {
    if (error->empty()) *error = "more than 65535 items: use --format 7z";
    return false;
  }
  std::string end("PK\x05\x06", 4);
  Put(end, 0, 2);  // this disk
  Put(end, 0, 2);  // the directory's disk
  Put(end, static_cast<uint32_t>(central.size()), 2);
  Put(end, static_cast<uint32_t>(central.size()), 2);
  Put(end, static_cast<uint32_t>(position - directoryStart), 4);
  Put(end, static_cast<uint32_t>(directoryStart), 4);
  Put(end, 0, 2);  // comment
  return emit(end);
}
