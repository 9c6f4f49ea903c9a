#include "seven_zip_block.h"

#include <string.h>

#include "7zCrc.h"
#include "Bra.h"

namespace {

// Method ids of the coders a block may use (the 7z format's numbers).
constexpr UInt32 kCopy = 0;
constexpr UInt32 kLzma2 = 0x21;
constexpr UInt32 kLzma = 0x30101;
constexpr UInt32 kBcj2 = 0x303011B;
constexpr UInt32 kDelta = 3;
constexpr UInt32 kArm64 = 0xA;
constexpr UInt32 kRiscv = 0xB;
constexpr UInt32 kBcj = 0x3030103;
constexpr UInt32 kPpc = 0x3030205;
constexpr UInt32 kIa64 = 0x3030401;
constexpr UInt32 kArm = 0x3030501;
constexpr UInt32 kArmt = 0x3030701;
constexpr UInt32 kSparc = 0x3030805;

// Buffer sizes: large enough that a piece costs little per call, small
// beside any dictionary. The packed input of a one-stream block is read in
// 256 KiB steps; BCJ2's four streams take less each.
constexpr size_t kPackedBuffer = 1u << 18;
constexpr size_t kSidePackedBuffer = 1u << 16;
constexpr size_t kFilterBuffer = 1u << 18;
constexpr size_t kBcj2Buffer = 1u << 18;
constexpr size_t kAddressBuffer = 1u << 16;
// The most a main coder hands BCJ2 at a time.
constexpr size_t kBcj2Piece = 1u << 18;
// The most a main coder decoding ahead makes at a time.
constexpr size_t kAheadPiece = 1u << 18;
static_assert(kSevenZipAheadRoom >= 4 * kAheadPiece, "a few pieces ahead fit in the room");

template <typename T>
T Smaller(T a, uint64_t b) {
  return b < a ? static_cast<T>(b) : a;
}

bool IsMainMethod(const CSzCoderInfo& c) {
  return c.NumStreams == 1 && (c.MethodID == kCopy || c.MethodID == kLzma || c.MethodID == kLzma2);
}

// The coder chains the SDK's whole-block decoder takes, with the same bonds.
SRes CheckSupportedFolder(const CSzFolder& f) {
  if (f.NumCoders < 1 || f.NumCoders > 4 || !IsMainMethod(f.Coders[0])) return SZ_ERROR_UNSUPPORTED;
  if (f.NumCoders == 1) {
    return f.NumPackStreams == 1 && f.PackStreams[0] == 0 && f.NumBonds == 0
               ? SZ_OK
               : SZ_ERROR_UNSUPPORTED;
  }
  if (f.NumCoders == 2) {
    // The filter's method is checked when it is set up.
    return f.Coders[1].NumStreams == 1 && f.NumPackStreams == 1 && f.PackStreams[0] == 0 &&
                   f.NumBonds == 1 && f.Bonds[0].InIndex == 1 && f.Bonds[0].OutIndex == 0
               ? SZ_OK
               : SZ_ERROR_UNSUPPORTED;
  }
  if (f.NumCoders != 4 || !IsMainMethod(f.Coders[1]) || !IsMainMethod(f.Coders[2]) ||
      f.Coders[3].MethodID != kBcj2 || f.Coders[3].NumStreams != 4)
    return SZ_ERROR_UNSUPPORTED;
  // Packed streams: 0 feeds coder 2 (BCJ2's main stream), 1 is BCJ2's range
  // coder stream, 2 feeds coder 1 (calls), 3 feeds coder 0 (jumps).
  if (f.NumPackStreams != 4 || f.PackStreams[0] != 2 || f.PackStreams[1] != 6 ||
      f.PackStreams[2] != 1 || f.PackStreams[3] != 0 || f.NumBonds != 3 ||
      f.Bonds[0].InIndex != 5 || f.Bonds[0].OutIndex != 0 || f.Bonds[1].InIndex != 4 ||
      f.Bonds[1].OutIndex != 1 || f.Bonds[2].InIndex != 3 || f.Bonds[2].OutIndex != 2)
    return SZ_ERROR_UNSUPPORTED;
  return SZ_OK;
}

UInt32 Le32(const Byte* p) {
  return p[0] | (static_cast<UInt32>(p[1]) << 8) | (static_cast<UInt32>(p[2]) << 16) |
         (static_cast<UInt32>(p[3]) << 24);
}

// A dictionary of `size` bytes for an output no larger: it never wraps, so
// no match can reach outside it, whatever the stream says.
SRes AllocateWholeOutput(CLzmaDec* dec, uint64_t size, ISzAllocPtr alloc) {
  const SizeT bytes = size ? static_cast<SizeT>(size) : 1;
  dec->dic = static_cast<Byte*>(ISzAlloc_Alloc(alloc, bytes));
  if (!dec->dic) return SZ_ERROR_MEM;
  dec->dicBufSize = bytes;
  return SZ_OK;
}

}  // namespace

