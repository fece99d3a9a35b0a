#include "shell/startup.h"

#include <cstdio>

#include "runtime/text.h"

std::string startup_document_from(const std::string& current_directory, const std::string& command_line) {
  size_t start = command_line.find_last_of("\\/");
  if (start != std::string::npos)
    start += 1;
  else
    start = (!command_line.empty() && command_line[0] == '"') ? 1 : 0;
  size_t end = command_line.find('"', start);
  std::string file = command_line.substr(start, end == std::string::npos ? std::string::npos : end - start);
  return with_trailing_backslash(current_directory) + file;
}

bool is_archive_name(const std::string& path) { return file_extension(path) == "vnr"; }

std::string memory_text(uint64_t free_bytes) {
  char number[64];
  std::snprintf(number, sizeof(number), "%.1f", static_cast<double>(free_bytes) / 1048576.0);
  return std::string("System free Mem:") + number + " MB ";
}
