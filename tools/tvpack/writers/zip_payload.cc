#include <zlib.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "payload_writer.h"

namespace {

constexpr uint16_t kFlagUtf8Name = 0x0800;
constexpr uint16_t kDate1980 = 0x21;  // 1980-01-01, the format's first day

// Files are deflated in pieces of this size, each primed with the 32 KiB
// before it, so that threads can share one file and every thread count gives
// the same stream. Files up to one piece come out as one whole deflate run.
constexpr size_t kPiece = 4u << 20;
constexpr size_t kDictionary = 32768;
// Files read ahead of the one being written, in bytes (one larger file is
// always allowed).
constexpr uint64_t kReadAhead = 32ull << 20;
constexpr size_t kStoredBlock = 65535;

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

// `size` bytes as deflate's stored blocks: 5 bytes of framing per 65535.
uint64_t StoredBlocksSize(uint64_t size) {
  return size + 5 * ((size + kStoredBlock - 1) / kStoredBlock);
}

struct Piece {
  size_t begin = 0, end = 0;
  // Deflate blocks ending on a byte boundary (the file's last piece: the
  // final block). Empty when `stored`: deflate did not shrink this piece, so
  // it goes out as stored blocks of the file's own bytes.
  std::string packed;
  bool stored = false;
  bool failed = false;
  uint32_t crc = 0;
  bool done = false;  // guarded by the pool's mutex
  uint64_t Size() const { return stored ? StoredBlocksSize(end - begin) : packed.size(); }
};

struct FileWork {
  const PackItem* item = nullptr;
  std::string data;
  std::vector<Piece> pieces;
  bool loaded = false;  // read (or failed), pieces planned; guarded by the pool's mutex
  bool readFailed = false;
  std::string readError;
};

// The pieces of a file read whole.
void PlanPieces(FileWork* file) {
  for (size_t at = 0; at < file->data.size(); at += kPiece) {
    Piece piece;
    piece.begin = at;
    piece.end = file->data.size() - at < kPiece ? file->data.size() : at + kPiece;
    file->pieces.push_back(piece);
  }
}

// Pieces below this size are deflated with half the hash table: every
// piece starts by clearing the table, which for 128 KiB took more time than
// packing a small file, and a small piece fills no more than 32 Ki entries.
constexpr size_t kSmallPiece = 65536;

// One thread's deflate state, kept from piece to piece: setting up a stream
// costs more than packing a small file.
class Deflater {
 public:
  explicit Deflater(int level) : level_(level) {}
  ~Deflater() {
    for (int i = 0; i < 2; ++i)
      if (ready_[i]) deflateEnd(&stream_[i]);
  }
  // A reset stream for a piece of `size` bytes; the choice depends on the
  // size alone, so every thread count gives the same bytes.
  z_stream* Fresh(size_t size) {
    const int i = size < kSmallPiece ? 1 : 0;
    if (ready_[i]) {
      if (deflateReset(&stream_[i]) == Z_OK) return &stream_[i];
      deflateEnd(&stream_[i]);
      ready_[i] = false;
    }
    stream_[i] = z_stream();
    ready_[i] = deflateInit2(&stream_[i], level_, Z_DEFLATED, -15, i == 1 ? 8 : 9,
                             Z_DEFAULT_STRATEGY) == Z_OK;
    return ready_[i] ? &stream_[i] : nullptr;
  }

