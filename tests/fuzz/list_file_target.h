// One fuzz input through the list-file parser. Shared by the libFuzzer harness and the native
// corpus replay.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "list_file.h"

inline void put_le(std::vector<uint8_t>& out, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// True when every invariant held: a refusal has a reason; an accepted list names an archive
// and at least one file, holds no NUL and encodes back to exactly the bytes read.
inline bool list_file_fuzz_one(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  ListFile list;
  std::string problem;
  if (!parse_list_file(bytes, list, problem)) return !problem.empty();
  if (list.archive_path.empty() || list.paths.empty()) return false;
  std::vector<uint8_t> again;
  put_le(again, list.paths.size(), 8);
  put_le(again, list.paths.size(), 8);
  put_le(again, list.archive_path.size(), 4);
  again.insert(again.end(), list.archive_path.begin(), list.archive_path.end());
  put_le(again, list.paths.size(), 4);
  for (const std::string& path : list.paths) {
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    put_le(again, path.size(), 4);
    again.insert(again.end(), path.begin(), path.end());
  }
  return list.archive_path.find('\0') == std::string::npos && again == bytes;
}
