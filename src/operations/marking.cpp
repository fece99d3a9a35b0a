#include "operations/marking.h"

#include <unordered_set>

MarkingResult mark_entries(ByteSource& archive, int64_t start, const std::vector<std::string>& chosen,
                           const std::string& temp_root, const std::string& launch_root, const IndexPoll& poll) {
  std::unordered_set<std::string> wanted(chosen.begin(), chosen.end());
  MarkingResult result;
  std::string target;
  IndexWalkResult walk = index_mark(
      archive, start,
      [&](const IndexEntry& e) -> uint8_t {
        if (!wanted.count(temp_root + e.folder + e.name)) return 0;
        target = launch_root + e.folder + e.name;
        ++result.marked;
        return 1;
      },
      &result.written, poll);
  result.entries = walk.entries;
  result.damaged_at = walk.damage_position;
  if (result.written) result.launch_target = target;
  return result;
}
