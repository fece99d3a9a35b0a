// The explorer list: gadget kind 23, a report-view list of one folder of the disk (a ".." entry,
// its folders, the files matching a ";"-separated pattern) or of the drive level.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "explorer/list_cells.h"

// Creates the list on the current gadget target window and navigates to path (a text without
// "\" only sets the pattern, so the list starts at the drive level). flags: LIST_* bits.
// Returns the control, or nullptr when it cannot be created.
HWND explorer_list_create(int number, int x, int y, int w, int h, const std::string& path, uint32_t flags);

// Display modes of attribute 2.
constexpr int LIST_MODE_LARGE_ICONS = 0;
constexpr int LIST_MODE_SMALL_ICONS = 1;
constexpr int LIST_MODE_LIST = 2;
constexpr int LIST_MODE_REPORT = 3;
constexpr int LIST_ATTRIBUTE_COLUMN_WIDTH = 1;  // item attribute
constexpr int LIST_ATTRIBUTE_DISPLAY_MODE = 2;  // gadget attribute

// Sets the given state bits (under mask) on every entry but "..", as "Select all" shows it.
void explorer_list_highlight(int number, uint32_t state, uint32_t mask);
