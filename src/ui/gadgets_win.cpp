// The gadget table, the common gadget procedure, the generic operations dispatched through each
// kind's handler table, and the plain kinds: button, string, text, check box and track bar.
#include "ui/ui.h"
#include "ui/ui_internal.h"

#include <commctrl.h>

#include <unordered_map>
#include <vector>

namespace {

const char* const GADGET_PROPERTY = "VantorGadget";
std::vector<Gadget*> gadgets(50, nullptr);
// Handle to record, so that the messages of busy controls never need a property lookup.
std::unordered_map<HWND, Gadget*> by_handle;
int target_window = -1;

LRESULT CALLBACK common_gadget_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Gadget* g = gadget_from_handle(hwnd);
  if (!g) return DefWindowProcA(hwnd, msg, wp, lp);
  WNDPROC previous = g->previous_proc;
  if (g->cls && g->cls->control_message) {
    bool handled = false;
    LRESULT result = g->cls->control_message(*g, msg, wp, lp, &handled);
    if (handled) return result;
  }
  if (msg == WM_DESTROY && g->cls && g->cls->destroy) {
    g->cls->destroy(*g);
    g->state = nullptr;
  }
  if (msg == WM_NCDESTROY) {
    int number = g->number;
    SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
    RemovePropA(hwnd, GADGET_PROPERTY);
    by_handle.erase(hwnd);
    drop_gadget_events(number);
    if (number >= 0 && number < static_cast<int>(gadgets.size()) && gadgets[number] == g) gadgets[number] = nullptr;
    delete g;
  }
  return CallWindowProcA(previous, hwnd, msg, wp, lp);
}

HWND create_control(int number, const char* cls, const std::string& text, DWORD style, DWORD ex_style, int x,
                    int y, int w, int h) {
  HWND parent = gadget_target_window();
  if (!parent || number < 0) return nullptr;
  return CreateWindowExA(ex_style, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                         reinterpret_cast<HMENU>(static_cast<intptr_t>(number)), GetModuleHandleA(nullptr), nullptr);
}

std::string native_text(HWND hwnd) {
  int n = GetWindowTextLengthA(hwnd);
  std::string text(static_cast<size_t>(n) + 1, '\0');
  n = GetWindowTextA(hwnd, &text[0], n + 1);
  text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return text;
}

int check_get_state(Gadget& g) { return SendMessageA(g.handle, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0; }
void check_set_state(Gadget& g, int value) {
  SendMessageA(g.handle, BM_SETCHECK, value ? BST_CHECKED : BST_UNCHECKED, 0);
}

int trackbar_get_state(Gadget& g) {
  int position = static_cast<int>(SendMessageA(g.handle, TBM_GETPOS, 0, 0));
  if (GetWindowLongA(g.handle, GWL_STYLE) & TBS_VERT) {
    int low = static_cast<int>(SendMessageA(g.handle, TBM_GETRANGEMIN, 0, 0));
    int high = static_cast<int>(SendMessageA(g.handle, TBM_GETRANGEMAX, 0, 0));
    return high - (position - low);
  }
  return position;
}
void trackbar_set_state(Gadget& g, int value) { SendMessageA(g.handle, TBM_SETPOS, TRUE, value); }
LRESULT trackbar_notify(Gadget& g, UINT msg, WPARAM, LPARAM, bool* handled) {
  if (msg == WM_HSCROLL || msg == WM_VSCROLL) {
    queue_event(EVENT_GADGET, g.number, g.window, EVENT_TYPE_LEFT_CLICK);
    *handled = true;
  }
  return 0;
}

GadgetClass make_class(int kind) {
  GadgetClass c = {};
  c.kind = kind;
  return c;
}

const GadgetClass BUTTON_KIND = make_class(GADGET_BUTTON);
const GadgetClass STRING_KIND = make_class(GADGET_STRING);
const GadgetClass TEXT_KIND = make_class(GADGET_TEXT);
const GadgetClass CHECKBOX_KIND = [] {
  GadgetClass c = make_class(GADGET_CHECKBOX);
  c.get_state = check_get_state;
  c.set_state = check_set_state;
  return c;
}();
const GadgetClass TRACKBAR_KIND = [] {
  GadgetClass c = make_class(GADGET_TRACKBAR);
  c.notify = trackbar_notify;
  c.get_state = trackbar_get_state;
  c.set_state = trackbar_set_state;
  return c;
}();

}  // namespace

