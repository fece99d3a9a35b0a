#include "explorer/list_cells.h"

#include <algorithm>
#include <cstring>

#include "format/utf8_text.h"
#include "runtime/text.h"

namespace {

struct ColumnKindInfo {
  int kind;
  const char* id;
  const char* title;
};

const ColumnKindInfo COLUMN_KINDS[] = {
    {COLUMN_NAME, "#name", "Name"},           {COLUMN_SIZE, "#size", "Size"},
    {COLUMN_TYPE, "#type", "Type"},           {COLUMN_ATTRIBUTES, "#attributes", "Attributes"},
    {COLUMN_CREATED, "#created", "Created"},  {COLUMN_MODIFIED, "#modified", "Modified"},
    {COLUMN_ACCESSED, "#accessed", "Accessed"},
};

const ColumnKindInfo* column_info(int kind) {
  for (const ColumnKindInfo& info : COLUMN_KINDS)
    if (info.kind == kind) return &info;
  return nullptr;
}

template <typename T>
int three_way(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

bool folder_or_file(int kind) { return kind == ENTRY_FOLDER || kind == ENTRY_FILE; }

// The ".." entry leads whatever the direction; 0 when neither item is one.
int parent_first(const SortRecord& a, const SortRecord& b) {
  return three_way(!is_parent_entry(a.kind), !is_parent_entry(b.kind));
}

}  // namespace

int column_kind_of_title(const std::string& title) {
  for (const ColumnKindInfo& info : COLUMN_KINDS)
    if (title == info.id) return info.kind;
  return COLUMN_CUSTOM;
}

const char* column_kind_id(int kind) {
  const ColumnKindInfo* info = column_info(kind);
  return info ? info->id : "";
}

const char* column_fallback_title(int kind) {
  const ColumnKindInfo* info = column_info(kind);
  return info ? info->title : "";
}

std::string size_cell(uint64_t bytes) {
  const uint64_t round_up_limit = 0x3FFFFFFF;
  uint64_t kib = bytes <= round_up_limit ? (bytes + 1023) / 1024 : bytes / 1024;
  return std::to_string(kib) + " KB";
}

std::string attribute_letters(uint32_t attributes) {
  static const char LETTERS[] = "RHSDANTCOE";
  static const uint32_t BITS[] = {0x1, 0x2, 0x4, 0x10, 0x20, 0x80, 0x100, 0x800, 0x1000, 0x4000};
  std::string out;
  for (size_t i = 0; i < sizeof BITS / sizeof BITS[0]; ++i)
    if (attributes & BITS[i]) out += LETTERS[i];
  return out;
}

bool split_location(const std::string& text, std::string* path, std::string* pattern) {
  std::string t = text;
  if (!t.empty() && t[0] == '\\' && t.find('\\', 1) == std::string::npos) t.erase(0, 1);
  if (utf16_length(t) >= LIST_TEXT_LIMIT) return false;
  size_t last = t.rfind('\\');
  if (t.empty()) {
    path->clear();
    return true;
  }
  if (last == std::string::npos) {
    *pattern = t;
    return true;
  }
  *path = t.substr(0, last + 1);
  if (last + 1 < t.size()) *pattern = t.substr(last + 1);
  *path = upper_first_letter(*path);
  return true;
}

std::vector<std::string> pattern_parts(const std::string& pattern) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= pattern.size()) {
    size_t end = pattern.find(';', start);
    if (end == std::string::npos) end = pattern.size();
    if (end > start) parts.push_back(pattern.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string parent_of_path(const std::string& path) {
  if (path.size() < 2) return std::string();
  size_t cut = path.rfind('\\', path.size() - 2);
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

int parent_entry_kind(const std::string& path, const std::string& my_documents_path,
                      bool my_documents_present, uint32_t flags) {
  size_t first = path.find('\\');
  if (first == std::string::npos || path.find('\\', first + 1) == std::string::npos)
    return ENTRY_PARENT_TO_DRIVES;
  bool my_documents = my_documents_present && !(flags & LIST_NO_MY_DOCUMENTS) &&
                      !my_documents_path.empty() &&
                      path.compare(0, my_documents_path.size(), my_documents_path) == 0 &&
                      path.find('\\', my_documents_path.size()) == std::string::npos;
  return my_documents ? ENTRY_PARENT_TO_DRIVES : ENTRY_PARENT;
}

bool file_type_key(const std::string& path, std::string* key) {
  size_t dot = path.rfind('.');
  std::string extension = dot == std::string::npos ? std::string() : path.substr(dot + 1);
  if (extension.size() > 4) return false;
  for (char& c : extension)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  if (extension == "EXE" || extension == "ICO" || extension == "LNK" || extension == "ICL") return false;
  *key = extension;
  return true;
}

FileTypeCache::FileTypeCache() : pool_(1, '\0') {
  records_.reserve(100);
  pool_.reserve(500);
}

const FileTypeRecord* FileTypeCache::find(const std::string& key) const {
  for (const FileTypeRecord& r : records_)
    if (r.key == key) return &r;
  return nullptr;
}

const FileTypeRecord& FileTypeCache::add(const std::string& key, const std::string& type_name, int icon) {
  if (records_.size() == records_.capacity()) records_.reserve(records_.size() + 100);
  FileTypeRecord record;
  record.key = key;
  record.icon = icon;
  std::string name = type_name.substr(0, type_name.find('\0'));
  if (!name.empty()) {
    if (pool_.size() + name.size() + 1 > pool_.capacity()) pool_.reserve(pool_.capacity() + name.size() + 500);
    record.name_offset = pool_.size();
    pool_.append(name);
    pool_.push_back('\0');
  }
  records_.push_back(record);
  return records_.back();
}

uint64_t size_sort_value(const std::string& cell) {
  if (cell.size() < 2) return UINT64_MAX;
  size_t i = 0;
  while (i < cell.size() && (cell[i] == ' ' || cell[i] == '\t')) ++i;
  bool negative = false;
  if (i < cell.size() && (cell[i] == '+' || cell[i] == '-')) negative = cell[i++] == '-';
  uint64_t value = 0;
  for (; i < cell.size() && cell[i] >= '0' && cell[i] <= '9'; ++i) {
    uint64_t digit = static_cast<uint64_t>(cell[i] - '0');
    value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
  }
  return negative ? 0 - value : value;
}

int compare_sort_records(const SortRecord& a, const SortRecord& b, int column_kind, int direction,
                         bool drive_level) {
  if (drive_level && column_kind == COLUMN_NAME) return three_way(a.kind, b.kind) * direction;
  int parent = parent_first(a, b);
  if (parent != 0 || is_parent_entry(a.kind)) return parent;
  switch (column_kind) {
    case COLUMN_SIZE:
      return three_way(a.value, b.value) * direction;
    case COLUMN_CREATED:
    case COLUMN_MODIFIED:
    case COLUMN_ACCESSED:
      if (a.kind <= 32 || b.kind <= 32) return 0;
      if (a.kind != b.kind) return three_way(a.kind, b.kind) * direction;
      return three_way(a.value, b.value) * direction;
    default:
      // Folders before files when ascending; drives and My Documents go by their text.
      if (a.kind != b.kind && folder_or_file(a.kind) && folder_or_file(b.kind))
        return three_way(a.kind, b.kind) * direction;
      return compare_names(a.text, b.text) * direction;
  }
}

std::vector<int> sorted_order(const std::vector<SortRecord>& records, int column_kind, int direction,
                              bool drive_level) {
  std::vector<int> order(records.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::stable_sort(order.begin(), order.end(), [&](int x, int y) {
    return compare_sort_records(records[static_cast<size_t>(x)], records[static_cast<size_t>(y)],
                                column_kind, direction, drive_level) < 0;
  });
  return order;
}
