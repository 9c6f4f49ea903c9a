#include <math.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <mutex>
#include <thread>

#include "7zAlloc.h"
#include "7zCrc.h"
#include "Bra.h"
#include "LzFind.h"
#include "LzmaEnc.h"
#include "payload_writer.h"
#include "text.h"

namespace {

// Property IDs of the 7z header.
enum : uint8_t {
  kEnd = 0x00,
  kHeader = 0x01,
  kMainStreamsInfo = 0x04,
  kFilesInfo = 0x05,
  kPackInfo = 0x06,
  kUnpackInfo = 0x07,
  kSubStreamsInfo = 0x08,
  kSize = 0x09,
  kCrc = 0x0A,
  kFolder = 0x0B,
  kCodersUnpackSize = 0x0C,
  kNumUnpackStream = 0x0D,
  kEmptyStream = 0x0E,
  kEmptyFile = 0x0F,
  kName = 0x11,
  kEncodedHeader = 0x17,
};

constexpr uint64_t kBlockTarget = 64ull << 20;
constexpr uint8_t kLzmaId[] = {0x03, 0x01, 0x01};
constexpr uint8_t kBcjId[] = {0x03, 0x03, 0x01, 0x03};

// The 7z variable-length number: the first byte's leading one bits say how
// many little-endian bytes follow.
void PutNumber(std::string& out, uint64_t value) {
  uint8_t first = 0;
  uint8_t mask = 0x80;
  int i = 0;
  for (; i < 8; ++i) {
    if (value < (1ull << (7 * (i + 1)))) {
      first |= static_cast<uint8_t>(value >> (8 * i));
      break;
    }
    first |= mask;
    mask >>= 1;
  }
  out.push_back(static_cast<char>(first));
  for (; i > 0; --i) {
    out.push_back(static_cast<char>(value & 0xFF));
    value >>= 8;
  }
}

void PutLe(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A bit vector, first item in the highest bit of the first byte.
std::string Bits(const std::vector<bool>& bits) {
  std::string out((bits.size() + 7) / 8, '\0');
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i]) out[i / 8] = static_cast<char>(out[i / 8] | (0x80 >> (i % 8)));
  return out;
}

void PutProperty(std::string& out, uint8_t id, const std::string& data) {
  out.push_back(static_cast<char>(id));
  PutNumber(out, data.size());
  out += data;
}

bool IsProgramName(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return false;
  std::string ext = name.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return ext == "exe" || ext == "dll" || ext == "sys" || ext == "ocx" || ext == "cpl" ||
         ext == "scr" || ext == "drv" || ext == "efi";
}

constexpr size_t kPart = 1u << 20;  // files are read in parts of this size

// Reads up to `size` bytes of `item` at `offset`; false with `*error` set on a
// read failure or when the item ends early.
bool ReadExactPart(ItemSource& source, const PackItem& item, uint64_t offset, uint8_t* buffer,
                   size_t size, std::string* error) {
  size_t got = 0;
  if (!source.ReadPart(item, offset, buffer, size, &got, error)) return false;
  if (got == size) return true;
  *error = item.sourcePath + " changed while it was being packed";
  return false;
}

