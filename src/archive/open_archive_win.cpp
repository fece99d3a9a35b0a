// Opening an archive: the index is walked and a mirror tree of empty files is built under the
// mirror root, one folder per archive folder and one file per member.
#include <windows.h>

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "archive/index_walk.h"
#include "archive/mirror_tree.h"
#include "archive/open_archive.h"
#include "format/utf8_text.h"
#include "runtime/folders.h"
#include "runtime/text.h"
#include "ui/ui.h"

namespace {

// Nanoseconds since 1970 as a FILETIME (100 ns since 1601); false before 1601.
bool to_file_time(int64_t ns, FILETIME* out) {
  constexpr int64_t EPOCH_1601_TO_1970 = 116444736000000000;
  int64_t ticks = ns / 100 - (ns % 100 < 0 ? 1 : 0) + EPOCH_1601_TO_1970;
  if (ticks < 0) return false;
  out->dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks));
  out->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
  return true;
}

// Whether the file a handle reached has the last `count` components of `path` as its own names.
// A short name (LONGFI~1.TXT, or a folder's LONGFO~1) reaches another member's place.
bool reached_by_own_names(HANDLE file, const std::string& path, size_t count) {
  char buffer[MAX_PATH * 4];
  DWORD n = GetFinalPathNameByHandleA(file, buffer, sizeof buffer, FILE_NAME_NORMALIZED);
  if (n == 0 || n >= sizeof buffer) return false;
  std::string final(buffer, n);
  size_t a = final.size(), b = path.size();
  for (size_t k = 0; k < count; ++k) {
    size_t ca = final.find_last_of('\\', a - 1), cb = path.find_last_of('\\', b - 1);
    if (ca == std::string::npos || cb == std::string::npos) return false;
    if (name_case_key(final.substr(ca + 1, a - ca - 1)) != name_case_key(path.substr(cb + 1, b - cb - 1))) return false;
    a = ca;
    b = cb;
  }
  return true;
}

// The time is set through the handle that created the file; a time the system refuses is left.
// The system makes short names with a "~": only such paths can reach another stand-in, and
// one that does is left as it was (and a file it made at the other place removed).
MirrorSkip create_empty_file(const std::string& path, const IndexEntry& e) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return MirrorSkip::not_created;
  bool made = GetLastError() != ERROR_ALREADY_EXISTS;
  std::string below_root = e.folder + e.name;
  if (below_root.find('~') != std::string::npos &&
      !reached_by_own_names(file, path, 1 + static_cast<size_t>(std::count(e.folder.begin(), e.folder.end(), '\\')))) {
    FILE_DISPOSITION_INFO gone = {TRUE};
    if (made) SetFileInformationByHandle(file, FileDispositionInfo, &gone, sizeof gone);
    CloseHandle(file);
    return MirrorSkip::clash;
  }
  FILETIME t;
  if (e.has_mtime && to_file_time(e.mtime_ns, &t)) SetFileTime(file, nullptr, nullptr, &t);
  CloseHandle(file);
  return MirrorSkip::none;
}

void set_folder_time(const std::string& folder, int64_t ns) {
  FILETIME t;
  if (!to_file_time(ns, &t)) return;
  HANDLE dir = CreateFileA(folder.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (dir == INVALID_HANDLE_VALUE) return;
  SetFileTime(dir, nullptr, nullptr, &t);
  CloseHandle(dir);
}

// The newest member time below each mirror folder. Folder names differ only in case on the
// same disk folder, so they are gathered under their lower-case form.
class FolderTimes {
 public:
  void add(const std::string& folder, int64_t ns) {
    for (size_t end = folder.find('\\'); end != std::string::npos; end = folder.find('\\', end + 1)) {
      std::string key = to_lower_ascii(folder.substr(0, end + 1));
      auto it = newest_.find(key);
      if (it == newest_.end())
        newest_.emplace(key, Newest{folder.substr(0, end + 1), ns});
      else
        it->second.ns = std::max(it->second.ns, ns);
    }
  }
  // After every file is made: creating a file changes its folder's time.
  void apply(const std::string& root) const {
    for (const auto& [key, n] : newest_) set_folder_time(root + n.folder, n.ns);
  }

 private:
  struct Newest {
    std::string folder;
    int64_t ns;
  };
  std::unordered_map<std::string, Newest> newest_;
};

// One entry of the index: its mirror folder and empty file, and its row in the entry table. An
// entry that gets no mirror file is still listed in the table, and counted in the report.
class MirrorBuilder {
 public:
  MirrorBuilder(const std::string& root, EntryTable& table, MirrorReport& report)
      : root_(root), table_(table), report_(report) {}

  void add(const IndexEntry& e) {
    if (table_.entry_count >= TABLE_CAPACITY) return;
    std::string path = root_ + e.folder + e.name;
    MirrorSkip why = names_.check(root_, e.folder, e.name);
    if (why == MirrorSkip::none) why = create(e, path);
    report_.count(why);
    entry_append(table_, path, e.size);
  }

  void set_folder_times() const { times_.apply(root_); }

 private:
  MirrorSkip create(const IndexEntry& e, const std::string& path) {
    if (!created_.count(e.folder) && create_folder_chain(root_ + e.folder) == 1) {
      created_.insert(e.folder);
      if (table_.created_folder_count < TABLE_CAPACITY) table_.created_folders[++table_.created_folder_count] = e.folder;
    }
    if (!e.name.empty()) {
      MirrorSkip why = create_empty_file(path, e);
      if (why != MirrorSkip::none) return why;
    }
    if (e.has_mtime) times_.add(e.folder, e.mtime_ns);
    return MirrorSkip::none;
  }

  const std::string& root_;
  EntryTable& table_;
  MirrorReport& report_;
  MirrorNames names_;
  std::unordered_set<std::string> created_;
  FolderTimes times_;
};

std::string open_problem(const std::string& path, DWORD error) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return "it is a folder";
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: return "it does not exist";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return "another program holds it locked";
    case ERROR_ACCESS_DENIED: return "access to it is denied";
    default: return "the system cannot read it (error " + std::to_string(error) + ")";
  }
}

}  // namespace

// Opened exactly as the walk opens it, so the answer holds for the walk.
std::string archive_open_problem(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return open_problem(path, GetLastError());
  CloseHandle(file);
  return std::string();
}

ArchiveSession open_archive(const std::string& path, const std::string& mirror_root, EntryTable& table,
                            const OpenPoll& poll) {
  ArchiveSession session;
  session.path = path;
  session.index_start = index_start(path);
  session.mirror_root = mirror_root;
  std::unique_ptr<ByteSource> source = open_file_source(path, false);
  if (!source) {
    session.problem = archive_open_problem(path);
    if (session.problem.empty()) session.problem = "the system cannot read it";
    return session;
  }
  session.opened = true;
  table.entry_count = 0;
  table.created_folder_count = 0;
  MirrorBuilder builder(mirror_root, table, session.report);
  // Dropping one pending event per entry keeps the window answering during a long walk. Once a
  // poll says stop, the rest of the index is walked without building anything.
  int64_t position = session.index_start, size = source->size();
  IndexWalkResult walk = index_walk(
      *source, session.index_start,
      [&](const IndexEntry& e) {
        position = e.position;
        if (!session.cancelled) builder.add(e);
      },
      [&] {
        if (!poll) wait_event(0);
        else if (!session.cancelled && !poll(position, size, table.entry_count)) session.cancelled = true;
      });
  builder.set_folder_times();
  session.entries = table.entry_count;
  session.report.table_full = walk.end == IndexEnd::entry_limit;
  session.report.damage_position = walk.damage_position;
  return session;
}
