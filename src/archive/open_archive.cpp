// Opening an archive: the index is walked and a mirror tree of empty files is built under the
// mirror root, one folder per archive folder and one file per member.
#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "archive/index_walk.h"
#include "archive/mirror_tree.h"
#include "archive/open_archive.h"
#include "runtime/folders.h"
#include "runtime/text.h"

namespace {

// The system makes short names with a "~": only such paths can reach another stand-in, and
// one that does is left as it was.
MirrorSkip create_mirror_file(const std::string& path, const IndexEntry& e) {
  std::string below_root = e.folder + e.name;
  size_t own_names = below_root.find('~') == std::string::npos
                         ? 0
                         : 1 + static_cast<size_t>(std::count(e.folder.begin(), e.folder.end(), '\\'));
  switch (create_empty_file(path, own_names, e.has_mtime, e.mtime_ns)) {
    case EmptyFile::created: return MirrorSkip::none;
    case EmptyFile::elsewhere: return MirrorSkip::clash;
    case EmptyFile::refused: break;
  }
  return MirrorSkip::not_created;
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
      MirrorSkip why = create_mirror_file(path, e);
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

}  // namespace

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
  // The caller's poll keeps the window answering during a long walk. Once it says stop, the rest
  // of the index is walked without building anything.
  int64_t position = session.index_start, size = source->size();
  IndexWalkResult walk = index_walk(
      *source, session.index_start,
      [&](const IndexEntry& e) {
        position = e.position;
        if (!session.cancelled) builder.add(e);
      },
      [&] {
        if (poll && !session.cancelled && !poll(position, size, table.entry_count)) session.cancelled = true;
      });
  builder.set_folder_times();
  session.entries = table.entry_count;
  session.report.table_full = walk.end == IndexEnd::entry_limit;
  session.report.damage_position = walk.damage_position;
  return session;
}