// ---- SevenZipPackedInput

SRes SevenZipPackedInput::Open(ISeekInStreamPtr stream, uint64_t* streamPosition,
                               uint64_t position, uint64_t size, size_t capacity,
                               ISzAllocPtr alloc) {
  stream_ = stream;
  streamPosition_ = streamPosition;
  position_ = position;
  left_ = size;
  pos_ = lim_ = 0;
  capacity_ = Smaller(capacity, size);
  if (capacity_ == 0) return SZ_OK;
  buffer_ = static_cast<Byte*>(ISzAlloc_Alloc(alloc, capacity_));
  return buffer_ ? SZ_OK : SZ_ERROR_MEM;
}

void SevenZipPackedInput::Close(ISzAllocPtr alloc) {
  ISzAlloc_Free(alloc, buffer_);
  buffer_ = nullptr;
  capacity_ = 0;
  pos_ = lim_ = 0;
  left_ = 0;
}

SRes SevenZipPackedInput::Look(const Byte** data, size_t* size) {
  if (pos_ == lim_ && left_ > 0) {
    if (*streamPosition_ != position_) {
      Int64 to = static_cast<Int64>(position_);
      *streamPosition_ = UINT64_MAX;  // unknown should the seek fail half-way
      RINOK(ISeekInStream_Seek(stream_, &to, SZ_SEEK_SET))
      *streamPosition_ = position_;
    }
    size_t got = Smaller(capacity_, left_);
    const SRes res = ISeekInStream_Read(stream_, buffer_, &got);
    if (res != SZ_OK) {
      *streamPosition_ = UINT64_MAX;
      return res;
    }
    if (got == 0) return SZ_ERROR_INPUT_EOF;
    position_ += got;
    *streamPosition_ = position_;
    left_ -= got;
    pos_ = 0;
    lim_ = got;
  }
  *data = buffer_ + pos_;
  *size = lim_ - pos_;
  return SZ_OK;
}

// ---- SevenZipMainCoder

SRes SevenZipMainCoder::Open(const CSzCoderInfo& coder, const Byte* props,
                             SevenZipPackedInput* input, uint64_t packedSize, uint64_t size,
                             ISzAllocPtr alloc) {
  LzmaDec_CONSTRUCT(&lzma_)
  Lzma2Dec_CONSTRUCT(&lzma2_)
  input_ = input;
  left_ = size;
  wholeOutput_ = false;
  if (coder.MethodID == kCopy) {
    kind_ = Kind::kCopy;
    return packedSize == size ? SZ_OK : SZ_ERROR_DATA;
  }
  if (coder.MethodID == kLzma) {
    kind_ = Kind::kLzma;
    CLzmaProps p;
    RINOK(LzmaProps_Decode(&p, props, coder.PropsSize))
    if (size > p.dicSize) {
      RINOK(LzmaDec_Allocate(&lzma_, props, coder.PropsSize, alloc))
    } else {
      RINOK(LzmaDec_AllocateProbs(&lzma_, props, coder.PropsSize, alloc))
      RINOK(AllocateWholeOutput(&lzma_, size, alloc))
      wholeOutput_ = true;
    }
    LzmaDec_Init(&lzma_);
    return SZ_OK;
  }
  if (coder.MethodID == kLzma2) {
    kind_ = Kind::kLzma2;
    if (coder.PropsSize != 1) return SZ_ERROR_DATA;
    const Byte prop = props[0];
    if (prop > 40) return SZ_ERROR_UNSUPPORTED;
    const uint64_t dicSize = prop == 40 ? 0xFFFFFFFFu : (2u | (prop & 1u)) << (prop / 2 + 11);
    if (size > dicSize) {
      RINOK(Lzma2Dec_Allocate(&lzma2_, prop, alloc))
    } else {
      RINOK(Lzma2Dec_AllocateProbs(&lzma2_, prop, alloc))
      RINOK(AllocateWholeOutput(&lzma2_.decoder, size, alloc))
      wholeOutput_ = true;
    }
    Lzma2Dec_Init(&lzma2_);
    return SZ_OK;
  }
  return SZ_ERROR_UNSUPPORTED;
}

