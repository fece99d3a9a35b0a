// Numbered windows, the event record and queue, and the common window procedure that turns
// native messages into events. Gadgets live in gadgets_win.cpp.
// Pitfalls:
// - A native message no procedure turned into an event comes out of wait_event under its own
//   number, which may equal one of ours (WM_CLOSE is 16, EVENT_CLOSE_WINDOW too): it names no
//   window (-1), so nobody takes it for an event of window 0.
// - A disabled window still gets WM_SETCURSOR, and a gadget asks its parent first: `busy` keeps a
//   run's cursor over the window it keeps still, and a click there brings its working window forward.
#include "ui/ui.h"
#include "ui/tooltip.h"
#include "ui/ui_internal.h"

#include <commctrl.h>

#include <deque>
#include <vector>

namespace {

struct WindowRecord {
  HWND handle = nullptr;
  HACCEL accelerators = nullptr;
  HBRUSH background = nullptr;
  HWND saved_focus = nullptr;
  int size_state = 0;  // 0 normal, 1 minimised, 2 maximised
  bool in_use = false;
};

struct EventRecord {
  int code = 0;
  int gadget = 0;
  int window = 0;
  int type = EVENT_TYPE_NONE;
  intptr_t data[2] = {0, 0};
};

constexpr int ACCEL_NEXT_CONTROL = 64001;
constexpr int ACCEL_PREVIOUS_CONTROL = 64002;
constexpr uint32_t LAYER_FLAGS = WINDOW_CENTER_SCREEN | WINDOW_CENTER_PARENT | WINDOW_TOOL |
                                 WINDOW_NO_GADGET_TARGET | WINDOW_HIDDEN | WINDOW_MAXIMIZED |
                                 WINDOW_MINIMIZED;
const char* const WINDOW_PROPERTY = "VantorWindow";

std::vector<WindowRecord> windows;
std::deque<EventRecord> queue;
EventRecord current;
EventRecord record;  // filled while a message is dispatched
bool record_set = false;
HDC drawing_dc = nullptr;
int drawing_window = -1;
struct {
  int window = -1;
  HCURSOR cursor = nullptr;
} busy;

WindowRecord* window_record(int number) {
  if (number < 0 || number >= static_cast<int>(windows.size()) || !windows[number].in_use) return nullptr;
  return &windows[number];
}

std::string class_name(int number) { return "WindowClass_" + std::to_string(number); }

// The direct child of `top` that holds `hwnd` (focus may sit inside a composite control).
HWND child_of(HWND top, HWND hwnd) {
  while (hwnd && GetParent(hwnd) && GetParent(hwnd) != top) hwnd = GetParent(hwnd);
  return hwnd;
}

void move_focus(HWND top, bool previous) {
  HWND from = child_of(top, GetFocus());
  HWND next = GetNextDlgTabItem(top, from, previous ? TRUE : FALSE);
  if (next) SetFocus(next);
}

void on_size(int number, WindowRecord& w, WPARAM kind) {
  if (kind == SIZE_MINIMIZED) {
    w.size_state = 1;
    queue_event(EVENT_WINDOW_MINIMIZED, number, number, EVENT_TYPE_NONE);
    return;
  }
  if (kind == SIZE_MAXIMIZED) {
    w.size_state = 2;
    queue_event(EVENT_WINDOW_MAXIMIZED, number, number, EVENT_TYPE_NONE);
  } else if (kind == SIZE_RESTORED && w.size_state != 0) {
    w.size_state = 0;
    queue_event(EVENT_WINDOW_RESTORED, number, number, EVENT_TYPE_NONE);
  }
  queue_event(EVENT_WINDOW_SIZED, number, number, EVENT_TYPE_NONE);
}

LRESULT on_command(HWND hwnd, int number, WPARAM wp, LPARAM lp) {
  HWND control = reinterpret_cast<HWND>(lp);
  if (control) {
    if (GetDlgCtrlID(control) == -10000) {  // a tool bar reports its buttons as menu items
      set_event(EVENT_MENU, LOWORD(wp), number, EVENT_TYPE_NONE);
      return 0;
    }
    bool handled = false;
    LRESULT result = dispatch_to_gadget(control, WM_COMMAND, wp, lp, &handled);
    if (handled) return result;
    if (Gadget* g = gadget_from_handle(control)) set_event(EVENT_GADGET, g->number, number, HIWORD(wp));
    return 0;
  }
  if (HIWORD(wp) == 1) {
    if (LOWORD(wp) == ACCEL_NEXT_CONTROL || LOWORD(wp) == ACCEL_PREVIOUS_CONTROL) {
      move_focus(hwnd, LOWORD(wp) == ACCEL_PREVIOUS_CONTROL);
      return 0;
    }
  }
  set_event(EVENT_MENU, LOWORD(wp), number, EVENT_TYPE_NONE);
  return 0;
}

// True when the window became active: its saved focus is given back.
bool on_activate(HWND hwnd, int number, WindowRecord& w, WPARAM wp) {
  if (LOWORD(wp) == WA_INACTIVE) {
    w.saved_focus = GetFocus();
    return false;
  }
  if (w.saved_focus && IsWindow(w.saved_focus) && IsChild(hwnd, w.saved_focus)) SetFocus(w.saved_focus);
  queue_event(EVENT_WINDOW_ACTIVATED, number, number, EVENT_TYPE_NONE);
  return true;
}

// True when the window's own background was painted.
bool on_erase_background(HWND hwnd, int number, const WindowRecord& w, WPARAM wp) {
  queue_event(EVENT_WINDOW_REPAINT, number, number, EVENT_TYPE_NONE);
  if (!w.background) return false;
  RECT r;
  GetClientRect(hwnd, &r);
  FillRect(reinterpret_cast<HDC>(wp), &r, w.background);
  return true;
}

// The visible, enabled window of ours that `owner` owns, if any.
HWND enabled_owned_window(HWND owner) {
  for (const WindowRecord& w : windows)
    if (w.in_use && w.handle && GetWindow(w.handle, GW_OWNER) == owner && IsWindowVisible(w.handle) &&
        IsWindowEnabled(w.handle))
      return w.handle;
  return nullptr;
}

// True when the cursor was set. A press on a disabled window goes to the window it waits for.
bool on_set_cursor(HWND hwnd, int number, LPARAM lp) {
  UINT mouse = HIWORD(lp);
  if (!IsWindowEnabled(hwnd) && (mouse == WM_LBUTTONDOWN || mouse == WM_RBUTTONDOWN || mouse == WM_MBUTTONDOWN)) {
    if (HWND front = enabled_owned_window(hwnd)) {
      SetForegroundWindow(front);
      SetActiveWindow(front);
    }
  }
  if (number != busy.window || !busy.cursor) return false;
  SetCursor(busy.cursor);
  return true;
}

LRESULT CALLBACK common_window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  int number = window_number_of(hwnd);
  WindowRecord* w = window_record(number);
  if (!w) return DefWindowProcA(hwnd, msg, wp, lp);
  bool handled = false;
  LRESULT result = 0;
  switch (msg) {
    case WM_CLOSE:
      queue_event(EVENT_CLOSE_WINDOW, number, number, EVENT_TYPE_LEFT_CLICK);
      return 0;
    case WM_MOVE:
      queue_event(EVENT_WINDOW_MOVED, number, number, EVENT_TYPE_NONE);
      break;
    case WM_SIZE:
      on_size(number, *w, wp);
      break;
    case WM_ACTIVATE:
      if (on_activate(hwnd, number, *w, wp)) return 0;
      break;
    case WM_ERASEBKGND:
      if (on_erase_background(hwnd, number, *w, wp)) return 1;
      break;
    case WM_SETCURSOR:
      if (on_set_cursor(hwnd, number, lp)) return TRUE;
      break;
    case WM_COMMAND:
      return on_command(hwnd, number, wp, lp);
    case WM_NOTIFY:
      result = dispatch_to_gadget(reinterpret_cast<NMHDR*>(lp)->hwndFrom, msg, wp, lp, &handled);
      if (handled) return result;
      break;
    case WM_DROPFILES:
      on_drop_files(hwnd, number, reinterpret_cast<HDROP>(wp));
      return 0;
    case WM_TIMER:
      set_event(EVENT_TIMER, static_cast<int>(wp), number, EVENT_TYPE_NONE);
      return 0;
    case WM_HSCROLL:
    case WM_VSCROLL:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX:
    case WM_VANTOR_REFRESH:
      result = dispatch_to_gadget(reinterpret_cast<HWND>(lp), msg, wp, lp, &handled);
      if (handled) return result;
      break;
    case WM_DRAWITEM:
      result = dispatch_to_gadget(reinterpret_cast<DRAWITEMSTRUCT*>(lp)->hwndItem, msg, wp, lp, &handled);
      if (handled) return result;
      break;
    default:
      break;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

void place_window(uint32_t flags, HWND parent, int& x, int& y, int& outer_w, int& outer_h) {
  int screen_w = GetSystemMetrics(SM_CXSCREEN), screen_h = GetSystemMetrics(SM_CYSCREEN);
  if (flags & WINDOW_CENTER_SCREEN) {
    if (outer_w > screen_w) outer_w = screen_w;
    if (outer_h > screen_h) outer_h = screen_h;
    x = (screen_w - outer_w) / 2;
    y = (screen_h - outer_h) / 2;
  } else if (flags & WINDOW_CENTER_PARENT) {
    HWND around = parent ? parent : GetActiveWindow();
    RECT r = {0, 0, screen_w, screen_h};
    if (around) GetWindowRect(around, &r);
    x = r.left + ((r.right - r.left) - outer_w) / 2;
    y = r.top + ((r.bottom - r.top) - outer_h) / 2;
    if (x < 0) x = 0;
    if (y < 0) y = 0;
  } else {
    if (x == WINDOW_DEFAULT_POSITION) x = CW_USEDEFAULT;
    if (y == WINDOW_DEFAULT_POSITION) y = CW_USEDEFAULT;
  }
}

}  // namespace

void set_event(int code, int gadget, int window, int type, intptr_t data0, intptr_t data1) {
  record.code = code;
  record.gadget = gadget;
  record.window = window;
  record.type = type;
  record.data[0] = data0;
  record.data[1] = data1;
  record_set = true;
}

void queue_event(int code, int gadget, int window, int type, intptr_t data0, intptr_t data1) {
  if (!queue.empty()) {
    const EventRecord& last = queue.back();
    if (last.code == code && last.gadget == gadget && last.window == window && last.type == type) return;
  }
  EventRecord e;
  e.code = code;
  e.gadget = gadget;
  e.window = window;
  e.type = type;
  e.data[0] = data0;
  e.data[1] = data1;
  queue.push_back(e);
}

int queued_event_count() { return static_cast<int>(queue.size()); }

void drop_window_events(int window) {
  for (auto it = queue.begin(); it != queue.end();)
    it = (it->window == window) ? queue.erase(it) : it + 1;
}

void drop_gadget_events(int gadget) {
  for (auto it = queue.begin(); it != queue.end();)
    it = (it->code == EVENT_GADGET && it->gadget == gadget) ? queue.erase(it) : it + 1;
}

int wait_event(int timeout_ms) {
  current = EventRecord();
  if (!queue.empty()) {
    current = queue.front();
    queue.pop_front();
    return current.code;
  }
  MSG msg;
  record_set = false;
  bool got = false;
  if (timeout_ms < 0) {
    got = GetMessageA(&msg, nullptr, 0, 0) > 0;
  } else {
    got = PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) != 0;
    if (!got && timeout_ms > 0) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(timeout_ms), QS_ALLINPUT);
      got = PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) != 0;
    }
  }
  // Messages sent from other threads are handled while the queue is read; what they reported
  // waits in the queue instead of being overwritten by the message just taken.
  if (record_set) {
    record_set = false;
    queue_event(record.code, record.gadget, record.window, record.type, record.data[0], record.data[1]);
  }
  if (!got) {
    if (queue.empty()) return 0;
    current = queue.front();
    queue.pop_front();
    return current.code;
  }
  HWND active = GetActiveWindow();
  WindowRecord* w = window_record(window_number_of(active));
  if (!w || !w->accelerators || !TranslateAcceleratorA(active, w->accelerators, &msg)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  if (record_set) {
    record_set = false;
    current = record;
    return current.code;
  }
  current.code = static_cast<int>(msg.message);
  current.window = -1;
  current.data[0] = static_cast<intptr_t>(msg.wParam);
  current.data[1] = static_cast<intptr_t>(msg.lParam);
  return current.code;
}

