#include "archive/mirror_tree.h"

#include "format/path_safety.h"
#include "format/utf8_text.h"
#include "runtime/text.h"

namespace {

uint64_t fnv1a(const std::string& text) {
  uint64_t h = 1469598103934665603ULL;
  for (unsigned char c : text) h = (h ^ c) * 1099511628211ULL;
  return h;
}

// "a\b\" gives "a\" and "a\b\".
template <typename Visit>
void each_folder_prefix(const std::string& folder, Visit visit) {
  for (size_t i = folder.find('\\'); i != std::string::npos; i = folder.find('\\', i + 1)) visit(folder.substr(0, i + 1));
}

std::string members(int64_t n) { return str(n) + (n == 1 ? " member" : " members"); }

}  // namespace

bool mirror_entry_safe(const std::string& folder, const std::string& name) {
  if (name.empty()) return folder.empty() || check_member_path(folder, "_").ok;
  return check_member_path(folder, name).ok;
}

bool MirrorNames::clashes(const std::unordered_map<uint64_t, uint64_t>& taken, const std::string& path) const {
  auto it = taken.find(fnv1a(name_case_key(path)));
  return it != taken.end() && it->second != fnv1a(path);
}

MirrorSkip MirrorNames::check(const std::string& root, const std::string& folder, const std::string& name) {
  if (!mirror_entry_safe(folder, name)) return MirrorSkip::unsafe_name;
  if (root.size() + folder.size() > MIRROR_FOLDER_PATH_LIMIT + 1) return MirrorSkip::folder_too_long;
  if (root.size() + folder.size() + name.size() > MIRROR_FILE_PATH_LIMIT) return MirrorSkip::too_long;
  // Members come folder by folder: a folder already taken needs no second look, as a file with
  // its path is turned away by the folder.
  bool folder_taken = folder == last_folder_;
  bool clash = false;
  if (!folder_taken) {
    each_folder_prefix(folder, [&](const std::string& prefix) {
      std::string as_file = prefix.substr(0, prefix.size() - 1);
      clash = clash || clashes(folders_, prefix) || files_.count(fnv1a(name_case_key(as_file)));
    });
  }
  std::string path = folder + name, key;
  if (!name.empty() && !clash) {
    static const std::string SEPARATOR_KEY = name_case_key("\\");
    key = name_case_key(path);
    auto it = files_.find(fnv1a(key));
    clash = (it != files_.end() && it->second != fnv1a(path)) || folders_.count(fnv1a(key + SEPARATOR_KEY));
  }
  if (clash) return MirrorSkip::clash;
  if (!folder_taken) {
    each_folder_prefix(folder, [&](const std::string& prefix) {
      folders_.emplace(fnv1a(name_case_key(prefix)), fnv1a(prefix));
    });
    last_folder_ = folder;
  }
  if (!name.empty()) files_.emplace(fnv1a(key), fnv1a(path));
  return MirrorSkip::none;
}

void MirrorReport::count(MirrorSkip why) {
  if (why == MirrorSkip::unsafe_name) ++unsafe_names;
  if (why == MirrorSkip::too_long) ++too_long;
  if (why == MirrorSkip::folder_too_long) ++folder_too_long;
  if (why == MirrorSkip::clash) ++clashes;
  if (why == MirrorSkip::not_created) ++not_created;
}

std::string mirror_report_text(const std::string& archive_path, const MirrorReport& r) {
  std::string text;
  int64_t skipped = r.unsafe_names + r.too_long + r.folder_too_long + r.clashes + r.not_created;
  if (skipped > 0) {
    std::string why;
    auto add = [&](int64_t n, const std::string& reason) {
      if (n > 0) why += (why.empty() ? "" : ", ") + str(n) + " " + reason;
    };
    add(r.unsafe_names, "with an unsafe name");
    add(r.too_long, "with a path of 260 bytes or more");
    add(r.folder_too_long, "in a folder whose path has " + str(MIRROR_FOLDER_PATH_LIMIT + 2) + " bytes or more");
    add(r.clashes, "whose name clashes with another member's (letter case, a short name, or a file and a folder of one path)");
    add(r.not_created, "whose stand-in file could not be created");
    text = members(skipped) + " of " + archive_path + (skipped == 1 ? " is" : " are") + " not shown: " + why + ".";
  }
  auto sentence = [&](const std::string& s) { text += (text.empty() ? "" : " ") + s; };
  std::string archive = text.empty() ? "The archive " + archive_path : "The archive";
  if (r.damage_position >= 0)
    sentence(archive + " is damaged at offset " + str(r.damage_position) +
             " of its index: no member from there on can be extracted, and the ones after it are not shown.");
  else if (r.table_full)
    sentence(archive + " holds more members than the 512000 shown.");
  return text;
}