void set_gadget_target(int window) { target_window = window; }
void forget_gadget_target(int window) {
  if (target_window == window) target_window = -1;
}
HWND gadget_target_window() { return window_handle(target_window); }

Gadget* gadget_record(int number) {
  if (number < 0 || number >= static_cast<int>(gadgets.size())) return nullptr;
  return gadgets[number];
}

Gadget* gadget_from_handle(HWND hwnd) {
  auto it = by_handle.find(hwnd);
  return it == by_handle.end() ? nullptr : it->second;
}

LRESULT dispatch_to_gadget(HWND control, UINT msg, WPARAM wp, LPARAM lp, bool* handled) {
  *handled = false;
  Gadget* g = gadget_from_handle(control);
  if (!g || !g->cls || !g->cls->notify) return 0;
  return g->cls->notify(*g, msg, wp, lp, handled);
}

HWND gadget_register(int number, HWND hwnd, const GadgetClass* cls, void* state) {
  if (!hwnd || number < 0) return nullptr;
  if (gadget_record(number) && gadgets[number]->handle != hwnd) gadget_free(number);
  if (number >= static_cast<int>(gadgets.size())) gadgets.resize(number + 50, nullptr);
  Gadget* g = new Gadget;
  g->number = number;
  g->window = window_number_of(GetAncestor(hwnd, GA_ROOT));
  g->handle = hwnd;
  g->cls = cls;
  g->state = state;
  gadgets[number] = g;
  by_handle[hwnd] = g;
  SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
  SetWindowLongPtrA(hwnd, GWLP_ID, number);
  SetPropA(hwnd, GADGET_PROPERTY, reinterpret_cast<HANDLE>(static_cast<intptr_t>(number + 1)));
  g->previous_proc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(common_gadget_proc)));
  return hwnd;
}

void gadget_free(int number) {
  Gadget* g = gadget_record(number);
  if (g && g->handle) DestroyWindow(g->handle);
}

HWND button_gadget(int number, int x, int y, int w, int h, const std::string& text) {
  HWND hwnd = create_control(number, "Button", text, BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, 0, x, y, w, h);
  return gadget_register(number, hwnd, &BUTTON_KIND, nullptr);
}

HWND string_gadget(int number, int x, int y, int w, int h, const std::string& text) {
  HWND hwnd = create_control(number, "Edit", text, ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, x, y, w, h);
  return gadget_register(number, hwnd, &STRING_KIND, nullptr);
}

HWND text_gadget(int number, int x, int y, int w, int h, const std::string& text, int flags) {
  HWND hwnd = create_control(number, "Static", text, (flags & TEXT_CENTER) ? SS_CENTER : SS_LEFTNOWORDWRAP, 0, x, y, w, h);
  return gadget_register(number, hwnd, &TEXT_KIND, nullptr);
}

HWND checkbox_gadget(int number, int x, int y, int w, int h, const std::string& text) {
  HWND hwnd = create_control(number, "Button", text, BS_AUTOCHECKBOX | WS_TABSTOP, 0, x, y, w, h);
  return gadget_register(number, hwnd, &CHECKBOX_KIND, nullptr);
}

HWND trackbar_gadget(int number, int x, int y, int w, int h, int minimum, int maximum) {
  HWND hwnd = create_control(number, TRACKBAR_CLASSA, "", TBS_HORZ | TBS_AUTOTICKS | WS_TABSTOP, 0, x, y, w, h);
  if (hwnd) {
    SendMessageA(hwnd, TBM_SETRANGEMIN, FALSE, minimum);
    SendMessageA(hwnd, TBM_SETRANGEMAX, TRUE, maximum);
  }
  return gadget_register(number, hwnd, &TRACKBAR_KIND, nullptr);
}

// Generic operations: the kind's handler when it has one, otherwise the default.
#define WITH_GADGET(n, fallback) \
  Gadget* g = gadget_record(n);  \
  if (!g) return fallback;

std::string gadget_get_text(int n) {
  WITH_GADGET(n, std::string())
  return g->cls && g->cls->get_text ? g->cls->get_text(*g) : native_text(g->handle);
}

void gadget_set_text(int n, const std::string& text) {
  WITH_GADGET(n, )
  if (g->cls && g->cls->set_text)
    g->cls->set_text(*g, text);
  else
    SetWindowTextA(g->handle, text.c_str());
}

int gadget_get_state(int n) {
  WITH_GADGET(n, 0)
  return g->cls && g->cls->get_state ? g->cls->get_state(*g) : 0;
}