 private:
  int level_;
  z_stream stream_[2] = {};
  bool ready_[2] = {};
};

void PackPiece(const FileWork& file, Deflater& deflater, size_t index, Piece* piece) {
  const Bytef* bytes = reinterpret_cast<const Bytef*>(file.data.data());
  const size_t size = piece->end - piece->begin;
  piece->crc = static_cast<uint32_t>(crc32(0, bytes + piece->begin, static_cast<uInt>(size)));
  const bool last = index + 1 == file.pieces.size();
  z_stream* stream = deflater.Fresh(size);
  if (!stream) {
    piece->failed = true;
    return;
  }
  if (piece->begin > 0) {
    const size_t primed = piece->begin < kDictionary ? piece->begin : kDictionary;
    deflateSetDictionary(stream, bytes + piece->begin - primed, static_cast<uInt>(primed));
  }
  std::string& out = piece->packed;
  out.resize(deflateBound(stream, static_cast<uLong>(size)) + 64);
  stream->next_in = const_cast<Bytef*>(bytes + piece->begin);
  stream->avail_in = static_cast<uInt>(size);
  const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
  for (;;) {
    stream->next_out = reinterpret_cast<Bytef*>(out.data()) + stream->total_out;
    stream->avail_out = static_cast<uInt>(out.size() - stream->total_out);
    const int status = deflate(stream, flush);
    if (last ? status == Z_STREAM_END
             : status == Z_OK && stream->avail_in == 0 && stream->avail_out > 0)
      break;
    if (status != Z_OK && status != Z_BUF_ERROR) {
      piece->failed = true;
      break;
    }
    out.resize(out.size() * 2);
  }
  out.resize(stream->total_out);
  if (!piece->failed && out.size() >= StoredBlocksSize(size)) {
    piece->stored = true;
    std::string().swap(out);
  }
}

// Reads queued files and deflates their pieces on `threads - 1` threads of
// its own; the writer's thread takes jobs too while it waits, so one thread
// needs no other. Reading on the pool keeps several files in flight: with
// many small files, opening and reading them costs as much as deflating.
class PiecePool {
 public:
  PiecePool(unsigned threads, int level, ItemSource& source)
      : level_(level), source_(source), own_(level) {
    for (unsigned i = 1; i < threads; ++i) workers_.emplace_back([this] { Work(); });
  }
  ~PiecePool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
      queue_.clear();
    }
    wake_.notify_all();
    for (std::thread& t : workers_) t.join();
  }

  // Queues `file` to be read and then deflated.
  void Add(FileWork* file) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back({file, kReadJob});
    }
    wake_.notify_all();
  }

  // Returns when `file` is read and its pieces planned (or the read failed).
  void WaitLoaded(FileWork* file) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!file->loaded) {
      if (!queue_.empty()) {
        RunOne(lock, own_);
      } else {
        done_.wait(lock);
      }
    }
  }

  // Returns when piece `index` of `file` is deflated.
  void Wait(FileWork* file, size_t index) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!file->pieces[index].done) {
      if (!queue_.empty()) {
        RunOne(lock, own_);
      } else {
        done_.wait(lock);
      }
    }
  }

 private:
  static constexpr size_t kReadJob = static_cast<size_t>(-1);
  struct Job {
    FileWork* file;
    size_t index;  // a piece, or kReadJob
  };

  void RunOne(std::unique_lock<std::mutex>& lock, Deflater& deflater) {
    const Job job = queue_.front();
    queue_.pop_front();
    lock.unlock();
    if (job.index == kReadJob) {
      FileWork& file = *job.file;
      file.readFailed = !source_.Read(*file.item, &file.data, &file.readError);
      if (!file.readFailed && level_ > 0) PlanPieces(&file);
      lock.lock();
      // Its pieces go ahead of other files' reads: the writer waits for them first.
      for (size_t i = file.pieces.size(); i-- > 0;) queue_.push_front({&file, i});
      file.loaded = true;
      done_.notify_all();
      if (!file.pieces.empty()) wake_.notify_all();
      return;
    }
    PackPiece(*job.file, deflater, job.index, &job.file->pieces[job.index]);
    lock.lock();
    job.file->pieces[job.index].done = true;
    done_.notify_all();
  }

  void Work() {
    Deflater deflater(level_);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      while (!stop_ && queue_.empty()) wake_.wait(lock);
      if (stop_) return;
      RunOne(lock, deflater);
    }
  }

  int level_;
  ItemSource& source_;
  Deflater own_;  // the writer's thread's, while it waits
  std::mutex mutex_;
  std::condition_variable wake_, done_;
  std::deque<Job> queue_;
  bool stop_ = false;
  std::vector<std::thread> workers_;
};

