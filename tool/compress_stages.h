// The stages of writing an archive, one file each: the sources are gathered, with the members
// an existing archive keeps (compress_sources); work is cut into units, one file or one solid
// block of files (compress_plan); worker threads compress units in any order into sinks
// (compress_encode), and the calling thread writes finished units in their order and commits
// the archive (compress_write). Sinks hold output in memory up to a shared budget and spill
// the rest to temporary files, so memory stays bounded whatever the member sizes.
#pragma once
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "format/archive_format.h"
#include "engine.h"
#include "file_io.h"
#include "member_names.h"

namespace compression {

constexpr size_t READ_CHUNK = 1 << 20;
constexpr size_t WRITE_CHUNK = 1 << 20;

struct Source {
  std::string path;
  StoredName stored;
  FileInfo info;
  uint8_t name_flags = 0;  // ENTRY_FLAG_UTF8_NAMES when the stored names are UTF-8
  uint8_t filter = FILTER_NONE;  // what its content calls for, for a method that filters
  int filter_distance = 0;
  bool packed = false;           // compressed already, for a method with a coder for that
  bool text = false;             // text, for a method with a coder for that
};

struct Budget {
  std::atomic<int64_t> in_memory{0};
  int64_t limit = 0;
  bool take(size_t n) {
    int64_t before = in_memory.fetch_add(static_cast<int64_t>(n));
    if (before + static_cast<int64_t>(n) <= limit) return true;
    in_memory.fetch_sub(static_cast<int64_t>(n));
    return false;
  }
};

class BufferedWriter;

// Compressed bytes of one unit: a memory part followed by an optional spill file.
class Sink {
 public:
  Sink(Budget& budget, std::string spill_path) : budget_(budget), spill_path_(std::move(spill_path)) {}
  ~Sink() { release(); }
  bool write(const uint8_t* data, size_t size);
  bool finish() { return spill_.close(); }
  uint64_t total() const { return total_; }
  // Copies `size` bytes from the current read position to `out`.
  bool copy_to(BufferedWriter& out, uint64_t size);
  // Drops what was written, to write the unit again.
  void reset();
  void release();

 private:
  Budget& budget_;
  std::string spill_path_;
  std::vector<uint8_t> memory_;
  File spill_;
  bool spilling_ = false;
  uint64_t total_ = 0;
  size_t read_pos_ = 0;
};

struct Unit {
  size_t first = 0;   // index into sources
  size_t count = 0;
  // A piece of one large file: its offset, its length (the last piece reads to the end), and
  // what compressing it found.
  int64_t piece_offset = -1;
  int64_t piece_length = 0;
  bool last_piece = false;
  uint32_t piece_crc = 0;
  int64_t piece_size = 0;
  uint32_t dictionary = 0;  // what the encoder recorded for the unit's stream
  bool packed = false;      // its files are compressed already: the method's packed() takes it
  bool text = false;        // its files are text: the method's text() takes it
  // A block of a chained stream (EncodingMethod::chains): the stream's bytes before it, the most
  // that a block and the one before it hold (0 when the block is a stream of its own), the
  // previous block's planned bytes, and whether the next block continues it.
  int64_t chain_offset = 0;
  int64_t chain_size = 0;
  int64_t prior_size = 0;
  bool continued = false;
  // What a later block or piece was primed with and what its predecessor ended on, both as
  // read: they must agree, or a file changed between the two reads and the stream would not
  // decode.
  int64_t history_size = 0;
  uint32_t history_crc = 0;
  int64_t tail_size = 0;
  uint32_t tail_crc = 0;
  std::vector<EntryHeader> entries;
  std::unique_ptr<Sink> sink;
  std::string problem;
  bool done = false;
};

class BufferedWriter {
 public:
  explicit BufferedWriter(File& file) : file_(file) { buffer_.reserve(WRITE_CHUNK); }
  bool write(const void* data, size_t size);
  bool flush();
  int64_t written() const { return static_cast<int64_t>(written_); }
  // Overwrites bytes already written (a header whose sizes are known only at the end).
  bool patch(int64_t position, const std::vector<uint8_t>& bytes);
  // Goes back to `position`: what follows is written again from there, and the file ends where
  // the writing ends (see finish).
  bool rewind(int64_t position);
  bool finish();

 private:
  File& file_;
  std::vector<uint8_t> buffer_;
  uint64_t written_ = 0;
};

// What of an existing archive goes into the new one: runs of entries copied byte for byte,
// and the members of a solid stream that lost a member to a listed file, unpacked into a
// temporary folder and compressed again (a compressed stream cannot be cut). The unpacked files
// are named by their place in the index, never by their member names: two members that the
// file system takes as one name (letter case, short names) must not meet on disk.
struct Existing {
  std::string path;
  std::vector<std::pair<int64_t, int64_t>> stretches;  // offset and length of entries kept as they are
  int64_t members = 0;
  int64_t bytes_in = 0;
  std::string unpack_folder;                 // "" when nothing was unpacked
  std::vector<Source> unpacked;

