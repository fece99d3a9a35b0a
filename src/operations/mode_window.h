// What the compression and extraction windows share: they are modal by hand, with the main
// window disabled while they are open and set topmost when they close.
#pragma once
#include <functional>
#include <initializer_list>

// Disables the main window and takes it out of the topmost state.
void begin_mode_window();
// Takes events until the close box or a gadget handler (gadget number, event type) says quit.
void run_mode_window(int window, const std::function<bool(int gadget, int type)>& handle_gadget);
// Lets the selection go, closes the window, and gives the main window back.
void end_mode_window(int window, const std::function<void()>& release_selection);

// A run in a mode window: the other gadgets are disabled (the window closes after the run) and
// the exit button, which cancels the run, reads "Cancel" until it has ended, then "Retry" again.
void begin_mode_run(int exit_button, std::initializer_list<int> other_gadgets);
void end_mode_run(int exit_button);
