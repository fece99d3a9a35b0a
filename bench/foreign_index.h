// A large index of foreign entries (no member data and no archiver fields: only the index
// matters to the front end), written for the benchmarks that open big archives.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

namespace bench {

inline void put(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

// An index of `members` entries spread over `folders` folders (no member data: only the index
// matters to the front end).
inline void write_archive(const std::string& path, int members, int folders) {
  std::string bytes;
  for (int i = 0; i < members; ++i) {
    std::string folder = "folder" + std::to_string(i % folders) + "/";
    std::string name = "member" + std::to_string(i) + ".dat";
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
