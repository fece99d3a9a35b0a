// Opening an archive: the index is walked and a mirror tree of empty files is built under the
// mirror root, one folder per archive folder and one file per member.
#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "archive/index_walk.h"
#include "archive/mirror_tree.h"
#include "archive/open_archive.h"
#include "runtime/folders.h"
#include "runtime/text.h"

namespace {

// The walk reads an entry at a time; the index is read from the disk in large blocks instead.
class ReadAhead : public ByteSource {
 public:
  explicit ReadAhead(ByteSource& source) : source_(source), size_(source.size()), block_(BLOCK) {}
  int64_t size() override { return size_; }
  size_t read_at(int64_t offset, void* buffer, size_t n) override {
    if (offset < 0) return 0;
    if (n > BLOCK / 2) return source_.read_at(offset, buffer, n);
    // A block shorter than asked for ends at the end of the file: nothing more is read there.
    int64_t end = start_ + static_cast<int64_t>(have_);
    if (offset < start_ || offset > end || (offset + static_cast<int64_t>(n) > end && have_ == BLOCK)) {
      start_ = offset;
      have_ = source_.read_at(offset, block_.data(), BLOCK);
      end = start_ + static_cast<int64_t>(have_);
    }
    size_t k = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), end - offset));
    std::memcpy(buffer, block_.data() + (offset - start_), k);
    return k;
  }

 private:
  static constexpr size_t BLOCK = 256 * 1024;
  ByteSource& source_;
  int64_t size_;
  std::vector<uint8_t> block_;
  int64_t start_ = -1;  // nothing read yet
  size_t have_ = 0;
};

MirrorSkip create_mirror_file(const std::string& path, size_t own_names, const IndexEntry& e) {
  switch (create_empty_file(path, own_names, e.has_mtime, e.mtime_ns)) {
    case EmptyFile::created: return MirrorSkip::none;
    case EmptyFile::elsewhere: return MirrorSkip::clash;
    case EmptyFile::refused: break;
  }
  return MirrorSkip::not_created;
}

// What is kept of each folder that holds members, as it was spelt: how many names of its path
// to check (names_to_check), and the newest time of its own members.
struct MadeFolder {
  size_t names_to_check = 0;
  bool dated = false;
  int64_t newest = 0;
};
using MadeFolders = std::unordered_map<std::string, MadeFolder>;

// After every file is made, since creating a file changes its folder's time: each folder gets the
// newest member time below it, the folders' own carried up. Folder names that differ only in case
// are one disk folder, gathered under their lower-case form.
void apply_folder_times(const std::string& root, const MadeFolders& folders) {
  struct Newest {
    std::string folder;
    int64_t ns;
  };
  std::unordered_map<std::string, Newest> newest;
  for (const auto& [folder, made] : folders) {
    if (!made.dated) continue;
    for (size_t end = folder.find('\\'); end != std::string::npos; end = folder.find('\\', end + 1)) {
      auto [it, fresh] =
          newest.try_emplace(to_lower_ascii(folder.substr(0, end + 1)), Newest{folder.substr(0, end + 1), made.newest});
      if (!fresh) it->second.ns = std::max(it->second.ns, made.newest);
    }
  }
  for (const auto& [key, n] : newest) set_folder_time(root + n.folder, n.ns);
}

// One entry of the index: its mirror folder and empty file, and its row in the entry table. An
// entry that gets no mirror file is still listed in the table, and counted in the report.
class MirrorBuilder {
 public:
  MirrorBuilder(const std::string& root, EntryTable& table, MirrorReport& report)
      : root_(root), table_(table), report_(report) {}

  // False when the table is full and the entry was not listed.
  bool add(const IndexEntry& e) {
    if (table_.entry_count >= TABLE_CAPACITY) return false;
    std::string path;
    path.reserve(root_.size() + e.folder.size() + e.name.size());
    path.append(root_).append(e.folder).append(e.name);
    MirrorSkip why = names_.check(root_, e.folder, e.name);
    if (why == MirrorSkip::none) why = create(e, path);
    report_.count(why);
    return entry_append(table_, std::move(path), e.size);
  }

  void set_folder_times() { apply_folder_times(root_, folders_made_); }

