// Turns what the file list shows into the selection list: chosen files, and every file below a
// chosen folder. While "Select all" is active every entry counts as chosen.
#pragma once
#include "archive/rows_view.h"
#include "runtime/folders.h"
#include "shell/globals.h"

// Returns false when the selection list ran full and later files were left out.
bool scan_selection(RowsView& rows, ShellState& s, const FolderEnumerator& enumerate = enumerate_folder);
