#include <windows.h>

#include "format/utf8_text.h"
#include "runtime/find_entries_win.h"
#include "runtime/folders.h"

namespace {

bool is_dot_entry(const char* name) { return name[0] == '.' && (!name[1] || (name[1] == '.' && !name[2])); }

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
