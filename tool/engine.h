// The archiver's two engines: writing an archive from files, and reading one back
// (extract, test, list). Both report problems as text; neither touches the console.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codec.h"
#include "format/archive_format.h"
#include "run_control.h"

struct MemberInfo;
struct ForeignSource;
class ArchiveSource;

struct CompressJob {
  std::string archive_path;
  // When archive_path is a working copy (an encrypted archive's plain form), the archive the user
  // named: never taken as a source, nor its lock and temporaries.
  std::string named_archive_path;
  std::vector<std::string> sources;   // files or folders (folders are taken whole)
  bool keep_folders = true;
  // With keep_folders: names are taken below this folder rather than the deepest common one.
  std::string names_below;
  bool solid = false;
  DeflateSettings deflate;
  ZstdSettings zstd;                  // level > 0: zstd instead of deflate
  LzmaSettings lzma;                  // preset >= 0: LZMA2 instead of either
  int threads = 1;                    // 0 = one per processor
  int64_t memory_budget = 16 << 20;   // bytes of compressed output held in memory
  bool self_extracting = false;
  const uint8_t* stub = nullptr;      // program image put in front; padded with zeros
  size_t stub_size = 0;
  // How long to wait for another run writing the same archive before refusing.
  int lock_wait_ms = 5000;
  // Called on the writing thread as data is done: bytes read so far and in all.
  std::function<void(int64_t done, int64_t total)> progress;
  // Live figures and the request to stop, checked between blocks of data; may be null.
  RunControl* control = nullptr;
  // Runs on a compressing thread before a block or piece reads from `path` the bytes it is
  // primed with, which its predecessor read already (tests change the file in between).
  std::function<void(const std::string& path)> before_priming;
  // The memory the coders may take; 0: what this process has (address_space_budget).
  int64_t address_space = 0;
};

struct RunResult {
  bool ok = true;
  std::vector<std::string> problems;  // one line each
  // Which of `problems` (by position) are about one member each: a test's report tells them
  // from the archive's own by this, never by what a line, and so a member's name, says.
  std::vector<size_t> member_problems;
  std::vector<std::string> notes;     // what the user should know of a successful run
  int64_t renamed = 0;                // members extracted under a new name
  int64_t members = 0;
  int64_t bytes_in = 0;
  int64_t bytes_out = 0;
  bool cancelled = false;             // stopped on request; nothing half-done was left behind
};

RunResult compress_archive(const CompressJob& job);

enum class ReadMode { EXTRACT, TEST, LIST };

struct ReadJob {
  ReadMode mode = ReadMode::EXTRACT;
  std::string archive_path;
  std::string destination;            // for EXTRACT; "" = current folder
  bool marked_only = false;
  int threads = 1;                    // 0 = one per processor (read_archive only)
  int64_t index_start = -1;           // -1: decided by the archive's extension
  // LIST hands every entry's header here.
  std::function<void(const EntryHeader&)> on_entry;
  // An archive of another program's: its format's name once, before its first entry, and in
  // LIST every entry (read_foreign_archive).
  std::function<void(const std::string& format)> on_format;
  std::function<void(const MemberInfo&)> on_member;
  // TEST and EXTRACT hand every member's decoded bytes here (a memory sink).
  std::function<void(const uint8_t* data, size_t size)> on_data;
  // When set, only members it accepts are read (and, with marked_only, only marked ones).
  std::function<bool(const EntryHeader&)> select;
  // EXTRACT: when set, the member at this place in the index is written under the name it gives,
  // directly in the destination, instead of under its own path (a repack names its files itself);
  // members it gives no name are not read. TEST: it only chooses the members read, by place.
  std::function<std::string(size_t entry)> file_name;
  // Runs on the decoding thread after each member (tests change the destination in between).
  std::function<void(const EntryHeader&)> after_member;
  // Called now and then from the workers (never two at once): compressed bytes read and in all.
  std::function<void(int64_t done, int64_t total)> progress;
  // Live figures (bytes decoded of the members read) and the request to stop; may be null.
  RunControl* control = nullptr;
  // The memory the decoding threads may take together: read_archive puts this process's
  // (address_space_budget) where it is 0; 0 for read_archive_with fits nothing.
  int64_t address_space = 0;
  // When set, the archive is read through what this opens (each decoding thread opens its own)
  // instead of the file at archive_path, which still names it in messages; null when it cannot.
  // `for_index`: only the index is read through it, never a member's data.
  std::function<std::unique_ptr<ArchiveSource>(bool for_index)> open_archive;
  // What each source open_archive opens holds of the address space (buffers, its own thread).
  int64_t source_memory = 0;
};

// The archive of a job opened for reading: its own source, or the file at its path; null when
// neither opens.
std::unique_ptr<ArchiveSource> open_job_archive(const ReadJob& job, bool for_index);

// Runs work(context, i) for i in 0..count-1, each on its own thread (the caller's included),
// and returns when all have finished.
using ParallelRunner = void (*)(int count, void (*work)(void* context, int index), void* context);
// The runner read_archive uses: a thread for each index.
void run_on_threads(int count, void (*work)(void* context, int index), void* context);

// Threads that create, write and rename extracted members the decoding threads hand them, so
// decoding overlaps the system's work on files.
class MemberWriters {
 public:
  virtual ~MemberWriters() = default;
  virtual int count() const = 0;
  // Runs task(slot) on one of the writer threads (slot < count()); waits while `bytes` more
  // would take the members held in memory past the writers' limit.
  virtual void post(size_t bytes, std::function<void(int slot)> task) = 0;
  // Returns when every task posted so far has finished.
  virtual void drain() = 0;
  // Buffers for members on their way to the writers, given back once written: reused, they
  // spare the page fault that fresh memory costs on every 4 KB.
  virtual std::vector<uint8_t> take_buffer() = 0;
  virtual void give_back(std::vector<uint8_t> buffer) = 0;
};

// Writer threads for read_archive_with, as read_archive starts them for two threads or more.
std::unique_ptr<MemberWriters> start_member_writers(int count);

// Reads with as many threads as the job asks for.
RunResult read_archive(const ReadJob& job);
// The same with a given runner; nullptr reads on the calling thread alone (the self-extracting
// stub does that to stay free of the thread library). Without writers, members are written by
// the threads that decode them.
RunResult read_archive_with(const ReadJob& job, ParallelRunner runner, MemberWriters* writers = nullptr);

// Reads an archive of another program's (foreign_reader.h) as read_archive reads ours, on one
// thread, every member through the same output path (extract_output); links, devices and
// encrypted members are refused by name. `recognised` says whether any format took the bytes;
// when none did the result says why and nothing was written.
RunResult read_foreign_archive(const ReadJob& job, const ForeignSource& source, bool& recognised);

struct StoredEntry {
  EntryHeader header;
  int64_t data_offset = 0;
  int64_t offset = 0;       // of the header; names may have been converted, so not derivable
  // For a copy: the entry holding its data, the nearest earlier member by its stored path;
  // NO_SOURCE when the index names none (the copy is damaged).
  size_t source = NO_SOURCE;
  static constexpr size_t NO_SOURCE = static_cast<size_t>(-1);
};

// Walks an archive's index (and checks its solid streams are well formed) without reading data.
bool read_index(const std::string& archive_path, int64_t index_start, std::vector<StoredEntry>& entries,
                std::string& problem);

// 0 means one per processor.
int resolve_thread_count(int requested);
