// Work that keeps the windows alive: its window messages handled as it goes, the user's other
// events kept for afterwards, and, past a second, a small window with a bar, a status line and
// Cancel (window 3) for work that has no window of its own: a member launch, a large opening.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "operations/archiver_run.h"

// Window messages that have arrived are handled; true when the user asked `view` to stop (its
// close box or its stop gadget). Gadget, menu and close events of other windows are kept in
// `held`; everything else was handled when it was taken.
struct HeldEvent {
  int code, gadget, window, type;
  intptr_t data0, data1;
};
bool pump_messages(const RunView& view, std::vector<HeldEvent>& held, unsigned wait_ms);
// Gives the kept events of windows still open back to the queue, in their order.
void release_held_events(std::vector<HeldEvent>& held);

// Opens the busy window titled "Vantor - <what>" and returns where a run shows itself in it.
RunView open_busy_window(const std::string& what);
void close_busy_window();

// For the front end's own long work: call it often with how far it has got. Past a second it
// shows the busy window; it returns false once the user asked to stop. The main window is
// disabled meanwhile, with a busy cursor.
class BusyWork {
 public:
  explicit BusyWork(std::string what);
  ~BusyWork();
  BusyWork(const BusyWork&) = delete;
  BusyWork& operator=(const BusyWork&) = delete;
  // done of total units (total -1 when unknown), described as `status`.
  bool poll(int64_t done, int64_t total, const std::string& status);
  bool cancelled() const { return cancelled_; }

 private:
  std::string what_;
  uint32_t start_, last_ = 0;
  RunView view_;
  std::vector<HeldEvent> held_;
  bool cancelled_ = false;
  void* previous_cursor_ = nullptr;
  void* previous_busy_cursor_ = nullptr;
};
