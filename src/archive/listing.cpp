#include "archive/listing.h"

#include <unordered_map>
#include <vector>

#include "archive/row_key.h"

namespace {

#ifdef _WIN32
constexpr const char* NAME_SEPARATORS = "\\/";
#else
constexpr const char* NAME_SEPARATORS = "/";
#endif

int64_t parse_int64(const std::string& text) {
  try {
    return text.empty() ? 0 : std::stoll(text);
  } catch (...) {
    return 0;
  }
}

}  // namespace

void listing_step_rows(RowsView& rows, EntryTable& s) {
  int row_count = rows.count();
  std::string folder = rows.folder();
  std::vector<std::string> names(static_cast<size_t>(row_count));
  std::vector<bool> plain_file(static_cast<size_t>(row_count), false);
  for (int r = 0; r < row_count; ++r) rows.set_text(r, 1, std::string());

  bool any_file = false;
  for (int r = 0; r < row_count; ++r) {
    if (rows.state(r) != ROW_FILE) continue;
    plain_file[r] = true;
    names[r] = rows.text(r, 0);
    s.row_index_table[row_key(folder + names[r])] = static_cast<int16_t>(r);
    any_file = true;
  }
  if (!any_file) return;

  // Lookup pass through the row table. Stale slots from earlier folders are caught by the
  // path comparison, and rows that are not plain files keep their empty cell.
  // Only an entry right in this folder can match a row (a row's name holds no separator), so
  // only those need their key.
  std::vector<bool> filled(static_cast<size_t>(row_count), false);
  for (int j = 1; j <= s.entry_count; ++j) {
    const std::string& path = s.entry_paths[j];
    if (path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0 ||
        path.find_first_of(NAME_SEPARATORS, folder.size()) != std::string::npos)
      continue;
    if (s.entry_keys[j] < 0) s.entry_keys[j] = row_key(path);
    int r = s.row_index_table[s.entry_keys[j]];
    if (r > 0 && r < row_count && plain_file[r] && s.entry_paths[j] == folder + names[r]) {
      rows.set_text(r, 1, std::to_string(s.entry_sizes[j]));
      filled[r] = true;
    }
  }

  // Fallback for rows the table could not resolve (collisions, rows beyond 32,767): one pass over
  // the entries through a map of the unresolved paths, so the later entry still wins.
  std::unordered_map<std::string, int> unresolved;
  for (int r = 1; r < row_count; ++r)
    if (plain_file[r] && !filled[r]) unresolved.emplace(folder + names[r], r);
  if (!unresolved.empty()) {
    for (int j = 1; j <= s.entry_count; ++j) {
      auto it = unresolved.find(s.entry_paths[j]);
      if (it != unresolved.end()) rows.set_text(it->second, 1, std::to_string(s.entry_sizes[j]));
    }
  }

  for (int r = 1; r < row_count; ++r) {
    if (!plain_file[r]) continue;
    int32_t kb = static_cast<int32_t>(parse_int64(rows.text(r, 1)) / 1024) + 1;
    rows.set_text(r, 1, std::to_string(kb) + " KB");
  }
}