void SevenZipMainCoder::Close(ISzAllocPtr alloc) {
  // Frees the probabilities and the dictionary, whichever way they came.
  if (kind_ == Kind::kLzma) LzmaDec_Free(&lzma_, alloc);
  if (kind_ == Kind::kLzma2) Lzma2Dec_Free(&lzma2_, alloc);
  kind_ = Kind::kNone;
}

size_t SevenZipMainCoder::Room() const {
  if (kind_ != Kind::kLzma && kind_ != Kind::kLzma2) return 0;
  if (wholeOutput_) return SIZE_MAX;
  return (kind_ == Kind::kLzma2 ? lzma2_.decoder : lzma_).dicBufSize;
}

SRes SevenZipMainCoder::Decode(SizeT limit, ELzmaFinishMode mode, SizeT* used,
                               ELzmaStatus* status) {
  const Byte* in = nullptr;
  size_t available = 0;
  RINOK(input_->Look(&in, &available))
  *used = available;
  const SRes res = kind_ == Kind::kLzma2
                       ? Lzma2Dec_DecodeToDic(&lzma2_, limit, in, used, mode, status)
                       : LzmaDec_DecodeToDic(&lzma_, limit, in, used, mode, status);
  input_->Skip(*used);
  return res;
}

SRes SevenZipMainCoder::Next(size_t most, const Byte** data, size_t* size) {
  *data = nullptr;
  *size = 0;
  if (left_ == 0) return SZ_OK;
  if (kind_ == Kind::kCopy) {
    // Straight from the packed input's buffer.
    const Byte* in = nullptr;
    size_t available = 0;
    RINOK(input_->Look(&in, &available))
    if (available == 0) return SZ_ERROR_INPUT_EOF;
    *data = in;
    *size = Smaller(Smaller(available, most), left_);
    input_->Skip(*size);
    left_ -= *size;
    return SZ_OK;
  }
  // Pieces are handed out of the dictionary itself; the decoder writes
  // there again only on the next call.
  CLzmaDec& d = Dictionary();
  if (d.dicPos == d.dicBufSize) d.dicPos = 0;
  const SizeT start = d.dicPos;
  const SizeT limit = start + Smaller(Smaller(d.dicBufSize - start, most), left_);
  while (d.dicPos < limit) {
    const SizeT before = d.dicPos;
    SizeT used = 0;
    ELzmaStatus status;
    RINOK(Decode(limit, LZMA_FINISH_ANY, &used, &status))
    // No input taken and nothing made: the stream ended early or is damaged.
    if (used == 0 && d.dicPos == before) return SZ_ERROR_DATA;
  }
  *data = d.dic + start;
  *size = limit - start;
  left_ -= *size;
  return SZ_OK;
}

