// One fuzz input through the index walk and the marking pass, checking what must hold for any
// bytes. Shared by the libFuzzer harness and the native corpus replay.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/index_walk.h"

// A memory source that remembers any read or write reaching outside the bytes it holds.
class BoundsCheckedSource : public MemorySource {
 public:
  using MemorySource::MemorySource;
  size_t read_at(int64_t offset, void* buffer, size_t n) override {
    if (offset < 0 || static_cast<uint64_t>(offset) + n > bytes().size()) out_of_bounds = true;
    return MemorySource::read_at(offset, buffer, n);
  }
  bool write_at(int64_t offset, uint8_t byte) override {
    if (offset < 0 || offset >= size()) out_of_bounds = true;
    return MemorySource::write_at(offset, byte);
  }
  bool out_of_bounds = false;
};

// True when every invariant held.
inline bool index_walk_fuzz_one(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  BoundsCheckedSource source(bytes);
  std::vector<IndexEntry> entries;
  IndexWalkResult walk = index_walk(source, 0, [&](const IndexEntry& e) { entries.push_back(e); });
  if (source.out_of_bounds) return false;
  if (walk.entries != static_cast<int64_t>(entries.size()) || walk.entries > INDEX_ENTRY_LIMIT)
    return false;
  if (walk.stop_position < 0 || walk.stop_position > source.size()) return false;
  if (walk.sound() && walk.stop_position != source.size()) return false;
  int64_t previous = -1;
  for (const IndexEntry& e : entries) {
    if (e.position <= previous || e.mark_offset >= source.size()) return false;
    // A name read as code page 1252 grows to at most three bytes a character in UTF-8.
    if (e.mark_offset < e.position + 22 || e.name.size() > 3 * 32767 || e.folder.size() > 3 * 32767)
      return false;
    if (e.folder.find('/') != std::string::npos) return false;
    previous = e.position;
  }

  // The marking pass writes exactly the mark bytes of the entries the walk reached.
  BoundsCheckedSource marked(bytes);
  bool written = false;
  IndexWalkResult mark = index_mark(
      marked, 0, [](const IndexEntry& e) { return static_cast<uint8_t>(e.name.size() & 1); }, &written);
  if (marked.out_of_bounds || !written) return false;
  if (walk.end != IndexEnd::entry_limit && (mark.entries != walk.entries || mark.end != walk.end)) return false;
  std::vector<uint8_t> expected = bytes;
  for (const IndexEntry& e : entries)
    expected[static_cast<size_t>(e.mark_offset)] = static_cast<uint8_t>(e.name.size() & 1);
  return walk.end == IndexEnd::entry_limit || marked.bytes() == expected;
}
