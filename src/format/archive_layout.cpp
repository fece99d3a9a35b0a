#include "format/archive_layout.h"

int64_t index_start(const std::string& archive_path) {
  size_t start = archive_path.find_last_of("\\/");
  start = start == std::string::npos ? 0 : start + 1;
  size_t dot = archive_path.rfind('.');
  if (dot == std::string::npos || dot < start) return 0;
  std::string extension = archive_path.substr(dot + 1);
  return (extension == "exe" || extension == "EXE") ? INDEX_STUB_SIZE : 0;
}

std::string self_extracting_path(const std::string& archive_path) {
  size_t start = archive_path.find_last_of("\\/");
  start = start == std::string::npos ? 0 : start + 1;
  size_t dot = archive_path.rfind('.');
  std::string stem = (dot == std::string::npos || dot <= start) ? archive_path : archive_path.substr(0, dot);
  return stem + ".exe";
}
