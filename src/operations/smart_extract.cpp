#include "operations/smart_extract.h"

#include "format/path_safety.h"

namespace {

bool is_separator(char c) { return c == '/' || c == '\\'; }

std::string file_part(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool ends_with_ci(const std::string& text, const std::string& tail) {
  if (text.size() < tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i) {
    char a = text[text.size() - tail.size() + i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (a != tail[i]) return false;
  }
  return true;
}

// The parts of a member path with empty and "." parts dropped; false when the path could leave
// the destination or name a place by itself (absolute, drive, "..").
bool safe_parts(const std::string& path, std::vector<std::string>& parts) {
  parts.clear();
  if (!path.empty() && is_separator(path[0])) return false;
  std::string part;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && !is_separator(path[i])) {
      part += path[i];
      continue;
    }
    if (part == "..") return false;
    if (!part.empty() && part != ".") parts.push_back(part);
    part.clear();
  }
  for (const std::string& p : parts)
    if (p.find(':') != std::string::npos) return false;
  return true;
}

}  // namespace

std::string archive_stem(const std::string& archive_path) {
  std::string name = file_part(archive_path);
  static const char* const COMPOUND[] = {".tar.gz", ".tar.bz2", ".tar.xz", ".tar.zst", ".tar.lz4", ".tar.z",
                                         ".tar.lzma", ".tar.lz"};
  bool cut = false;
  for (const char* tail : COMPOUND)
    if (!cut && ends_with_ci(name, tail) && name.size() > std::string(tail).size()) {
      name.resize(name.size() - std::string(tail).size());
      cut = true;
    }
  size_t dot = name.rfind('.');
  if (!cut && dot != std::string::npos && dot > 0) name.resize(dot);
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
  return name.empty() ? "Archive" : name;
}

std::string free_name(const std::string& wanted, bool is_file, const NameTaken& taken) {
  if (!taken(wanted)) return wanted;
  size_t dot = is_file ? wanted.rfind('.') : std::string::npos;
  if (dot == 0) dot = std::string::npos;  // ".profile" has no extension to keep
  std::string stem = dot == std::string::npos ? wanted : wanted.substr(0, dot);
  std::string extension = dot == std::string::npos ? std::string() : wanted.substr(dot);
  for (int n = 2; n <= 9999; ++n) {
    std::string candidate = stem + " (" + std::to_string(n) + ")" + extension;
    if (!taken(candidate)) return candidate;
  }
  return std::string();
}

SmartPlan smart_plan(const std::vector<SmartMember>& members, const std::string& archive_path,
                     const NameTaken& taken) {
  std::string top;
  bool unsafe = false, several = false, top_is_file = false, top_is_folder = false;
  size_t named = 0;  // members that name something below the destination
  std::vector<std::string> parts;
  for (const SmartMember& m : members) {
    if (!safe_parts(m.path, parts)) {
      unsafe = true;
      break;
    }
    if (parts.empty()) {
      // "./" of a tar names the destination itself; a file of no name is the archiver's to refuse.
      if (!m.folder) unsafe = true;
      continue;
    }
    ++named;
    if (top.empty()) top = parts[0];
    else if (parts[0] != top) several = true;
    if (parts.size() > 1 || m.folder) top_is_folder = true;
    else top_is_file = true;
  }
  SmartPlan plan;
  // One file alone, or one folder holding everything; a file and a folder of the same name are two.
  bool one_top = !unsafe && !several && !top.empty() && (top_is_folder != top_is_file) &&
                 (top_is_folder || named == 1) && check_member_path("", top).ok;
  if (one_top) {
    plan.in_place = true;
    plan.top = top;
    plan.top_is_file = top_is_file;
    plan.name = free_name(top, top_is_file, taken);
  } else {
    plan.name = free_name(archive_stem(archive_path), false, taken);
  }
  return plan;
}
