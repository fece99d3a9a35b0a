// The explorer list gadget: creation, its handler table and the events it reports.
#include "explorer/explorer_list.h"

#include <commctrl.h>

#include <algorithm>

#include "explorer/explorer_list_state.h"
#include "explorer/explorer_shared_win.h"
#include "explorer/watcher.h"
#include "ui/ui.h"

std::vector<ExplorerList*>& explorer_lists() {
  static std::vector<ExplorerList*> lists;
  return lists;
}

ExplorerList* explorer_list_of(HWND list) {
  for (ExplorerList* l : explorer_lists())
    if (l->list == list) return l;
  return nullptr;
}

namespace {

int path_drive(const std::string& path) {
  if (path.size() < 2 || path[1] != ':' || path[0] < 'A' || path[0] > 'Z') return -1;
  return path[0] - 'A';
}

}  // namespace

// An arrival closes a requester waiting for that drive; lists at the drive level are listed
// again, and lists on a removed drive go to the drive level.
void lists_volumes_changed(bool arrived, DWORD units) {
  std::vector<ExplorerList*> lists = explorer_lists();  // a copy: listing may run user code
  for (ExplorerList* l : lists) {
    if (arrived) {
      if (l->requester.dialog && drive_in(l->requester.drive, units)) drive_requester_close(l->requester);
      if (l->path.empty()) list_navigate(*l, "");
    } else if (l->path.empty()) {
      list_navigate(*l, "");
    } else if (drive_in(path_drive(l->path), units) && !(l->flags & LIST_NO_NAVIGATION)) {
      list_navigate(*l, "");
    }
  }
}

