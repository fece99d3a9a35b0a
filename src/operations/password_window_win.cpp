// The password window (window 5). Its fields hide what is typed until "Show password" is ticked,
// and are overwritten before the window goes, so the edit controls' memory keeps no password.
#include <windows.h>

#include "operations/archiver_run.h"
#include "operations/password.h"
#include "operations/password_window.h"
#include "runtime/text.h"
#include "ui/events.h"
#include "ui/note.h"
#include "ui/ui.h"

namespace {

constexpr int WINDOW = 5;
// Gadget numbers are shared by every window: these are free in the main and compression windows.
constexpr int PASSWORD_LABEL = 60, PASSWORD_FIELD = 61, AGAIN_LABEL = 62, AGAIN_FIELD = 63;
constexpr int SHOW_CHECK = 64, NAMES_CHECK = 65, OK_BUTTON = 66, CANCEL_BUTTON = 67;
constexpr char HIDDEN_CHAR = '*';

void hide_typing(int field, bool hide) {
  HWND edit = gadget_handle(field);
  if (!edit) return;
  SendMessageA(edit, EM_SETPASSWORDCHAR, hide ? HIDDEN_CHAR : 0, 0);
  InvalidateRect(edit, nullptr, TRUE);
}

void create_field(int label, int field, int y, const std::string& text) {
  text_gadget(label, 10, y, 300, 20, text);
  string_gadget(field, 10, y + 20, 300, 22, "");
  hide_typing(field, true);
}

// Blanks of the same length first, so the control's own buffer is overwritten in place.
void wipe_field(int field) {
  std::string typed = gadget_get_text(field);
  if (!typed.empty()) gadget_set_text(field, std::string(typed.size(), ' '));
  gadget_set_text(field, "");
  wipe_secret(typed);
}

// Enter takes what is typed (on Cancel it cancels), Esc cancels, as in a dialog; -1 for other
// events. The character the key makes is taken too: the field would only beep at it.
int key_gadget(int code) {
  HWND focus = GetFocus();
  if (code != WM_KEYDOWN || !focus || GetAncestor(focus, GA_ROOT) != window_handle(WINDOW)) return -1;
  WPARAM key = static_cast<WPARAM>(event_data(0));
  if (key != VK_RETURN && key != VK_ESCAPE) return -1;
  MSG typed;
  PeekMessageA(&typed, focus, WM_CHAR, WM_CHAR, PM_REMOVE);
  return key == VK_ESCAPE || focus == gadget_handle(CANCEL_BUTTON) ? CANCEL_BUTTON : OK_BUTTON;
}

// Runs the window until OK is accepted by `accept` (true) or it is cancelled (false).
template <typename Accept>
bool run_password_window(int parent, bool twice, Accept accept) {
  window_disable(parent, 1);
  bool taken = false, quit = false;
  while (!quit) {
    int code = wait_event(-1), gadget = key_gadget(code);
    if (gadget < 0) {
      if (event_window_number() != WINDOW) continue;
      if (code == EVENT_CLOSE_WINDOW) break;
      if (code != EVENT_GADGET) continue;
      gadget = event_gadget_number();
    }
    switch (gadget) {
      case SHOW_CHECK:
        hide_typing(PASSWORD_FIELD, gadget_get_state(SHOW_CHECK) != 1);
        if (twice) hide_typing(AGAIN_FIELD, gadget_get_state(SHOW_CHECK) != 1);
        break;
      case OK_BUTTON: quit = taken = accept(); break;
      case CANCEL_BUTTON: quit = true; break;
      default: break;
    }
  }
  wipe_field(PASSWORD_FIELD);
  if (twice) wipe_field(AGAIN_FIELD);
  window_disable(parent, 0);
  window_close(WINDOW);
  return taken;
}

bool open_password_window(int parent, int height, const std::string& title) {
  return window_open(WINDOW, 0, 0, 320, height, title, 0x10C80001, window_handle(parent)) != 0;
}

// The check boxes' row at y, the buttons below it; in tab order.
void create_boxes_and_buttons(int y, bool names_box) {
  checkbox_gadget(SHOW_CHECK, 10, y, 140, 20, "Show password");
  if (names_box) checkbox_gadget(NAMES_CHECK, 160, y, 150, 20, "Encrypt names too");
  button_gadget(OK_BUTTON, 180, y + 30, 60, 28, "OK");
  button_gadget(CANCEL_BUTTON, 250, y + 30, 60, 28, "Cancel");
}

void refuse(const std::string& problem) {
  message_box("Note:", problem, NOTE_WARNING);
  SetFocus(gadget_handle(PASSWORD_FIELD));
}

}  // namespace

bool ask_new_password(int parent, NewPassword& choice) {
  if (!open_password_window(parent, 190, "Vantor - password")) return false;
  create_field(PASSWORD_LABEL, PASSWORD_FIELD, 10, "Password:");
  create_field(AGAIN_LABEL, AGAIN_FIELD, 60, "Password again:");
  create_boxes_and_buttons(110, true);
  gadget_set_state(NAMES_CHECK, choice.encrypt_names ? 1 : 0);
  gadget_set_tooltip(NAMES_CHECK, "Only the archive's size stays visible; the names are read with the password");
  window_show(WINDOW, 1);
  SetFocus(gadget_handle(PASSWORD_FIELD));
  return run_password_window(parent, true, [&] {
    std::string first = gadget_get_text(PASSWORD_FIELD), second = gadget_get_text(AGAIN_FIELD);
    std::string problem = new_password_problem(first, second);
    wipe_secret(second);
    if (!problem.empty()) {
      wipe_secret(first);
      refuse(problem);
      return false;
    }
    wipe_secret(choice.password);
    choice.password = first;
    choice.encrypt_names = gadget_get_state(NAMES_CHECK) == 1;
    wipe_secret(first);
    return true;
  });
}

bool ask_archive_password(int parent, const std::string& archive_path, std::string& password) {
  if (!open_password_window(parent, 140, "Vantor - password")) return false;
  create_field(PASSWORD_LABEL, PASSWORD_FIELD, 10, "Password of " + file_part(archive_path) + ":");
  create_boxes_and_buttons(60, false);
  window_show(WINDOW, 1);
  SetFocus(gadget_handle(PASSWORD_FIELD));
  return run_password_window(parent, false, [&] {
    std::string typed = gadget_get_text(PASSWORD_FIELD);
    std::string problem = asked_password_problem(typed);
    if (!problem.empty()) {
      wipe_secret(typed);
      refuse(problem);
      return false;
    }
    wipe_secret(password);
    password = typed;
    wipe_secret(typed);
    return true;
  });
}
