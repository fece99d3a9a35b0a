// The location combo: gadget kind 25, the drop-down of places above the file list. Choosing an
// entry makes its place the location (gadget_get_text, "" for My Computer) and reports a click.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "explorer/location_entries.h"

// Creates the combo on the current gadget target window, h being the closed height, and fills it
// for location. flags: LOCATION_* bits. Returns the control, or nullptr when it cannot be made.
HWND location_combo_create(int number, int x, int y, int w, int h, const std::string& location, uint32_t flags);
