#include <windows.h>

#include "operations/busy_window.h"
#include "ui/events.h"
#include "ui/ui.h"

namespace {

constexpr int BUSY_WINDOW = 3;
// Gadget numbers are shared by every window: these are used by no other.
constexpr int STATUS = 44, BAR = 45, CANCEL_BUTTON = 46;
constexpr DWORD SHOW_AFTER_MS = 1000;

// What the loops act on. Native messages (window -1) were handled when they were taken; kept,
// they would come back as events, a WM_CLOSE as the main window's close.
bool worth_holding(int code, int window) {
  return window >= 0 && (code == EVENT_GADGET || code == EVENT_MENU || code == EVENT_CLOSE_WINDOW);
}

}  // namespace

bool pump_messages(const RunView& view, std::vector<HeldEvent>& held, unsigned wait_ms) {
  if (wait_ms) MsgWaitForMultipleObjects(0, nullptr, FALSE, wait_ms, QS_ALLINPUT);
  bool stop = false;
  for (int taken = 0; taken < 256; ++taken) {
    int code = wait_event(0);
    if (code == 0) break;
    int window = event_window_number();
    if (view.window >= 0 && window == view.window)
      stop = stop || code == EVENT_CLOSE_WINDOW || (code == EVENT_GADGET && event_gadget_number() == view.stop_gadget);
    else if (worth_holding(code, window))
      held.push_back({code, event_gadget_number(), window, event_type(), event_data(0), event_data(1)});
  }
  return stop;
}

void release_held_events(std::vector<HeldEvent>& held) {
  for (const HeldEvent& e : held)
    if (window_handle(e.window)) queue_event(e.code, e.gadget, e.window, e.type, e.data0, e.data1);
  held.clear();
}

RunView open_busy_window(const std::string& what) {
  if (!window_open(BUSY_WINDOW, 0, 0, 360, 100, "Vantor - " + what, 0x10C80001, window_handle(0)))
    return RunView();
  button_gadget(CANCEL_BUTTON, 290, 66, 60, 28, "Cancel");
  gadget_set_tooltip(CANCEL_BUTTON, "Stop and undo what is not finished");
  window_show(BUSY_WINDOW, 1);
  // The status has two lines, the figures and the member at hand.
  return RunView{BUSY_WINDOW, CANCEL_BUTTON, {BAR, 10, 44, 340, 18}, {STATUS, 10, 6, 340, 34}};
}

void close_busy_window() { window_close(BUSY_WINDOW); }

BusyWork::BusyWork(std::string what) : what_(std::move(what)), start_(GetTickCount()) {
  window_disable(0, 1);
  previous_cursor_ = GetCursor();
  previous_busy_cursor_ = window_busy_cursor(0, LoadCursorA(nullptr, IDC_WAIT));
}

// The main window is enabled before the busy window goes, so activation returns to it.
BusyWork::~BusyWork() {
  window_disable(0, 0);
  if (view_.window >= 0) close_busy_window();
  window_busy_cursor(0, static_cast<HCURSOR>(previous_busy_cursor_));
  SetCursor(static_cast<HCURSOR>(previous_cursor_));
  release_held_events(held_);
}

bool BusyWork::poll(int64_t done, int64_t total, const std::string& status) {
  DWORD now = GetTickCount();
  if (now - last_ < 20) return !cancelled_;  // messages are looked at fifty times a second
  last_ = now;
  if (view_.window < 0 && now - start_ >= SHOW_AFTER_MS) {
    view_ = open_busy_window(what_);
    if (view_.window >= 0) show_run_gadgets(view_, status);
  }
  if (view_.window >= 0 && !cancelled_) {
    int position = total > 0 ? static_cast<int>(static_cast<double>(done > total ? total : done) * PROGRESS_RANGE /
                                                static_cast<double>(total))
                             : PROGRESS_MARQUEE;
    if (position != gadget_get_state(view_.bar.number)) gadget_set_state(view_.bar.number, position);
    if (status != gadget_get_text(view_.status.number)) gadget_set_text(view_.status.number, status);
  }
  if (pump_messages(view_, held_, 0) && !cancelled_) {
    cancelled_ = true;
    if (view_.window >= 0) gadget_set_text(view_.status.number, "Cancelling...");
  }
  return !cancelled_;
}
