// What the readers of one encrypted archive share, kept apart from the sealing: where every
// entry's plain header and data lie, and the stream states met so far.
#pragma once
#include <sodium.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "seal.h"

constexpr size_t SEAL_TAG_BYTES = crypto_secretstream_xchacha20poly1305_ABYTES;

using StreamState = crypto_secretstream_xchacha20poly1305_state;

// Every so many chunks the readers leave the stream's state behind, so a read that goes back, or
// a thread starting inside a long stream, decrypts at most that many chunks again.
constexpr uint64_t CHECKPOINT_EVERY = 16;

class SealedLayout {
 public:
  // One entry: its plain header (none for a sealed index), then its data.
  struct Piece {
    std::string name;
    std::vector<uint8_t> header;
    int64_t plain_at = 0;   // where the header lies in the plain archive
    uint64_t data_size = 0;
    int64_t sealed_at = 0;  // where the first data message lies in the archive
    std::vector<StreamState> checkpoints;  // [k]: the state before chunk k * CHECKPOINT_EVERY
    int64_t data_at() const { return plain_at + static_cast<int64_t>(header.size()); }
  };

  ~SealedLayout() {
    for (Piece& p : pieces) sodium_memzero(p.checkpoints.data(), p.checkpoints.size() * sizeof(StreamState));
  }

  // The state before chunk `chunk` or the nearest one before it that is known; `at` says which.
  StreamState checkpoint(size_t piece, uint64_t chunk, uint64_t& at) {
    std::lock_guard<std::mutex> hold(lock_);
    const auto& known = pieces[piece].checkpoints;
    uint64_t k = std::min<uint64_t>(chunk / CHECKPOINT_EVERY, known.size() - 1);
    at = k * CHECKPOINT_EVERY;
    return known[static_cast<size_t>(k)];
  }
  // Keeps the state before `chunk` when it is the next checkpoint of the piece.
  void reached(size_t piece, uint64_t chunk, const StreamState& state) {
    if (chunk % CHECKPOINT_EVERY) return;
    std::lock_guard<std::mutex> hold(lock_);
    auto& known = pieces[piece].checkpoints;
    if (known.size() == chunk / CHECKPOINT_EVERY) known.push_back(state);
  }

  std::string archive_path;
  std::vector<Piece> pieces;
  int64_t plain_length = 0;

 private:
  std::mutex lock_;
};

// The sentence saying a member (or, without a name, the archive) failed its seal.
inline std::string damaged_text(const std::string& archive_path, const std::string& name, const std::string& why) {
  return archive_path + ": " + (name.empty() ? std::string() : "member " + name + " ") + why +
         " (damaged or changed by someone without the password)";
}