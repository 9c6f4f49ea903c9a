// Decoding one solid block of a 7z archive in pieces, with the LZMA SDK's
// streaming decoders: memory is the coders' dictionaries plus fixed buffers,
// whatever the block's size. Portable: the launcher, tvpack's check, the
// tests and the fuzzer all decode through it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "7z.h"
#include "7zTypes.h"
#include "Bcj2.h"
#include "Delta.h"
#include "Lzma2Dec.h"
#include "LzmaDec.h"
#include "seven_zip_thread.h"

// The parts below are the block decoder's own; they are declared here only so
// that a SevenZipBlockDecoder holds them by value (no allocation per part).

// One packed stream of a block, read through a buffer of its own: a BCJ2
// block reads four packed streams by turns, so each keeps its own place.
class SevenZipPackedInput {
 public:
  // Reads `size` bytes from absolute offset `position` of `stream`.
  // `streamPosition` is shared by the inputs of a block: the stream's current
  // offset, so that an input reading on where the last read ended does not
  // seek. SZ_ERROR_MEM when the buffer of `capacity` bytes cannot be had.
  SRes Open(ISeekInStreamPtr stream, uint64_t* streamPosition, uint64_t position,
            uint64_t size, size_t capacity, ISzAllocPtr alloc);
  void Close(ISzAllocPtr alloc);
  // The buffered bytes not yet taken; refills the buffer when it is empty.
  // Size 0 once every byte of the stream was taken. A stream that ends
  // before its size gives SZ_ERROR_INPUT_EOF.
  SRes Look(const Byte** data, size_t* size);
  // Takes `count` bytes of what Look handed out.
  void Skip(size_t count) { pos_ += count; }
  bool Done() const { return pos_ == lim_ && left_ == 0; }

 private:
  ISeekInStreamPtr stream_ = nullptr;
  uint64_t* streamPosition_ = nullptr;
  uint64_t position_ = 0;  // the offset of the next byte to read into the buffer
  uint64_t left_ = 0;      // bytes not yet read into the buffer
  Byte* buffer_ = nullptr;
  size_t capacity_ = 0;
  size_t pos_ = 0;
  size_t lim_ = 0;
};

// What each coder of a block offers the one behind it.
class SevenZipPieceSource {
 public:
  // Hands out the next at most `most` (> 0) bytes of the coder's output,
  // valid until the next call on this coder. Size 0 only once all of the
  // output was handed out. A non-zero result is the SDK's error.
  virtual SRes Next(size_t most, const Byte** data, size_t* size) = 0;
  // After all of the output was handed out: SZ_OK when the coder's input
  // ended right there (end marks as the SDK's whole-block decoder wants
  // them, every packed byte used); else SZ_ERROR_DATA or the SDK's error.
  virtual SRes Finish() = 0;

 protected:
  ~SevenZipPieceSource() = default;
};

// Copy, LZMA or LZMA2 over one packed stream.
class SevenZipMainCoder final : public SevenZipPieceSource {
 public:
  // `props` points at the coder's properties. The dictionary is the one the
  // properties ask for, or `size` bytes when the whole output is smaller
  // (then it never wraps). SZ_ERROR_UNSUPPORTED for another method.
  SRes Open(const CSzCoderInfo& coder, const Byte* props, SevenZipPackedInput* input,
            uint64_t packedSize, uint64_t size, ISzAllocPtr alloc);
  void Close(ISzAllocPtr alloc);
  SRes Next(size_t most, const Byte** data, size_t* size) override;
  SRes Finish() override;
  uint64_t Left() const { return left_; }
  // How many bytes of output the coder keeps in place: a piece it handed out
  // is written over only after this many more bytes (SIZE_MAX: never, the
  // dictionary holds the whole output). 0 for Copy, whose pieces last only
  // until the next call.
  size_t Room() const;

 private:
  enum class Kind { kNone, kCopy, kLzma, kLzma2 };
  SRes Decode(SizeT limit, ELzmaFinishMode mode, SizeT* used, ELzmaStatus* status);
  CLzmaDec& Dictionary() { return kind_ == Kind::kLzma2 ? lzma2_.decoder : lzma_; }

