// Menu bars: one per menu number, built title by title; items report EVENT_MENU with their number.
#pragma once
#include <windows.h>

#include <string>

// Creates an empty menu bar for the window and makes it the menu being built; nonzero on success.
// A menu already held under that number is replaced.
int create_menu(int number, HWND window);
// Appends a drop-down to the bar being built; the items that follow go into it.
int menu_title(const std::string& text);
// Appends a text item to the current drop-down.
int menu_item(int number, const std::string& text);
// Appends a separator line to the current drop-down.
int menu_bar_separator();
// The bar held under a number, or nullptr.
HMENU menu_handle(int number);
