// Menu records live as long as their window: destroying the window destroys its bar, so the
// window is subclassed to drop the record at that moment.
#include "ui/menu.h"

#include <commctrl.h>

#include <vector>

namespace {

struct MenuRecord {
  HMENU bar = nullptr;
  HWND window = nullptr;
};

std::vector<MenuRecord> menus;
int building = -1;           // menu number being built
HMENU current_drop_down = nullptr;
const UINT_PTR SUBCLASS_ID = 0x564D4E55;  // "VMNU"

MenuRecord* record_of(int number) {
  if (number < 0 || number >= static_cast<int>(menus.size()) || !menus[number].bar) return nullptr;
  return &menus[number];
}

void forget_menus_of(HWND window) {
  for (int i = 0; i < static_cast<int>(menus.size()); ++i) {
    if (menus[i].window != window) continue;
    menus[i] = MenuRecord{};
    if (building == i) {
      building = -1;
      current_drop_down = nullptr;
    }
  }
}

LRESULT CALLBACK watch_window(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR) {
  if (msg == WM_NCDESTROY) {
    forget_menus_of(hwnd);
    RemoveWindowSubclass(hwnd, watch_window, SUBCLASS_ID);
  }
  return DefSubclassProc(hwnd, msg, wp, lp);
}

// Attaching the bar again makes the window show what was just added.
void attach(const MenuRecord& r) {
  SetMenu(r.window, r.bar);
  DrawMenuBar(r.window);
}

void release(int number) {
  MenuRecord* r = record_of(number);
  if (!r) return;
  if (IsWindow(r->window) && GetMenu(r->window) == r->bar) SetMenu(r->window, nullptr);
  DestroyMenu(r->bar);
  *r = MenuRecord{};
  if (building == number) {
    building = -1;
    current_drop_down = nullptr;
  }
}

}  // namespace

int create_menu(int number, HWND window) {
  if (number < 0 || !IsWindow(window)) return 0;
  release(number);
  HMENU bar = CreateMenu();
  if (!bar) return 0;
  if (number >= static_cast<int>(menus.size())) menus.resize(number + 1);
  menus[number] = MenuRecord{bar, window};
  building = number;
  current_drop_down = nullptr;
  SetWindowSubclass(window, watch_window, SUBCLASS_ID, 0);
  attach(menus[number]);
  return 1;
}

int menu_title(const std::string& text) {
  MenuRecord* r = record_of(building);
  if (!r) return 0;
  HMENU drop_down = CreatePopupMenu();
  if (!drop_down) return 0;
  if (!AppendMenuA(r->bar, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(drop_down), text.c_str())) {
    DestroyMenu(drop_down);
    return 0;
  }
  current_drop_down = drop_down;
  attach(*r);
  return 1;
}

int menu_item(int number, const std::string& text) {
  MenuRecord* r = record_of(building);
  if (!r || !current_drop_down) return 0;
  if (!AppendMenuA(current_drop_down, MF_STRING, static_cast<UINT_PTR>(number), text.c_str())) return 0;
  attach(*r);
  return 1;
}

int menu_bar_separator() {
  MenuRecord* r = record_of(building);
  if (!r || !current_drop_down) return 0;
  return AppendMenuA(current_drop_down, MF_SEPARATOR, 0, nullptr) ? 1 : 0;
}

HMENU menu_handle(int number) {
  const MenuRecord* r = record_of(number);
  return r ? r->bar : nullptr;
}