void gadget_set_state(int n, int value) {
  WITH_GADGET(n, )
  if (g->cls && g->cls->set_state) g->cls->set_state(*g, value);
}

int gadget_count_items(int n) {
  WITH_GADGET(n, 0)
  return g->cls && g->cls->count_items ? g->cls->count_items(*g) : 0;
}

int gadget_get_item_state(int n, int item) {
  WITH_GADGET(n, 0)
  return g->cls && g->cls->get_item_state ? g->cls->get_item_state(*g, item) : 0;
}

std::string gadget_get_item_text(int n, int item, int column) {
  WITH_GADGET(n, std::string())
  return g->cls && g->cls->get_item_text ? g->cls->get_item_text(*g, item, column) : std::string();
}

void gadget_set_item_text(int n, int item, const std::string& text, int column) {
  WITH_GADGET(n, )
  if (g->cls && g->cls->set_item_text) g->cls->set_item_text(*g, item, text, column);
}

void gadget_remove_item(int n, int item) {
  WITH_GADGET(n, )
  if (g->cls && g->cls->remove_item) g->cls->remove_item(*g, item);
}

int gadget_add_column(int n, int position, const std::string& title, int width) {
  WITH_GADGET(n, 0)
  return g->cls && g->cls->add_column ? g->cls->add_column(*g, position, title, width) : 0;
}

void gadget_remove_column(int n, int position) {
  WITH_GADGET(n, )
  if (g->cls && g->cls->remove_column) g->cls->remove_column(*g, position);
}

intptr_t gadget_get_attribute(int n, int attribute) {
  WITH_GADGET(n, 0)
  return g->cls && g->cls->get_attribute ? g->cls->get_attribute(*g, attribute) : 0;
}

void gadget_set_attribute(int n, int attribute, intptr_t value) {
  WITH_GADGET(n, )
  if (g->cls && g->cls->set_attribute) g->cls->set_attribute(*g, attribute, value);
}

intptr_t gadget_get_item_attribute(int n, int item, int attribute, int column) {
  WITH_GADGET(n, 0)
  return g->cls && g->cls->get_item_attribute ? g->cls->get_item_attribute(*g, item, attribute, column) : 0;
}

void gadget_set_item_attribute(int n, int item, int attribute, intptr_t value, int column) {
  WITH_GADGET(n, )
  if (g->cls && g->cls->set_item_attribute) g->cls->set_item_attribute(*g, item, attribute, value, column);
}

void gadget_set_color(int n, int kind, int color) {
  WITH_GADGET(n, )
  if (kind >= 1 && kind <= 3) g->colors[kind - 1] = color;
  if (g->cls && g->cls->set_color) g->cls->set_color(*g, kind, color);
  InvalidateRect(g->handle, nullptr, TRUE);
}

int gadget_get_color(int n, int kind) {
  WITH_GADGET(n, -1)
  if (g->cls && g->cls->get_color) return g->cls->get_color(*g, kind);
  return (kind >= 1 && kind <= 3) ? g->colors[kind - 1] : -1;
}

HWND gadget_handle(int n) {
  WITH_GADGET(n, nullptr)
  return g->handle;
}

void gadget_hide(int n, int flag) {
  WITH_GADGET(n, )
  if (g->cls && g->cls->hide)
    g->cls->hide(*g, flag);
  else
    ShowWindow(g->handle, flag ? SW_HIDE : SW_SHOW);
}

void gadget_disable(int n, int flag) {
  WITH_GADGET(n, )
  EnableWindow(g->handle, flag ? FALSE : TRUE);
}

void gadget_resize(int n, int x, int y, int w, int h) {
  WITH_GADGET(n, )
  RECT r;
  GetWindowRect(g->handle, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(g->handle), reinterpret_cast<POINT*>(&r), 2);
  if (x == GADGET_KEEP) x = r.left;
  if (y == GADGET_KEEP) y = r.top;
  if (w == GADGET_KEEP) w = r.right - r.left;
  if (h == GADGET_KEEP) h = r.bottom - r.top;
  if (g->cls && g->cls->resize) {
    g->cls->resize(*g, x, y, w, h);
    return;
  }
  MoveWindow(g->handle, x, y, w, h, TRUE);
  int kind = g->cls ? g->cls->kind : 0;
  if (kind == GADGET_BUTTON || kind == GADGET_TEXT || kind == GADGET_IMAGE_BUTTON) InvalidateRect(g->handle, nullptr, TRUE);
}
