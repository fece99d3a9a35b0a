// Reading an encrypted archive in place: the plain archive's bytes, headers from the layout and
// data decrypted chunk by chunk, each handed out only once it passed its seal. A reader that is
// read forward decrypts the next stretch on a second thread while its caller decodes this one.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "file_io.h"
#include "seal.h"
#include "sealed_layout.h"

namespace {

// Reads ahead at most this much: the decoders read their input a megabyte at a time.
constexpr size_t AHEAD_MAX = 1 << 20;
static_assert(SEALED_SOURCE_MEMORY >= static_cast<int64_t>(4 * SEAL_CHUNK + AHEAD_MAX), "the fit counts less");

// A position in the plain archive: its own handle on the encrypted file, the stream's state
// carried forward from one chunk to the next and the chunk decrypted last.
class Cursor {
 public:
  Cursor(SealedLayout& layout, bool for_index) : layout_(layout), for_index_(for_index) {}
  ~Cursor() {
    sodium_memzero(&state_, sizeof state_);
    sodium_memzero(chunk_.data(), chunk_.size());
  }
  bool open() { return in_.open_read(layout_.archive_path); }

  // Takes over another cursor's place, so that reading on continues where it stopped.
  void follow(const Cursor& other) {
    state_ = other.state_;
    piece_ = other.piece_;
    next_chunk_ = other.next_chunk_;
    chunk_index_ = other.chunk_index_;
    chunk_size_ = other.chunk_size_;
    chunk_.resize(other.chunk_.size());
    std::memcpy(chunk_.data(), other.chunk_.data(), chunk_size_);
  }

  // Exactly `size` bytes of the plain archive at `offset` (the caller checked the bounds).
  // `stop`, when set, ends the read between two chunks (the result is then thrown away).
  bool read(int64_t offset, uint8_t* out, size_t size, const std::atomic<bool>* stop = nullptr) {
    const auto& pieces = layout_.pieces;
    auto it = std::upper_bound(pieces.begin(), pieces.end(), offset,
                               [](int64_t at, const SealedLayout::Piece& p) { return at < p.plain_at; });
    size_t piece = static_cast<size_t>(it - pieces.begin()) - 1;
    decrypted_ = false;
    while (size > 0) {
      const SealedLayout::Piece& p = pieces[piece];
      int64_t data_at = p.data_at();
      int64_t data_end = data_at + static_cast<int64_t>(p.data_size);
      size_t n = 0;
      if (offset < data_at) {
        n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(size), data_at - offset));
        std::memcpy(out, p.header.data() + (offset - p.plain_at), n);
      } else if (offset < data_end && for_index_ && !p.header.empty()) {
        n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(size), data_end - offset));
        std::memset(out, 0, n);
      } else if (offset < data_end) {
        if (stop && stop->load(std::memory_order_relaxed)) return fail("was not read", false);
        uint64_t into = static_cast<uint64_t>(offset - data_at);
        if (!decrypt(piece, into / SEAL_CHUNK)) return false;
        size_t skip = static_cast<size_t>(into % SEAL_CHUNK);
        n = std::min(size, chunk_size_ - skip);
        std::memcpy(out, chunk_.data() + skip, n);
        decrypted_ = true;
      } else {
        ++piece;
        continue;
      }
      out += n;
      offset += static_cast<int64_t>(n);
      size -= n;
    }
    return true;
  }

  bool decrypted() const { return decrypted_; }
  const std::string& problem() const { return problem_; }
  const std::string& failed_member() const { return failed_member_; }
  bool tampered() const { return tampered_; }

 private:
  bool fail(const std::string& why, bool tampered = true) {
    problem_ = why;
    tampered_ = tampered;
    piece_ = SIZE_MAX;
    return false;
  }

  // Makes chunk_ hold chunk `chunk` of the piece's data, decrypted and checked.
  bool decrypt(size_t piece, uint64_t chunk) {
    if (piece_ == piece && chunk_index_ == chunk && chunk_size_ > 0) return true;
    if (piece_ != piece || next_chunk_ > chunk) {
      state_ = layout_.checkpoint(piece, chunk, next_chunk_);
      piece_ = piece;
    }
    const SealedLayout::Piece& p = layout_.pieces[piece];
    uint64_t chunks = (p.data_size + SEAL_CHUNK - 1) / SEAL_CHUNK;
    sealed_.resize(SEAL_CHUNK + SEAL_TAG_BYTES);
    chunk_.resize(SEAL_CHUNK);
    chunk_size_ = 0;
    for (; next_chunk_ <= chunk; ++next_chunk_) {
      layout_.reached(piece, next_chunk_, state_);
      size_t n = static_cast<size_t>(std::min<uint64_t>(SEAL_CHUNK, p.data_size - next_chunk_ * SEAL_CHUNK));
      int64_t at = p.sealed_at + static_cast<int64_t>(next_chunk_ * (SEAL_CHUNK + SEAL_TAG_BYTES));
      uint8_t tag = 0;
      failed_member_ = p.name;
      if (!in_.read_at(at, sealed_.data(), n + SEAL_TAG_BYTES)) return fail("cannot be read", false);
      if (crypto_secretstream_xchacha20poly1305_pull(&state_, chunk_.data(), nullptr, &tag, sealed_.data(),
                                                     n + SEAL_TAG_BYTES, nullptr, 0) != 0)
        return fail("does not match its seal");
      if ((tag == crypto_secretstream_xchacha20poly1305_TAG_FINAL) != (next_chunk_ + 1 == chunks))
        return fail("is cut short");
      chunk_size_ = n;
    }
    chunk_index_ = chunk;
    return true;
  }

  SealedLayout& layout_;
  bool for_index_;
  File in_;
  StreamState state_{};
  size_t piece_ = SIZE_MAX;   // the piece the state belongs to
  uint64_t next_chunk_ = 0;   // the chunk the state opens next
  uint64_t chunk_index_ = 0;  // the chunk in chunk_
  size_t chunk_size_ = 0;
  std::vector<uint8_t> sealed_, chunk_;
  std::string problem_ = "cannot read the archive", failed_member_;
  bool tampered_ = false;
  bool decrypted_ = false;  // whether the last read decrypted any data
};

