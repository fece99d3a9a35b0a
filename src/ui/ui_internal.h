// Glue between the window table and the gadget table; not for use outside src/ui.
#pragma once
#include <windows.h>

LRESULT dispatch_to_gadget(HWND control, UINT msg, WPARAM wp, LPARAM lp, bool* handled);
void set_gadget_target(int window);
void forget_gadget_target(int window);
void drop_window_events(int window);
void drop_gadget_events(int gadget);