  Kind kind_ = Kind::kNone;
  CLzmaDec lzma_;
  CLzma2Dec lzma2_;
  SevenZipPackedInput* input_ = nullptr;
  uint64_t left_ = 0;  // output bytes not yet handed out
  bool wholeOutput_ = false;  // the dictionary holds all of the output
};

// A main coder decoding on the second thread, ahead of whoever takes its
// output. Its pieces are handed on straight from the coder's dictionary, so
// it never decodes over a piece that has not been given back (the next call
// gives it back), and it runs at most 4 MiB ahead.
class SevenZipReadAhead final : public SevenZipPieceSource {
 public:
  // Starts `source` on `thread`. False when the coder keeps too little
  // room (kSevenZipAheadRoom) or the thread cannot take it; nothing runs then.
  bool Start(SevenZipMainCoder* source, SevenZipSecondThread* thread);
  // Stops the decoding and waits until the thread let go of the coder. Does
  // nothing when nothing was started.
  void Stop();
  SRes Next(size_t most, const Byte** data, size_t* size) override;
  SRes Finish() override;

 private:
  static void Run(void* self);
  void Produce();

  struct Piece {
    const Byte* data;
    size_t size;
  };
  static constexpr unsigned kPieces = 16;

  SevenZipMainCoder* source_ = nullptr;
  SevenZipSecondThread* thread_ = nullptr;
  size_t room_ = 0;
  // Under the thread's lock.
  Piece pieces_[kPieces];
  unsigned first_ = 0;
  unsigned count_ = 0;
  size_t held_ = 0;     // bytes decoded and not yet given back
  bool stop_ = false;   // the taker has gone
  bool ended_ = false;  // no more pieces: the output ended or failed
  bool done_ = false;   // the thread let go of the coder
  SRes nextResult_ = SZ_OK;    // what Next answers after the last piece
  SRes finishResult_ = SZ_OK;  // the coder's Finish
  // The taker's own: the piece being handed out.
  const Byte* current_ = nullptr;
  size_t currentSize_ = 0;
  size_t currentLeft_ = 0;
};

// A branch converter or Delta behind the main coder.
class SevenZipFilterCoder final : public SevenZipPieceSource {
 public:
  // SZ_ERROR_UNSUPPORTED for a method or properties the launcher does not
  // take (the SDK's whole-block decoder refuses the same).
  SRes Open(const CSzCoderInfo& coder, const Byte* props, SevenZipPieceSource* source,
            uint64_t size, ISzAllocPtr alloc);
  void Close(ISzAllocPtr alloc);
  SRes Next(size_t most, const Byte** data, size_t* size) override;
  SRes Finish() override;

 private:
  SRes Refill();

  UInt32 method_ = 0;
  UInt32 pc_ = 0;
  UInt32 x86State_ = 0;
  unsigned distance_ = 0;  // Delta
  Byte delta_[DELTA_STATE_SIZE];
  SevenZipPieceSource* source_ = nullptr;
  uint64_t left_ = 0;  // bytes not yet taken from the source
  Byte* block_ = nullptr;
  Byte* buffer_ = nullptr;  // inside block_, aligned for every converter
  size_t pos_ = 0;          // [pos_, conv_): converted, not yet handed out
  size_t conv_ = 0;         // [conv_, fill_): waiting for the bytes behind them
  size_t fill_ = 0;
};

// BCJ2 over three main coders and a packed stream.
class SevenZipBcj2Coder final : public SevenZipPieceSource {
 public:
  SRes Open(SevenZipMainCoder* main, SevenZipMainCoder* call, SevenZipMainCoder* jump,
            SevenZipPackedInput* rc, uint64_t size, ISzAllocPtr alloc);
  void Close(ISzAllocPtr alloc);
  SRes Next(size_t most, const Byte** data, size_t* size) override;
  SRes Finish() override;

 private:
  // A call or jump stream: the decoder reads its 32-bit values aligned and
  // whole, so its pieces are gathered here.
  struct Addresses {
    SevenZipMainCoder* source = nullptr;
    Byte* buffer = nullptr;
    size_t fill = 0;
  };
  SRes Feed();
  SRes FeedAddresses(unsigned stream);
  SRes Produce();