// One reader of the plain archive. After a read that decrypted data and used up what was read
// ahead, a second cursor goes on from where it ended, on the reader's own thread, over as many
// bytes as were just read. A read starting inside that stretch waits for it and takes from it; one
// starting elsewhere stops it at the next chunk.
class SealedReader : public ArchiveSource {
 public:
  SealedReader(std::shared_ptr<SealedLayout> layout, bool for_index)
      : layout_(std::move(layout)), for_index_(for_index),
        front_(std::make_unique<Cursor>(*layout_, for_index)) {}
  ~SealedReader() override {
    if (thread_.joinable()) {
      {
        std::lock_guard<std::mutex> hold(lock_);
        quit_ = true;
        stop_ = true;
      }
      wake_.notify_all();
      thread_.join();
    }
    sodium_memzero(ahead_.data(), ahead_.size());
  }
  bool open() { return front_->open(); }

  bool read_at(int64_t offset, void* buffer, size_t size) override {
    uint8_t* out = static_cast<uint8_t*>(buffer);
    if (offset < 0 || size > static_cast<uint64_t>(layout_->plain_length - std::min(offset, layout_->plain_length)))
      return fail("cannot read the archive");
    const size_t asked = size;
    const int64_t end = offset + static_cast<int64_t>(size);
    finish_ahead(offset);
    bool decrypted = false;
    if (ahead_ok_ && offset >= ahead_at_ && offset < ahead_end()) {
      size_t n = std::min(size, static_cast<size_t>(ahead_end() - offset));
      std::memcpy(out, ahead_.data() + (offset - ahead_at_), n);
      out += n;
      offset += static_cast<int64_t>(n);
      size -= n;
      decrypted = true;
      if (offset == ahead_end() && !front_at_ahead_end_) {
        std::swap(front_, back_);  // the back cursor stands where the stretch ends
        front_at_ahead_end_ = true;
      }
    }
    if (size > 0) {
      front_at_ahead_end_ = false;
      if (!front_->read(offset, out, size)) {
        failed_ = front_.get();
        return false;
      }
      decrypted = decrypted || front_->decrypted();
    }
    if (!for_index_ && decrypted && (!ahead_ok_ || end >= ahead_end())) read_ahead(end, asked);
    return true;
  }
  int64_t length() override { return layout_->plain_length; }
  std::string read_problem() const override {
    if (!failed_) return problem_;
    return failed_->tampered() ? failed_->problem() + " (damaged or changed by someone without the password)"
                               : failed_->problem();
  }
  // The whole sentence of the last failure, naming the archive and the member.
  std::string whole_problem() const {
    return failed_ ? damaged_text(layout_->archive_path, failed_->failed_member(), failed_->problem())
                   : damaged_text(layout_->archive_path, "", problem_);
  }

 private:
  bool fail(const std::string& why) {
    problem_ = why;
    failed_ = nullptr;
    return false;
  }
  int64_t ahead_end() const { return ahead_at_ + static_cast<int64_t>(ahead_size_); }

