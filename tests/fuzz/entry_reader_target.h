// One fuzz input through both readings of an entry: the front end's walk, which takes foreign
// entries, and the archiver's, which takes only its own. Where both accept the first entry they
// must agree on its frozen part. Shared by the libFuzzer harness and the native corpus replay.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/index_walk.h"
#include "format/archive_format.h"
#include "format/utf8_text.h"

// True when every invariant held.
inline bool entry_reader_fuzz_one(const uint8_t* data, size_t size) {
  EntryHeader own;
  size_t needed = 0;
  std::string problem;
  DecodeStatus status = decode_header(data, size, own, needed, problem);
  if (status == DecodeStatus::NEED_MORE && needed <= size) return false;
  if (status == DecodeStatus::BAD && problem.empty()) return false;

  MemorySource source(std::vector<uint8_t>(data, data + size));
  std::vector<IndexEntry> walked;
  IndexWalkResult walk = index_walk(source, 0, [&](const IndexEntry& e) { walked.push_back(e); }, {}, 1);
  if (status != DecodeStatus::OK) return true;

  // Every entry the archiver takes, the walk takes, reading the same frozen part the walk's way:
  // names up to their first zero byte, as the system sees them, the folder with "\".
  if (walked.size() != 1) return false;
  const IndexEntry& e = walked[0];
  bool utf8 = system_text_is_utf8();
  std::string folder = name_for_system(own.folder.c_str(), utf8);
  std::replace(folder.begin(), folder.end(), '/', '\\');
  if (e.name != name_for_system(own.name.c_str(), utf8) || e.folder != folder) return false;
  if (e.size != own.size || e.position != 0 || e.mark_offset != mark_offset(own)) return false;
  if (!e.has_mtime || e.mtime_ns != own.mtime_ns) return false;
  // Both follow the same entry length to the next entry.
  bool inside = own.entry_length <= static_cast<int64_t>(size);
  if (inside ? walk.stop_position != own.entry_length : walk.end != IndexEnd::past_end) return false;

  // Written back, the header is the bytes it was read from.
  std::vector<uint8_t> again = encode_header(own);
  return again.size() == needed && std::equal(again.begin(), again.end(), data);
}