namespace {

ExplorerList* state_of(Gadget& g) { return static_cast<ExplorerList*>(g.state); }

int item_count(const ExplorerList& l) { return static_cast<int>(SendMessageA(l.list, LVM_GETITEMCOUNT, 0, 0)); }

void report(Gadget& g, int type) { queue_event(EVENT_GADGET, g.number, g.window, type); }

void column_clicked(ExplorerList& l, int column) {
  if (l.flags & LIST_NO_HEADER_SORT) return;
  if (column == l.sort_column && l.sort_direction != 0) {
    l.sort_direction = -l.sort_direction;
  } else {
    l.sort_column = column;
    l.sort_direction = 1;
  }
  list_sort(l);
}

LRESULT on_notice(Gadget& g, ExplorerList& l, const NMHDR& notice, bool* handled) {
  *handled = true;
  switch (notice.code) {
    case NM_CLICK:
      report(g, EVENT_TYPE_LEFT_CLICK);
      break;
    case NM_RCLICK:
      report(g, EVENT_TYPE_RIGHT_CLICK);
      break;
    case NM_RDBLCLK:
      report(g, EVENT_TYPE_RIGHT_DOUBLE_CLICK);
      break;
    case NM_DBLCLK:
    case NM_RETURN:
      report(g, list_activate(l));
      break;
    case LVN_ITEMCHANGED:
      set_event(EVENT_GADGET, g.number, g.window, EVENT_TYPE_CHANGE);
      break;
    case LVN_BEGINDRAG:
      report(g, EVENT_TYPE_DRAG_START);
      break;
    case LVN_COLUMNCLICK:
      column_clicked(l, reinterpret_cast<const NMLISTVIEW&>(notice).iSubItem);
      break;
    default:
      *handled = false;
      break;
  }
  return 0;
}

LRESULT list_notify(Gadget& g, UINT msg, WPARAM, LPARAM lp, bool* handled) {
  ExplorerList* l = state_of(g);
  if (!l) return 0;
  if (msg == WM_VANTOR_REFRESH) {
    list_navigate(*l, l->path);  // the path only: pattern and sort order stay
    *handled = true;
    return 0;
  }
  if (msg == WM_NOTIFY) return on_notice(g, *l, *reinterpret_cast<const NMHDR*>(lp), handled);
  return 0;
}

void list_destroy(Gadget& g) {
  ExplorerList* l = state_of(g);
  if (!l) return;
  drive_requester_close(l->requester);
  stop_watching(l->list);
  std::vector<ExplorerList*>& lists = explorer_lists();
  lists.erase(std::remove(lists.begin(), lists.end(), l), lists.end());
  delete l;
}

int list_get_state(Gadget& g) {
  ExplorerList* l = state_of(g);
  return l ? static_cast<int>(SendMessageA(l->list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED)) : -1;
}

std::string list_get_text(Gadget& g) {
  ExplorerList* l = state_of(g);
  return l ? l->path : std::string();
}

void list_set_text(Gadget& g, const std::string& text) {
  if (ExplorerList* l = state_of(g)) list_navigate(*l, text);
}

int list_count_items(Gadget& g) {
  ExplorerList* l = state_of(g);
  return l ? item_count(*l) : 0;
}

int list_get_item_state(Gadget& g, int item) {
  ExplorerList* l = state_of(g);
  if (!l || item < 0 || item >= item_count(*l)) return 0;
  int state = list_item_kind(*l, item) == ENTRY_FILE ? 1 : 2;
  if (SendMessageA(l->list, LVM_GETITEMSTATE, item, LVIS_SELECTED) & LVIS_SELECTED) state += 4;
  return state;
}

std::string header_title(const ExplorerList& l, int column) {
  char buffer[LIST_TEXT_BYTES] = "";
  LVCOLUMNA c = {};
  c.mask = LVCF_TEXT;
  c.pszText = buffer;
  c.cchTextMax = sizeof buffer;
  if (!SendMessageA(l.list, LVM_GETCOLUMNA, column, reinterpret_cast<LPARAM>(&c))) return std::string();
  return buffer;
}

std::string list_get_item_text(Gadget& g, int item, int column) {
  ExplorerList* l = state_of(g);
  if (!l) return std::string();
  if (item == -1) return header_title(*l, column);
  if (item < 0 || item >= item_count(*l)) return std::string();
  int kind = list_item_kind(*l, item);
  if (is_drive_entry(kind)) return std::string(1, static_cast<char>('A' + kind)) + ":\\";
  if (kind == ENTRY_MY_DOCUMENTS) return explorer_shared().my_documents.path;
  return list_cell(*l, item, column);
}

void list_set_item_text(Gadget& g, int item, const std::string& text, int column) {
  ExplorerList* l = state_of(g);
  if (!l) return;
  std::string copy = text;
  if (item == -1) {
    LVCOLUMNA c = {};
    c.mask = LVCF_TEXT;
    c.pszText = &copy[0];
    SendMessageA(l->list, LVM_SETCOLUMNA, column, reinterpret_cast<LPARAM>(&c));
    return;
  }
  LVITEMA cell = {};
  cell.iSubItem = column;
  cell.pszText = &copy[0];
  SendMessageA(l->list, LVM_SETITEMTEXTA, item, reinterpret_cast<LPARAM>(&cell));
}

int list_add_column(Gadget& g, int position, const std::string& title, int width) {
  ExplorerList* l = state_of(g);
  if (!l || l->column_kinds.size() >= LIST_COLUMN_LIMIT) return -1;
  int count = static_cast<int>(l->column_kinds.size());
  if (position < 0 || position > count) position = count;
  int kind = column_kind_of_title(title);
  std::string shown = kind == COLUMN_CUSTOM ? title : explorer_shared().column_titles[kind];
  LVCOLUMNA c = {};
  c.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
  c.fmt = kind == COLUMN_SIZE ? LVCFMT_RIGHT : LVCFMT_LEFT;
  c.cx = width;
  c.pszText = &shown[0];
  int at = static_cast<int>(SendMessageA(l->list, LVM_INSERTCOLUMNA, position, reinterpret_cast<LPARAM>(&c)));
  if (at < 0) return -1;
  l->column_kinds.insert(l->column_kinds.begin() + at, static_cast<uint8_t>(kind));
  if (l->sort_direction != 0 && l->sort_column >= at) ++l->sort_column;
  return at;
}

void list_remove_column(Gadget& g, int position) {
  ExplorerList* l = state_of(g);
  if (!l || position < 0 || position >= static_cast<int>(l->column_kinds.size())) return;
  if (!SendMessageA(l->list, LVM_DELETECOLUMN, position, 0)) return;
  l->column_kinds.erase(l->column_kinds.begin() + position);
  if (l->sort_column == position) {
    l->sort_direction = 0;
  } else if (l->sort_column > position) {
    --l->sort_column;
  }
}

// Display modes 0..3 against the control's view styles.
const DWORD VIEW_STYLES[] = {LVS_ICON, LVS_SMALLICON, LVS_LIST, LVS_REPORT};

intptr_t list_get_attribute(Gadget& g, int attribute) {
  ExplorerList* l = state_of(g);
  if (!l || attribute != LIST_ATTRIBUTE_DISPLAY_MODE) return 0;
  DWORD view = static_cast<DWORD>(GetWindowLongPtrA(l->list, GWL_STYLE)) & LVS_TYPEMASK;
  for (int mode = 0; mode < 4; ++mode)
    if (VIEW_STYLES[mode] == view) return mode;
  return 0;
}

void list_set_attribute(Gadget& g, int attribute, intptr_t value) {
  ExplorerList* l = state_of(g);
  if (!l || attribute != LIST_ATTRIBUTE_DISPLAY_MODE || value < 0 || value > 3) return;
  LONG_PTR style = GetWindowLongPtrA(l->list, GWL_STYLE);
  SetWindowLongPtrA(l->list, GWL_STYLE, (style & ~static_cast<LONG_PTR>(LVS_TYPEMASK)) | VIEW_STYLES[value]);
  InvalidateRect(l->list, nullptr, TRUE);
}

intptr_t list_get_item_attribute(Gadget& g, int, int attribute, int column) {
  ExplorerList* l = state_of(g);
  if (!l || attribute != LIST_ATTRIBUTE_COLUMN_WIDTH) return 0;
  return SendMessageA(l->list, LVM_GETCOLUMNWIDTH, column, 0);
}

void list_set_item_attribute(Gadget& g, int, int attribute, intptr_t value, int column) {
  ExplorerList* l = state_of(g);
  if (!l || attribute != LIST_ATTRIBUTE_COLUMN_WIDTH) return;
  SendMessageA(l->list, LVM_SETCOLUMNWIDTH, column, MAKELPARAM(value & 0xFFFF, 0));
}

void list_set_color(Gadget& g, int kind, int color) {
  ExplorerList* l = state_of(g);
  if (!l || kind < GADGET_COLOR_TEXT || kind > GADGET_COLOR_LINE) return;
  const ExplorerShared& s = explorer_shared();
  l->colors[kind - 1] = color;
  g.colors[kind - 1] = color;
  if (kind == GADGET_COLOR_TEXT) {
    COLORREF text = color == GADGET_COLOR_DEFAULT ? s.default_text : static_cast<COLORREF>(color);
    SendMessageA(l->list, LVM_SETTEXTCOLOR, 0, text);
  } else if (kind == GADGET_COLOR_BACKGROUND) {
    COLORREF back = color == GADGET_COLOR_DEFAULT ? s.default_background : static_cast<COLORREF>(color);
    SendMessageA(l->list, LVM_SETTEXTBKCOLOR, 0, back);
    SendMessageA(l->list, LVM_SETBKCOLOR, 0, back);
  }
  // The control draws its grid lines itself: the line colour is kept for get_color only.
  InvalidateRect(l->list, nullptr, TRUE);
}

int list_get_color(Gadget& g, int kind) {
  ExplorerList* l = state_of(g);
  if (!l || kind < GADGET_COLOR_TEXT || kind > GADGET_COLOR_LINE) return GADGET_COLOR_DEFAULT;
  return l->colors[kind - 1];
}

const GadgetClass EXPLORER_LIST_CLASS = [] {
  GadgetClass c = {};
  c.kind = GADGET_EXPLORER_LIST;
  c.notify = list_notify;
  c.destroy = list_destroy;
  c.get_state = list_get_state;
  c.get_text = list_get_text;
  c.set_text = list_set_text;
  c.count_items = list_count_items;
  c.get_item_state = list_get_item_state;
  c.get_item_text = list_get_item_text;
  c.set_item_text = list_set_item_text;
  c.add_column = list_add_column;
  c.remove_column = list_remove_column;
  c.get_attribute = list_get_attribute;
  c.set_attribute = list_set_attribute;
  c.get_item_attribute = list_get_item_attribute;
  c.set_item_attribute = list_set_item_attribute;
  c.set_color = list_set_color;
  c.get_color = list_get_color;
  return c;
}();

HWND create_control(HWND parent, int number, int x, int y, int w, int h, uint32_t flags) {
  DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SHAREIMAGELISTS;
  if (!(flags & LIST_MULTI_SELECT)) style |= LVS_SINGLESEL;
  if (flags & LIST_SHOW_SELECTION) style |= LVS_SHOWSELALWAYS;
  if (flags & LIST_NO_HEADER_SORT) style |= LVS_NOSORTHEADER;
  DWORD ex_style = (flags & LIST_NO_CLIENT_EDGE) ? 0 : WS_EX_CLIENTEDGE;
  HWND list = CreateWindowExA(ex_style, WC_LISTVIEWA, "", style, x, y, w, h, parent,
                              reinterpret_cast<HMENU>(static_cast<intptr_t>(number)), GetModuleHandleA(nullptr),
                              nullptr);
  if (!list) return nullptr;
  DWORD extended = LVS_EX_DOUBLEBUFFER;
  if (flags & LIST_GRID_LINES) extended |= LVS_EX_GRIDLINES;
  if (flags & LIST_HEADER_DRAG) extended |= LVS_EX_HEADERDRAGDROP;
  if (flags & LIST_FULL_ROW) extended |= LVS_EX_FULLROWSELECT;
  SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
  ExplorerShared& s = explorer_shared();
  SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(s.small_images));
  SendMessageA(list, LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(s.large_images));
  if (!s.default_colors_known) {
    s.default_text = static_cast<COLORREF>(SendMessageA(list, LVM_GETTEXTCOLOR, 0, 0));
    s.default_background = static_cast<COLORREF>(SendMessageA(list, LVM_GETBKCOLOR, 0, 0));
    s.default_colors_known = true;
  }
  return list;
}

}  // namespace