  CBcj2Dec dec_;
  SevenZipMainCoder* main_ = nullptr;
  SevenZipPackedInput* rc_ = nullptr;
  Addresses addresses_[2];  // call, jump
  Byte* out_ = nullptr;
  size_t outPos_ = 0;
  size_t outFill_ = 0;
  uint64_t left_ = 0;  // output bytes not yet produced
};

// Decodes the solid blocks of an opened archive one at a time, in pieces.
// The least room a main coder must keep for SevenZipReadAhead.
inline constexpr size_t kSevenZipAheadRoom = 1u << 20;

class SevenZipBlockDecoder {
 public:
  // Buffers come from `alloc`, which must outlive the decoder. With a
  // `thread`, a block of at least `aheadFrom` bytes whose main coder is
  // LZMA or LZMA2 over one packed stream (alone or with a filter behind it)
  // is decoded on that thread, ahead of the filter and Read.
  explicit SevenZipBlockDecoder(ISzAllocPtr alloc, SevenZipSecondThread* thread = nullptr,
                                uint64_t aheadFrom = kSevenZipAheadFrom)
      : alloc_(alloc), thread_(thread), aheadFrom_(aheadFrom) {}
  ~SevenZipBlockDecoder() { Close(); }
  SevenZipBlockDecoder(const SevenZipBlockDecoder&) = delete;
  SevenZipBlockDecoder& operator=(const SevenZipBlockDecoder&) = delete;

  // Closes the block open before and prepares block `index` of `db` for
  // decoding from `archive` (the stream `db` was opened from; offsets as
  // SzArEx_Open took them). Takes the coder chains the SDK's whole-block
  // decoder takes: one main coder (Copy, LZMA, LZMA2); a main coder and a
  // branch converter or Delta; three main coders and BCJ2. Otherwise
  // SZ_ERROR_UNSUPPORTED; SZ_ERROR_MEM when a dictionary or buffer cannot
  // be had; SZ_ERROR_FAIL for a folder record that does not add up.
  SRes Open(const CSzArEx* db, UInt32 index, ISeekInStreamPtr archive);
  // Hands out the next at most `most` (> 0) bytes of the block, valid until
  // the next call; size 0 only at the block's end. Damaged data gives
  // SZ_ERROR_DATA (or the SDK's error) at the piece where it shows.
  SRes Read(size_t most, const Byte** data, size_t* size);
  // Once Position() == Size(): checks that every coder ended there and used
  // all of its packed bytes, and the block's CRC where the archive holds
  // one (SZ_ERROR_CRC). Once only: later calls answer the same.
  SRes Finish();
  void Close();

  // Whether Finish checks the block's CRC against `crc`.
  bool ChecksCrc(UInt32 crc) const { return checkCrc_ && expectedCrc_ == crc; }
  bool IsOpen() const { return out_ != nullptr; }
  UInt32 Index() const { return index_; }
  uint64_t Size() const { return size_; }
  uint64_t Position() const { return position_; }

 private:
  SRes OpenCoders(const CSzArEx* db, const CSzFolder& folder, const Byte* props,
                  ISeekInStreamPtr archive);

  ISzAllocPtr alloc_;
  SevenZipSecondThread* thread_;
  uint64_t aheadFrom_;
  SevenZipPackedInput inputs_[SZ_NUM_PACK_STREAMS_IN_FOLDER_MAX];
  SevenZipMainCoder mains_[3];
  SevenZipFilterCoder filter_;
  SevenZipBcj2Coder bcj2_;
  SevenZipReadAhead ahead_;
  SevenZipPieceSource* out_ = nullptr;
  UInt32 index_ = 0xFFFFFFFF;
  uint64_t streamPosition_ = UINT64_MAX;
  uint64_t size_ = 0;
  uint64_t position_ = 0;
  bool checkCrc_ = false;
  UInt32 expectedCrc_ = 0;
  UInt32 crc_ = 0;
  bool finished_ = false;
  SRes finishResult_ = SZ_OK;
};
