#include "explorer/location_entries.h"

#include "runtime/text.h"

namespace {

constexpr int DRIVE_COUNT = 32;
// Folder depths are counted from the fifth character on, past "X:\" and a folder's first letter.
constexpr size_t DEPTH_START = 4;

std::string drive_root(int drive) { return std::string(1, static_cast<char>('A' + drive)) + ":\\"; }

bool has_drive(uint32_t mask, int drive) { return drive >= 0 && drive < DRIVE_COUNT && (mask >> drive) & 1u; }

size_t count_backslashes(const std::string& text, size_t end) {
  size_t n = 0;
  for (size_t i = 0; i < end && i < text.size(); ++i) n += text[i] == '\\';
  return n;
}

// Adds an entry for each existing folder of `location` whose "\" lies at or after `from`, one indent
// deeper than the entry before; depth_base + j is the depth of the j-th such folder.
void add_folders_on_the_way(LocationFill& fill, size_t from, uint32_t depth_base, const LocationPlaces& places) {
  const std::string& location = fill.location;
  uint32_t j = 0;
  for (size_t i = from; i < location.size(); ++i) {
    if (location[i] != '\\') continue;
    ++j;
    std::string folder = location.substr(0, i);
    if (!places.folder_exists || !places.folder_exists(folder)) continue;
    int indent = fill.entries.back().indent + 1;
    fill.entries.push_back({location_folder_tag(depth_base + j), indent, folder});
  }
  fill.selected = static_cast<int>(fill.entries.size()) - 1;
}

void fill_drives_only(LocationFill& fill, const LocationPlaces& places) {
  int drive = fill.location.empty() ? -1 : fill.location[0] - 'A';
  if (drive < 0 || drive >= 26) {
    fill.location.clear();
    drive = -1;
  } else {
    fill.location = drive_root(drive);
  }
  for (int d = 0; d < DRIVE_COUNT; ++d) {
    if (!has_drive(places.drive_mask, d)) continue;
    if (d == drive) fill.selected = static_cast<int>(fill.entries.size());
    fill.entries.push_back({static_cast<uint32_t>(d), 1, drive_root(d)});
  }
}

void fill_places(LocationFill& fill, uint32_t flags, const LocationPlaces& places) {
  const std::string& location = fill.location;
  bool documents = !places.my_documents.empty() && !(flags & LOCATION_NO_MY_DOCUMENTS);
  bool inside_documents =
      documents && location.size() >= places.my_documents.size() &&
      same_name_ignoring_case(location.substr(0, places.my_documents.size()), places.my_documents);
  fill.entries.push_back({LOCATION_TAG_MY_COMPUTER, 0, ""});
  for (int d = 0; d < DRIVE_COUNT; ++d) {
    if (!has_drive(places.drive_mask, d)) continue;
    std::string root = drive_root(d);
    fill.entries.push_back({static_cast<uint32_t>(d), 1, root});
    if (!inside_documents && location.compare(0, 3, root) == 0) add_folders_on_the_way(fill, 3, 0, places);
  }
  if (!documents) return;
  fill.entries.push_back({LOCATION_TAG_MY_DOCUMENTS, 0, places.my_documents});
  if (inside_documents) {
    size_t length = places.my_documents.size();
    uint32_t m = static_cast<uint32_t>(count_backslashes(location, length + 1));
    add_folders_on_the_way(fill, length, m - 1, places);
  }
}

}  // namespace

std::string location_normalized(const std::string& location) {
  return with_trailing_backslash(upper_first_letter(location));
}

LocationFill location_fill(const std::string& location, uint32_t flags, const LocationPlaces& places) {
  LocationFill fill;
  fill.location = location_normalized(location);
  if (flags & LOCATION_DRIVES_ONLY) {
    fill_drives_only(fill, places);
  } else {
    fill_places(fill, flags, places);
  }
  return fill;
}

std::string location_of_choice(uint32_t tag, const std::string& current, const std::string& my_documents) {
  if (tag == LOCATION_TAG_MY_COMPUTER) return std::string();
  if (tag == LOCATION_TAG_MY_DOCUMENTS) return my_documents;
  if (tag < static_cast<uint32_t>(DRIVE_COUNT)) return drive_root(static_cast<int>(tag));
  if ((tag & 0xFFFF) != LOCATION_TAG_FOLDER) return current;
  uint32_t depth = tag >> 16;
  for (size_t i = DEPTH_START; i < current.size(); ++i) {
    if (current[i] == '\\' && --depth == 0) return current.substr(0, i + 1);
  }
  return current;  // entries always come from the current location; never cut blindly
}
