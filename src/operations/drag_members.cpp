#include "operations/drag_members.h"

#include "runtime/text.h"

std::vector<std::string> dragged_member_paths(const std::string& fresh_folder, const std::string& list_folder,
                                              const std::string& mirror_root,
                                              const std::vector<std::string>& row_names) {
  std::vector<std::string> paths;
  if (list_folder.size() < mirror_root.size() || list_folder.compare(0, mirror_root.size(), mirror_root) != 0)
    return paths;
  std::string below = list_folder.substr(mirror_root.size());
  for (const std::string& name : row_names)
    if (!name.empty() && name != "..") paths.push_back(fresh_folder + below + name);
  return paths;
}

std::string drag_folder(const std::string& drag_root, int n) { return drag_root + str(n) + "\\"; }
