// The writing half of a removal: the kept entries go into the new archive in their order,
// streams that lost nothing copied byte for byte, the others decoded and compressed again.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine.h"
#include "file_io.h"

// The new archive's bytes, buffered, with headers rewritten once their sizes are known.
class ArchiveOutput {
 public:
  explicit ArchiveOutput(File& file) : file_(file) {}
  bool write(const void* data, size_t size);
  // Overwrites bytes already written; in the buffer when they are still there.
  bool patch(int64_t position, const std::vector<uint8_t>& bytes);
  bool finish();  // writes what is held and ends the file there
  int64_t written() const { return flushed_ + static_cast<int64_t>(buffer_.size()); }

 private:
  bool flush();
  File& file_;
  std::vector<uint8_t> buffer_;
  int64_t flushed_ = 0;
};

// Why the new archive could not be written (a full disk, most often).
inline std::string write_problem() { return "cannot write the new archive: " + last_error_text(); }

// A run of entries sharing one stream (a plain member is a run of one).
struct StreamSpan {
  size_t first = 0;
  size_t count = 0;
  size_t kept = 0;
};

// A kept copy of a removed member: the first one takes the member's data (decoded into a file
// beforehand) and is stored; the later ones name it instead.
struct CopyRewrite {
  size_t entry = 0;
  std::vector<uint8_t> header;  // the entry's new header
  std::string data_path;        // "" for a copy that only names another member
  int64_t data_size = 0;
};

struct KeptEntries {
  std::string archive_path;
  int64_t index_start = 0;
  const std::vector<StoredEntry>* entries = nullptr;
  const std::vector<char>* removed = nullptr;  // per entry
  std::vector<StreamSpan> streams;
  DeflateSettings deflate;
  ZstdSettings zstd;
  LzmaSettings lzma;
  RunControl* control = nullptr;
  std::function<void(int64_t done, int64_t total)> progress;
  const std::vector<CopyRewrite>* rewrites = nullptr;  // in index order; may be null
};

// An entry's header as stored: its own name bytes and flags, which the index walk converted.
bool read_stored_header(File& old, const StoredEntry& e, EntryHeader& h);

// Writes every kept entry after what `out` holds already. False with `problem` set, or with
// `cancelled` when the run was asked to stop.
bool write_kept_entries(const KeptEntries& kept, ArchiveOutput& out, std::string& problem, bool& cancelled);
