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
constexpr int GADGET_FIND_RESULTS = 47;

struct FoundRow {
  std::string folder, name;  // folder below the searched one, ending with "\" or empty
  std::string cells[3];      // path, size, date
};

// The results list shows rows it holds itself (an owner-data list view): a hundred thousand rows
// cost the control nothing.
struct ResultsState {
  std::vector<FoundRow> rows;
};

ResultsState* results_of(Gadget& g) { return static_cast<ResultsState*>(g.state); }

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
    if ((item.mask & LVIF_TEXT) && item.iItem >= 0 && static_cast<size_t>(item.iItem) < s->rows.size() &&
        item.iSubItem >= 0 && item.iSubItem < 3)
      copy_cell(s->rows[static_cast<size_t>(item.iItem)].cells[item.iSubItem], item.pszText, item.cchTextMax);
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
  ResultsState* s = results_of(g);
  if (!s || item < 0 || static_cast<size_t>(item) >= s->rows.size() || column < 0 || column > 2) return std::string();
  return s->rows[static_cast<size_t>(item)].cells[column];
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
    row.cells[0] = h.folder + h.name;
    bool dated = true;
    int64_t size = h.size;
    if (archive_) {
      dated = h.write_time < std::max(h.creation_time, h.access_time);
      if (!h.is_folder) {
        auto it = sizes().find(root_ + h.folder + h.name);
        if (it != sizes().end()) size = it->second;
      }
    }
    if (!h.is_folder) row.cells[1] = size_cell(static_cast<uint64_t>(size));
    if (dated) row.cells[2] = date_cell(h.write_time);
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

std::string status_text(const FindCounts& c, bool running, bool stopped) {
  std::string counts = std::to_string(c.folders) + (c.folders == 1 ? " folder" : " folders") + " looked at, " +
                       std::to_string(c.found) + " found";
  if (running) return "Searching... " + counts;
  return (stopped ? "Stopped: " : "Done: ") + counts;
}

struct FindChoice {
  std::string folder, name;
};

class SearchWindow {
 public:
  SearchWindow(const std::string& root, const EntryTable* archive) : root_(root), rows_(root, archive) {}

  // Runs until the window closes; true with `choice` set when a result was double-clicked.
  bool run(const std::string& pattern, FindChoice& choice) {
    last_pattern_ = pattern;
    begin_mode_window();
    if (!window_open(FIND_WINDOW, 0, 0, 560, 400, "Vantor - Find", 0x10C80001, window_handle(0))) {
      end_mode_window(FIND_WINDOW, nullptr);
      return false;
    }
    text_gadget(PATTERN_LABEL, 10, 14, 45, 20, "Name:");
    string_gadget(PATTERN_FIELD, 58, 10, 382, 22, pattern);
    gadget_set_tooltip(PATTERN_FIELD, "* stands for any characters, ? for one");
    button_gadget(GO_BUTTON, 450, 8, 100, 26, "Find");
    results_gadget(RESULTS, 10, 42, 540, 318);
    text_gadget(STATUS, 10, 370, 540, 20, root_.empty() ? "Open a folder in the main list to search it" : "");
    if (root_.empty()) gadget_disable(GO_BUTTON, 1);
    window_show(FIND_WINDOW, 1);
    bool chosen = false;
    for (;;) {
      int code = wait_event(running_ ? 30 : -1);
      if (running_) take_results();
      if (code == EVENT_CLOSE_WINDOW && event_window_number() == FIND_WINDOW) break;
      if (code != EVENT_GADGET || event_window_number() != FIND_WINDOW) continue;
      if (event_gadget_number() == GO_BUTTON) {
        if (running_) stop(); else start();
      } else if (event_gadget_number() == RESULTS && event_type() == EVENT_TYPE_LEFT_DOUBLE_CLICK) {
        ResultsState* s = state();
        size_t row = static_cast<size_t>(event_data(0));
        if (s && row < s->rows.size()) {
          choice = {root_ + s->rows[row].folder, s->rows[row].name};
          chosen = true;
          break;
        }
      }
    }
    last_pattern_ = gadget_get_text(PATTERN_FIELD);
    search_.stop();
    end_mode_window(FIND_WINDOW, nullptr);
    return chosen;
  }
  const std::string& last_pattern() const { return last_pattern_; }

 private:
  ResultsState* state() {
    Gadget* g = gadget_record(RESULTS);
    return g ? results_of(*g) : nullptr;
  }

  void start() {
    ResultsState* s = state();
    if (!s) return;
    s->rows.clear();
    hits_.clear();
    shown_ = 0;
    SendMessageA(gadget_handle(RESULTS), LVM_SETITEMCOUNT, 0, 0);
    stopped_ = false;
    running_ = true;
    search_.start(root_, gadget_get_text(PATTERN_FIELD));
    gadget_set_text(GO_BUTTON, "Stop");
    gadget_set_text(STATUS, status_text(FindCounts(), true, false));
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
      for (size_t i = shown_; i < shown_ + n; ++i) s->rows.push_back(rows_.make(hits_[i]));
      SendMessageA(gadget_handle(RESULTS), LVM_SETITEMCOUNT, s->rows.size(), LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
    }
    shown_ += n;
    if (shown_ == hits_.size()) {
      hits_.clear();
      shown_ = 0;
    }
    running_ = walking || !hits_.empty();
    std::string status = status_text(counts, running_, stopped_);
    if (status != gadget_get_text(STATUS)) gadget_set_text(STATUS, status);
    if (!running_) gadget_set_text(GO_BUTTON, "Find");
  }

  std::string root_;
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

void find_command(int list_gadget, int type, const EntryTable* archive) {
  if (type == FIND_SHOW_CHOICE) {
    show_choice(list_gadget);
    return;
  }
  int gadget = event_gadget_number(), window = event_window_number();
  SearchWindow w(gadget_get_text(list_gadget), archive);
  FindChoice choice;
  bool chosen = w.run(remembered_pattern, choice);
  remembered_pattern = w.last_pattern();
  if (!chosen) return;
  gadget_set_text(list_gadget, choice.folder);
  pending_choice = choice;
  queue_event(EVENT_GADGET, gadget, window, FIND_SHOW_CHOICE);
}
