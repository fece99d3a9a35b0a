#include "operations/mode_window.h"

#include "ui/events.h"
#include "ui/ui.h"

void begin_mode_window() {
  window_disable(0, 1);
  window_set_topmost(0, 0);
}

void run_mode_window(int window, const std::function<bool(int gadget, int type)>& handle_gadget) {
  bool quit = false;
  while (!quit) {
    int code = wait_event(-1);
    if (code == EVENT_CLOSE_WINDOW)
      quit = true;
    else if (code == EVENT_GADGET && event_window_number() == window)
      quit = handle_gadget(event_gadget_number(), event_type());
  }
}

void end_mode_window(int window, const std::function<void()>& release_selection) {
  if (release_selection) release_selection();
  window_disable(0, 0);  // first: closing a window can take a while, and activation goes back to it
  window_close(window);
  window_set_topmost(0, 1);
}

void begin_mode_run(int exit_button, std::initializer_list<int> other_gadgets) {
  for (int g : other_gadgets) gadget_disable(g, 1);
  gadget_set_text(exit_button, "Cancel");
  gadget_set_tooltip(exit_button, "Stop and undo what is not finished");
}

void end_mode_run(int exit_button) {
  gadget_set_text(exit_button, "Retry");
  gadget_set_tooltip(exit_button, "Exit");
}
