// The folder tree's state and the node steps its two files share (Windows only).
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <string>

#include "explorer/folder_tree_text.h"

struct FolderTree {
  HWND tree = nullptr;
  int number = -1;
  uint32_t flags = 0;
  std::string pattern = "*.*";  // ";"-separated parts
  HTREEITEM root = nullptr;
  DriveRequester requester;
  int colors[3] = {-1, -1, -1};
  HIMAGELIST private_images = nullptr;  // copy of the system list on the background colour
  int private_image_count = 0;
};

FolderTree* folder_tree_of(HWND tree);

// Nodes (folder_tree_nodes_win.cpp)
long node_value(const FolderTree& t, HTREEITEM node);
std::string node_path(const FolderTree& t, HTREEITEM node);  // as gadget_get_text gives it
HTREEITEM selected_node(const FolderTree& t);
void tree_rebuild(FolderTree& t);
// Reads a node's children once; false when it cannot open (a drive that cannot be read).
bool tree_read_node(FolderTree& t, HTREEITEM node);
// Opens the drive of the location and each folder on the way; selects the deepest one found.
void tree_walk(FolderTree& t, const std::string& location);
void tree_update_images(FolderTree& t);

// Drive requester and device changes (folder_tree_devices_win.cpp)
void tree_watch_device_changes(FolderTree& t);  // subclasses the top-level window of the first tree
void tree_forget(FolderTree& t);
