#include <windows.h>

#include "format/utf8_text.h"
#include "runtime/find_entries_win.h"
#include "runtime/folders.h"

namespace {

bool is_dot_entry(const char* name) { return name[0] == '.' && (!name[1] || (name[1] == '.' && !name[2])); }

// Nanoseconds since 1970 as a FILETIME (100 ns since 1601); false before 1601.
bool to_file_time(int64_t ns, FILETIME* out) {
  constexpr int64_t EPOCH_1601_TO_1970 = 116444736000000000;
  int64_t ticks = ns / 100 - (ns % 100 < 0 ? 1 : 0) + EPOCH_1601_TO_1970;
  if (ticks < 0) return false;
  out->dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks));
  out->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
  return true;
}

// Whether the file a handle reached has the last `count` components of `path` as its own names.
bool reached_by_own_names(HANDLE file, const std::string& path, size_t count) {
  char buffer[MAX_PATH * 4];
  DWORD n = GetFinalPathNameByHandleA(file, buffer, sizeof buffer, FILE_NAME_NORMALIZED);
  if (n == 0 || n >= sizeof buffer) return false;
  std::string final(buffer, n);
  size_t a = final.size(), b = path.size();
  for (size_t k = 0; k < count; ++k) {
    size_t ca = final.find_last_of('\\', a - 1), cb = path.find_last_of('\\', b - 1);
    if (ca == std::string::npos || cb == std::string::npos) return false;
    if (name_case_key(final.substr(ca + 1, a - ca - 1)) != name_case_key(path.substr(cb + 1, b - cb - 1))) return false;
    a = ca;
    b = cb;
  }
  return true;
}

}  // namespace

bool enumerate_folder(const std::string& folder, const std::string& pattern, const FolderVisitor& visit) {
  return find_entries(folder + pattern, [&](const FoundEntry& found) {
    FolderEntry entry;
    entry.name = found.name;
    entry.is_folder = found.is_folder();
    entry.is_link = (found.data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    visit(entry);
    return true;
  });
}

void delete_folder_tree(const std::string& folder) {
  if (folder.empty()) return;
  std::string base = folder;
  if (base.back() != '\\') base += '\\';
  DWORD attributes = GetFileAttributesA(base.substr(0, base.size() - 1).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    enumerate_folder(base, "*.*", [&](const FolderEntry& e) {
      if (is_dot_entry(e.name.c_str())) return;
      std::string path = base + e.name;
      if (e.is_folder && !e.is_link) {
        delete_folder_tree(path);
      } else if (e.is_folder) {
        RemoveDirectoryA(path.c_str());  // a junction: the link goes, its target stays
      } else {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
      }
    });
  }
  RemoveDirectoryA(base.substr(0, base.size() - 1).c_str());
}

bool create_one_folder(const std::string& path) {
  std::string p = path.substr(0, utf8_cut(path, 260));  // never half a character
  while (!p.empty() && (p.back() == ' ' || p.back() == '\\' || p.back() == '/')) p.pop_back();
  return !p.empty() && CreateDirectoryA(p.c_str(), nullptr) != 0;
}

// The time is set through the handle that created the file: the system takes no time when it
// creates one. Removing the file is asked for only where its names are checked.
EmptyFile create_empty_file(const std::string& path, size_t own_names, bool has_time, int64_t time_ns) {
  DWORD access = GENERIC_WRITE | (own_names > 0 ? DELETE : 0);
  HANDLE file = CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return EmptyFile::refused;
  bool made = GetLastError() != ERROR_ALREADY_EXISTS;
  if (own_names > 0 && !reached_by_own_names(file, path, own_names)) {
    FILE_DISPOSITION_INFO gone = {TRUE};
    if (made) SetFileInformationByHandle(file, FileDispositionInfo, &gone, sizeof gone);
    CloseHandle(file);
    return EmptyFile::elsewhere;
  }
  FILETIME t;
  if (has_time && to_file_time(time_ns, &t)) SetFileTime(file, nullptr, nullptr, &t);
  CloseHandle(file);
  return EmptyFile::created;
}

void set_folder_time(const std::string& folder, int64_t time_ns) {
  FILETIME t;
  if (!to_file_time(time_ns, &t)) return;
  HANDLE dir = CreateFileA(folder.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (dir == INVALID_HANDLE_VALUE) return;
  SetFileTime(dir, nullptr, nullptr, &t);
  CloseHandle(dir);
}
