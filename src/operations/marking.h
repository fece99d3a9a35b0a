// The marking pass: one mark byte per index entry, 1 for the members chosen by mirror path.
#pragma once
#include <string>
#include <vector>

#include "archive/index_walk.h"

struct MarkingResult {
  bool written = false;       // the chain was sound and every mark was written
  bool damaged = false;       // the chain was not sound: nothing was written
  int entries = 0;
  int marked = 0;
  std::string launch_target;  // launch_root + folder + name of the last matching entry, or ""
};

// `chosen` holds mirror paths (temp_root + folder + name), compared byte for byte.
MarkingResult mark_entries(ByteSource& archive, int64_t start, const std::vector<std::string>& chosen,
                           const std::string& temp_root, const std::string& launch_root,
                           const IndexPoll& poll = {});
