#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "explorer/explorer_shared_win.h"
#include "explorer/list_cells.h"
#include "operations/find_search.h"
#include "operations/find_window.h"
#include "operations/mode_window.h"
#include "ui/events.h"
#include "ui/ui.h"

namespace {

constexpr int FIND_WINDOW = 4;
// Gadget numbers are shared by every window: these are used by no other.
constexpr int PATTERN_LABEL = 47, PATTERN_FIELD = 48, GO_BUTTON = 49, RESULTS = 50, STATUS = 51;
constexpr int FOLDER_LABEL = 52, FOLDER_TEXT = 53, CLOSE_BUTTON = 54;
constexpr int GADGET_FIND_RESULTS = 47;

struct FoundRow {
  std::string folder, name;      // folder below the searched one, ending with "\" or empty
  std::string path, size, date;  // the cells
  FindRowKey key;
  const std::string& cell(int column) const { return column == 1 ? size : column == 2 ? date : path; }
};

// The results list shows rows it holds itself (an owner-data list view): a hundred thousand rows
// cost the control nothing. `order` holds the rows' indices as shown; a click on a column's header
// sorts it, and rows found later are merged in.
struct ResultsState {
  std::vector<FoundRow> rows;
  std::vector<size_t> order;
  int sort_column = -1;  // -1: in the order found
  int direction = 1;