// Writes the stream entry by entry: each entry's local header (from one
// place, LocalHeader, then patched once where its CRC and size come after
// its data), its data, and at the end the central directory.
class ZipStream {
 public:
  ZipStream(PayloadSink& sink, std::string* error) : sink_(sink), error_(error) {}

  // Writes one item's entry from `file` (read, its pieces planned), waiting
  // in `pool` for the pieces deflated on other threads.
  bool WriteEntry(FileWork& file, PiecePool& pool) {
    const PackItem& item = *file.item;
    if (TooLarge()) return false;
    CentralRecord r;
    r.offset = static_cast<uint32_t>(position_);
    r.folder = item.folder;
    r.name = item.folder ? item.name + "/" : item.name;
    r.size = static_cast<uint32_t>(file.data.size());
    r.packed = r.size;  // stored, unless deflate wins below
    const bool ok = file.pieces.empty() ? WriteStored(file, &r) : WriteDeflated(file, pool, &r);
    if (!ok) return false;
    sink_.Settled(position_);
    central_.push_back(r);
    return true;
  }

  // The central directory and its end record.
  bool WriteDirectory() {
    const uint64_t directoryStart = position_;
    for (const CentralRecord& r : central_)
      if (!Emit(Header("PK\x01\x02", r, true))) return false;
    if (TooLarge() || central_.size() > 0xFFFF) {
      if (error_->empty()) *error_ = "more than 65535 items: use --format 7z";
      return false;
    }
    std::string end("PK\x05\x06", 4);
    Put(end, 0, 2);  // this disk
    Put(end, 0, 2);  // the directory's disk
    Put(end, static_cast<uint32_t>(central_.size()), 2);
    Put(end, static_cast<uint32_t>(central_.size()), 2);
    Put(end, static_cast<uint32_t>(position_ - directoryStart), 4);
    Put(end, static_cast<uint32_t>(directoryStart), 4);
    Put(end, 0, 2);  // comment
    return Emit(end);
  }

 private:
  bool Emit(const char* bytes, size_t size) {
    if (!sink_.Write(reinterpret_cast<const uint8_t*>(bytes), size)) {
      *error_ = "cannot write the package";
      return false;
    }
    position_ += size;
    return true;
  }
  bool Emit(const std::string& bytes) { return Emit(bytes.data(), bytes.size()); }
  bool LocalHeader(const CentralRecord& r) { return Emit(Header("PK\x03\x04", r, false)); }

  // A piece: its deflate blocks, or the file's bytes in stored blocks (the
  // file's `last` piece ends the deflate stream).
  bool EmitPiece(const FileWork& file, const Piece& piece, bool last) {
    if (!piece.stored) return Emit(piece.packed);
    for (size_t at = piece.begin; at < piece.end; at += kStoredBlock) {
      const size_t size = piece.end - at < kStoredBlock ? piece.end - at : kStoredBlock;
      std::string frame(1, last && at + size == piece.end ? '\x01' : '\x00');
      Put(frame, static_cast<uint32_t>(size), 2);
      Put(frame, static_cast<uint32_t>(~size & 0xFFFF), 2);
      if (!Emit(frame) || !Emit(file.data.data() + at, size)) return false;
    }
    return true;
  }

