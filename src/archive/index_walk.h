// The archive index: a chain of entries, each found by the length of the one before it.
// Portable: the walk runs over a byte source, so it is tested natively and fuzzed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "format/archive_layout.h"
constexpr int64_t INDEX_NO_LIMIT = INT64_MAX;
// Marks the marking pass keeps from its walk; the marks of later entries are decided and written
// by a second walk from there, so no archive can make it hold more.
constexpr size_t INDEX_MARKS_HELD = size_t{1} << 20;

// Random access to the bytes of an archive. Reads never fail loudly: they return the count read.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual int64_t size() = 0;
  virtual size_t read_at(int64_t offset, void* buffer, size_t n) = 0;
  // Only sources opened for writing accept bytes; the others return false.
  virtual bool write_at(int64_t offset, uint8_t byte) {
    (void)offset;
    (void)byte;
    return false;
  }
};

// Bytes held in memory (tests, fuzzing); writable.
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  int64_t size() override { return static_cast<int64_t>(bytes_.size()); }
  size_t read_at(int64_t offset, void* buffer, size_t n) override;
  bool write_at(int64_t offset, uint8_t byte) override;
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// A file on disk: read-only and shared for reading, or read-write for the marking pass.
// nullptr when the file cannot be opened.
std::unique_ptr<ByteSource> open_file_source(const std::string& path, bool writable);

struct IndexEntry {
  std::string name;      // up to the first zero byte of the name field
  std::string folder;    // "\" as separator; empty for a member in the root
  int64_t size = 0;      // signed: a set top bit is a negative size
  int64_t position = 0;  // first byte of the entry
  int64_t mark_offset = 0;
  // The member's last-write time from the archiver's own fields, when the entry carries the
  // signature and its own length holds the field.
  bool has_mtime = false;
  int64_t mtime_ns = 0;  // nanoseconds since 1970-01-01 UTC
};

// Why the walk ended.
enum class IndexEnd {
  end_of_file,    // the last entry reached exactly the end of the file
  past_end,       // the last entry's length reaches beyond the end of the file
  bad_entry,      // an entry that cannot be right; the entries before it are kept
  entry_limit,    // as many entries as the walk's limit were walked and more follow
};

struct IndexWalkResult {
  int64_t entries = 0;
  IndexEnd end = IndexEnd::end_of_file;
  int64_t stop_position = 0;  // where the walk stopped
  // First byte of the entry where the chain breaks (the bad entry, or the last one when its
  // length runs past the end): its member and any after it cannot be read whole. -1 if none.
  int64_t damage_position = -1;
  // Every entry of the file was reached through whole entries ending exactly at the end.
  bool sound() const { return end == IndexEnd::end_of_file; }
};

using IndexStep = std::function<void(const IndexEntry&)>;
using IndexPoll = std::function<void()>;

// Walks the chain from start, at most limit entries. poll runs before each entry (the window
// layer drops one pending event there); step receives each entry. Either may be empty.
IndexWalkResult index_walk(ByteSource& source, int64_t start, const IndexStep& step,
                           const IndexPoll& poll = {}, int64_t limit = INDEX_ENTRY_LIMIT);

// Opens the archive read-only and walks it from its index start. An archive that cannot be
// opened yields no entries and a bad_entry result at position 0.
IndexWalkResult index_walk_file(const std::string& archive_path, const IndexStep& step,
                                const IndexPoll& poll = {});

// Decides the new mark of one entry (0 or 1).
using IndexMarkRule = std::function<uint8_t(const IndexEntry&)>;

// The marking pass's use of the walk: walks the whole chain first, without an entry limit, and
// only then writes the mark byte of every entry it reached; where the chain breaks, the entries
// before the break are marked and the rest is left alone. The rule runs once per entry, in order.
// Returns the walk's result; false in *written when a mark byte could not be written.
IndexWalkResult index_mark(ByteSource& source, int64_t start, const IndexMarkRule& rule,
                           bool* written, const IndexPoll& poll = {},
                           size_t marks_held = INDEX_MARKS_HELD);

// The same on the archive file, opened for reading and writing from its index start.
IndexWalkResult index_mark_file(const std::string& archive_path, const IndexMarkRule& rule,
                                bool* written, const IndexPoll& poll = {});
