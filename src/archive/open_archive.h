// Opening an archive: the mirror tree under temp_root, the entry table, and the size listing.
#pragma once
#include <string>

// Builds the mirror tree, shows it in the file list and runs the archive loop until it is left.
void open_archive(const std::string& path);
// The first half of opening: old temporary folders removed, index walked, mirror tree and entry
// table built.
void build_mirror_tree(const std::string& path);
// Rewrites the file list's size column from the entry table for the folder on view.
void listing_step();
// Creates every folder along a path; 1 when the deepest one was created by this call.
int create_folder_chain(const std::string& path);