HWND explorer_list_create(int number, int x, int y, int w, int h, const std::string& path, uint32_t flags) {
  HWND parent = gadget_target_window();
  if (!parent || number < 0) return nullptr;
  explorer_shared();
  explorer_types_setup();
  HWND list = create_control(parent, number, x, y, w, h, flags);
  if (!list) return nullptr;
  ExplorerList* l = new ExplorerList;
  l->list = list;
  l->number = number;
  l->flags = flags;
  if (flags & LIST_SORTED) l->sort_direction = 1;
  if (!gadget_register(number, list, &EXPLORER_LIST_CLASS, l)) {
    delete l;
    DestroyWindow(list);
    return nullptr;
  }
  explorer_lists().push_back(l);
  watch_volume_changes(list, lists_volumes_changed);
  for (int kind : {COLUMN_NAME, COLUMN_SIZE, COLUMN_TYPE, COLUMN_MODIFIED})
    list_add_column(*gadget_record(number), -1, column_kind_id(kind), 100);
  list_navigate(*l, path);
  return list;
}

void explorer_list_highlight(int number, uint32_t state, uint32_t mask) {
  for (int i = 1; i <= gadget_count_items(number) - 1; ++i) {
    if (gadget_get_item_text(number, i, 0) == "..") continue;
    LVITEMA item = {};
    item.state = state;
    item.stateMask = mask;
    SendMessageA(gadget_handle(number), LVM_SETITEMSTATE, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
  }
}