 private:
  MirrorSkip create(const IndexEntry& e, const std::string& path) {
    if (!folder_ || e.folder != *folder_) {
      auto [it, fresh] = folders_made_.try_emplace(e.folder);
      if (fresh) it->second.names_to_check = make_folder(e.folder);
      folder_ = &it->first;
      made_ = &it->second;
    }
    if (!e.name.empty()) {
      // The system's short names only reach another file through a name of their shape.
      size_t names = made_->names_to_check;
      size_t own_names = names > 0 ? names + 1 : could_be_short_name(e.name) ? 1 : 0;
      MirrorSkip why = create_mirror_file(path, own_names, e);
      if (why != MirrorSkip::none) return why;
    }
    // The root needs no time.
    if (e.has_mtime && !e.folder.empty()) {
      made_->newest = made_->dated ? std::max(made_->newest, e.mtime_ns) : e.mtime_ns;
      made_->dated = true;
    }
    return MirrorSkip::none;
  }

  // Each folder is asked for once, below a root made once: the folders above the root are
  // not asked for again with every new folder. Gives names_to_check of the folder.
  size_t make_folder(const std::string& folder) {
    if (!root_made_) {
      root_made_ = true;
      asked_.insert("");
      if (create_folder_chain(root_) == 1 && folder.empty()) note_created(folder);
    }
    for (size_t end = folder.find('\\'); end != std::string::npos; end = folder.find('\\', end + 1)) {
      std::string prefix = folder.substr(0, end + 1);
      if (!asked_.insert(prefix).second) continue;
      if (create_one_folder(root_ + prefix) && end + 1 == folder.size()) note_created(folder);
    }
    return names_to_check(folder, "");
  }

  void note_created(const std::string& folder) {
    if (table_.created_folder_count < TABLE_CAPACITY) table_.created_folders[++table_.created_folder_count] = folder;
  }

  const std::string& root_;
  EntryTable& table_;
  MirrorReport& report_;
  MirrorNames names_;
  std::unordered_set<std::string> asked_;  // folders asked for, made or not
  bool root_made_ = false;
  MadeFolders folders_made_;              // members' folders made so far
  const std::string* folder_ = nullptr;  // the folder of the last member made, in folders_made_
  MadeFolder* made_ = nullptr;           // and what is kept of it
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
  table.entry_members.clear();
  MirrorBuilder builder(mirror_root, table, session.report);
  ReadAhead index(*source);
  // The caller's poll keeps the window answering during a long walk. Once it says stop, the rest
  // of the index is walked without building anything.
  int64_t position = session.index_start, size = index.size();
  IndexWalkResult walk = index_walk(
      index, session.index_start,
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

ArchiveSession open_foreign_archive(const std::string& path, const ForeignListing& listing,
                                    const std::string& mirror_root, EntryTable& table, const OpenPoll& poll) {
  ArchiveSession session;
  session.path = path;
  session.mirror_root = mirror_root;
  session.format = listing.format;
  if (!listing.sound) {
    session.problem = listing.problem;
    return session;
  }
  session.opened = true;
  table.entry_count = 0;
  table.created_folder_count = 0;
  table.entry_members.assign(1, std::string());
  MirrorBuilder builder(mirror_root, table, session.report);
  int64_t total = static_cast<int64_t>(listing.members.size());
  for (const ForeignMember& m : listing.members) session.encrypted_members += m.encrypted ? 1 : 0;
  for (int64_t i = 0; i < total; ++i) {
    if (poll && !poll(i, total, table.entry_count)) {
      session.cancelled = true;
      break;
    }
    const ForeignMember& m = listing.members[static_cast<size_t>(i)];
    MirrorPlace place = foreign_mirror_place(m);
    if (place.folder.empty() && place.name.empty()) continue;  // "./": the root itself
    IndexEntry e;
    e.folder = place.folder;
    e.name = place.name;
    e.size = m.kind == 'd' ? 0 : m.size;
    e.has_mtime = m.mtime_ns != 0;
    e.mtime_ns = m.mtime_ns;
    if (!builder.add(e)) break;
    table.entry_members.push_back(m.path);
  }
  builder.set_folder_times();
  session.entries = table.entry_count;
  session.report.table_full = listing.count > table.entry_count && table.entry_count >= TABLE_CAPACITY;
  return session;
}
