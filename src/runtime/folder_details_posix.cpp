// POSIX stand-in for the native tests and benchmarks: links are seen with lstat, never followed.
#include <dirent.h>
#include <sys/stat.h>

#include "runtime/folder_details.h"

namespace {

constexpr int64_t EPOCH_1601_TO_1970 = 116444736000000000;

int64_t ticks(const timespec& t) { return static_cast<int64_t>(t.tv_sec) * 10000000 + t.tv_nsec / 100 + EPOCH_1601_TO_1970; }

}  // namespace

bool enumerate_folder_details(const std::string& folder, const DetailVisitor& visit) {
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return false;
  FolderDetail entry;
  while (dirent* d = readdir(dir)) {
    const char* n = d->d_name;
    if (n[0] == '.' && (!n[1] || (n[1] == '.' && !n[2]))) continue;
    entry.name = n;
    struct stat st;
    if (lstat((folder + n).c_str(), &st) != 0) continue;  // gone since it was listed
    entry.is_link = S_ISLNK(st.st_mode);
    entry.is_folder = S_ISDIR(st.st_mode);
    entry.size = entry.is_folder ? 0 : static_cast<int64_t>(st.st_size);
    entry.write_time = ticks(st.st_mtim);
    entry.creation_time = ticks(st.st_ctim);
    entry.access_time = ticks(st.st_atim);
    if (!visit(entry)) break;
  }
  closedir(dir);
  return true;
}