  const FoundRow* shown(int item) const {
    return item >= 0 && static_cast<size_t>(item) < order.size() ? &rows[order[static_cast<size_t>(item)]] : nullptr;
  }
  // Equal rows keep the order they were found in.
  bool before(size_t a, size_t b) const {
    if (find_row_before(rows[a].key, rows[b].key, sort_column, direction)) return true;
    return !find_row_before(rows[b].key, rows[a].key, sort_column, direction) && a < b;
  }
  // Paths get their sort keys only once they are sorted by.
  void make_path_keys(size_t first) {
    if (sort_column != FIND_COLUMN_PATH) return;
    for (size_t i = first; i < rows.size(); ++i)
      if (rows[i].key.path_key.empty()) rows[i].key.path_key = path_sort_key(rows[i].path);
  }
  void add_rows_from(size_t first) {
    size_t sorted = order.size();
    for (size_t i = first; i < rows.size(); ++i) order.push_back(i);
    if (sort_column < 0) return;
    make_path_keys(first);
    auto less = [this](size_t a, size_t b) { return before(a, b); };
    std::sort(order.begin() + static_cast<std::ptrdiff_t>(sorted), order.end(), less);
    std::inplace_merge(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(sorted), order.end(), less);
  }
};

ResultsState* results_of(Gadget& g) { return static_cast<ResultsState*>(g.state); }

void show_sort_arrows(HWND list, int column, int direction) {
  HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
  for (int i = 0; i < 3; ++i) {
    HDITEMA item = {};
    item.mask = HDI_FORMAT;
    SendMessageA(header, HDM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
    item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
    if (i == column) item.fmt |= direction > 0 ? HDF_SORTUP : HDF_SORTDOWN;
    SendMessageA(header, HDM_SETITEMA, i, reinterpret_cast<LPARAM>(&item));
  }
}

// The row behind the chosen result, SIZE_MAX for none: the one to choose again after the order
// changed.
size_t chosen_row(HWND list, const ResultsState& s) {
  int item = static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  return s.shown(item) ? s.order[static_cast<size_t>(item)] : SIZE_MAX;
}

void choose_again(HWND list, const ResultsState& s, size_t row, bool show) {
  auto at = std::find(s.order.begin(), s.order.end(), row);
  if (at == s.order.end()) return;
  int item = static_cast<int>(at - s.order.begin());
  LVITEMA state = {};
  state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
  state.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageA(list, LVM_SETITEMSTATE, item, reinterpret_cast<LPARAM>(&state));
  if (show) SendMessageA(list, LVM_ENSUREVISIBLE, item, FALSE);
}

// A click on a header sorts by that column, a second click the other way; the chosen result
// stays chosen.
void sort_by(Gadget& g, ResultsState& s, int column) {
  size_t chosen = chosen_row(g.handle, s);
  s.direction = s.sort_column == column ? -s.direction : 1;
  s.sort_column = column;
  s.make_path_keys(0);
  std::sort(s.order.begin(), s.order.end(), [&s](size_t a, size_t b) { return s.before(a, b); });
  show_sort_arrows(g.handle, column, s.direction);
  choose_again(g.handle, s, chosen, true);
  InvalidateRect(g.handle, nullptr, FALSE);
}

void copy_cell(const std::string& text, char* out, int room) {
  if (!out || room <= 0) return;
  size_t n = text.size() < static_cast<size_t>(room) ? text.size() : static_cast<size_t>(room - 1);
  text.copy(out, n);
  out[n] = '\0';
}

LRESULT results_notify(Gadget& g, UINT msg, WPARAM, LPARAM lp, bool* handled) {
  ResultsState* s = results_of(g);
  if (msg != WM_NOTIFY || !s) return 0;
  const NMHDR& notice = *reinterpret_cast<const NMHDR*>(lp);
  if (notice.code == LVN_GETDISPINFOA) {
    LVITEMA& item = reinterpret_cast<NMLVDISPINFOA*>(lp)->item;
    const FoundRow* row = s->shown(item.iItem);
    if ((item.mask & LVIF_TEXT) && row && item.iSubItem >= 0 && item.iSubItem < 3)
      copy_cell(row->cell(item.iSubItem), item.pszText, item.cchTextMax);
    *handled = true;
  } else if (notice.code == LVN_COLUMNCLICK) {
    int column = reinterpret_cast<const NMLISTVIEW&>(notice).iSubItem;
    if (column >= 0 && column < 3) sort_by(g, *s, column);
    *handled = true;
  } else if (notice.code == LVN_ODFINDITEMA || notice.code == LVN_ODFINDITEMW) {
    *handled = true;
    return -1;  // typing does not jump to a row
  } else if (notice.code == NM_DBLCLK || notice.code == NM_RETURN) {
    int row = static_cast<int>(SendMessageA(g.handle, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    if (notice.code == NM_DBLCLK) row = reinterpret_cast<const NMITEMACTIVATE&>(notice).iItem;
    if (row >= 0) queue_event(EVENT_GADGET, g.number, g.window, EVENT_TYPE_LEFT_DOUBLE_CLICK, row);
    *handled = true;
  }
  return 0;
}

void results_destroy(Gadget& g) {
  delete results_of(g);
  g.state = nullptr;
}

int results_count(Gadget& g) { return results_of(g) ? static_cast<int>(results_of(g)->rows.size()) : 0; }

std::string results_item_text(Gadget& g, int item, int column) {
  const FoundRow* row = results_of(g) ? results_of(g)->shown(item) : nullptr;
  return row && column >= 0 && column < 3 ? row->cell(column) : std::string();
}

const GadgetClass RESULTS_CLASS = [] {
  GadgetClass c = {};
  c.kind = GADGET_FIND_RESULTS;
  c.notify = results_notify;
  c.destroy = results_destroy;
  c.count_items = results_count;
  c.get_item_text = results_item_text;
  return c;
}();

HWND results_gadget(int number, int x, int y, int w, int h) {
  DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL | LVS_SHOWSELALWAYS;
  HWND list = CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "", style, x, y, w, h, gadget_target_window(),
                              reinterpret_cast<HMENU>(static_cast<intptr_t>(number)), GetModuleHandleA(nullptr), nullptr);
  if (!list) return nullptr;
  DWORD extended = LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER;
  SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
  const char* titles[3] = {"Path", "Size", "Date"};
  int widths[3] = {w - 230, 80, 125}, formats[3] = {LVCFMT_LEFT, LVCFMT_RIGHT, LVCFMT_LEFT};
  for (int i = 0; i < 3; ++i) {
    LVCOLUMNA c = {};
    c.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    c.pszText = const_cast<char*>(titles[i]);
    c.cx = widths[i];
    c.fmt = formats[i];
    SendMessageA(list, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&c));
  }
  return gadget_register(number, list, &RESULTS_CLASS, new ResultsState);
}

// The main list's own date cell; no time for a member without one.
std::string date_cell(int64_t ticks) {
  if (ticks <= 0) return std::string();
  FILETIME utc = {static_cast<DWORD>(static_cast<uint64_t>(ticks)), static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32)};
  return time_cell(utc);
}

// Members of an open archive: the size is the entry table's (the later entry wins, as in the
// list). A stand-in is made when the archive is opened and then given the member's time when it
// has one, which leaves its creation and access times at the opening: only a write time before
// them is the member's. (Wine reports the write time as the creation time; its access time still
// tells. A stand-in read since, for its icon, may show the opening time.)
class RowMaker {
 public:
  RowMaker(const std::string& root, const EntryTable* archive) : root_(root), archive_(archive) {}

