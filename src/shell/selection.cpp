#include "shell/selection.h"

#include "archive/folder_scan.h"

bool scan_selection(RowsView& rows, ShellState& s, const FolderEnumerator& enumerate) {
  s.selection.selection_count = 0;
  bool room = true;
  std::string folder = rows.folder();
  for (int i = 1; i <= rows.count() - 1 && room; ++i) {
    int state = rows.state(i);
    std::string name = rows.text(i, 0);
    s.item_path = folder + name;
    bool all = s.select_all_active == 1;
    bool file = state == ROW_SELECTED_FILE || (all && state == ROW_FILE);
    bool chosen_folder = state == ROW_SELECTED_OTHER || (all && state == ROW_OTHER);
    if (file)
      room = selection_append(s.selection, s.item_path);
    else if (chosen_folder && name != "..")
      room = folder_scan(s.item_path + "\\", "*", "*", 0, s.selection, enumerate);
  }
  return room;
}
