// The progress bar gadget: a common-controls progress bar with a range of 0 to PROGRESS_RANGE
// that turns into a marquee while the total of the work is unknown.
#include <windows.h>
#include <commctrl.h>

#include "ui/ui.h"

namespace {

void set_marquee(HWND bar, bool on) {
  LONG_PTR style = GetWindowLongPtrA(bar, GWL_STYLE);
  bool now = (style & PBS_MARQUEE) != 0;
  if (now == on) return;
  SetWindowLongPtrA(bar, GWL_STYLE, on ? style | PBS_MARQUEE : style & ~static_cast<LONG_PTR>(PBS_MARQUEE));
  SendMessageA(bar, PBM_SETMARQUEE, on ? TRUE : FALSE, 30);
}

int progress_get_state(Gadget& g) {
  if (GetWindowLongPtrA(g.handle, GWL_STYLE) & PBS_MARQUEE) return PROGRESS_MARQUEE;
  return static_cast<int>(SendMessageA(g.handle, PBM_GETPOS, 0, 0));
}

void progress_set_state(Gadget& g, int value) {
  set_marquee(g.handle, value == PROGRESS_MARQUEE);
  if (value != PROGRESS_MARQUEE)
    SendMessageA(g.handle, PBM_SETPOS, static_cast<WPARAM>(value < 0 ? 0 : value > PROGRESS_RANGE ? PROGRESS_RANGE : value), 0);
}

const GadgetClass PROGRESS_KIND = [] {
  GadgetClass c = {};
  c.kind = GADGET_PROGRESS;
  c.get_state = progress_get_state;
  c.set_state = progress_set_state;
  return c;
}();

}  // namespace

HWND progress_gadget(int number, int x, int y, int w, int h) {
  HWND parent = gadget_target_window();
  if (!parent || number < 0) return nullptr;
  HWND hwnd = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, x, y, w, h, parent,
                              reinterpret_cast<HMENU>(static_cast<intptr_t>(number)), GetModuleHandleA(nullptr),
                              nullptr);
  if (hwnd) SendMessageA(hwnd, PBM_SETRANGE32, 0, PROGRESS_RANGE);
  return gadget_register(number, hwnd, &PROGRESS_KIND, nullptr);
}
