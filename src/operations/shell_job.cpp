#include "operations/shell_job.h"

#include <cstdint>
#include <cstdio>

namespace {

struct VerbName {
  JobVerb verb;
  const char* name;
};
const VerbName VERBS[] = {{JobVerb::ADD_VNR, "add-vnr"}, {JobVerb::ADD_ZIP, "add-zip"}, {JobVerb::EACH, "each"},
                          {JobVerb::HERE, "here"},       {JobVerb::TO, "to"},           {JobVerb::VERIFY, "verify"}};

bool is_separator(char c) { return c == '\\' || c == '/'; }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_folder(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i]) && !(is_separator(a[i]) && is_separator(b[i]))) return false;
  return true;
}

std::string name_of(const std::string& item) {
  size_t slash = item.find_last_of("\\/");
  return slash == std::string::npos ? item : item.substr(slash + 1);
}

// "a.txt" -> "a"; ".profile" and "README" stay whole.
std::string without_extension(const std::string& name) {
  size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

}  // namespace

bool job_verb_from(const std::string& name, JobVerb& verb) {
  std::string low;
  for (char c : name) low += lower(c);
  for (const VerbName& v : VERBS)
    if (low == v.name) {
      verb = v.verb;
      return true;
    }
  return false;
}

const char* job_verb_name(JobVerb verb) {
  for (const VerbName& v : VERBS)
    if (v.verb == verb) return v.name;
  return "";
}

bool job_joins(JobVerb verb) { return verb == JobVerb::ADD_VNR || verb == JobVerb::ADD_ZIP || verb == JobVerb::EACH; }

std::string job_usage_text() {
  return "Usage: WinVantor.exe /job:<verb> \"<path>\"...\n"
         "add-vnr, add-zip: add the items to \"<name>.vnr\" or \"<name>.zip\" beside them\n"
         "each: every item to its own \"<name>.vnr\"\n"
         "here: extract the archive beside it (no extra folder for a single top folder)\n"
         "to: extract the archive into a new folder named after it\n"
         "verify: test the archive";
}

std::string item_without_trailing_separator(const std::string& item) {
  std::string out = item;
  // "C:\" keeps its separator: without it the drive's current folder would be meant.
  while (out.size() > 1 && is_separator(out.back()) && !(out.size() == 3 && out[1] == ':')) out.pop_back();
  return out;
}

std::string item_folder(const std::string& item) {
  std::string path = item_without_trailing_separator(item);
  size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos || slash + 1 == path.size()) return std::string();
  std::string folder = path.substr(0, slash + 1);
  // "\\server\share\" is a root: a share cannot be added as a whole either.
  if (folder.size() > 2 && is_separator(folder[0]) && is_separator(folder[1])) {
    size_t parts = 0;
    for (size_t i = 2; i < folder.size(); ++i) parts += is_separator(folder[i]);
    if (parts < 2) return std::string();
  }
  return folder;
}

AddTarget add_target(const std::vector<std::string>& items, const std::vector<bool>& is_folder,
                     const std::string& extension) {
  AddTarget t;
  if (items.empty()) {
    t.problem = "No file or folder was named.";
    return t;
  }
  for (const std::string& item : items) {
    std::string folder = item_folder(item);
    if (folder.empty()) {
      t.problem = item + " is a whole drive or share: choose the files and folders on it instead.";
      return t;
    }
    if (t.base.empty()) t.base = folder;
    // Shorten the base to the folder that holds both.
    while (!t.base.empty() && !(folder.size() >= t.base.size() && same_folder(folder.substr(0, t.base.size()), t.base)))
      t.base = item_folder(t.base);
    if (t.base.empty()) {
      t.problem = "The chosen items lie on different drives: no one folder holds them.";
      return t;
    }
  }
  std::string name;
  if (items.size() == 1) {
    std::string item_name = name_of(item_without_trailing_separator(items[0]));
    name = !is_folder.empty() && is_folder[0] ? item_name : without_extension(item_name);
  } else {
    name = name_of(item_without_trailing_separator(t.base));
    if (name.empty() || name.back() == ':') name = "Archive";
  }
  t.archive = t.base + name + "." + extension;
  // "Add to a.vnr" of a.vnr itself would add the archive into itself: it keeps its whole name.
  if (items.size() == 1 && same_folder(t.archive, item_without_trailing_separator(items[0])))
    t.archive = t.base + name_of(item_without_trailing_separator(items[0])) + "." + extension;
  return t;
}

std::string job_add_parameters(const std::string& base, const std::string& list_file) {
  return " a -y -r -w\"" + base + "\" -t0 -m3 x \"" + list_file + "\"";
}

std::string job_join_key(JobVerb verb, const std::string& folder) {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  std::string f = item_without_trailing_separator(folder);
  for (char c : f) {
    hash ^= static_cast<unsigned char>(is_separator(c) ? '\\' : lower(c));
    hash *= 1099511628211ull;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return std::string("VantorJob-") + job_verb_name(verb) + "-" + hex;
}
