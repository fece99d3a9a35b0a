#include "member_names.h"

#include <algorithm>
#include <unordered_map>

namespace {

bool is_separator(char c) { return c == '/' || c == '\\'; }

}  // namespace

std::vector<std::string> storage_components(const std::string& path) {
  size_t pos = 0;
  bool unc = path.size() >= 2 && is_separator(path[0]) && is_separator(path[1]);
  std::vector<std::string> raw;
  std::string current;
  for (; pos <= path.size(); ++pos) {
    if (pos == path.size() || is_separator(path[pos])) {
      raw.push_back(current);
      current.clear();
    } else {
      current += path[pos];
    }
  }
  size_t first = 0;
  if (unc) {
    // "\\server\share\..." and "\\?\C:\...": skip the two empty leaders, then the host part.
    first = 2;
    if (first < raw.size() && (raw[first] == "?" || raw[first] == ".")) {
      ++first;
      if (first < raw.size() && raw[first].size() == 2 && raw[first][1] == ':') ++first;
      else if (first < raw.size() && raw[first] == "UNC") first += 3;
    } else {
      first += 2;
    }
  } else if (!raw.empty() && raw[0].size() == 2 && raw[0][1] == ':') {
    first = 1;
  }
  std::vector<std::string> parts;
  for (size_t i = first; i < raw.size(); ++i) {
    const std::string& part = raw[i];
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  return parts;
}

bool stored_names(const std::vector<std::string>& sources, bool keep_folders,
                  std::vector<StoredName>& out, std::string& problem, const std::string& below) {
  std::vector<std::vector<std::string>> split;
  split.reserve(sources.size());
  size_t common = 0;
  for (size_t i = 0; i < sources.size(); ++i) {
    split.push_back(storage_components(sources[i]));
    const std::vector<std::string>& parts = split.back();
    if (parts.empty()) {
      problem = "not a file path: " + sources[i];
      return false;
    }
    if (!below.empty()) continue;
    size_t folders = parts.size() - 1;
    if (i == 0) {
      common = folders;
      continue;
    }
    size_t same = 0;
    while (same < common && same < folders && split[0][same] == parts[same]) ++same;
    common = same;
  }
  if (!below.empty() && keep_folders) {
    std::vector<std::string> base = storage_components(below);
    for (size_t i = 0; i < split.size(); ++i)
      if (split[i].size() <= base.size() || !std::equal(base.begin(), base.end(), split[i].begin())) {
        problem = sources[i] + " is not below " + below;
        return false;
      }
    common = base.size();
  }
  out.clear();
  out.reserve(sources.size());
  std::unordered_map<std::string, size_t> seen;
  for (size_t i = 0; i < split.size(); ++i) {
    StoredName stored;
    const std::vector<std::string>& parts = split[i];
    stored.name = parts.back();
    if (keep_folders)
      for (size_t k = common; k + 1 < parts.size(); ++k) stored.folder += parts[k] + "/";
    auto [it, fresh] = seen.emplace(stored.folder + stored.name, i);
    if (!fresh) {
      problem = "two files would be stored as " + stored.folder + stored.name + ": " +
                sources[it->second] + " and " + sources[i];
      return false;
    }
    out.push_back(stored);
  }
  return true;
}