  FoundRow make(const FindHit& h) {
    FoundRow row;
    row.folder = h.folder;
    row.name = h.name;
    row.path = h.folder + h.name;
    row.key.is_folder = h.is_folder;
    bool dated = true;
    int64_t size = h.size;
    if (archive_) {
      dated = h.write_time < std::max(h.creation_time, h.access_time);
      if (!h.is_folder) {
        auto it = sizes().find(root_ + h.folder + h.name);
        if (it != sizes().end()) size = it->second;
      }
    }
    row.key.size = size;
    if (!h.is_folder) row.size = size_cell(static_cast<uint64_t>(size));
    if (dated) row.date = date_cell(h.write_time);
    if (!row.date.empty()) row.key.date = h.write_time;
    return row;
  }

 private:
  const std::unordered_map<std::string, int64_t>& sizes() {
    if (sizes_.empty())
      for (int j = 1; j <= archive_->entry_count; ++j) sizes_[archive_->entry_paths[j]] = archive_->entry_sizes[j];
    return sizes_;
  }
  std::string root_;
  const EntryTable* archive_;
  std::unordered_map<std::string, int64_t> sizes_;
};

// Tests set a lower limit to see a search end at it.
int64_t hit_limit = TABLE_CAPACITY;

// What a key the window's controls leave alone asks for: Enter searches (on a result it opens
// it, on a button it presses it), Esc closes.
enum class KeyCommand { NONE, SEARCH, PRESS_GO, CLOSE };

// The character a key taken here makes would only make the name field beep outside a dialog.
void drop_typed(HWND focus, WPARAM key) {
  MSG typed;
  if (PeekMessageA(&typed, focus, WM_CHAR, WM_CHAR, PM_NOREMOVE) && typed.wParam == (key == VK_RETURN ? '\r' : 0x1B))
    PeekMessageA(&typed, focus, WM_CHAR, WM_CHAR, PM_REMOVE);
}

KeyCommand key_command(int code) {
  HWND focus = GetFocus();
  if (code != WM_KEYDOWN || !focus || GetAncestor(focus, GA_ROOT) != window_handle(FIND_WINDOW))
    return KeyCommand::NONE;
  WPARAM key = static_cast<WPARAM>(event_data(0));
  if (key == VK_ESCAPE || (key == VK_RETURN && focus != gadget_handle(RESULTS))) drop_typed(focus, key);
  if (key == VK_ESCAPE) return KeyCommand::CLOSE;
  if (key != VK_RETURN || focus == gadget_handle(RESULTS)) return KeyCommand::NONE;
  if (focus == gadget_handle(CLOSE_BUTTON)) return KeyCommand::CLOSE;
  return focus == gadget_handle(GO_BUTTON) ? KeyCommand::PRESS_GO : KeyCommand::SEARCH;
}

// A path's text shortened in its middle to fit, "&" shown as it is.
void show_as_path(int gadget) {
  HWND text = gadget_handle(gadget);
  SetWindowLongPtrA(text, GWL_STYLE, GetWindowLongPtrA(text, GWL_STYLE) | SS_PATHELLIPSIS | SS_NOPREFIX);
  InvalidateRect(text, nullptr, TRUE);
}

struct FindChoice {
  std::string folder, name;
};

class SearchWindow {
 public:
  SearchWindow(const std::string& root, const std::string& folder_text, const EntryTable* archive)
      : root_(root), folder_text_(folder_text), rows_(root, archive) {}

