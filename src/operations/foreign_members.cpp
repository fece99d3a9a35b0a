#include "operations/foreign_members.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "archive/foreign_listing.h"

std::vector<std::string> foreign_member_paths(const SelectionTable& selection, const EntryTable& entries) {
  // Two entries on one stand-in: the later one is the one the list shows, as for sizes.
  std::unordered_map<std::string, int> by_path;
  int listed = std::min(entries.entry_count, static_cast<int>(entries.entry_members.size()) - 1);
  for (int j = 1; j <= listed; ++j) by_path[entries.entry_paths[static_cast<size_t>(j)]] = j;
  std::vector<std::string> members;
  std::unordered_set<int> taken;
  for (int slot = 1; slot <= selection.selection_count; ++slot) {
    auto it = by_path.find(selection.selection_list[static_cast<size_t>(slot)]);
    if (it != by_path.end() && taken.insert(it->second).second)
      members.push_back(entries.entry_members[static_cast<size_t>(it->second)]);
  }
  return members;
}

bool removal_possible(const std::string& archive_path, const std::string& format) {
  // "vnr" from a listing: one of ours with its names sealed, changed through the list form too.
  return format.empty() || format == "vnr" || (format == "zip" && is_zip_name(archive_path));
}

std::string read_only_archive_text(const std::string& archive_path, const std::string& format) {
  return archive_path + " is read-only (" + format + "): members can be removed from .vnr and .zip archives only.";
}