SRes SevenZipMainCoder::Finish() {
  if (left_ != 0) return SZ_ERROR_DATA;
  if (kind_ == Kind::kCopy) return input_->Done() ? SZ_OK : SZ_ERROR_DATA;
  // With no room left the decoder only reads what ends the stream: an end
  // mark, or (LZMA) a range coder at rest, as the whole-block decoder takes.
  CLzmaDec& d = Dictionary();
  for (;;) {
    SizeT used = 0;
    ELzmaStatus status;
    RINOK(Decode(d.dicPos, LZMA_FINISH_END, &used, &status))
    if (status == LZMA_STATUS_FINISHED_WITH_MARK) return input_->Done() ? SZ_OK : SZ_ERROR_DATA;
    if (kind_ == Kind::kLzma && status == LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK &&
        input_->Done())
      return SZ_OK;
    if (used == 0) return SZ_ERROR_DATA;
  }
}

// ---- SevenZipReadAhead

bool SevenZipReadAhead::Start(SevenZipMainCoder* source, SevenZipSecondThread* thread) {
  source_ = source;
  room_ = source->Room();
  first_ = count_ = 0;
  held_ = 0;
  stop_ = ended_ = done_ = false;
  nextResult_ = finishResult_ = SZ_OK;
  current_ = nullptr;
  currentSize_ = currentLeft_ = 0;
  if (room_ < kSevenZipAheadRoom) return false;
  // Set before the job can start: it reads it.
  thread_ = thread;
  if (thread->Run(&SevenZipReadAhead::Run, this)) return true;
  thread_ = nullptr;
  return false;
}

void SevenZipReadAhead::Stop() {
  if (!thread_) return;
  thread_->Lock();
  stop_ = true;
  thread_->Wake();
  while (!done_) thread_->Sleep();
  thread_->Unlock();
  thread_ = nullptr;
}

void SevenZipReadAhead::Run(void* self) { static_cast<SevenZipReadAhead*>(self)->Produce(); }

void SevenZipReadAhead::Produce() {
  // Stop forgets thread_ once done_ is set, while this call still unlocks.
  SevenZipSecondThread* thread = thread_;
  thread->Lock();
  while (!stop_) {
    // The next piece may take up to kAheadPiece bytes of the room behind
    // the ones not given back yet.
    if (count_ == kPieces || held_ > room_ - kAheadPiece) {
      thread->Sleep();
      continue;
    }
    thread->Unlock();
    const Byte* data = nullptr;
    size_t size = 0;
    SRes res = source_->Next(kAheadPiece, &data, &size);
    SRes finish = res;
    if (res == SZ_OK && size == 0) finish = source_->Finish();
    thread->Lock();
    if (res != SZ_OK || size == 0) {
      nextResult_ = res;
      finishResult_ = finish;
      ended_ = true;
      thread->Wake();
      break;
    }
    pieces_[(first_ + count_) % kPieces] = {data, size};
    ++count_;
    held_ += size;
    thread->Wake();
  }
  done_ = true;
  thread->Wake();
  thread->Unlock();
}

SRes SevenZipReadAhead::Next(size_t most, const Byte** data, size_t* size) {
  *data = nullptr;
  *size = 0;
  if (currentLeft_ == 0) {
    // The piece handed out last is given back; the next one is waited for.
    thread_->Lock();
    held_ -= currentSize_;
    currentSize_ = 0;
    thread_->Wake();
    while (count_ == 0 && !ended_) thread_->Sleep();
    if (count_ == 0) {
      const SRes res = nextResult_;
      thread_->Unlock();
      return res;
    }
    const Piece piece = pieces_[first_];
    first_ = (first_ + 1) % kPieces;
    --count_;
    thread_->Unlock();
    current_ = piece.data;
    currentSize_ = currentLeft_ = piece.size;
  }
  *data = current_;
  *size = Smaller(most, currentLeft_);
  current_ += *size;
  currentLeft_ -= *size;
  return SZ_OK;
}

SRes SevenZipReadAhead::Finish() {
  if (currentLeft_ != 0) return SZ_ERROR_DATA;
  thread_->Lock();
  while (!done_) thread_->Sleep();
  const SRes res = count_ != 0 || !ended_ ? SZ_ERROR_DATA : finishResult_;
  thread_->Unlock();
  return res;
}

