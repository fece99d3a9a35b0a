// What the location combo lists for a location, as plain data: the entries with their tags and
// indents and the entry to select, computed from the drive mask, a folder test and My Documents.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Option flags of the location combo.
constexpr uint32_t LOCATION_DRIVES_ONLY = 0x80;
constexpr uint32_t LOCATION_EDITABLE = 0x100;
constexpr uint32_t LOCATION_NO_MY_DOCUMENTS = 0x200;

// Entry tags: 0 to 31 a drive; folders on the way carry their depth in the high 16 bits.
constexpr uint32_t LOCATION_TAG_MY_COMPUTER = 255;
constexpr uint32_t LOCATION_TAG_MY_DOCUMENTS = 254;
constexpr uint32_t LOCATION_TAG_FOLDER = 253;
constexpr uint32_t location_folder_tag(uint32_t depth) { return LOCATION_TAG_FOLDER + depth * 0x10000; }

struct LocationEntry {
  uint32_t tag = 0;
  int indent = 0;
  // Whose display name and icon the entry shows: "" My Computer, "X:\" a drive, a folder path
  // without its final "\", the My Documents path.
  std::string path;
  bool operator==(const LocationEntry& o) const { return tag == o.tag && indent == o.indent && path == o.path; }
};

struct LocationPlaces {
  uint32_t drive_mask = 0;  // bit n: drive "A" + n
  std::string my_documents;  // ends with "\"; empty when the shell has none
  std::function<bool(const std::string& folder)> folder_exists;
};

struct LocationFill {
  std::string location;  // as stored: "" or ending with "\", first letter upper-case
  std::vector<LocationEntry> entries;
  int selected = -1;  // index into entries, -1 for none
};

// The location as the combo stores it: first letter upper-cased, a final "\" added.
std::string location_normalized(const std::string& location);

LocationFill location_fill(const std::string& location, uint32_t flags, const LocationPlaces& places);

// The location an entry leads to once chosen, from the location the entries were made for.
std::string location_of_choice(uint32_t tag, const std::string& current, const std::string& my_documents);
