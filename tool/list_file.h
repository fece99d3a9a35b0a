// Reading "master.lis", the list file the front end writes before a compress run.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct ListFile {
  std::string archive_path;
  std::vector<std::string> paths;
};

// Parses the list file's bytes: n (64-bit), n again (64-bit), the archive path with a 32-bit
// length, n (32-bit), then n length-prefixed paths. Every count and length is checked against
// the others and against the bytes present; a count of 0, a negative length, an empty path
// and a NUL byte in any path refuse the whole list.
bool parse_list_file(const std::vector<uint8_t>& bytes, ListFile& out, std::string& problem);