// Whether LZMA would only spend time on `item`: every 64 KiB looks like
// random bytes (close to 8 bits per byte) and fast deflate cannot shrink it
// by 2%: the whole of a file up to 4 MiB, else 16 slices of 256 KiB spread
// over it (deflating all of a large file took a tenth of the time LZMA then
// saved). Already-compressed media and archives are the usual case. Reads
// the file only as far as it needs to.
bool Incompressible(ItemSource& source, const PackItem& item, bool* result, std::string* error) {
  constexpr size_t kWindow = 65536;
  constexpr uint64_t kWhole = 4u << 20;
  constexpr size_t kSlices = 16;
  constexpr size_t kSlice = 256u << 10;
  *result = false;
  if (item.size < kWindow) return true;
  const uint64_t windows = item.size / kWindow;
  std::string whole;  // a file of up to 4 MiB, kept for deflate
  std::vector<uint8_t> part(kPart);
  for (uint64_t at = 0; at < windows * kWindow; at += kPart) {
    const size_t size = static_cast<size_t>(std::min<uint64_t>(kPart, item.size - at));
    if (!ReadExactPart(source, item, at, part.data(), size, error)) return false;
    if (item.size <= kWhole) whole.append(reinterpret_cast<const char*>(part.data()), size);
    for (size_t w = 0; w + kWindow <= size; w += kWindow) {
      uint32_t counts[256] = {};
      for (size_t i = w; i < w + kWindow; ++i) ++counts[part[i]];
      double bits = 0;
      for (uint32_t c : counts)
        if (c) bits -= c * log2(static_cast<double>(c) / kWindow);
      if (bits / kWindow < 7.9) return true;
    }
  }
  if (item.size <= kWhole && whole.size() < item.size) {
    const size_t rest = static_cast<size_t>(item.size - whole.size());
    part.resize(rest);
    if (!ReadExactPart(source, item, whole.size(), part.data(), rest, error)) return false;
    whole.append(reinterpret_cast<const char*>(part.data()), rest);
  }
  const size_t slices = item.size <= kWhole ? 1 : kSlices;
  const size_t slice = item.size <= kWhole ? static_cast<size_t>(item.size) : kSlice;
  z_stream stream = {};
  if (deflateInit2(&stream, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return true;
  std::string out(1u << 16, '\0');
  part.resize(slice);
  uint64_t sampled = 0;
  int status = Z_OK;
  for (size_t i = 0; i < slices && status != Z_STREAM_ERROR; ++i) {
    const Bytef* in = reinterpret_cast<const Bytef*>(whole.data());
    if (slices > 1) {
      const uint64_t begin = (item.size - slice) / (slices - 1) * i;
      if (!ReadExactPart(source, item, begin, part.data(), slice, error)) {
        deflateEnd(&stream);
        return false;
      }
      in = part.data();
    }
    stream.next_in = const_cast<Bytef*>(in);
    stream.avail_in = static_cast<uInt>(slice);
    sampled += slice;
    const int flush = i + 1 == slices ? Z_FINISH : Z_FULL_FLUSH;
    do {
      stream.next_out = reinterpret_cast<Bytef*>(out.data());
      stream.avail_out = static_cast<uInt>(out.size());
      status = deflate(&stream, flush);
    } while (status == Z_OK && (stream.avail_in > 0 || stream.avail_out == 0));
  }
  const uint64_t packed = stream.total_out;
  deflateEnd(&stream);
  *result = status == Z_STREAM_END && packed * 50 >= sampled * 49;
  return true;
}

// How a block is coded: LZMA, LZMA behind the x86 branch filter, or copied.
enum class Coding { kLzma, kLzmaX86, kCopy };

struct Block {
  std::vector<const PackItem*> files;
  Coding coding = Coding::kLzma;
  bool branchFilter = false;
  std::vector<uint64_t> sizes;
  std::vector<uint32_t> crcs;
  uint64_t unpacked = 0;
  uint64_t packed = 0;
  Byte props[LZMA_PROPS_SIZE] = {};
};

struct EncodeProgress {
  ICompressProgress vt;
  PackProgress* progress;
  uint64_t reported;
};

SRes OnProgress(ICompressProgressPtr p, UInt64 inSize, UInt64) {
  EncodeProgress* self = Z7_CONTAINER_FROM_VTBL(p, EncodeProgress, vt);
  if (inSize != static_cast<UInt64>(-1) && inSize > self->reported) {
    self->progress->Advance(inSize - self->reported, 0);
    self->reported = inSize;
  }
  return SZ_OK;
}

// Sets up an encoder for `size` bytes at `level`, its properties in `*block`.
CLzmaEncHandle NewEncoder(int level, unsigned threads, uint64_t size, Block* block) {
  CLzmaEncProps props;
  LzmaEncProps_Init(&props);
  props.level = level;
  // Level 5 with a 16 MiB dictionary, as archivers use it: the SDK's own
  // level 5 takes 32 MiB, which costs about a third more time for next to
  // nothing on installer payloads.
  if (level == 5) props.dictSize = 1u << 24;
  props.reduceSize = size;
  // Two threads: the match finder's hashing and tree search run beside the
  // coder; the matches, and so the bytes, are the same as with one.
  props.numThreads = threads >= 2 ? 2 : 1;
  props.writeEndMark = 0;
  const ISzAlloc alloc = {SzAlloc, SzFree};
  CLzmaEncHandle encoder = LzmaEnc_Create(&alloc);
  if (!encoder) return nullptr;
  SizeT propsSize = LZMA_PROPS_SIZE;
  if (LzmaEnc_SetProps(encoder, &props) != SZ_OK ||
      LzmaEnc_WriteProperties(encoder, block->props, &propsSize) != SZ_OK) {
    LzmaEnc_Destroy(encoder, &alloc, &alloc);
    return nullptr;
  }
  return encoder;
}

// Codes `data` (the header) in memory into `*packed`.
bool Encode(const std::string& data, int level, Block* block, std::string* packed) {
  const ISzAlloc alloc = {SzAlloc, SzFree};
  size_t capacity = data.size() + data.size() / 16 + 65536;
  for (;;) {
    CLzmaEncHandle encoder = NewEncoder(level, 1, data.size(), block);
    if (!encoder) return false;
    packed->assign(capacity, '\0');
    SizeT length = capacity;
    const SRes result = LzmaEnc_MemEncode(encoder, reinterpret_cast<Byte*>(packed->data()), &length,
                                          reinterpret_cast<const Byte*>(data.data()), data.size(),
                                          0, nullptr, &alloc, &alloc);
    LzmaEnc_Destroy(encoder, &alloc, &alloc);
    if (result == SZ_ERROR_OUTPUT_EOF) {
      capacity *= 2;  // only incompressible data needs more room than the first guess
      continue;
    }
    if (result == SZ_OK) packed->resize(length);
    return result == SZ_OK;
  }
}

// A block's files, one after another, as the coder reads them: read in
// parts, each file's CRC taken on the way, through the x86 branch filter for
// a block of programs. The filter converts what it can and keeps the last
// few bytes (an instruction may continue in the next part) for the next
// part; at the block's end they go out as they are, exactly as when the
// whole block is filtered at once.
struct BlockInput {
  ISeqInStream vt;
  Block* block;
  ItemSource* source;
  std::string* error;
  std::vector<uint8_t> buffer = std::vector<uint8_t>(kPart);
  size_t start = 0;   // next byte to hand out
  size_t ready = 0;   // bytes filtered (or needing no filter)
  size_t filled = 0;  // bytes read
  size_t file = 0;
  uint64_t fileOffset = 0;
  uint32_t crc = CRC_INIT_VAL;
  UInt32 pc = 0;
  UInt32 state = Z7_BRANCH_CONV_ST_X86_STATE_INIT_VAL;
  bool failed = false;

  bool Refill() {
    memmove(buffer.data(), buffer.data() + ready, filled - ready);
    filled -= ready;
    start = ready = 0;
    while (filled < buffer.size() && file < block->files.size()) {
      const PackItem& item = *block->files[file];
      const uint64_t remaining = item.size - fileOffset;
      const size_t room = buffer.size() - filled;
      // One byte more at a file's end shows a file that grew.
      const size_t want = remaining < room ? static_cast<size_t>(remaining) + 1 : room;
      size_t got = 0;
      if (!source->ReadPart(item, fileOffset, buffer.data() + filled, want, &got, error)) return false;
      if (got > remaining || (got < want && got < remaining)) {
        *error = item.sourcePath + " changed while it was being packed";
        return false;
      }
      crc = CrcUpdate(crc, buffer.data() + filled, got);
      filled += got;
      fileOffset += got;
      if (fileOffset == item.size) {
        block->sizes.push_back(item.size);
        block->crcs.push_back(CRC_GET_DIGEST(crc));
        crc = CRC_INIT_VAL;
        fileOffset = 0;
        ++file;
      }
    }
    ready = filled;
    if (block->branchFilter && file < block->files.size()) {
      ready = static_cast<size_t>(z7_BranchConvSt_X86_Enc(buffer.data(), filled, pc, &state) - buffer.data());
      pc += static_cast<UInt32>(ready);
    } else if (block->branchFilter) {
      z7_BranchConvSt_X86_Enc(buffer.data(), filled, pc, &state);
    }
    return true;
  }
};

SRes ReadBlockInput(ISeqInStreamPtr p, void* buffer, size_t* size) {
  BlockInput* in = Z7_CONTAINER_FROM_VTBL(p, BlockInput, vt);
  if (in->start == in->ready && !in->Refill()) {
    in->failed = true;
    return SZ_ERROR_READ;
  }
  const size_t n = std::min(*size, in->ready - in->start);
  memcpy(buffer, in->buffer.data() + in->start, n);
  in->start += n;
  *size = n;
  return SZ_OK;
}

// Where a block's packed bytes go: straight into the package for the block
// whose turn it is, else kept until its turn.
struct BlockOutput {
  ISeqOutStream vt;
  PayloadSink* sink;     // null: into `kept`
  std::string* kept;
  uint64_t written = 0;
  bool failed = false;
};

size_t WriteBlockOutput(ISeqOutStreamPtr p, const void* data, size_t size) {
  BlockOutput* out = Z7_CONTAINER_FROM_VTBL(p, BlockOutput, vt);
  if (out->sink) {
    if (!out->sink->Write(static_cast<const uint8_t*>(data), size)) {
      out->failed = true;
      return 0;
    }
  } else {
    out->kept->append(static_cast<const char*>(data), size);
  }
  out->written += size;
  return size;
}

// Reads the block's files, filters and codes (or copies) them into `out`;
// never holds a file whole.
bool PackBlock(Block* block, int level, unsigned threads, ItemSource& source,
               PackProgress& progress, BlockOutput* out, std::string* error) {
  BlockInput in = {{ReadBlockInput}, block, &source, error};
  if (block->coding == Coding::kCopy) {
    for (;;) {
      if (in.start == in.ready && !in.Refill()) return false;
      if (in.ready == 0) break;
      const size_t n = in.ready - in.start;
      if (WriteBlockOutput(&out->vt, in.buffer.data() + in.start, n) != n) {
        *error = "cannot write the package";
        return false;
      }
      in.start = in.ready;
      progress.Advance(n, 0);
    }
    block->packed = out->written;
    return true;
  }
  const ISzAlloc alloc = {SzAlloc, SzFree};
  CLzmaEncHandle encoder = NewEncoder(level, threads, block->unpacked, block);
  if (!encoder) {
    *error = "the LZMA encoder failed (out of memory?)";
    return false;
  }
  EncodeProgress report = {{OnProgress}, &progress, 0};
  const SRes result = LzmaEnc_Encode(encoder, &out->vt, &in.vt, &report.vt, &alloc, &alloc);
  LzmaEnc_Destroy(encoder, &alloc, &alloc);
  if (report.reported < block->unpacked) progress.Advance(block->unpacked - report.reported, 0);
  if (in.failed) return false;  // the reason is in *error
  if (out->failed) {
    *error = "cannot write the package";
    return false;
  }
  if (result != SZ_OK || block->sizes.size() != block->files.size()) {
    *error = "the LZMA encoder failed (out of memory?)";
    return false;
  }
  block->packed = out->written;
  return true;
}

// Progress reported from several threads, passed on one at a time.
class LockedProgress final : public PackProgress {
 public:
  explicit LockedProgress(PackProgress& inner) : inner_(inner) {}
  void Advance(uint64_t bytes, uint32_t files) override {
    std::lock_guard<std::mutex> lock(mutex_);
    inner_.Advance(bytes, files);
  }

 private:
  PackProgress& inner_;
  std::mutex mutex_;
};

std::string Utf16Le(const std::string& utf8) {
  std::wstring wide;
  DecodeUtf8(utf8, &wide);
  std::string out;
  for (wchar_t c : wide) PutLe(out, static_cast<uint32_t>(c) & 0xFFFF, 2);
  PutLe(out, 0, 2);
  return out;
}

bool WriteAll(PayloadSink& sink, const std::string& bytes, std::string* error) {
  if (sink.Write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())) return true;
  *error = "cannot write the package";
  return false;
}

Coding CodingOf(const PackItem& item) { return IsProgramName(item.name) ? Coding::kLzmaX86 : Coding::kLzma; }

// How each item is coded. Files that would not shrink are copied, not
// coded: LZMA spends most of its time on them for nothing. The launcher
// finds a 7z payload by its first packed stream, which must be LZMA: with
// nothing else to code, they are coded after all.
bool ChooseCodings(const std::vector<PackItem>& items, ItemSource& source, std::vector<Coding>* codings,
                   std::string* error) {
  codings->assign(items.size(), Coding::kLzma);
  bool anyCoded = false;
  for (size_t i = 0; i < items.size(); ++i) {
    const PackItem& item = items[i];
    if (item.folder || item.size == 0) continue;
    bool copy = false;
    if (!Incompressible(source, item, &copy, error)) return false;
    (*codings)[i] = copy ? Coding::kCopy : CodingOf(item);
    anyCoded = anyCoded || (*codings)[i] != Coding::kCopy;
  }
  if (!anyCoded)
    for (size_t i = 0; i < items.size(); ++i)
      if ((*codings)[i] == Coding::kCopy) (*codings)[i] = CodingOf(items[i]);
  return true;
}

// Blocks of up to kBlockTarget: plain files first, then programs, then
// copied files, each kind in the items' order. Folders and empty files go
// to `*empties`: they have no data.
void PlanBlocks(const std::vector<PackItem>& items, const std::vector<Coding>& codings,
                std::vector<Block>* blocks, std::vector<const PackItem*>* empties) {
  for (Coding coding : {Coding::kLzma, Coding::kLzmaX86, Coding::kCopy}) {
    Block current;
    current.coding = coding;
    current.branchFilter = coding == Coding::kLzmaX86;
    for (size_t i = 0; i < items.size(); ++i) {
      const PackItem& item = items[i];
      if (item.folder || item.size == 0 || codings[i] != coding) continue;
      if (!current.files.empty() && current.unpacked + item.size > kBlockTarget) {
        blocks->push_back(current);
        current.files.clear();
        current.unpacked = 0;
      }
      current.files.push_back(&item);
      current.unpacked += item.size;
    }
    if (!current.files.empty()) blocks->push_back(current);
  }
  for (const PackItem& item : items)
    if (item.folder || item.size == 0) empties->push_back(&item);
}

// Codes every block into the sink, in order; `*packedTotal` is their packed
// size. Blocks are independent. With two threads or more, every block is
// coded with the multi-threaded match finder: its hashing and batched tree
// search cost about half the processor time of the single-threaded one
// (64 MiB of program code: 9.8 s against 18.4 s) and keep about 1.6
// processors busy, so blocks run side by side one per two threads (a wave
// at a time, written in order). The bytes are the same either way.
bool PackBlocks(std::vector<Block>& blocks, int level, unsigned threads, ItemSource& source, PayloadSink& sink,
                PackProgress& progress, uint64_t* packedTotal, std::string* error) {
  size_t coded = 0;
  for (const Block& b : blocks) coded += b.coding == Coding::kCopy ? 0 : 1;
  const unsigned wave = threads >= 4 && coded >= 2 ? threads / 2 : 1;
  LockedProgress shared(progress);
  *packedTotal = 0;
  for (size_t first = 0; first < blocks.size(); first += wave) {
    const size_t count = std::min<size_t>(wave, blocks.size() - first);
    // The wave's first block goes straight into the package; the others are
    // kept until their turn.
    std::vector<std::string> kept(count), errors(count);
    std::vector<BlockOutput> outputs(count);
    std::vector<char> ok(count, 0);
    for (size_t i = 0; i < count; ++i)
      outputs[i] = {{WriteBlockOutput}, i == 0 ? &sink : nullptr, &kept[i]};
    auto pack = [&](size_t i) {
      ok[i] = PackBlock(&blocks[first + i], level, threads, source, shared, &outputs[i], &errors[i]);
    };
    std::vector<std::thread> helpers;
    for (size_t i = 1; i < count; ++i) helpers.emplace_back(pack, i);
    pack(0);
    for (std::thread& t : helpers) t.join();
    for (size_t i = 0; i < count; ++i) {
      Block& block = blocks[first + i];
      if (!ok[i]) {
        *error = errors[i];
        return false;
      }
      *packedTotal += block.packed;
      if (i > 0 && !WriteAll(sink, kept[i], error)) return false;
      std::string().swap(kept[i]);
      progress.Advance(0, static_cast<uint32_t>(block.files.size()));
    }
  }
  return true;
}

// The coders of one block. LZMA first: its input is the packed stream. The
// filter, when there is one, takes LZMA's output (bond: the filter's input 1
// from coder 0).
void PutCoders(std::string& h, const Block& b) {
  if (b.coding == Coding::kCopy) {
    PutNumber(h, 1);
    h.push_back(1);  // an ID of one byte, no properties
    h.push_back(0);  // Copy
    return;
  }
  PutNumber(h, b.branchFilter ? 2 : 1);
  h.push_back(static_cast<char>(0x20 | sizeof(kLzmaId)));
  h.append(reinterpret_cast<const char*>(kLzmaId), sizeof(kLzmaId));
  PutNumber(h, LZMA_PROPS_SIZE);
  h.append(reinterpret_cast<const char*>(b.props), LZMA_PROPS_SIZE);
  if (b.branchFilter) {
    h.push_back(static_cast<char>(sizeof(kBcjId)));
    h.append(reinterpret_cast<const char*>(kBcjId), sizeof(kBcjId));
    PutNumber(h, 1);  // bond: in stream 1 (the filter's)
    PutNumber(h, 0);  // from coder 0 (LZMA)
  }
}

// The header's streams: where the packed streams are, the blocks' coders and
// sizes, and every file's size and CRC.
void PutStreamsInfo(std::string& h, const std::vector<Block>& blocks) {
  h.push_back(kMainStreamsInfo);
  h.push_back(kPackInfo);
  PutNumber(h, 0);  // the packed streams start right behind the start header
  PutNumber(h, blocks.size());
  h.push_back(kSize);
  for (const Block& b : blocks) PutNumber(h, b.packed);
  h.push_back(kEnd);

  h.push_back(kUnpackInfo);
  h.push_back(kFolder);
  PutNumber(h, blocks.size());
  h.push_back(0);  // not external
  for (const Block& b : blocks) PutCoders(h, b);
  h.push_back(kCodersUnpackSize);
  for (const Block& b : blocks) {
    PutNumber(h, b.unpacked);
    if (b.branchFilter) PutNumber(h, b.unpacked);
  }
  h.push_back(kEnd);

  h.push_back(kSubStreamsInfo);
  h.push_back(kNumUnpackStream);
  for (const Block& b : blocks) PutNumber(h, b.files.size());
  h.push_back(kSize);
  for (const Block& b : blocks)
    for (size_t i = 0; i + 1 < b.sizes.size(); ++i) PutNumber(h, b.sizes[i]);
  h.push_back(kCrc);
  h.push_back(1);  // all defined
  for (const Block& b : blocks)
    for (uint32_t crc : b.crcs) PutLe(h, crc, 4);
  h.push_back(kEnd);
  h.push_back(kEnd);  // streams info
}

// The header's files: the blocks' files in order, then the empty ones and
// folders, with their names.
void PutFilesInfo(std::string& h, const std::vector<Block>& blocks, const std::vector<const PackItem*>& empties) {
  std::vector<const PackItem*> order;
  for (const Block& b : blocks) order.insert(order.end(), b.files.begin(), b.files.end());
  order.insert(order.end(), empties.begin(), empties.end());
  h.push_back(kFilesInfo);
  PutNumber(h, order.size());
  if (!empties.empty()) {
    std::vector<bool> emptyStream(order.size(), false);
    std::vector<bool> emptyFile;
    for (size_t i = order.size() - empties.size(); i < order.size(); ++i) {
      emptyStream[i] = true;
      emptyFile.push_back(!order[i]->folder);
    }
    PutProperty(h, kEmptyStream, Bits(emptyStream));
    PutProperty(h, kEmptyFile, Bits(emptyFile));
  }
  std::string names(1, '\0');  // not external
  for (const PackItem* item : order) names += Utf16Le(item->name);
  PutProperty(h, kName, names);
  h.push_back(kEnd);  // files info
}

// The header that points to `h` LZMA-coded into `packedHeader` (the packed
// stream right behind the blocks' `packedTotal` bytes).
std::string EncodedHeader(const std::string& h, const Block& coded, const std::string& packedHeader,
                          uint64_t packedTotal) {
  std::string e;
  e.push_back(kEncodedHeader);
  e.push_back(kPackInfo);
  PutNumber(e, packedTotal);
  PutNumber(e, 1);
  e.push_back(kSize);
  PutNumber(e, packedHeader.size());
  e.push_back(kEnd);
  e.push_back(kUnpackInfo);
  e.push_back(kFolder);
  PutNumber(e, 1);
  e.push_back(0);   // not external
  PutNumber(e, 1);  // one coder: LZMA
  e.push_back(static_cast<char>(0x20 | sizeof(kLzmaId)));
  e.append(reinterpret_cast<const char*>(kLzmaId), sizeof(kLzmaId));
  PutNumber(e, LZMA_PROPS_SIZE);
  e.append(reinterpret_cast<const char*>(coded.props), LZMA_PROPS_SIZE);
  e.push_back(kCodersUnpackSize);
  PutNumber(e, h.size());
  e.push_back(kCrc);
  e.push_back(1);  // defined
  PutLe(e, CrcCalc(h.data(), h.size()), 4);
  e.push_back(kEnd);  // unpack info
  e.push_back(kEnd);  // streams info
  return e;
}

// Writes the header behind the blocks. The names of many files make a large
// header: it is LZMA-coded too, as a packed stream behind the blocks, when
// that makes it smaller; then `*h` becomes the header that points to it.
// `*headerOffset` is where the written header starts behind the start header.
bool WriteHeader(std::string* h, int level, uint64_t packedTotal, PayloadSink& sink, uint64_t* headerOffset,
                 std::string* error) {
  *headerOffset = packedTotal;
  if (h->size() > 256) {
    Block coded;
    std::string packedHeader;
    if (!Encode(*h, level, &coded, &packedHeader)) {
      *error = "the LZMA encoder failed (out of memory?)";
      return false;
    }
    std::string e = EncodedHeader(*h, coded, packedHeader, packedTotal);
    if (packedHeader.size() + e.size() < h->size()) {
      if (!WriteAll(sink, packedHeader, error)) return false;
      *headerOffset += packedHeader.size();
      h->swap(e);
    }
  }
  return WriteAll(sink, *h, error);
}

// Overwrites the 32 bytes kept at the archive's start: signature, version,
// and the place, size and CRC of the header `h`.
bool WriteStartHeader(PayloadSink& sink, uint64_t headerOffset, const std::string& h, std::string* error) {
  std::string tail;
  PutLe(tail, headerOffset, 8);  // the header's offset behind the start header
  PutLe(tail, h.size(), 8);
  PutLe(tail, CrcCalc(h.data(), h.size()), 4);
  std::string start("7z\xBC\xAF\x27\x1C", 6);
  start.push_back(0);  // format version 0.4
  start.push_back(4);
  PutLe(start, CrcCalc(tail.data(), tail.size()), 4);
  start += tail;
  if (sink.WriteAt(0, reinterpret_cast<const uint8_t*>(start.data()), start.size())) return true;
  *error = "cannot write the package";
  return false;
}

}  // namespace