// ---- SevenZipFilterCoder

SRes SevenZipFilterCoder::Open(const CSzCoderInfo& coder, const Byte* props,
                               SevenZipPieceSource* source, uint64_t size, ISzAllocPtr alloc) {
  method_ = coder.MethodID;
  source_ = source;
  left_ = size;
  pc_ = 0;
  x86State_ = Z7_BRANCH_CONV_ST_X86_STATE_INIT_VAL;
  pos_ = conv_ = fill_ = 0;
  switch (method_) {
    case kDelta:
      if (coder.PropsSize != 1) return SZ_ERROR_UNSUPPORTED;
      distance_ = props[0] + 1u;
      Delta_Init(delta_);
      break;
    case kArm64:
    case kRiscv:
      // An optional start address, aligned as the instructions are.
      if (coder.PropsSize == 4) {
        pc_ = Le32(props);
        if (pc_ & (method_ == kArm64 ? 3 : 1)) return SZ_ERROR_UNSUPPORTED;
      } else if (coder.PropsSize != 0) {
        return SZ_ERROR_UNSUPPORTED;
      }
      break;
    case kBcj:
    case kPpc:
    case kIa64:
    case kArm:
    case kArmt:
    case kSparc:
      if (coder.PropsSize != 0) return SZ_ERROR_UNSUPPORTED;
      break;
    default:
      return SZ_ERROR_UNSUPPORTED;
  }
  // The converters want their data aligned as their instructions (IA64: 16).
  block_ = static_cast<Byte*>(ISzAlloc_Alloc(alloc, kFilterBuffer + 16));
  if (!block_) return SZ_ERROR_MEM;
  buffer_ = block_ + ((16 - reinterpret_cast<uintptr_t>(block_) % 16) % 16);
  return SZ_OK;
}

void SevenZipFilterCoder::Close(ISzAllocPtr alloc) {
  ISzAlloc_Free(alloc, block_);
  block_ = buffer_ = nullptr;
}

SRes SevenZipFilterCoder::Refill() {
  // The bytes that wait for what follows them move to the front.
  memmove(buffer_, buffer_ + conv_, fill_ - conv_);
  fill_ -= conv_;
  pos_ = conv_ = 0;
  while (fill_ < kFilterBuffer && left_ > 0) {
    const Byte* data = nullptr;
    size_t size = 0;
    RINOK(source_->Next(Smaller(kFilterBuffer - fill_, left_), &data, &size))
    if (size == 0) return SZ_ERROR_DATA;
    memcpy(buffer_ + fill_, data, size);
    fill_ += size;
    left_ -= size;
  }
  SizeT done = 0;
  switch (method_) {
    case kDelta:
      Delta_Decode(delta_, distance_, buffer_, fill_);
      done = fill_;
      break;
    case kBcj: done = z7_BranchConvSt_X86_Dec(buffer_, fill_, pc_, &x86State_) - buffer_; break;
    case kArm64: done = z7_BranchConv_ARM64_Dec(buffer_, fill_, pc_) - buffer_; break;
    case kRiscv: done = z7_BranchConv_RISCV_Dec(buffer_, fill_, pc_) - buffer_; break;
    case kPpc: done = z7_BranchConv_PPC_Dec(buffer_, fill_, pc_) - buffer_; break;
    case kIa64: done = z7_BranchConv_IA64_Dec(buffer_, fill_, pc_) - buffer_; break;
    case kArm: done = z7_BranchConv_ARM_Dec(buffer_, fill_, pc_) - buffer_; break;
    case kArmt: done = z7_BranchConv_ARMT_Dec(buffer_, fill_, pc_) - buffer_; break;
    case kSparc: done = z7_BranchConv_SPARC_Dec(buffer_, fill_, pc_) - buffer_; break;
    default: return SZ_ERROR_UNSUPPORTED;
  }
  pc_ += static_cast<UInt32>(done);
  // At the block's end the last few bytes stay as they are, as they do when
  // the converter sees the whole block at once.
  conv_ = left_ == 0 ? fill_ : done;
  return SZ_OK;
}