  // Starts decrypting the stretch from `from` (where the front cursor stands) on the thread.
  void read_ahead(int64_t from, size_t like) {
    size_t n = static_cast<size_t>(std::min<int64_t>(
        {static_cast<int64_t>(like), static_cast<int64_t>(AHEAD_MAX), layout_->plain_length - from}));
    ahead_ok_ = false;
    if (n == 0) return;
    if (!back_) {
      back_ = std::make_unique<Cursor>(*layout_, false);
      if (!back_->open()) {
        back_.reset();
        return;
      }
    }
    back_->follow(*front_);
    front_at_ahead_end_ = false;
    if (ahead_.size() < n) ahead_.resize(n);
    {
      std::lock_guard<std::mutex> hold(lock_);
      ahead_at_ = from;
      ahead_size_ = n;
      stop_ = false;
      done_ = false;
      asked_ = true;
    }
    if (thread_.joinable()) wake_.notify_all();
    else thread_ = std::thread([this] { run(); });
  }

  // Waits for the stretch being read ahead, first stopping it when the read at `offset` starts
  // outside it; afterwards ahead_ok_ says whether it can be taken from.
  void finish_ahead(int64_t offset) {
    std::unique_lock<std::mutex> hold(lock_);
    if (!asked_) return;
    if (offset < ahead_at_ || offset >= ahead_end()) stop_ = true;
    finished_.wait(hold, [this] { return done_; });
    asked_ = false;
  }

  void run() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
      wake_.wait(hold, [this] { return quit_ || (asked_ && !done_); });
      if (quit_) return;
      int64_t at = ahead_at_;
      size_t n = ahead_size_;
      hold.unlock();
      // A failure here goes unsaid: the front reads the same bytes again and says why.
      bool ok = back_->read(at, ahead_.data(), n, &stop_);
      hold.lock();
      ahead_ok_ = ok;
      done_ = true;
      finished_.notify_all();
    }
  }

  std::shared_ptr<SealedLayout> layout_;
  bool for_index_;
  std::unique_ptr<Cursor> front_, back_;
  const Cursor* failed_ = nullptr;  // the cursor whose read failed last, if any
  std::string problem_ = "cannot read the archive";
  bool front_at_ahead_end_ = false;

  std::thread thread_;
  std::mutex lock_;
  std::condition_variable wake_, finished_;
  std::atomic<bool> stop_{false};
  bool quit_ = false, asked_ = false, done_ = false, ahead_ok_ = false;
  int64_t ahead_at_ = 0;
  size_t ahead_size_ = 0;
  std::vector<uint8_t> ahead_;
};

}  // namespace

std::unique_ptr<ArchiveSource> sealed_source(const std::shared_ptr<SealedLayout>& layout, bool for_index) {
  auto reader = std::make_unique<SealedReader>(layout, for_index);
  if (!reader->open()) return nullptr;
  return reader;
}

UnsealOutcome unseal_archive_with(const std::string& archive_path, const std::string& plain_path,
                                  const std::function<bool(SealKey&, std::string&)>& derive_key, SealKey& key,
                                  std::string& problem) {
  std::shared_ptr<SealedLayout> layout;
  UnsealOutcome outcome = open_sealed_with(archive_path, derive_key, key, layout, problem);
  if (outcome != UnsealOutcome::OK) return outcome;
  SealedReader reader(layout, false);
  File out;
  if (!reader.open()) {
    problem = "cannot open " + archive_path;
    return UnsealOutcome::FAILED;
  }
  if (!out.create(plain_path)) {
    problem = "cannot write a temporary file beside " + archive_path + ": " + last_error_text();
    return UnsealOutcome::FAILED;
  }
  // Every byte is read and checked, in order: the readers' checkpoints are not needed here.
  std::vector<uint8_t> plain(SEAL_CHUNK * 16);
  for (int64_t at = 0; at < layout->plain_length;) {
    size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(plain.size()), layout->plain_length - at));
    if (!reader.read_at(at, plain.data(), n)) {
      sodium_memzero(plain.data(), plain.size());
      problem = reader.whole_problem();
      return UnsealOutcome::DAMAGED;
    }
    if (!out.write(plain.data(), n)) {
      sodium_memzero(plain.data(), plain.size());
      problem = "cannot write a temporary file beside " + archive_path + ": " + last_error_text();
      return UnsealOutcome::FAILED;
    }
    at += static_cast<int64_t>(n);
  }
  sodium_memzero(plain.data(), plain.size());
  if (!out.close()) {
    problem = "cannot write a temporary file beside " + archive_path + ": " + last_error_text();
    return UnsealOutcome::FAILED;
  }
  return UnsealOutcome::OK;
}
