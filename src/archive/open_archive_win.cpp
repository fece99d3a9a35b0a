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

void create_empty_file(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

// One entry of the index: its mirror folder and empty file, and its row in the entry table.
class MirrorBuilder {
 public:
  MirrorBuilder(const std::string& root, EntryTable& table) : root_(root), table_(table) {}

  void add(const IndexEntry& e) {
    if (table_.entry_count >= TABLE_CAPACITY) return;
    std::string path = root_ + e.folder + e.name;
    if (mirror_entry_safe(e.folder, e.name)) {
      if (!created_.count(e.folder) && create_folder_chain(root_ + e.folder) == 1) {
        created_.insert(e.folder);
        if (table_.created_folder_count < TABLE_CAPACITY) table_.created_folders[++table_.created_folder_count] = e.folder;
      }
      if (!e.name.empty()) create_empty_file(path);
    }
    entry_append(table_, path, e.size);
  }

 private:
  const std::string& root_;
  EntryTable& table_;
  std::unordered_set<std::string> created_;
};

}  // namespace

ArchiveSession open_archive(const std::string& path, const std::string& mirror_root, EntryTable& table) {
  ArchiveSession session;
  session.path = path;
  session.index_start = index_start(path);
  session.mirror_root = mirror_root;
  std::unique_ptr<ByteSource> source = open_file_source(path, false);
  if (!source) return session;
  session.opened = true;
  table.entry_count = 0;
  table.created_folder_count = 0;
  MirrorBuilder builder(mirror_root, table);
  // Dropping one pending event per entry keeps the window answering during a long walk.
  IndexWalkResult walk = index_walk(
      *source, session.index_start, [&](const IndexEntry& e) { builder.add(e); }, [] { wait_event(0); });
  session.entries = table.entry_count;
  session.entry_table_full = walk.end == IndexEnd::entry_limit;
  return session;
}
