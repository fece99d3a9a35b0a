// Glue between the window table and the gadget table; not for use outside src/ui.
#pragma once
#include <windows.h>
#include <shellapi.h>

LRESULT dispatch_to_gadget(HWND control, UINT msg, WPARAM wp, LPARAM lp, bool* handled);
void set_gadget_target(int window);
void forget_gadget_target(int window);
void drop_window_events(int window);
void drop_gadget_events(int gadget);
// WM_DROPFILES of one of our windows: the names are kept and the drop queued as an event.
void on_drop_files(HWND hwnd, int window, HDROP drop);