  // A folder, an empty file, or a file stored at level 0.
  bool WriteStored(const FileWork& file, CentralRecord* r) {
    r->crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(file.data.data()), static_cast<uInt>(file.data.size())));
    return LocalHeader(*r) && Emit(file.data.data(), file.data.size());
  }

  // A file in pieces: deflated where that makes it smaller, else stored.
  bool WriteDeflated(FileWork& file, PiecePool& pool, CentralRecord* r) {
    // The pieces still to come can grow by no more than their stored
    // framing: once what is done plus that bound is below the file's size,
    // deflate has won, and the pieces are written as they come (the header
    // gets its CRC and size afterwards). Until then they are kept.
    std::vector<uint64_t> boundFrom(file.pieces.size() + 1, 0);
    for (size_t i = file.pieces.size(); i-- > 0;)
      boundFrom[i] = boundFrom[i + 1] + StoredBlocksSize(file.pieces[i].end - file.pieces[i].begin);
    uint64_t packed = 0;
    uint32_t crc = 0;
    size_t written = 0;  // pieces already in the package
    for (size_t i = 0; i < file.pieces.size(); ++i) {
      pool.Wait(&file, i);
      const Piece& piece = file.pieces[i];
      if (piece.failed) {
        *error_ = "deflate failed on " + file.item->name;
        return false;
      }
      crc = static_cast<uint32_t>(crc32_combine(crc, piece.crc, static_cast<z_off_t>(piece.end - piece.begin)));
      packed += piece.Size();
      if (written == 0 && i + 1 < file.pieces.size() && packed + boundFrom[i + 1] < file.data.size()) {
        r->method = 8;
        if (!LocalHeader(*r)) return false;
      }
      for (; r->method == 8 && written <= i; ++written) {
        if (!EmitPiece(file, file.pieces[written], written + 1 == file.pieces.size())) return false;
        std::string().swap(file.pieces[written].packed);
      }
    }
    r->crc = crc;
    if (written > 0) return PatchLocalHeader(*r, packed);
    if (packed >= file.data.size()) return LocalHeader(*r) && Emit(file.data.data(), file.data.size());
    // Deflate won only once every piece was in.
    r->method = 8;
    r->packed = static_cast<uint32_t>(packed);
    if (!LocalHeader(*r)) return false;
    for (size_t i = 0; i < file.pieces.size(); ++i)
      if (!EmitPiece(file, file.pieces[i], i + 1 == file.pieces.size())) return false;
    return true;
  }

  // Rewrites the local header of an entry written before its CRC and packed
  // size were known.
  bool PatchLocalHeader(CentralRecord& r, uint64_t packed) {
    r.packed = static_cast<uint32_t>(packed);
    const std::string header = Header("PK\x03\x04", r, false);
    if (sink_.WriteAt(r.offset, reinterpret_cast<const uint8_t*>(header.data()), header.size())) return true;
    *error_ = "cannot write the package";
    return false;
  }

  bool TooLarge() {
    if (position_ < 0xFFFFFFFFull) return false;
    *error_ = "the payload reached 4 GiB, the limit of the ZIP-style format; use --format 7z";
    return true;
  }

  PayloadSink& sink_;
  std::string* error_;
  uint64_t position_ = 0;
  std::vector<CentralRecord> central_;
};

}  // namespace

bool WriteZipPayload(const std::vector<PackItem>& items, int level, unsigned threads,
                     ItemSource& source, PayloadSink& sink, PackProgress& progress,
                     std::string* error) {
  ZipStream stream(sink, error);
  // Declared before the pool: its threads are joined before the files they
  // read go away.
  std::deque<std::unique_ptr<FileWork>> ahead;
  PiecePool pool(threads < 1 ? 1 : threads, level, source);
  uint64_t aheadBytes = 0;
  size_t next = 0;
  while (next < items.size() || !ahead.empty()) {
    // Hands the pool the files up to kReadAhead behind the one written next.
    while (next < items.size() && (ahead.empty() || aheadBytes + items[next].size <= kReadAhead)) {
      auto file = std::make_unique<FileWork>();
      file->item = &items[next++];
      if (!file->item->folder) {
        // The source holds a file to the size the folder walk saw.
        aheadBytes += file->item->size;
        pool.Add(file.get());
      }
      ahead.push_back(std::move(file));
    }
    FileWork& file = *ahead.front();
    const PackItem& item = *file.item;
    if (!item.folder) {
      pool.WaitLoaded(&file);
      if (file.readFailed) {
        *error = file.readError;
        return false;
      }
    }
    if (!stream.WriteEntry(file, pool)) return false;
    progress.Advance(file.data.size(), item.folder ? 0 : 1);
    if (!item.folder) aheadBytes -= item.size;
    ahead.pop_front();
  }
  return stream.WriteDirectory();
}