SRes SevenZipFilterCoder::Next(size_t most, const Byte** data, size_t* size) {
  *data = nullptr;
  *size = 0;
  if (pos_ == conv_) {
    if (left_ == 0 && conv_ == fill_) return SZ_OK;
    RINOK(Refill())
  }
  *data = buffer_ + pos_;
  *size = Smaller(most, conv_ - pos_);
  pos_ += *size;
  return SZ_OK;
}

SRes SevenZipFilterCoder::Finish() {
  if (left_ != 0 || pos_ != fill_) return SZ_ERROR_DATA;
  return source_->Finish();
}

// ---- SevenZipBcj2Coder

SRes SevenZipBcj2Coder::Open(SevenZipMainCoder* main, SevenZipMainCoder* call,
                             SevenZipMainCoder* jump, SevenZipPackedInput* rc, uint64_t size,
                             ISzAllocPtr alloc) {
  main_ = main;
  rc_ = rc;
  addresses_[0].source = call;
  addresses_[1].source = jump;
  left_ = size;
  outPos_ = outFill_ = 0;
  Bcj2Dec_Init(&dec_);
  for (unsigned i = 0; i < BCJ2_NUM_STREAMS; ++i) dec_.bufs[i] = dec_.lims[i] = nullptr;
  out_ = static_cast<Byte*>(ISzAlloc_Alloc(alloc, kBcj2Buffer));
  if (!out_) return SZ_ERROR_MEM;
  for (Addresses& a : addresses_) {
    a.fill = 0;
    a.buffer = static_cast<Byte*>(ISzAlloc_Alloc(alloc, kAddressBuffer));
    if (!a.buffer) return SZ_ERROR_MEM;
  }
  return SZ_OK;
}

void SevenZipBcj2Coder::Close(ISzAllocPtr alloc) {
  ISzAlloc_Free(alloc, out_);
  out_ = nullptr;
  for (Addresses& a : addresses_) {
    ISzAlloc_Free(alloc, a.buffer);
    a.buffer = nullptr;
  }
}

SRes SevenZipBcj2Coder::FeedAddresses(unsigned stream) {
  Addresses& a = addresses_[stream - BCJ2_STREAM_CALL];
  // Fewer than four bytes were held back: they wait for the rest of their value.
  const size_t handed = dec_.lims[stream] ? static_cast<size_t>(dec_.lims[stream] - a.buffer) : 0;
  memmove(a.buffer, a.buffer + handed, a.fill - handed);
  a.fill -= handed;
  while (a.fill < kAddressBuffer && a.source->Left() > 0) {
    const Byte* data = nullptr;
    size_t size = 0;
    RINOK(a.source->Next(kAddressBuffer - a.fill, &data, &size))
    memcpy(a.buffer + a.fill, data, size);
    a.fill += size;
  }
  dec_.bufs[stream] = a.buffer;
  dec_.lims[stream] = a.buffer + (a.fill & ~static_cast<size_t>(3));
  return SZ_OK;
}

// Gives every input the decoder has used up its next bytes, where there are any.
SRes SevenZipBcj2Coder::Feed() {
  if (dec_.bufs[BCJ2_STREAM_MAIN] == dec_.lims[BCJ2_STREAM_MAIN] && main_->Left() > 0) {
    const Byte* data = nullptr;
    size_t size = 0;
    RINOK(main_->Next(kBcj2Piece, &data, &size))
    dec_.bufs[BCJ2_STREAM_MAIN] = data;
    dec_.lims[BCJ2_STREAM_MAIN] = data + size;
  }
  for (unsigned s = BCJ2_STREAM_CALL; s <= BCJ2_STREAM_JUMP; ++s)
    if (dec_.bufs[s] == dec_.lims[s]) RINOK(FeedAddresses(s))
  if (dec_.bufs[BCJ2_STREAM_RC] == dec_.lims[BCJ2_STREAM_RC]) {
    const Byte* data = nullptr;
    size_t size = 0;
    RINOK(rc_->Look(&data, &size))
    dec_.bufs[BCJ2_STREAM_RC] = data;
    dec_.lims[BCJ2_STREAM_RC] = data + size;
  }
  return SZ_OK;
}