  // The folder is ours (created exclusively under a random name) and holds only files named
  // by the unpacking, so whatever is in it goes, whether the run failed or not.
  ~Existing();
};

// A file with the same bytes as an earlier source, stored as an entry naming it.
struct Copy {
  Source source;
  size_t target = 0;  // index into sources
  uint32_t crc = 0;   // of the bytes found equal to the target's
};

// What a source's entry recorded once compressed.
struct WrittenData {
  int64_t size = 0;
  uint32_t crc = 0;
};

// Which unit the workers take next and which the writer is at.
struct Schedule {
  std::mutex lock;
  std::condition_variable changed;
  size_t next_unit = 0;
  size_t next_write = 0;
  bool stop = false;
};

// ---- Sources ----
// The archive being written and what a run on it keeps beside it (its lock, spilled output,
// unpacked members): a folder holding the archive must not take the old archive and the run's
// own files in. Found by which file they are, as the archive may be named by another path.
struct OwnFiles {
  std::string archive_name;
  FileIdentity folder, archive, lock;
  int64_t archive_size = -1, lock_size = -1;
  // The archive the user named, when the run writes a working copy of it (an encrypted archive's
  // plain copy): its file, lock and temporaries are the run's own too.
  std::shared_ptr<OwnFiles> named;
  explicit OwnFiles(const std::string& archive_path, const std::string& named_archive = "");
  bool is_own_file(const std::string& path, const FileInfo& info) const;
  // By name in the archive's own folder: a temporary's identity is not known beforehand.
  bool is_own_name(const FileIdentity& in_folder, const std::string& name) const;
};

// The files a named source brings (a folder: every file below it, links to folders not followed),
// leaving out the run's own files; `folders`, when given, gets every folder walked.
bool expand_source(const std::string& path, const OwnFiles& own, std::vector<std::string>& files, std::string& problem,
                   std::vector<std::string>* folders = nullptr);

bool collect_sources(const CompressJob& job, std::vector<Source>& out, std::string& problem);
// Reads the archive that `a` adds to, when there is one. A listed file replaces the member of
// the same path; everything else is kept. An archive that cannot be read is left alone and
// the run refused, never overwritten.
bool plan_existing(const CompressJob& job, const std::vector<Source>& sources, Existing& existing,
                   std::string& problem);
// Gives each source the filter its first bytes call for and, for a method with a coder for data
// compressed already or for text, whether it is such data (an unreadable one gets none of these:
// reading it again later reports the problem).
void choose_filters(std::vector<Source>& sources, bool find_packed, bool find_text);

// ---- Copies ----
// Takes out of `sources` every file whose bytes equal an earlier one's (same size, CRC-32 of the
// head, of the whole, then bytes compared), as a copy of it. False when the run was cancelled.
bool find_copies(std::vector<Source>& sources, std::vector<Copy>& copies, RunControl* control);
// Writes the copies' entries; refuses the run when a target was compressed with other data than
// its copies were found equal to (it changed meanwhile).
bool write_copies(const std::vector<Copy>& copies, const std::vector<Source>& sources,
                  const std::vector<WrittenData>& written, BufferedWriter& out, RunResult& result);

// ---- Plan ----
// Files of one filter, one kind and one name compress best next to each other in a shared stream;
// text goes first and files compressed already last, each in streams of their own.
void order_for_solid(std::vector<Source>& sources);
std::vector<Unit> plan_units(const std::vector<Source>& sources, const EncodingMethod& method, bool solid,
                             int threads);
int64_t unit_input_size(const Unit& unit, const std::vector<Source>& sources);
// What the live figures count to: the files read, and the kept members copied.
int64_t run_total(const std::vector<Source>& sources, const Existing& existing);

// ---- Encode ----
// Starts `count` threads compressing units ahead of the writer (see Schedule).
std::vector<std::thread> start_encoders(int count, std::vector<Unit>& units, const std::vector<Source>& sources,
                                        const EncodingMethod& method, Schedule& schedule, const CompressJob& job);
void stop_encoders(Schedule& schedule, std::vector<std::thread>& threads);

// ---- Write ----
// Writes the archive beside the old one and puts it in its place once whole.
void write_archive(const CompressJob& job, const std::vector<Source>& sources, const std::vector<Copy>& copies,
                   const Existing& existing, const EncodingMethod& method, std::vector<Unit>& units, int threads,
                   RunResult& result);

}  // namespace compression
