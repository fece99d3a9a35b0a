// The marking pass: one mark byte per index entry, 1 for the members chosen by mirror path.
#pragma once
#include <string>
#include <vector>

#include "archive/index_walk.h"

struct MarkingResult {
  bool written = false;        // every entry the walk reached got its mark
  int64_t damaged_at = -1;     // where the chain breaks: members from there on cannot be extracted
  int64_t entries = 0;
  int64_t marked = 0;
  std::string launch_target;   // launch_root + folder + name of the last matching entry, or ""
};

// `chosen` holds mirror paths (temp_root + folder + name), compared byte for byte.
MarkingResult mark_entries(ByteSource& archive, int64_t start, const std::vector<std::string>& chosen,
                           const std::string& temp_root, const std::string& launch_root,
                           const IndexPoll& poll = {});