SRes SevenZipBcj2Coder::Produce() {
  outPos_ = outFill_ = 0;
  const size_t room = Smaller(kBcj2Buffer, left_);
  dec_.dest = out_;
  dec_.destLim = out_ + room;
  while (dec_.dest != dec_.destLim) {
    RINOK(Feed())
    const Byte* before[BCJ2_NUM_STREAMS];
    memcpy(before, dec_.bufs, sizeof(before));
    const Byte* dest = dec_.dest;
    RINOK(Bcj2Dec_Decode(&dec_))
    rc_->Skip(static_cast<size_t>(dec_.bufs[BCJ2_STREAM_RC] - before[BCJ2_STREAM_RC]));
    if (dest == dec_.dest && memcmp(before, dec_.bufs, sizeof(before)) == 0) return SZ_ERROR_DATA;
  }
  outFill_ = room;
  left_ -= room;
  return SZ_OK;
}

SRes SevenZipBcj2Coder::Next(size_t most, const Byte** data, size_t* size) {
  *data = nullptr;
  *size = 0;
  if (outPos_ == outFill_) {
    if (left_ == 0) return SZ_OK;
    RINOK(Produce())
  }
  *data = out_ + outPos_;
  *size = Smaller(most, outFill_ - outPos_);
  outPos_ += *size;
  return SZ_OK;
}

SRes SevenZipBcj2Coder::Finish() {
  if (left_ != 0 || outPos_ != outFill_) return SZ_ERROR_DATA;
  // One more call with no room lets the decoder take the range coder's last
  // byte, as it does when it sees all of its input at once.
  RINOK(Feed())
  const Byte* rcBefore = dec_.bufs[BCJ2_STREAM_RC];
  dec_.dest = out_;
  dec_.destLim = out_;
  RINOK(Bcj2Dec_Decode(&dec_))
  rc_->Skip(static_cast<size_t>(dec_.bufs[BCJ2_STREAM_RC] - rcBefore));
  for (unsigned s = 0; s < BCJ2_NUM_STREAMS; ++s)
    if (dec_.bufs[s] != dec_.lims[s]) return SZ_ERROR_DATA;
  for (const Addresses& a : addresses_)
    if (a.fill & 3) return SZ_ERROR_DATA;
  if (main_->Left() > 0 || !rc_->Done() || !Bcj2Dec_IsMaybeFinished(&dec_)) return SZ_ERROR_DATA;
  RINOK(main_->Finish())
  RINOK(addresses_[0].source->Finish())
  return addresses_[1].source->Finish();
}

// ---- SevenZipBlockDecoder

SRes SevenZipBlockDecoder::Open(const CSzArEx* db, UInt32 index, ISeekInStreamPtr archive) {
  Close();
  const CSzAr& ar = db->db;
  if (index >= ar.NumFolders) return SZ_ERROR_FAIL;
  const Byte* props = ar.CodersData + ar.FoCodersOffsets[index];
  CSzData sd = {props, ar.FoCodersOffsets[index + 1] - ar.FoCodersOffsets[index]};
  CSzFolder folder;
  RINOK(SzGetNextFolderItem(&folder, &sd))
  if (sd.Size != 0 || folder.UnpackStream != ar.FoToMainUnpackSizeIndex[index])
    return SZ_ERROR_FAIL;
  RINOK(CheckSupportedFolder(folder))
  index_ = index;
  size_ = SzAr_GetFolderUnpackSize(&ar, index);
  position_ = 0;
  checkCrc_ = SzBitWithVals_Check(&ar.FolderCRCs, index);
  expectedCrc_ = checkCrc_ ? ar.FolderCRCs.Vals[index] : 0;
  crc_ = CRC_INIT_VAL;
  finished_ = false;
  const SRes res = OpenCoders(db, folder, props, archive);
  if (res != SZ_OK) Close();
  return res;
}

