// The folder tree: gadget kind 24, My Computer with the drives and My Documents below it, folders
// read when their node first opens. gadget_get_text gives the selected node's path.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "explorer/folder_tree_text.h"

// Creates the tree on the current gadget target window and walks to path (a folder, a folder with
// a pattern, or a pattern). flags: TREE_* bits. Returns the control, or nullptr on failure.
HWND folder_tree_create(int number, int x, int y, int w, int h, const std::string& path, uint32_t flags);
