#include <windows.h>

#include "explorer/explorer_list.h"
#include "shell/browsing.h"
#include "shell/dispatch.h"
#include "shell/gadget_rows.h"
#include "shell/globals.h"
#include "shell/selection.h"
#include "shell/shell.h"
#include "runtime/folders.h"
#include "ui/ui.h"

namespace {

const Note NOTE_SELECTION_FULL = {"Note:", "Only the first 512000 files were taken", NOTE_WARNING};

// Sets or clears the drop-highlight of every entry but "..".
void highlight_entries(int gadget, uint32_t state) {
  shell.highlight_record.state = state;
  explorer_list_highlight(gadget, shell.highlight_record.state, shell.highlight_record.mask);
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

void release_selection() {
  shell.selection.selection_count = 0;
  clear_select_all(FILE_LIST);
}

void reset_temp_folders() {
  gadget_set_text(FILE_LIST, shell.start_folder);
  if (shell.operation.destination_folder == shell.operation.temp_root) return;
  delete_folder_tree(shell.operation.launch_root);
  delete_folder_tree(shell.operation.temp_root);
}
