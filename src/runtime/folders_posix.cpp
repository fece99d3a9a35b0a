// POSIX stand-in of the runtime's folder functions, for the native tests of the portable logic.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "format/utf8_text.h"
#include "runtime/folders.h"

namespace {

// Paths reach the runtime with "\" between names, as on the system the program is built for.
void use_system_separators(std::string& path) {
  for (size_t i = path.find('\\'); i != std::string::npos; i = path.find('\\', i + 1)) path[i] = '/';
}

std::string system_path(std::string path) {
  use_system_separators(path);
  return path;
}

timespec to_timespec(int64_t ns) {
  int64_t seconds = ns / 1000000000 - (ns % 1000000000 < 0 ? 1 : 0);
  return {static_cast<time_t>(seconds), static_cast<long>(ns - seconds * 1000000000)};
}

}  // namespace

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
  return !p.empty() && mkdir(system_path(p).c_str(), 0755) == 0;
}

// These file systems give no second, short name: a path reaches no file but its own.
EmptyFile create_empty_file(const std::string& path, size_t own_names, bool has_time, int64_t time_ns) {
  (void)own_names;
  // Called for every member: the copy's storage is kept from call to call.
  thread_local std::string own;
  own.assign(path);
  use_system_separators(own);
  int fd = open(own.c_str(), O_WRONLY | O_CREAT, 0644);
  if (fd < 0) return EmptyFile::refused;
  const timespec times[2] = {{0, UTIME_OMIT}, to_timespec(time_ns)};
  if (has_time) futimens(fd, times);
  close(fd);
  return EmptyFile::created;
}

void set_folder_time(const std::string& folder, int64_t time_ns) {
  const timespec times[2] = {{0, UTIME_OMIT}, to_timespec(time_ns)};
  utimensat(AT_FDCWD, system_path(folder).c_str(), times, AT_SYMLINK_NOFOLLOW);
}
