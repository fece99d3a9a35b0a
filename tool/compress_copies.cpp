// Writing an archive, the copies: files of one run with the same bytes are stored once; every
// later one becomes an entry naming the first, written after all the compressed units.
#include <zlib.h>

#include <algorithm>
#include <map>
#include <unordered_map>

#include "compress_stages.h"

namespace compression {
namespace {

constexpr size_t COMPARE_CHUNK = 1 << 20;
constexpr int64_t HEAD_BYTES = 64 << 10;  // files of one size whose heads differ are never read whole

std::string copy_key(const Source& s) {
  return static_cast<char>(s.name_flags & ENTRY_FLAG_UTF8_NAMES) + s.stored.folder + s.stored.name;
}

// What the search reads with, and whether the run was asked to stop.
struct Reading {
  RunControl* control = nullptr;
  std::vector<uint8_t> one = std::vector<uint8_t>(COMPARE_CHUNK);
  std::vector<uint8_t> two = std::vector<uint8_t>(COMPARE_CHUNK);
  bool stopped() const { return cancelled(control); }
};

// CRC-32 of a file's first `length` bytes, or false when it cannot be read as long as that.
bool crc_of(const Source& s, int64_t length, uint32_t& crc, Reading& r) {
  File file;
  std::string ignored;
  if (!file.open_source(s.path, ignored)) return false;
  crc = crc32(0, nullptr, 0);
  for (int64_t left = length; left > 0 && !r.stopped();) {
    int64_t got = file.read(r.one.data(), static_cast<size_t>(std::min<int64_t>(left, COMPARE_CHUNK)));
    if (got <= 0) return false;
    crc = crc32_z(crc, r.one.data(), static_cast<size_t>(got));
    left -= got;
  }
  return !r.stopped();
}

// Whether two files of `size` bytes hold the same bytes: a hash alone could lose data.
bool same_bytes(const std::string& a, const std::string& b, int64_t size, Reading& r) {
  File fa, fb;
  std::string ignored;
  if (!fa.open_source(a, ignored) || !fb.open_source(b, ignored)) return false;
  for (int64_t left = size; left > 0;) {
    size_t n = static_cast<size_t>(std::min<int64_t>(left, COMPARE_CHUNK));
    if (r.stopped() || fa.read(r.one.data(), n) != static_cast<int64_t>(n) ||
        fb.read(r.two.data(), n) != static_cast<int64_t>(n) ||
        !std::equal(r.one.begin(), r.one.begin() + static_cast<std::ptrdiff_t>(n), r.two.begin()))
      return false;
    left -= static_cast<int64_t>(n);
  }
  return true;
}

// Files of one size and head: each is a copy of the first earlier one with its bytes, when there is one.
void match_group(const std::vector<Source>& sources, const std::vector<size_t>& group,
                 const std::unordered_map<std::string, int>& key_count, std::vector<size_t>& copy_of,
                 std::vector<uint32_t>& crcs, Reading& r) {
  std::map<uint32_t, std::vector<size_t>> firsts;  // by CRC: files that are no copy
  for (size_t i : group) {
    uint32_t crc = 0;
    if (!crc_of(sources[i], sources[i].info.size, crc, r)) continue;  // reading it again reports the problem
    crcs[i] = crc;
    std::vector<size_t>& same = firsts[crc];
    for (size_t first : same) {
      if (same_bytes(sources[first].path, sources[i].path, sources[i].info.size, r)) {
        copy_of[i] = first;
        break;
      }
    }
    // A copy finds its member by path, the last one before it: only a path the run holds once
    // names one member for sure.
    if (copy_of[i] == SIZE_MAX && key_count.at(copy_key(sources[i])) == 1) same.push_back(i);
  }
}

// Files of one size, split by the CRC-32 of their heads; the groups that still hold two or more
// are matched in full.
void match_size(const std::vector<Source>& sources, std::vector<size_t>& group,
                const std::unordered_map<std::string, int>& key_count, std::vector<size_t>& copy_of,
                std::vector<uint32_t>& crcs, Reading& r) {
  std::sort(group.begin(), group.end());  // the planned order decides which is kept
  std::map<uint32_t, std::vector<size_t>> by_head;
  for (size_t i : group) {
    uint32_t head = 0;
    if (crc_of(sources[i], std::min(sources[i].info.size, HEAD_BYTES), head, r)) by_head[head].push_back(i);
  }
  for (auto& [head, same_head] : by_head)
    if (same_head.size() > 1) match_group(sources, same_head, key_count, copy_of, crcs, r);
}

}  // namespace

bool find_copies(std::vector<Source>& sources, std::vector<Copy>& copies, RunControl* control) {
  std::unordered_map<int64_t, std::vector<size_t>> by_size;
  std::unordered_map<std::string, int> key_count;
  for (size_t i = 0; i < sources.size(); ++i) {
    key_count[copy_key(sources[i])]++;
    if (sources[i].info.size > 0) by_size[sources[i].info.size].push_back(i);
  }
  std::vector<size_t> copy_of(sources.size(), SIZE_MAX);
  std::vector<uint32_t> crcs(sources.size(), 0);
  Reading reading{control};
  for (auto& [size, group] : by_size) {
    if (group.size() < 2) continue;
    match_size(sources, group, key_count, copy_of, crcs, reading);
    if (reading.stopped()) return false;
  }
  // Copies leave the sources; their targets are renumbered to the places that remain.
  std::vector<size_t> place(sources.size());
  std::vector<Source> kept;
  for (size_t i = 0; i < sources.size(); ++i) {
    if (copy_of[i] != SIZE_MAX) {
      copies.push_back(Copy{std::move(sources[i]), place[copy_of[i]], crcs[i]});
      continue;
    }
    place[i] = kept.size();
    kept.push_back(std::move(sources[i]));
  }
  sources = std::move(kept);
  return true;
}

bool write_copies(const std::vector<Copy>& copies, const std::vector<Source>& sources,
                  const std::vector<WrittenData>& written, BufferedWriter& out, RunResult& result) {
  for (const Copy& c : copies) {
    const Source& target = sources[c.target];
    // The target as compressed must be what the copy was found equal to.
    if (written[c.target].size != c.source.info.size || written[c.target].crc != c.crc) {
      result.problems.push_back(target.path + " changed while it was read (" + c.source.path +
                                " was found equal to it); the archive was left as it was");
      return false;
    }
    EntryHeader h;
    h.name = c.source.stored.name;
    h.folder = c.source.stored.folder;
    h.flags = c.source.name_flags;
    h.mtime_ns = c.source.info.mtime_ns;
    h.attributes = c.source.info.attributes;
    h.unix_mode = c.source.info.unix_mode;
    h.method = METHOD_STORE;
    h.size = c.source.info.size;
    h.crc = c.crc;
    h.copy_of = target.stored.folder + target.stored.name;
    h.copy_of_flags = target.name_flags & ENTRY_FLAG_UTF8_NAMES;
    h.entry_length = header_size(h);
    std::vector<uint8_t> bytes = encode_header(h);
    if (!out.write(bytes.data(), bytes.size())) {
      result.problems.push_back("cannot write the archive");
      return false;
    }
    result.members++;
    result.bytes_in += h.size;
  }
  return true;
}

}  // namespace compression