int event_gadget_number() { return current.gadget; }
int event_window_number() { return current.window; }
int event_type() { return current.type; }
intptr_t event_data(int which) { return (which == 0 || which == 1) ? current.data[which] : 0; }

// Besides the list, tree and bar classes the gadgets use: tab, hot-key, date, combo box ex and
// internet classes.
constexpr DWORD OTHER_CONTROL_CLASSES =
    ICC_TAB_CLASSES | ICC_HOTKEY_CLASS | ICC_DATE_CLASSES | ICC_USEREX_CLASSES | ICC_INTERNET_CLASSES;

void ui_init() {
  INITCOMMONCONTROLSEX icc = {sizeof(icc), OTHER_CONTROL_CLASSES | ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES |
                                               ICC_BAR_CLASSES};
  InitCommonControlsEx(&icc);
  if (windows.empty()) windows.resize(8);
}

void ui_shutdown() {
  for (int i = static_cast<int>(windows.size()) - 1; i >= 0; --i)
    if (windows[i].in_use) window_close(i);
  tooltip_shutdown();
}

int window_open(int number, int x, int y, int inner_width, int inner_height, const std::string& title,
                uint32_t flags, HWND parent) {
  if (number < 0) return 0;
  if (window_record(number)) window_close(number);
  if (number >= static_cast<int>(windows.size())) windows.resize(number + 8);

  std::string cls = class_name(number);
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof(wc);
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = common_window_proc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
  wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_3DFACE + 1);
  wc.lpszClassName = cls.c_str();
  RegisterClassExA(&wc);

  DWORD style = flags & ~LAYER_FLAGS;
  if (style == 0) style = WS_CAPTION;
  DWORD ex_style = (flags & WINDOW_TOOL) ? WS_EX_TOOLWINDOW : 0;
  RECT r = {0, 0, inner_width, inner_height};
  AdjustWindowRectEx(&r, style, FALSE, ex_style);
  int outer_w = r.right - r.left, outer_h = r.bottom - r.top;
  place_window(flags, parent, x, y, outer_w, outer_h);

  WindowRecord& w = windows[number];
  w = WindowRecord();
  w.in_use = true;  // the procedure must find the record while the window is being created
  HWND hwnd = CreateWindowExA(ex_style, cls.c_str(), title.c_str(), style, x, y, outer_w, outer_h, parent,
                              nullptr, instance, nullptr);
  if (!hwnd) {
    w.in_use = false;
    UnregisterClassA(cls.c_str(), instance);
    return 0;
  }
  w.handle = hwnd;
  SetPropA(hwnd, WINDOW_PROPERTY, reinterpret_cast<HANDLE>(static_cast<intptr_t>(number + 1)));
  ACCEL keys[2] = {{FVIRTKEY | FNOINVERT, VK_TAB, ACCEL_NEXT_CONTROL},
                   {FVIRTKEY | FSHIFT | FNOINVERT, VK_TAB, ACCEL_PREVIOUS_CONTROL}};
  w.accelerators = CreateAcceleratorTableA(keys, 2);
  if (!(flags & WINDOW_NO_GADGET_TARGET)) set_gadget_target(number);
  if (!(flags & WINDOW_HIDDEN)) {
    int show = (flags & WINDOW_MAXIMIZED) ? SW_SHOWMAXIMIZED : (flags & WINDOW_MINIMIZED) ? SW_SHOWMINIMIZED : SW_SHOW;
    ShowWindow(hwnd, show);
    UpdateWindow(hwnd);
  }
  return 1;
}

