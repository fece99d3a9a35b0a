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

void remove_stale_temporaries(const std::string& archive_path) {
  std::string folder, archive_name;
  split_archive_path(archive_path, folder, archive_name);
  std::vector<std::string> names;
  list_directory(folder, names);  // what could not be listed stays for a later run
  std::string prefix = folder;
  if (prefix.back() != '/' && prefix.back() != '\\') prefix += native_separator();
  for (const std::string& name : names) {
    if (!is_archive_temporary(archive_name, name)) continue;
    std::string path = prefix + name;
    FileInfo info = file_info(path);
    if (info.is_directory && !info.is_link) remove_tree(path);
    else remove_file(path);
  }
}
