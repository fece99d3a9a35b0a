#include "shell/globals.h"

#include "archive/row_key.h"

ShellState shell;

void allocate_shell_tables(ShellState& s) {
  s.created_folders.assign(TABLE_CAPACITY + 1, std::string());
  s.entry_paths.assign(TABLE_CAPACITY + 1, std::string());
  s.selection_list.assign(TABLE_CAPACITY + 1, std::string());
  s.entry_sizes.assign(TABLE_CAPACITY + 1, 0);
  s.entry_keys.assign(TABLE_CAPACITY + 1, 0);
  s.row_index_table.assign(ROW_TABLE_SLOTS, 0);
}

bool selection_append(ShellState& s, const std::string& path) {
  if (s.selection_count >= TABLE_CAPACITY) return false;
  if (s.selection_list.size() < static_cast<size_t>(TABLE_CAPACITY) + 1)
    s.selection_list.resize(TABLE_CAPACITY + 1);
  s.selection_list[++s.selection_count] = path;
  return true;
}

bool entry_append(ShellState& s, const std::string& mirror_path, int64_t size) {
  if (s.entry_count >= TABLE_CAPACITY) return false;
  ++s.entry_count;
  s.entry_paths[s.entry_count] = mirror_path;
  s.entry_sizes[s.entry_count] = size;
  s.entry_keys[s.entry_count] = row_key(mirror_path);
  return true;
}