  // Runs until the window closes; true with `choice` set when a result was double-clicked.
  bool run(const std::string& pattern, FindChoice& choice) {
    last_pattern_ = pattern;
    begin_mode_window();
    if (!window_open(FIND_WINDOW, 0, 0, 560, 400, "Vantor - Find", 0x10C80001, window_handle(0))) {
      end_mode_window(FIND_WINDOW, nullptr);
      return false;
    }
    create_gadgets(pattern);
    window_show(FIND_WINDOW, 1);
    SetFocus(gadget_handle(PATTERN_FIELD));
    bool chosen = false;
    for (bool done = false; !done;) {
      int code = wait_event(running_ ? 30 : -1);
      if (running_) take_results();
      done = handle(code, choice, chosen);
    }
    last_pattern_ = gadget_get_text(PATTERN_FIELD);
    search_.stop();
    end_mode_window(FIND_WINDOW, nullptr);
    return chosen;
  }
  const std::string& last_pattern() const { return last_pattern_; }

 private:
  void create_gadgets(const std::string& pattern) {
    text_gadget(PATTERN_LABEL, 10, 14, 45, 20, "Name:");
    string_gadget(PATTERN_FIELD, 58, 10, 382, 22, pattern);
    gadget_set_tooltip(PATTERN_FIELD, "* stands for any characters, ? for one; Enter searches");
    button_gadget(GO_BUTTON, 450, 8, 100, 26, "Find");
    text_gadget(FOLDER_LABEL, 10, 42, 45, 20, "Folder:");
    text_gadget(FOLDER_TEXT, 58, 42, 492, 20, folder_text_);
    show_as_path(FOLDER_TEXT);
    results_gadget(RESULTS, 10, 64, 540, 294);
    text_gadget(STATUS, 10, 370, 450, 20, root_.empty() ? "Open a folder in the main list to search it" : "");
    button_gadget(CLOSE_BUTTON, 470, 364, 80, 26, "Close");
    gadget_set_tooltip(CLOSE_BUTTON, "Stop searching and close (Esc)");
    if (root_.empty()) gadget_disable(GO_BUTTON, 1);
  }

  // One event; true when the window is to close.
  bool handle(int code, FindChoice& choice, bool& chosen) {
    if (code == EVENT_CLOSE_WINDOW && event_window_number() == FIND_WINDOW) return true;
    switch (key_command(code)) {
      case KeyCommand::CLOSE: return true;
      case KeyCommand::SEARCH: start(); return false;
      case KeyCommand::PRESS_GO: go(); return false;
      case KeyCommand::NONE: break;
    }
    if (code != EVENT_GADGET || event_window_number() != FIND_WINDOW) return false;
    if (event_gadget_number() == GO_BUTTON) go();
    if (event_gadget_number() == CLOSE_BUTTON) return true;
    if (event_gadget_number() == RESULTS && event_type() == EVENT_TYPE_LEFT_DOUBLE_CLICK) {
      ResultsState* s = state();
      const FoundRow* row = s ? s->shown(static_cast<int>(event_data(0))) : nullptr;
      if (row) {
        choice = {root_ + row->folder, row->name};
        chosen = true;
        return true;
      }
    }
    return false;
  }

  ResultsState* state() {
    Gadget* g = gadget_record(RESULTS);
    return g ? results_of(*g) : nullptr;
  }

  void go() {
    if (running_)
      stop();
    else
      start();
  }