bool WriteSevenZipPayload(const std::vector<PackItem>& items, int level, unsigned threads,
                          ItemSource& source, PayloadSink& sink, PackProgress& progress,
                          std::string* error) {
  CrcGenerateTable();
  // The match finder's vector routines (SSE4.1, AVX2) where the processor
  // has them; without this call it keeps the plain ones.
  LzFindPrepare();

  std::vector<Coding> codings;
  if (!ChooseCodings(items, source, &codings, error)) return false;
  std::vector<Block> blocks;
  std::vector<const PackItem*> empties;
  PlanBlocks(items, codings, &blocks, &empties);
  if (blocks.empty()) {
    *error = "a 7z package needs at least one file that is not empty";
    return false;
  }

  // The start header is written last, when the header's place is known.
  if (!WriteAll(sink, std::string(32, '\0'), error)) return false;
  uint64_t packedTotal = 0;
  if (!PackBlocks(blocks, level, threads, source, sink, progress, &packedTotal, error)) return false;
  uint32_t emptyFiles = 0;
  for (const PackItem* item : empties) emptyFiles += item->folder ? 0 : 1;
  progress.Advance(0, emptyFiles);

  std::string h(1, static_cast<char>(kHeader));
  PutStreamsInfo(h, blocks);
  PutFilesInfo(h, blocks, empties);
  h.push_back(kEnd);  // header
  uint64_t headerOffset = 0;
  if (!WriteHeader(&h, level, packedTotal, sink, &headerOffset, error)) return false;
  return WriteStartHeader(sink, headerOffset, h, error);
}
