// A large index for the benchmarks that open big archives (no member data: only the index
// matters to the front end). Undated members are foreign entries without the archiver's fields;
// dated ones are the archiver's own entries of stored empty members, each with its own time, as
// a real archive has them.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "format/archive_format.h"

namespace bench {

inline void put(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

inline std::string folder_of(int i, int folders) { return "folder" + std::to_string(i % folders); }
inline std::string name_of(int i) { return "member" + std::to_string(i) + ".dat"; }
// A time of its own per member, in whole seconds of 2020 onwards.
inline int64_t time_of(int i) { return (1577836800LL + 3600LL * i) * 1000000000LL; }

// An index of `members` entries spread over `folders` folders, member i in folder i % folders.
inline void write_archive(const std::string& path, int members, int folders, bool dated = false) {
  std::string bytes;
  for (int i = 0; i < members; ++i) {
    std::string folder = folder_of(i, folders) + "/", name = name_of(i);
    if (dated) {
      EntryHeader h;
      h.flags = ENTRY_FLAG_UTF8_NAMES;
      h.name = name;
      h.folder = folder;
      h.method = METHOD_STORE;
      h.mtime_ns = time_of(i);
      h.entry_length = header_size(h);
      std::vector<uint8_t> e = encode_header(h);
      bytes.append(e.begin(), e.end());
      continue;
    }
    std::string e;
    put(e, 23 + name.size() + folder.size(), 8);
    e += "\x01\x02";
    put(e, name.size(), 2);
    e += name;
    put(e, folder.size(), 2);
    e += folder;
    put(e, static_cast<uint64_t>(i) * 100, 8);
    e.push_back('\0');
    bytes += e;
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

}  // namespace bench