  void start() {
    ResultsState* s = state();
    if (!s || root_.empty()) return;
    search_.stop();
    s->rows.clear();
    s->order.clear();
    hits_.clear();
    shown_ = 0;
    SendMessageA(gadget_handle(RESULTS), LVM_SETITEMCOUNT, 0, 0);
    stopped_ = false;
    running_ = true;
    FindLimits limits;
    limits.most_hits = hit_limit;
    search_.start(root_, gadget_get_text(PATTERN_FIELD), enumerate_folder_details, limits);
    gadget_set_text(GO_BUTTON, "Stop");
    gadget_set_text(STATUS, find_status_text(FindCounts(), true, false));
  }

  void stop() {
    search_.stop();
    stopped_ = true;
    take_results(SIZE_MAX);
  }

  // The rows of a pass are bounded: a worker far ahead of the window leaves a backlog for the
  // next passes instead of holding the window up.
  void take_results(size_t most = 4000) {
    FindCounts counts;
    bool walking = search_.take(hits_, counts) && !stopped_;
    ResultsState* s = state();
    size_t n = std::min(hits_.size() - shown_, most);
    if (s && n > 0) {
      HWND list = gadget_handle(RESULTS);
      size_t first = s->rows.size(), chosen = chosen_row(list, *s);
      for (size_t i = shown_; i < shown_ + n; ++i) s->rows.push_back(rows_.make(hits_[i]));
      s->add_rows_from(first);
      // Sorted, the new rows land among the old ones: every row shown may change.
      bool sorted = s->sort_column >= 0;
      SendMessageA(list, LVM_SETITEMCOUNT, s->rows.size(), LVSICF_NOSCROLL | (sorted ? 0 : LVSICF_NOINVALIDATEALL));
      if (sorted) choose_again(list, *s, chosen, false);
    }
    shown_ += n;
    if (shown_ == hits_.size()) {
      hits_.clear();
      shown_ = 0;
    }
    running_ = walking || !hits_.empty();
    std::string status = find_status_text(counts, running_, stopped_);
    if (status != gadget_get_text(STATUS)) gadget_set_text(STATUS, status);
    if (!running_) gadget_set_text(GO_BUTTON, "Find");
  }

  std::string root_, folder_text_;
  RowMaker rows_;
  FindSearch search_;
  std::vector<FindHit> hits_;  // taken from the worker, rows made of the first shown_
  size_t shown_ = 0;
  bool running_ = false, stopped_ = false;
  std::string last_pattern_;
};

// What the window remembers between openings: the pattern, and the result waiting to be shown.
std::string remembered_pattern = "*";
FindChoice pending_choice;

void show_choice(int list_gadget) {
  int count = gadget_count_items(list_gadget);
  for (int i = 0; i < count; ++i) {
    if (gadget_get_item_text(list_gadget, i, 0) != pending_choice.name) continue;
    HWND list = gadget_handle(list_gadget);
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&item));
    SendMessageA(list, LVM_ENSUREVISIBLE, i, FALSE);
    SetFocus(list);
    break;
  }
  pending_choice = FindChoice();
}

}  // namespace

void find_command(int list_gadget, int type, const EntryTable* archive, const OperationState* operation) {
  if (type == FIND_SHOW_CHOICE) {
    show_choice(list_gadget);
    return;
  }
  int gadget = event_gadget_number(), window = event_window_number();
  std::string root = gadget_get_text(list_gadget);
  std::string shown = root;
  if (archive && operation) shown = find_folder_text(root, operation->archive_path, operation->temp_root);
  SearchWindow w(root, shown, archive);
  FindChoice choice;
  bool chosen = w.run(remembered_pattern, choice);
  remembered_pattern = w.last_pattern();
  if (!chosen) return;
  gadget_set_text(list_gadget, choice.folder);
  pending_choice = choice;
  queue_event(EVENT_GADGET, gadget, window, FIND_SHOW_CHOICE);
}

void set_find_hit_limit(int64_t most) { hit_limit = most; }
