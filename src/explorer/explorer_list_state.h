// The explorer list's state and the steps its files share (Windows only).
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "explorer/explorer_shared_win.h"
#include "explorer/list_cells.h"

struct ExplorerList {
  HWND list = nullptr;
  int number = -1;
  uint32_t flags = 0;
  std::string path;  // "" = drive level; otherwise ends with "\"
  std::string pattern = "*.*";
  DriveRequester requester;
  std::vector<uint8_t> column_kinds;  // at most LIST_COLUMN_LIMIT
  int sort_direction = 0;             // 0 never sorted, 1 ascending, -1 descending
  int sort_column = 0;
  int colors[3] = {-1, -1, -1};
};

constexpr size_t LIST_COLUMN_LIMIT = 200;

// Every list alive, for device changes.
std::vector<ExplorerList*>& explorer_lists();
ExplorerList* explorer_list_of(HWND list);

// Listing (explorer_listing_win.cpp)
void list_navigate(ExplorerList& l, const std::string& text);  // gadget_set_text
void list_sort(ExplorerList& l);  // by the remembered column and direction, if any
int list_item_kind(const ExplorerList& l, int item);        // -1 for no such item
long long list_item_value(const ExplorerList& l, int item);  // see item_value; -1 for no such item
std::string list_cell(const ExplorerList& l, int item, int column);
// Activation of the first selected item; returns the event type to report.
int list_activate(ExplorerList& l);

// Volume arrivals and removals for every list (explorer_list_win.cpp).
void lists_volumes_changed(bool arrived, DWORD units);
