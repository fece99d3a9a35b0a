#include <windows.h>
#include <commctrl.h>

#include "shell/browsing.h"
#include "shell/dispatch.h"
#include "shell/gadget_rows.h"
#include "shell/globals.h"
#include "shell/selection.h"
#include "shell/shell.h"
#include "runtime/folders.h"
#include "ui/ui.h"

int GadgetRows::count() { return gadget_count_items(gadget_); }
int GadgetRows::state(int row) { return gadget_get_item_state(gadget_, row); }
std::string GadgetRows::text(int row, int column) { return gadget_get_item_text(gadget_, row, column); }
void GadgetRows::set_text(int row, int column, const std::string& text) {
  gadget_set_item_text(gadget_, row, text, column);
}
std::string GadgetRows::folder() { return gadget_get_text(gadget_); }

namespace {

const Note NOTE_SELECTION_FULL = {"Note:", "Only the first 512000 files were taken", NOTE_WARNING};

// Sets or clears the drop-highlight of every entry but "..".
void highlight_entries(int gadget, uint32_t state) {
  shell.highlight_record.state = state;
  for (int i = 1; i <= gadget_count_items(gadget) - 1; ++i) {
    if (gadget_get_item_text(gadget, i, 0) == "..") continue;
    LVITEMA item = {};
    item.state = shell.highlight_record.state;
    item.stateMask = shell.highlight_record.mask;
    SendMessageA(gadget_handle(gadget), LVM_SETITEMSTATE, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
  }
}

}  // namespace

void select_all_entries(int gadget) {
  highlight_entries(gadget, 8);
  shell.select_all_active = 1;
}

void clear_select_all(int gadget) {
  if (shell.select_all_active != 1) return;
  highlight_entries(gadget, 0);
  shell.select_all_active = 0;
}

void selection_scan() {
  GadgetRows rows(FILE_LIST);
  if (!scan_selection(rows, shell)) show_note(NOTE_SELECTION_FULL);
}

void reset_temp_folders() {
  gadget_set_text(FILE_LIST, shell.start_folder);
  if (shell.destination_folder == shell.temp_root) return;
  delete_folder_tree(shell.launch_root);
  delete_folder_tree(shell.temp_root);
}