SRes SevenZipBlockDecoder::OpenCoders(const CSzArEx* db, const CSzFolder& folder,
                                      const Byte* props, ISeekInStreamPtr archive) {
  const CSzAr& ar = db->db;
  const UInt64* packed = ar.PackPositions + ar.FoStartPackStreamIndex[index_];
  const UInt64* sizes = ar.CoderUnpackSizes + ar.FoToCoderUnpackSizes[index_];
  // Every coder's unit is set up before anything can fail, so Close frees
  // whatever was had.
  out_ = &mains_[0];
  for (UInt32 i = 0; i < folder.NumPackStreams; ++i) {
    RINOK(inputs_[i].Open(archive, &streamPosition_, db->dataPos + packed[i],
                          packed[i + 1] - packed[i],
                          folder.NumPackStreams == 1 ? kPackedBuffer : kSidePackedBuffer, alloc_))
  }
  if (folder.NumCoders <= 2) {
    // The main coder's output is the block's size: a filter keeps sizes.
    RINOK(mains_[0].Open(folder.Coders[0], props + folder.Coders[0].PropsOffset, &inputs_[0],
                         packed[1] - packed[0], size_, alloc_))
    // Only the main coder reads the archive then, so it may do so on the
    // second thread.
    SevenZipPieceSource* main = &mains_[0];
    if (thread_ && size_ >= aheadFrom_ && ahead_.Start(&mains_[0], thread_))
      main = &ahead_;
    if (folder.NumCoders == 1) {
      out_ = main;
      return SZ_OK;
    }
    out_ = &filter_;
    return filter_.Open(folder.Coders[1], props + folder.Coders[1].PropsOffset, main, size_,
                        alloc_);
  }
  // BCJ2: coder 2 makes the main stream, coder 1 the calls, coder 0 the
  // jumps (packed streams 0, 2 and 3); packed stream 1 is its range coder's.
  out_ = &bcj2_;
  if (sizes[2] > size_) return SZ_ERROR_PARAM;
  if ((sizes[0] & 3) || (sizes[1] & 3) || sizes[0] + sizes[1] + sizes[2] != size_)
    return SZ_ERROR_DATA;
  static const UInt32 kPackedOf[3] = {3, 2, 0};
  for (UInt32 c = 0; c < 3; ++c) {
    const UInt32 p = kPackedOf[c];
    RINOK(mains_[c].Open(folder.Coders[c], props + folder.Coders[c].PropsOffset, &inputs_[p],
                         packed[p + 1] - packed[p], sizes[c], alloc_))
  }
  return bcj2_.Open(&mains_[2], &mains_[1], &mains_[0], &inputs_[1], size_, alloc_);
}

SRes SevenZipBlockDecoder::Read(size_t most, const Byte** data, size_t* size) {
  *data = nullptr;
  *size = 0;
  if (!out_) return SZ_ERROR_FAIL;
  if (position_ == size_) return SZ_OK;
  RINOK(out_->Next(Smaller(most, size_ - position_), data, size))
  if (*size == 0) return SZ_ERROR_DATA;
  if (checkCrc_) crc_ = CrcUpdate(crc_, *data, *size);
  position_ += *size;
  return SZ_OK;
}

SRes SevenZipBlockDecoder::Finish() {
  if (!out_) return SZ_ERROR_FAIL;
  if (finished_) return finishResult_;
  finished_ = true;
  finishResult_ = position_ != size_ ? SZ_ERROR_FAIL : out_->Finish();
  if (finishResult_ == SZ_OK && checkCrc_ && CRC_GET_DIGEST(crc_) != expectedCrc_)
    finishResult_ = SZ_ERROR_CRC;
  return finishResult_;
}

void SevenZipBlockDecoder::Close() {
  ahead_.Stop();
  bcj2_.Close(alloc_);
  filter_.Close(alloc_);
  for (SevenZipMainCoder& m : mains_) m.Close(alloc_);
  for (SevenZipPackedInput& in : inputs_) in.Close(alloc_);
  out_ = nullptr;
  index_ = 0xFFFFFFFF;
}
