#include "archive/folder_scan.h"

#include "runtime/text.h"

namespace {

bool matches(const std::string& name, const std::string& name_pattern, const std::string& extension_pattern) {
  std::string extension, base = name;
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot + 1 < name.size()) {  // "file." has no extension: its base is the whole name
    extension = name.substr(dot + 1);
    base = name.substr(0, dot);
  }
  return (extension_pattern == "*" || to_lower_ascii(extension) == extension_pattern) &&
         (name_pattern == "*" || to_lower_ascii(base) == name_pattern);
}

}  // namespace

bool folder_scan(const std::string& folder, const std::string& name_pattern, const std::string& extension_pattern,
                 int depth, SelectionTable& s, const FolderEnumerator& enumerate) {
  if (depth > FOLDER_SCAN_MAX_DEPTH) return true;
  std::string d = with_trailing_backslash(folder);
  bool room = true;
  enumerate(d, "*.*", [&](const FolderEntry& e) {
    if (!room || e.name == "." || e.name == "..") return;
    if (e.is_folder)
      room = folder_scan(d + e.name + "\\", name_pattern, extension_pattern, depth + 1, s, enumerate);
    else if (matches(e.name, name_pattern, extension_pattern))
      room = selection_append(s, d + e.name);
  });
  return room;
}
