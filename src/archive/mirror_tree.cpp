#include "archive/mirror_tree.h"

#include "tool/path_safety.h"

bool mirror_entry_safe(const std::string& folder, const std::string& name) {
  if (name.empty()) return folder.empty() || check_member_path(folder, "_").ok;
  return check_member_path(folder, name).ok;
}
