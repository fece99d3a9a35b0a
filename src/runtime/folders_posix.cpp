// POSIX stand-in of the runtime's folder functions, for the native tests of the portable logic.
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "format/utf8_text.h"
#include "runtime/folders.h"

bool enumerate_folder(const std::string& folder, const std::string& pattern, const FolderVisitor& visit) {
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return false;
  bool everything = pattern == "*.*" || pattern == "*";
  while (dirent* d = readdir(dir)) {
    if (!everything && fnmatch(pattern.c_str(), d->d_name, 0) != 0) continue;
    struct stat st;
    FolderEntry entry;
    entry.name = d->d_name;
    if (lstat((folder + d->d_name).c_str(), &st) == 0) {
      entry.is_link = S_ISLNK(st.st_mode);
      entry.is_folder = S_ISDIR(st.st_mode);
    }
    visit(entry);
  }
  closedir(dir);
  return true;
}

void delete_folder_tree(const std::string& folder) {
  std::string base = folder;
  if (!base.empty() && base.back() != '/') base += '/';
  std::vector<FolderEntry> entries;
  enumerate_folder(base, "*", [&](const FolderEntry& e) { entries.push_back(e); });
  for (const FolderEntry& e : entries) {
    if (e.name == "." || e.name == "..") continue;
    if (e.is_folder && !e.is_link)
      delete_folder_tree(base + e.name);
    else
      unlink((base + e.name).c_str());
  }
  rmdir(base.c_str());
}

bool create_one_folder(const std::string& path) {
  std::string p = path.substr(0, utf8_cut(path, 260));  // never half a character
  while (!p.empty() && (p.back() == ' ' || p.back() == '\\' || p.back() == '/')) p.pop_back();
  return !p.empty() && mkdir(p.c_str(), 0755) == 0;
}
