// The explorer list's rules that need no window: cell texts, sort orders, navigation texts.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Paths, patterns and returned cell texts hold up to 260 characters (UTF-16 units) with the zero,
// as the system's paths do; in UTF-8 that is up to three bytes each.
constexpr size_t LIST_TEXT_LIMIT = 260;
constexpr size_t LIST_TEXT_BYTES = LIST_TEXT_LIMIT * 3;

// Entry kinds, the tag every item carries. Drives are 0 to 31 (letter "A" + kind).
constexpr int ENTRY_LAST_DRIVE = 31;
constexpr int ENTRY_PARENT_TO_DRIVES = 250;
constexpr int ENTRY_PARENT = 251;
constexpr int ENTRY_FOLDER = 252;
constexpr int ENTRY_MY_DOCUMENTS = 253;
constexpr int ENTRY_FILE = 255;

// An item's value: its entry kind in the low byte and, above it, the order in which the listing
// inserted it - the sort's record number, so sorting never rewrites item values.
inline long long item_value(int ordinal, int kind) { return (static_cast<long long>(ordinal) << 8) | (kind & 0xFF); }
inline int item_value_kind(long long value) { return static_cast<int>(value & 0xFF); }
inline int item_value_ordinal(long long value) { return static_cast<int>(value >> 8); }

inline bool is_parent_entry(int kind) { return kind == ENTRY_PARENT_TO_DRIVES || kind == ENTRY_PARENT; }
inline bool is_drive_entry(int kind) { return kind >= 0 && kind <= ENTRY_LAST_DRIVE; }

// Column kinds: what the listing writes into a column and how it sorts.
constexpr int COLUMN_CUSTOM = 0;
constexpr int COLUMN_NAME = 2;
constexpr int COLUMN_SIZE = 3;
constexpr int COLUMN_TYPE = 4;
constexpr int COLUMN_ATTRIBUTES = 5;
constexpr int COLUMN_CREATED = 6;
constexpr int COLUMN_MODIFIED = 7;
constexpr int COLUMN_ACCESSED = 8;

// Titles that ask gadget_add_column for a column of a given kind, e.g. "#size".
int column_kind_of_title(const std::string& title);  // COLUMN_CUSTOM for any other title
const char* column_kind_id(int kind);                // "" for custom and unknown kinds
const char* column_fallback_title(int kind);         // English title when the shell has none

// Size cell: kibibytes followed by " KB". Up to 0x3FFFFFFF bytes rounds up, above rounds down.
std::string size_cell(uint64_t bytes);
// Letters of the set attribute bits, from "RHSDANTCOE".
std::string attribute_letters(uint32_t attributes);

// Option flags of a list.
constexpr uint32_t LIST_NO_FILES = 0x1;
constexpr uint32_t LIST_NO_PARENT = 0x2;
constexpr uint32_t LIST_NO_FOLDERS = 0x4;
constexpr uint32_t LIST_NO_NAVIGATION = 0x8;
constexpr uint32_t LIST_ENTER_UNREADY_DRIVES = 0x10;
constexpr uint32_t LIST_NO_HEADER_SORT = 0x20;
constexpr uint32_t LIST_SORTED = 0x40;
constexpr uint32_t LIST_NO_MY_DOCUMENTS = 0x200;
constexpr uint32_t LIST_NO_CLIENT_EDGE = 0x100000;
constexpr uint32_t LIST_MULTI_SELECT = 0x200000;
constexpr uint32_t LIST_GRID_LINES = 0x400000;
constexpr uint32_t LIST_HEADER_DRAG = 0x800000;
constexpr uint32_t LIST_SHOW_SELECTION = 0x1000000;
constexpr uint32_t LIST_FULL_ROW = 0x2000000;

// Path and pattern after a navigation text. Returns false, changing nothing, for a text that
// cannot be held (LIST_TEXT_LIMIT characters) - cutting it would list some other folder.
bool split_location(const std::string& text, std::string* path, std::string* pattern);
// The pattern's ";"-separated parts in order; empty parts are skipped.
std::vector<std::string> pattern_parts(const std::string& pattern);
// "C:\a\b\" -> "C:\a\"; "" when the path has no folder above it.
std::string parent_of_path(const std::string& path);
// Kind of the ".." entry of a folder view: 250 (leads to the drive level) or 251 (parent folder).
int parent_entry_kind(const std::string& path, const std::string& my_documents_path,
                      bool my_documents_present, uint32_t flags);

// Key under which a file's type name and icon are cached: its extension (the text after the last
// "." of the full path) upper-cased. False when the file must be asked for itself: an extension
// longer than four characters, or one of the files that carry their own icon.
bool file_type_key(const std::string& path, std::string* key);

struct FileTypeRecord {
  std::string key;
  size_t name_offset = 0;  // into the string pool; 0 is the empty name
  int icon = 0;
};

// Process-wide table of type names and icons by extension; nothing is ever removed.
// Not locked: the caller holds the cache's lock.
class FileTypeCache {
 public:
  FileTypeCache();
  const FileTypeRecord* find(const std::string& key) const;
  const FileTypeRecord& add(const std::string& key, const std::string& type_name, int icon);
  const char* type_name(const FileTypeRecord& record) const { return pool_.c_str() + record.name_offset; }
  size_t size() const { return records_.size(); }

 private:
  std::vector<FileTypeRecord> records_;
  std::string pool_;
};

// One item as the sort sees it.
struct SortRecord {
  int kind = ENTRY_FILE;
  std::string text;     // cell text (Name, Type, Attributes, custom)
  uint64_t value = 0;   // Size: parsed cell; times: the file time
};

// Value of a Size cell: the number at its start; a cell of fewer than two characters is the
// largest value, so folders (empty cells) end up after every file when ascending.
uint64_t size_sort_value(const std::string& cell);

// Three-way comparison of two items sorted by a column of column_kind; direction 1 or -1.
int compare_sort_records(const SortRecord& a, const SortRecord& b, int column_kind, int direction,
                         bool drive_level);
// Indices of records in sorted order (stable).
std::vector<int> sorted_order(const std::vector<SortRecord>& records, int column_kind, int direction,
                              bool drive_level);
