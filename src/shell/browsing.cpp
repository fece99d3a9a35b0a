#include "shell/browsing.h"

std::string parent_path(const std::string& folder) {
  size_t n = folder.size();
  if (n > 0 && folder[n - 1] == '\\') --n;
  while (n > 0 && folder[n - 1] != '\\') --n;
  if (n > 2) return folder.substr(0, n) + "*.*";
  return std::string();
}
