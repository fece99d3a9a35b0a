#include "archive/mirror_tree.h"

#include "format/path_safety.h"
#include "format/utf8_text.h"
#include "runtime/text.h"

namespace {

constexpr uint64_t FNV_START = 1469598103934665603ULL;

// Continues from h, so the hash of a folder goes on into the hash of a path in it.
uint64_t fnv1a(const std::string& text, uint64_t h = FNV_START) {
  for (unsigned char c : text) h = (h ^ c) * 1099511628211ULL;
  return h;
}

const std::string& separator_key() {
  static const std::string key = name_case_key("\\");
  return key;
}

// A "\"-separated path folded to one case a name at a time: a folder's key and a name's key
// make the key of the path, whatever bytes either holds.
std::string case_key(const std::string& path) {
  std::string key;
  for (size_t start = 0;;) {
    size_t end = path.find('\\', start);
    key += name_case_key(path.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return key;
    key += separator_key();
    start = end + 1;
  }
}

// "a\b\" gives "a\" and "a\b\".
template <typename Visit>
void each_folder_prefix(const std::string& folder, Visit visit) {
  for (size_t i = folder.find('\\'); i != std::string::npos; i = folder.find('\\', i + 1)) visit(folder.substr(0, i + 1));
}

bool ends_with_separator(const std::string& folder) { return !folder.empty() && folder.back() == '\\'; }

std::string members(int64_t n) { return str(n) + (n == 1 ? " member" : " members"); }

}  // namespace

bool mirror_entry_safe(const std::string& folder, const std::string& name) {
  if (name.empty()) return folder.empty() || check_member_path(folder, "_").ok;
  return check_member_path(folder, name).ok;
}

bool could_be_short_name(const std::string& name) {
  if (name.find('~') == std::string::npos) return false;
  size_t dot = name.find('.');
  if (dot != std::string::npos && name.find('.', dot + 1) != std::string::npos) return false;
  // Characters, not bytes: a short name may hold letters of the system's code page.
  auto characters = [&](size_t from, size_t to) {
    size_t n = 0;
    for (size_t i = from; i < to; ++i) n += (static_cast<unsigned char>(name[i]) & 0xC0) != 0x80;
    return n;
  };
  if (dot == std::string::npos) return characters(0, name.size()) <= 8;
  return characters(0, dot) <= 8 && characters(dot + 1, name.size()) <= 3;
}

size_t names_to_check(const std::string& folder, const std::string& name) {
  size_t count = 0;
  for (size_t start = 0; start < folder.size();) {
    size_t end = folder.find('\\', start);
    if (end == std::string::npos) end = folder.size();
    if (count > 0 || could_be_short_name(folder.substr(start, end - start))) ++count;
    start = end + 1;
  }
  if (!name.empty() && (count > 0 || could_be_short_name(name))) ++count;
  return count;
}

const uint64_t* HashPairs::find(uint64_t key) const {
  if (slots_.empty()) return nullptr;
  if (key == 0) key = 1;
  size_t mask = slots_.size() - 1;
  for (size_t i = static_cast<size_t>(key * 0x9E3779B97F4A7C15ULL >> 20) & mask;; i = (i + 1) & mask) {
    if (slots_[i].first == key) return &slots_[i].second;
    if (slots_[i].first == 0) return nullptr;
  }
}

void HashPairs::emplace(uint64_t key, uint64_t value) {
  if (key == 0) key = 1;
  if ((used_ + 1) * 2 > slots_.size()) {  // at most half full: probes stay short
    std::vector<std::pair<uint64_t, uint64_t>> old;
    old.swap(slots_);
    slots_.assign(old.empty() ? 1024 : old.size() * 2, {0, 0});
    used_ = 0;
    for (const auto& slot : old)
      if (slot.first != 0) emplace(slot.first, slot.second);
  }
  size_t mask = slots_.size() - 1;
  for (size_t i = static_cast<size_t>(key * 0x9E3779B97F4A7C15ULL >> 20) & mask;; i = (i + 1) & mask) {
    if (slots_[i].first == key) return;
    if (slots_[i].first == 0) {
      slots_[i] = {key, value};
      ++used_;
      return;
    }
  }
}

MirrorNames::Folder MirrorNames::look_at(const std::string& folder) {
  Folder f;
  f.safe = folder.empty() || check_member_path(folder, "_").ok;
  f.key_hash = fnv1a(case_key(folder));
  f.path_hash = fnv1a(folder);
  return f;
}

MirrorSkip MirrorNames::check(const std::string& root, const std::string& folder, const std::string& name) {
  if (!current_ || folder != *current_path_) {
    auto [it, fresh] = seen_.try_emplace(folder);
    if (fresh) it->second = look_at(folder);
    current_path_ = &it->first;
    current_ = &it->second;
  }
  const Folder& here = *current_;
  // A folder without its final "\" runs into the name: the path is then looked at whole.
  bool whole = !folder.empty() && !ends_with_separator(folder);
  bool safe = whole ? mirror_entry_safe(folder, name)
                    : here.safe && (name.empty() || member_path_safe(folder.empty() ? "" : "_\\", name));
  if (!safe) return MirrorSkip::unsafe_name;
  if (root.size() + folder.size() > MIRROR_FOLDER_PATH_LIMIT + 1) return MirrorSkip::folder_too_long;
  if (root.size() + folder.size() + name.size() > MIRROR_FILE_PATH_LIMIT) return MirrorSkip::too_long;
  bool clash = false;
  auto clashes = [](const HashPairs& taken, uint64_t key, uint64_t spelt) {
    const uint64_t* first = taken.find(key);
    return first && *first != spelt;
  };
  if (!here.taken) {
    each_folder_prefix(folder, [&](const std::string& prefix) {
      std::string as_file = prefix.substr(0, prefix.size() - 1);
      clash = clash || clashes(folders_, fnv1a(case_key(prefix)), fnv1a(prefix)) || files_.find(fnv1a(case_key(as_file)));
    });
  }
  uint64_t key = 0, spelt = fnv1a(name, here.path_hash);
  if (!name.empty() && !clash) {
    if (whole) {
      key = fnv1a(case_key(folder + name));
    } else {
      name_case_key_into(name, key_);
      key = fnv1a(key_, here.key_hash);
    }
    clash = clashes(files_, key, spelt) || folders_.find(fnv1a(separator_key(), key));
  }
  if (clash) return MirrorSkip::clash;
  if (!here.taken) {
    each_folder_prefix(folder, [&](const std::string& prefix) { folders_.emplace(fnv1a(case_key(prefix)), fnv1a(prefix)); });
    current_->taken = true;
  }
  if (!name.empty()) files_.emplace(key, spelt);
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
