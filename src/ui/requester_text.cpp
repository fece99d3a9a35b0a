#include "ui/requester_text.h"

RequesterStart split_requester_path(const std::string& default_path) {
  RequesterStart start;
  size_t slash = default_path.rfind('\\');
  if (slash == std::string::npos) {
    start.file_name = default_path;
  } else {
    start.folder = default_path.substr(0, slash);
    start.file_name = default_path.substr(slash + 1);
  }
  for (char c : start.file_name) {
    if (static_cast<unsigned char>(c) < 32 || std::string("\"*/:<>?\\|").find(c) != std::string::npos) {
      start.file_name.clear();
      break;
    }
  }
  return start;
}

std::string requester_filter(const std::string& pattern) {
  if (pattern.empty()) return std::string();
  std::string filter = pattern;
  for (char& c : filter)
    if (c == '|') c = '\0';
  filter.push_back('\0');
  filter.push_back('\0');
  return filter;
}
