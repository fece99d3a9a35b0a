#include "archive_commit.h"

#include <vector>

void split_archive_path(const std::string& path, std::string& folder, std::string& name) {
  size_t cut = path.find_last_of(native_separator() == '\\' ? "\\/:" : "/");
  if (cut == std::string::npos) {
    folder = ".";
    name = path;
    return;
  }
  name = path.substr(cut + 1);
  // "/x.vnr" and "C:\x.vnr" keep their root; "C:x.vnr" lies in that drive's current folder.
  if (path[cut] == ':') folder = path.substr(0, cut + 1) + ".";
  else folder = path.substr(0, cut == 0 || (cut == 2 && path[1] == ':') ? cut + 1 : cut);
}

std::string lock_problem(const std::string& archive_path, ArchiveLock::Outcome outcome, int wait_ms) {
  if (outcome == ArchiveLock::Outcome::BUSY)
    return archive_path + " is being written by another run; gave up after " + std::to_string((wait_ms + 999) / 1000) +
           " seconds and changed nothing (try again when that run has ended)";
  if (outcome == ArchiveLock::Outcome::NOT_PLAIN)
    return "refused " + archive_path + ".vantor-lock, which keeps other runs away from the archive: it is a link, a "
           "folder or a file with other names, not a lock a run makes; nothing was changed";
  return "cannot create or lock " + archive_path + ".vantor-lock, which keeps other runs away from the archive: " +
         last_error_text();
}

namespace {

char folded(char c) { return names_ignore_case() && c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool hex_digit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

}  // namespace

bool is_archive_temporary(const std::string& archive_name, const std::string& name) {
  // Another run may have named the same archive in other letter case where case is ignored.
  const std::string head = archive_name + ".vantor-";
  if (name.size() < head.size() + 16) return false;
  for (size_t i = 0; i < head.size(); ++i)
    if (folded(name[i]) != folded(head[i])) return false;
  for (size_t i = head.size(); i < head.size() + 16; ++i)
    if (!hex_digit(name[i])) return false;
  std::string tail = name.substr(head.size() + 16);
  if (tail == ".tmp" || tail == ".d") return true;
  if (tail.size() <= 5 || tail.compare(0, 5, ".tmp.") != 0) return false;
  for (size_t i = 5; i < tail.size(); ++i)
    if (tail[i] < '0' || tail[i] > '9') return false;
  return true;
}

bool is_archive_lock(const std::string& archive_name, const std::string& name) {
  const std::string lock = archive_name + ".vantor-lock";
  if (name.size() != lock.size()) return false;
  for (size_t i = 0; i < lock.size(); ++i)
    if (folded(name[i]) != folded(lock[i])) return false;
  return true;
}

void remove_stale_temporaries(const std::string& archive_path) {
  std::string folder, archive_name;
  split_archive_path(archive_path, folder, archive_name);
  std::vector<std::string> names;
  list_directory(folder, names);  // what could not be listed stays for a later run
  std::string prefix = folder;
  if (prefix.back() != '/' && prefix.back() != '\\') prefix += native_separator();
  for (const std::string& name : names) {
    if (!is_archive_temporary(archive_name, name)) continue;
    remove_tree(prefix + name);
  }
}