int window_number_of(HWND hwnd) {
  if (!hwnd) return -1;
  // The table is small; scanning it spares a property lookup, which under Wine is a server call
  // made for every message.
  for (size_t i = 0; i < windows.size(); ++i)
    if (windows[i].in_use && windows[i].handle == hwnd) return static_cast<int>(i);
  intptr_t value = reinterpret_cast<intptr_t>(GetPropA(hwnd, WINDOW_PROPERTY));
  return value > 0 ? static_cast<int>(value - 1) : -1;
}

void window_close(int number) {
  WindowRecord* w = window_record(number);
  if (!w) return;
  HWND hwnd = w->handle;
  HWND owner = hwnd ? GetWindow(hwnd, GW_OWNER) : nullptr;
  if (drawing_window == number) stop_drawing();
  if (hwnd) {
    RemovePropA(hwnd, WINDOW_PROPERTY);
    DestroyWindow(hwnd);
  }
  if (w->accelerators) DestroyAcceleratorTable(w->accelerators);
  if (w->background) DeleteObject(w->background);
  *w = WindowRecord();
  UnregisterClassA(class_name(number).c_str(), GetModuleHandleA(nullptr));
  drop_window_events(number);
  forget_gadget_target(number);
  if (owner && IsWindow(owner)) SetActiveWindow(owner);
}

