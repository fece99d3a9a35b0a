// Finding files by name below a folder: the name pattern, the walk that feeds results in batches,
// and the worker thread that runs it off the window's thread. No window here.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "format/archive_layout.h"
#include "runtime/folder_details.h"

// A name in upper case, one code point per element, by the system's letter-case table: on Windows
// the invariant upper-casing the file system matches names with; elsewhere C.UTF-8's.
std::u32string fold_name(const std::string& name);

// "*" takes any run of characters, "?" exactly one (one code point, whatever its script); every
// other character matches itself without regard to case. The whole name must match; an empty
// pattern matches every name.
class NamePattern {
 public:
  explicit NamePattern(const std::string& pattern);
  bool matches(const std::string& name) const;

 private:
  std::u32string folded_;
};

struct FindHit {
  std::string folder;  // below the searched folder: "" or "sub\" ("sub/" when the root ends in "/")
  std::string name;
  bool is_folder = false;
  int64_t size = 0;
  int64_t write_time = 0;
  int64_t creation_time = 0;
  int64_t access_time = 0;
};

struct FindCounts {
  int64_t folders = 0;  // folders whose entries were looked at, the searched one included
  int64_t found = 0;
  bool limited = false;  // a name past `most_hits` matched: the walk ended there
};

struct FindLimits {
  size_t batch_hits = 512;             // a batch goes at this many hits...
  int64_t batch_interval_ms = 100;     // ...or when this long has passed since the last one
  int64_t most_hits = TABLE_CAPACITY;  // the walk ends before a match past this many
};

// The Find window's status line: "Searching... 3 folders looked at, 5 found" while the walk goes
// on, then "Done: ...", "Stopped: ..." when the user stopped it, or "Stopped at the limit: ..."
// when there was more to find than a search lists.
std::string find_status_text(const FindCounts& counts, bool running, bool stopped);

// The searched folder as the user knows it: inside an open archive (its mirror tree under
// `mirror_root`), the archive's path and the folder below it; elsewhere the folder itself.
std::string find_folder_text(const std::string& root, const std::string& archive_path, const std::string& mirror_root);

// Bytes whose plain order is the order the main list gives names (compare_names): the system's
// sort key without regard to case on Windows, the name with ASCII letters folded elsewhere. A
// sort by path compares these instead of converting both paths at every comparison.
std::string path_sort_key(const std::string& path);

// What a click on a results column sorts by. `date` is 0 where no date is shown.
constexpr int FIND_COLUMN_PATH = 0, FIND_COLUMN_SIZE = 1, FIND_COLUMN_DATE = 2;
struct FindRowKey {
  std::string path_key;  // path_sort_key of the path, made when the path column is sorted
  bool is_folder = false;
  int64_t size = 0;
  int64_t date = 0;
};
// True when `a` goes before `b` sorted by the column, `direction` 1 (ascending) or -1. As in the
// main list: paths without regard to case, folders (no size) after every file, no date before
// any date.
bool find_row_before(const FindRowKey& a, const FindRowKey& b, int column, int direction);

// Receives the hits found since the last call and the counts so far.
using FindSink = std::function<void(std::vector<FindHit>& batch, const FindCounts& counts)>;

// Walks `root` (ending in "\" or "/") and every folder below it, depth first, handing hits whose
// name matches to `sink`: the first at once, then in batches, and a last call (perhaps with no
// hits) at the end. Folders that are links are listed but never entered. Returns false when
// `cancel` was set, which is looked at between entries.
bool find_walk(const std::string& root, const NamePattern& pattern, const std::atomic<bool>& cancel,
               const FindSink& sink, const DetailEnumerator& enumerate = enumerate_folder_details,
               const FindLimits& limits = FindLimits());

// One search on a worker thread. The window takes what arrived with `take`; `stop` cancels the
// walk and joins the thread, and a new `start` stops the running search first.
class FindSearch {
 public:
  FindSearch() = default;
  ~FindSearch() { stop(); }
  FindSearch(const FindSearch&) = delete;
  FindSearch& operator=(const FindSearch&) = delete;

  void start(const std::string& root, const std::string& pattern,
             const DetailEnumerator& enumerate = enumerate_folder_details, const FindLimits& limits = FindLimits());
  void stop();
  // Moves the hits found since the last call to the end of `into`; true while the walk goes on.
  bool take(std::vector<FindHit>& into, FindCounts& counts);

 private:
  std::thread worker_;
  std::atomic<bool> cancel_{false};
  std::mutex lock_;
  std::vector<FindHit> pending_;
  FindCounts counts_;
  bool running_ = false;
};
