// Browsing and selection commands over the file list (gadget 1).
#pragma once
#include <string>

// The folder above a folder, as the list takes it ("C:\a\*.*"), or "" above a drive root.
std::string parent_path(const std::string& folder);

void select_all_entries(int gadget);
void clear_select_all(int gadget);
void selection_scan();
void reset_temp_folders();
// Empties the selection list and clears the "Select all" highlight of the file list.
void release_selection();
