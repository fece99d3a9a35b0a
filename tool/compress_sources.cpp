// Writing an archive, the sources: the files named (folders taken whole), and the members of the
// archive being added to that the new one keeps.
#include <algorithm>
#include <unordered_set>

#include "archive_commit.h"
#include "compress_stages.h"
#include "format/path_safety.h"
#include "format/utf8_text.h"

namespace compression {

OwnFiles::OwnFiles(const std::string& archive_path, const std::string& named_archive) {
  if (!named_archive.empty()) named = std::make_shared<OwnFiles>(named_archive);
  std::string folder_path;
  split_archive_path(archive_path, folder_path, archive_name);
  folder = file_identity(folder_path);
  archive = file_identity(archive_path);
  lock = file_identity(archive_path + ".vantor-lock");
  if (archive.known) archive_size = source_info(archive_path).size;
  if (lock.known) lock_size = source_info(archive_path + ".vantor-lock").size;
}

bool OwnFiles::is_own_file(const std::string& path, const FileInfo& info) const {
  // A file of another size is neither (this keeps the identity look-up off most files).
  if (named && named->is_own_file(path, info)) return true;
  if (info.size != archive_size && info.size != lock_size) return false;
  FileIdentity id = file_identity(path);
  return id == archive || id == lock;
}

bool OwnFiles::is_own_name(const FileIdentity& in_folder, const std::string& name) const {
  if (named && named->is_own_name(in_folder, name)) return true;
  return in_folder == folder && (is_archive_lock(archive_name, name) || is_archive_temporary(archive_name, name));
}

bool expand_source(const std::string& path, const OwnFiles& own, std::vector<std::string>& files, std::string& problem,
                   std::vector<std::string>* folders) {
  FileInfo info = source_info(path);
  if (!info.exists) {
    problem = "cannot find " + path + ": " + last_error_text();
    return false;
  }
  if (!info.is_directory) {
    // Reading a device or a FIFO could run forever or block for good.
    if (!info.is_regular) {
      problem = "refused " + path + ": not a regular file (a device, FIFO or socket)";
      return false;
    }
    if (!own.is_own_file(path, info)) files.push_back(path);
    return true;
  }
  if (folders) folders->push_back(path);
  // A folder that cannot be read in full is an error: an archive silently missing its files
  // would look like a success.
  std::vector<std::string> names;
  if (!list_directory(path, names)) {
    problem = "cannot read folder " + path + ": " + last_error_text();
    return false;
  }
  std::sort(names.begin(), names.end());
  FileIdentity this_folder = file_identity(path);
  std::string prefix = path;
  if (prefix.back() != '/' && prefix.back() != '\\') prefix += native_separator();
  for (const std::string& name : names) {
    if (own.is_own_name(this_folder, name)) continue;
    std::string child = prefix + name;
    // Links to folders are not followed (they could loop or leave the chosen tree), and a
    // link that leads nowhere has no data to store.
    if (file_info(child).is_link) {
      FileInfo target = source_info(child);
      if (!target.exists || target.is_directory) continue;
    }
    if (!expand_source(child, own, files, problem, folders)) return false;
  }
  return true;
}

namespace {



std::string absolute(const std::string& path) {
  if (is_absolute_path(path)) return path;
  return current_directory() + native_separator() + path;
}

bool unpack_members(const std::string& archive, int64_t start, const std::vector<StoredEntry>& members,
                    const std::vector<size_t>& places, Existing& existing, std::string& problem) {
  std::string folder = archive + ".vantor-" + random_token() + ".d";
  if (create_folder(folder) != FolderStatus::CREATED) {
    problem = "cannot create the temporary folder " + folder + ": " + last_error_text();
    return false;
  }
  existing.unpack_folder = folder;
  std::unordered_set<size_t> wanted(places.begin(), places.end());
  for (size_t k = 0; k < members.size(); ++k) {
    const StoredEntry& e = members[k];
    Source s;
    s.path = folder + native_separator() + std::to_string(places[k]);
    s.stored = StoredName{e.header.folder, e.header.name};
    // The index walk gave the names in the system's text, as collect_sources has them.
    if (system_text_is_utf8() && utf8_valid(s.stored.folder) && utf8_valid(s.stored.name))
      s.name_flags = ENTRY_FLAG_UTF8_NAMES;
    s.info.exists = s.info.is_regular = true;
    s.info.size = e.header.size;
    s.info.mtime_ns = e.header.mtime_ns;
    s.info.attributes = e.header.attributes;
    s.info.unix_mode = e.header.unix_mode;
    existing.unpacked.push_back(std::move(s));
  }
  ReadJob read;
  read.archive_path = archive;
  read.destination = folder;
  read.index_start = start;
  // Chosen by place, not by path: a name twice in the index is two members.
  read.file_name = [&wanted](size_t entry) { return wanted.count(entry) ? std::to_string(entry) : std::string(); };
  RunResult result = read_archive_with(read, nullptr);
  if (!result.ok) problem = result.problems.empty() ? "cannot unpack its members" : result.problems.front();
  return result.ok;
}

}  // namespace

bool collect_sources(const CompressJob& job, std::vector<Source>& out, std::string& problem) {
  std::vector<std::string> files;
  OwnFiles own(job.archive_path, job.named_archive_path);
  for (const std::string& source : job.sources)
    if (!expand_source(source, own, files, problem)) return false;
  std::unordered_set<std::string> seen;
  std::vector<std::string> unique;
  for (const std::string& f : files)
    if (seen.insert(absolute(f)).second) unique.push_back(f);
  std::vector<std::string> full;
  for (const std::string& f : unique) full.push_back(absolute(f));
  std::vector<StoredName> names;
  bool system_utf8 = system_text_is_utf8();
  if (!stored_names(full, job.keep_folders, names, problem, job.names_below.empty() ? "" : absolute(job.names_below)))
    return false;
  out.clear();
  for (size_t i = 0; i < unique.size(); ++i) {
    Source s{unique[i], names[i], source_info(unique[i])};
    if (system_utf8 && utf8_valid(s.stored.folder) && utf8_valid(s.stored.name))
      s.name_flags = ENTRY_FLAG_UTF8_NAMES;
    MemberPathCheck check = check_member_path(s.stored.folder, s.stored.name);
    if (!check.ok) {
      problem = "cannot store " + unique[i] + ": " + check.reason;
      return false;
    }
    if (s.stored.folder.size() > MAX_TEXT_FIELD || s.stored.name.size() > MAX_TEXT_FIELD) {
      problem = "path too long to store (more than 32,767 bytes): " + unique[i];
      return false;
    }
    out.push_back(std::move(s));
  }
  return true;
}

Existing::~Existing() {
  // Whatever was put there meanwhile goes without being followed.
  if (!unpack_folder.empty()) remove_tree(unpack_folder);
}

bool plan_existing(const CompressJob& job, const std::vector<Source>& sources, Existing& existing,
                   std::string& problem) {
  if (!file_info(job.archive_path).exists) return true;
  int64_t start = index_start(job.archive_path);
  std::vector<StoredEntry> entries;
  if (!read_index(job.archive_path, start, entries, problem)) {
    problem = "cannot add to " + job.archive_path + ", left as it was: " + problem;
    return false;
  }
  existing.path = job.archive_path;
  std::unordered_set<std::string> replaced;
  for (const Source& s : sources) replaced.insert(s.stored.folder + s.stored.name);
  std::vector<StoredEntry> unpack;
  std::vector<size_t> places;  // of the unpacked entries in the index
  std::vector<char> kept(entries.size(), 0);  // copied as it is
  for (size_t first = 0, end = 0; first < entries.size(); first = end) {
    size_t hit = 0;
    for (end = first; end < entries.size() && (end == first || (entries[end].header.flags & ENTRY_FLAG_SOLID_NEXT)); ++end)
      hit += replaced.count(entries[end].header.path());
    // A copy whose member is not kept as it is would name a member written after it, or none.
    const StoredEntry& e = entries[first];
    bool orphan = e.source != StoredEntry::NO_SOURCE && !kept[e.source];
    if (hit > 0 || orphan) {
      for (size_t i = first; i < end && (end - first > 1 || orphan); ++i)
        if (!replaced.count(entries[i].header.path())) {
          unpack.push_back(entries[i]);
          places.push_back(i);
        }
      continue;
    }
    int64_t offset = entries[first].offset;
    int64_t stop = entries[end - 1].data_offset + static_cast<int64_t>(entries[end - 1].header.compressed_size);
    if (!existing.stretches.empty() && existing.stretches.back().first + existing.stretches.back().second == offset)
      existing.stretches.back().second += stop - offset;
    else
      existing.stretches.emplace_back(offset, stop - offset);
    for (size_t i = first; i < end; ++i) {
      kept[i] = 1;
      existing.members++;
      existing.bytes_in += entries[i].header.size;
    }
  }
  if (!unpack.empty() && !unpack_members(job.archive_path, start, unpack, places, existing, problem)) {
    problem = "cannot add to " + job.archive_path + ", left as it was: " + problem;
    return false;
  }
  return true;
}

}  // namespace compression

namespace compression {

void choose_filters(std::vector<Source>& sources, bool find_packed, bool find_text) {
  std::vector<uint8_t> head(FILTER_HEAD_BYTES);
  for (Source& s : sources) {
    File file;
    std::string ignored;
    if (s.info.size == 0 || !file.open_source(s.path, ignored)) continue;
    int64_t got = file.read(head.data(), head.size());
    if (got <= 0) continue;
    s.filter = filter_for_content(head.data(), static_cast<size_t>(got), s.filter_distance);
    s.packed = find_packed && s.filter == FILTER_NONE && looks_packed(head.data(), static_cast<size_t>(got));
    s.text = find_text && s.filter == FILTER_NONE && !s.packed && looks_text(head.data(), static_cast<size_t>(got));
  }
}

}  // namespace compression