HWND window_handle(int number) {
  WindowRecord* w = window_record(number);
  return w ? w->handle : nullptr;
}

int window_inner_width(int number) {
  RECT r = {};
  HWND hwnd = window_handle(number);
  if (!hwnd) return 0;
  GetClientRect(hwnd, &r);
  return r.right - r.left;
}

int window_inner_height(int number) {
  RECT r = {};
  HWND hwnd = window_handle(number);
  if (!hwnd) return 0;
  GetClientRect(hwnd, &r);
  int height = r.bottom - r.top;
  if (GetMenu(hwnd)) {
    MENUBARINFO info = {};
    info.cbSize = sizeof(info);
    if (GetMenuBarInfo(hwnd, OBJID_MENU, 0, &info))
      height += info.rcBar.bottom - info.rcBar.top;
    else
      height += GetSystemMetrics(SM_CYMENU);
  }
  return height;
}

void window_disable(int number, int flag) {
  if (HWND hwnd = window_handle(number)) EnableWindow(hwnd, flag ? FALSE : TRUE);
}

void window_set_topmost(int number, int flag) {
  if (HWND hwnd = window_handle(number))
    SetWindowPos(hwnd, flag ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

HCURSOR window_busy_cursor(int number, HCURSOR cursor) {
  HCURSOR previous = busy.window == number ? busy.cursor : nullptr;
  busy.window = cursor ? number : -1;
  busy.cursor = cursor;
  if (cursor) SetCursor(cursor);
  return previous;
}

void window_show(int number, int flag) {
  if (HWND hwnd = window_handle(number)) {
    ShowWindow(hwnd, flag ? SW_SHOW : SW_HIDE);
    if (flag) UpdateWindow(hwnd);
  }
}

int create_gadget_list(HWND window) { return window ? 1 : 0; }

HDC window_output(int number) {
  HWND hwnd = window_handle(number);
  if (!hwnd) return nullptr;
  if (drawing_dc && drawing_window == number) return drawing_dc;
  return GetDC(hwnd);
}

int start_drawing(HDC output) {
  if (!output) return 0;
  if (drawing_dc && drawing_dc != output) stop_drawing();
  drawing_dc = output;
  drawing_window = window_number_of(WindowFromDC(output));
  SetBkColor(drawing_dc, RGB(0, 0, 0));
  return 1;
}

void draw_text(int x, int y, const std::string& text, int color) {
  if (!drawing_dc) return;
  SetTextColor(drawing_dc, static_cast<COLORREF>(color));
  SetBkMode(drawing_dc, OPAQUE);
  TextOutA(drawing_dc, x, y, text.c_str(), static_cast<int>(text.size()));
}

void stop_drawing() {
  if (!drawing_dc) return;
  HWND hwnd = WindowFromDC(drawing_dc);
  ReleaseDC(hwnd, drawing_dc);
  drawing_dc = nullptr;
  drawing_window = -1;
}
