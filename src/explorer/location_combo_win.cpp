// The location combo gadget (kind 25): an extended combo box with the system's small icons that
// lists My Computer, the drives, the folders on the way to the location and My Documents.
#include "explorer/location_combo.h"

#include <commctrl.h>

#include "explorer/explorer_shared_win.h"
#include "explorer/location_entries.h"
#include "explorer/my_computer_win.h"
#include "ui/ui.h"

namespace {

constexpr int DROPPED_HEIGHT = 350;
constexpr int MEASURE_ITEM_HEIGHT = 15;
// Posted to the control itself: a choice or a typed folder is applied once the control has
// finished its own handling of the notice, as refilling inside the notice pulls items from under it.
constexpr UINT WM_LOCATION_CHOSEN = WM_APP + 0x125;
constexpr UINT WM_LOCATION_TYPED = WM_APP + 0x126;

struct LocationCombo {
  HWND combo = nullptr;
  uint32_t flags = 0;
  std::string location;  // "" = My Computer; otherwise ends with "\"
  int frame_height = 0;  // closed height minus the selection field's item height
  std::string typed;     // the edit field's text when Enter was pressed
};

LocationCombo* state_of(Gadget& g) { return static_cast<LocationCombo*>(g.state); }

bool folder_exists(const std::string& folder) {
  DWORD attributes = GetFileAttributesA(folder.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

LocationPlaces current_places() {
  const SpecialFolder& documents = explorer_shared().my_documents;
  LocationPlaces places;
  places.drive_mask = GetLogicalDrives();
  places.my_documents = documents.present ? documents.path : std::string();
  places.folder_exists = folder_exists;
  return places;
}

void entry_look(const LocationEntry& e, std::string* text, int* icon) {
  const SpecialFolder& documents = explorer_shared().my_documents;
  if (e.tag == LOCATION_TAG_MY_COMPUTER) {
    *text = my_computer().name;
    *icon = my_computer().icon;
  } else if (e.tag == LOCATION_TAG_MY_DOCUMENTS) {
    *text = documents.name;
    *icon = documents.icon;
  } else if (!shell_display_info(e.path, text, icon) || text->empty()) {
    size_t cut = e.path.find_last_of('\\', e.path.size() - 2);
    *text = cut == std::string::npos ? e.path : e.path.substr(cut + 1);
    *icon = explorer_shared().folder_icon;
  }
}

void add_entry(HWND combo, const LocationEntry& e) {
  std::string text;
  int icon = 0;
  entry_look(e, &text, &icon);
  COMBOBOXEXITEMA item = {};
  item.mask = CBEIF_TEXT | CBEIF_IMAGE | CBEIF_SELECTEDIMAGE | CBEIF_INDENT | CBEIF_LPARAM;
  item.iItem = -1;
  item.pszText = &text[0];
  item.iImage = icon;
  item.iSelectedImage = icon;
  item.iIndent = e.indent;
  item.lParam = static_cast<LPARAM>(e.tag);
  SendMessageA(combo, CBEM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

// Critical-error boxes (a drive that is not ready) stay away while drives and folders are looked at.
void fill(LocationCombo& c, const std::string& location) {
  UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS);
  LocationFill f = location_fill(location, c.flags, current_places());
  c.location = f.location;
  SendMessageA(c.combo, CB_RESETCONTENT, 0, 0);
  for (const LocationEntry& e : f.entries) add_entry(c.combo, e);
  SendMessageA(c.combo, CB_SETCURSEL, static_cast<WPARAM>(f.selected), 0);
  SetErrorMode(old_mode);
}

int selected_tag(const LocationCombo& c) {
  int index = static_cast<int>(SendMessageA(c.combo, CB_GETCURSEL, 0, 0));
  if (index < 0) return -1;
  COMBOBOXEXITEMA item = {};
  item.mask = CBEIF_LPARAM;
  item.iItem = index;
  if (!SendMessageA(c.combo, CBEM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return -1;
  return static_cast<int>(item.lParam);
}

HWND edit_field(const LocationCombo& c) {
  return reinterpret_cast<HWND>(SendMessageA(c.combo, CBEM_GETEDITCONTROL, 0, 0));
}

void report_choice(Gadget& g) { queue_event(EVENT_GADGET, g.number, g.window, EVENT_TYPE_LEFT_CLICK); }

void apply_choice(Gadget& g, LocationCombo& c) {
  int tag = selected_tag(c);
  if (c.flags & LOCATION_DRIVES_ONLY) {
    c.location = tag < 0 ? std::string() : location_of_choice(static_cast<uint32_t>(tag), c.location, "");
  } else if (tag >= 0) {
    fill(c, location_of_choice(static_cast<uint32_t>(tag), c.location, explorer_shared().my_documents.path));
  }
  report_choice(g);
}

// Enter in the edit field: a folder becomes the location, anything missing restores the old one,
// a file changes nothing.
void apply_typed(Gadget& g, LocationCombo& c) {
  std::string typed = c.typed;
  if (!typed.empty() && typed.back() == '\\') typed.pop_back();
  DWORD attributes = GetFileAttributesA(typed.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    fill(c, c.location);
  } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    fill(c, typed);
    report_choice(g);
  }
  if (HWND edit = edit_field(c)) {
    int end = GetWindowTextLengthA(edit);
    SendMessageA(edit, EM_SETSEL, end, end);
  }
}

void on_focus(LocationCombo& c, bool gained) {
  HWND edit = edit_field(c);
  if (!(c.flags & LOCATION_EDITABLE) || !edit || selected_tag(c) != static_cast<int>(LOCATION_TAG_MY_COMPUTER)) return;
  if (gained) {
    SetWindowTextA(edit, "");
  } else if (GetWindowTextLengthA(edit) == 0) {
    SetWindowTextA(edit, my_computer().name.c_str());
  }
}

std::string end_edit_text(UINT code, LPARAM lp) {
  if (code == CBEN_ENDEDITA) return reinterpret_cast<const NMCBEENDEDITA*>(lp)->szText;
  // Sized by the conversion itself: 260 UTF-16 units can take up to 780 bytes of UTF-8.
  const wchar_t* wide = reinterpret_cast<const NMCBEENDEDITW*>(lp)->szText;
  int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, -1, &text[0], n, nullptr, nullptr);
  text.resize(static_cast<size_t>(n - 1));
  return text;
}

LRESULT on_end_edit(LocationCombo& c, const NMHDR& notice, LPARAM lp, bool* handled) {
  int why = notice.code == CBEN_ENDEDITA ? reinterpret_cast<const NMCBEENDEDITA*>(lp)->iWhy
                                          : reinterpret_cast<const NMCBEENDEDITW*>(lp)->iWhy;
  if (why != CBENF_RETURN || !(c.flags & LOCATION_EDITABLE)) return FALSE;
  c.typed = end_edit_text(notice.code, lp);
  PostMessageA(c.combo, WM_LOCATION_TYPED, 0, 0);
  *handled = true;
  return TRUE;  // the typed text is ours to apply; the control must not look it up itself
}

LRESULT combo_notify(Gadget& g, UINT msg, WPARAM wp, LPARAM lp, bool* handled) {
  LocationCombo* c = state_of(g);
  if (!c) return 0;
  if (msg == WM_NOTIFY) {
    const NMHDR& notice = *reinterpret_cast<const NMHDR*>(lp);
    if (notice.code == CBEN_ENDEDITA || notice.code == CBEN_ENDEDITW) return on_end_edit(*c, notice, lp, handled);
    return 0;
  }
  if (msg != WM_COMMAND) return 0;
  switch (HIWORD(wp)) {
    case CBN_SELENDOK:
      PostMessageA(c->combo, WM_LOCATION_CHOSEN, 0, 0);
      *handled = true;
      break;
    case CBN_SETFOCUS:
      on_focus(*c, true);
      break;
    case CBN_KILLFOCUS:
      on_focus(*c, false);
      break;
    default:
      break;
  }
  return 0;  // other notices become events with the notice code as their type
}

LRESULT combo_control_message(Gadget& g, UINT msg, WPARAM, LPARAM, bool* handled) {
  LocationCombo* c = state_of(g);
  if (!c || (msg != WM_LOCATION_CHOSEN && msg != WM_LOCATION_TYPED)) return 0;
  *handled = true;
  if (msg == WM_LOCATION_CHOSEN) {
    apply_choice(g, *c);
  } else {
    apply_typed(g, *c);
  }
  return 0;
}

void combo_destroy(Gadget& g) { delete state_of(g); }

std::string combo_get_text(Gadget& g) {
  LocationCombo* c = state_of(g);
  return c ? c->location : std::string();
}

void combo_set_text(Gadget& g, const std::string& text) {
  if (LocationCombo* c = state_of(g)) fill(*c, text);
}

// The control's own height is that of the opened list; the closed height follows the item height
// of the selection field.
void set_closed_height(const LocationCombo& c, int height) {
  int item_height = height - c.frame_height;
  if (item_height < 1) item_height = 1;
  SendMessageA(c.combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), item_height);
}

void combo_resize(Gadget& g, int x, int y, int w, int h) {
  LocationCombo* c = state_of(g);
  if (!c) return;
  MoveWindow(c->combo, x, y, w, DROPPED_HEIGHT, TRUE);
  set_closed_height(*c, h);
}

const GadgetClass LOCATION_COMBO_CLASS = [] {
  GadgetClass k = {};
  k.kind = GADGET_LOCATION_COMBO;
  k.notify = combo_notify;
  k.control_message = combo_control_message;
  k.destroy = combo_destroy;
  k.get_text = combo_get_text;
  k.set_text = combo_set_text;
  k.resize = combo_resize;
  return k;
}();

int closed_height(HWND combo) {
  RECT r = {};
  GetWindowRect(combo, &r);
  return r.bottom - r.top;
}

// File-system completion for the edit field, from shlwapi when the system has it.
void add_completion(HWND edit) {
  using AutoComplete = HRESULT(WINAPI*)(HWND, DWORD);
  HMODULE shlwapi = LoadLibraryA("shlwapi.dll");
  if (!shlwapi || !edit) return;
  auto complete = reinterpret_cast<AutoComplete>(reinterpret_cast<void*>(GetProcAddress(shlwapi, "SHAutoComplete")));
  if (complete) complete(edit, 0x1 /* SHACF_FILESYSTEM */);
}

}  // namespace

HWND location_combo_create(int number, int x, int y, int w, int h, const std::string& location, uint32_t flags) {
  HWND parent = gadget_target_window();
  if (!parent || number < 0) return nullptr;
  const ExplorerShared& shared = explorer_shared();
  my_computer();
  DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL |
                ((flags & LOCATION_EDITABLE) ? CBS_DROPDOWN : CBS_DROPDOWNLIST);
  HWND combo = CreateWindowExA(0, WC_COMBOBOXEXA, "", style, x, y, w, DROPPED_HEIGHT, parent,
                               reinterpret_cast<HMENU>(static_cast<intptr_t>(number)), GetModuleHandleA(nullptr),
                               nullptr);
  if (!combo) return nullptr;
  SendMessageA(combo, CBEM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(shared.small_images));
  LocationCombo* c = new LocationCombo;
  c->combo = combo;
  c->flags = flags;
  if (!gadget_register(number, combo, &LOCATION_COMBO_CLASS, c)) {
    delete c;
    DestroyWindow(combo);
    return nullptr;
  }
  SendMessageA(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), MEASURE_ITEM_HEIGHT);
  c->frame_height = closed_height(combo) - MEASURE_ITEM_HEIGHT;
  set_closed_height(*c, h);
  if (flags & LOCATION_EDITABLE) add_completion(edit_field(*c));
  fill(*c, location);
  return combo;
}
