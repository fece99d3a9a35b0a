#include "archive/tables.h"

#include "archive/row_key.h"

void allocate_selection_table(SelectionTable& t) { t.selection_list.assign(TABLE_CAPACITY + 1, std::string()); }

void allocate_entry_table(EntryTable& t) {
  t.created_folders.assign(TABLE_CAPACITY + 1, std::string());
  t.entry_paths.assign(TABLE_CAPACITY + 1, std::string());
  t.entry_sizes.assign(TABLE_CAPACITY + 1, 0);
  t.entry_keys.assign(TABLE_CAPACITY + 1, 0);
  t.row_index_table.assign(ROW_TABLE_SLOTS, 0);
}

bool selection_append(SelectionTable& t, const std::string& path) {
  if (t.selection_count >= TABLE_CAPACITY) return false;
  if (t.selection_list.size() < static_cast<size_t>(TABLE_CAPACITY) + 1)
    t.selection_list.resize(TABLE_CAPACITY + 1);
  t.selection_list[++t.selection_count] = path;
  return true;
}

bool entry_append(EntryTable& t, std::string mirror_path, int64_t size) {
  if (t.entry_count >= TABLE_CAPACITY) return false;
  ++t.entry_count;
  t.entry_keys[t.entry_count] = -1;
  t.entry_paths[t.entry_count] = std::move(mirror_path);
  t.entry_sizes[t.entry_count] = size;
  return true;
}
