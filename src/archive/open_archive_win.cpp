// Opening an archive: the index is walked and a mirror tree of empty files is built under the
// mirror root, one folder per archive folder and one file per member.
#include <windows.h>

#include <unordered_set>

#include "archive/index_walk.h"
#include "archive/mirror_tree.h"
#include "archive/open_archive.h"
#include "runtime/folders.h"
#include "ui/ui.h"

namespace {

bool create_empty_file(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

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

 private:
  MirrorSkip create(const IndexEntry& e, const std::string& path) {
    if (!created_.count(e.folder) && create_folder_chain(root_ + e.folder) == 1) {
      created_.insert(e.folder);
      if (table_.created_folder_count < TABLE_CAPACITY) table_.created_folders[++table_.created_folder_count] = e.folder;
    }
    if (e.name.empty() || create_empty_file(path)) return MirrorSkip::none;
    return MirrorSkip::not_created;
  }

  const std::string& root_;
  EntryTable& table_;
  MirrorReport& report_;
  MirrorNames names_;
  std::unordered_set<std::string> created_;
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

ArchiveSession open_archive(const std::string& path, const std::string& mirror_root, EntryTable& table) {
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
  // Dropping one pending event per entry keeps the window answering during a long walk.
  IndexWalkResult walk = index_walk(
      *source, session.index_start, [&](const IndexEntry& e) { builder.add(e); }, [] { wait_event(0); });
  session.entries = table.entry_count;
  session.report.table_full = walk.end == IndexEnd::entry_limit;
  session.report.damage_position = walk.damage_position;
  return session;
}
