#include "operations/delete_members.h"

#include "runtime/text.h"

namespace {

std::string counted(int n, const char* one, const char* many) { return str(n) + " " + (n == 1 ? one : many); }

}  // namespace

std::string delete_question_text(const std::string& archive_path, int members, int folders) {
  if (folders == 0)
    return "Remove " + counted(members, "member", "members") + " from " + archive_path + "? This cannot be undone.";
  return "Remove " + counted(members, "member", "members") + " and " + counted(folders, "folder", "folders") +
         " from " + archive_path + " (a folder goes with everything below it)? This cannot be undone.";
}

std::vector<std::string> member_paths(const SelectionTable& selection, const std::string& temp_root) {
  std::vector<std::string> paths;
  for (int slot = 1; slot <= selection.selection_count; ++slot) {
    const std::string& path = selection.selection_list[static_cast<size_t>(slot)];
    if (path.size() > temp_root.size() && path.compare(0, temp_root.size(), temp_root) == 0)
      paths.push_back(path.substr(temp_root.size()));
  }
  return paths;
}
