// The drive requester shared by the list and the tree (a modeless dialog asking for a disk while
// the control is disabled), and the volume notices received by subclassing one top-level window.
#include <windows.h>
#include <dbt.h>
#include <shellapi.h>

#include <algorithm>
#include <vector>

#include "explorer/explorer_shared_win.h"

namespace {

constexpr int REQUESTER_MESSAGE_ID = 12291;
constexpr int REQUESTER_ICON_ID = 12297;

// Appends a dialog item or the dialog header to an in-memory template, WORD by WORD.
class DialogTemplate {
 public:
  void header(DWORD style, short items, short cx, short cy, const char* title) {
    dword(style);
    dword(0);
    word(static_cast<WORD>(items));
    coords(0, 0, cx, cy);
    word(0);  // no menu
    word(0);  // default class
    text(title);
    word(8);  // point size of DS_SETFONT
    text("MS Shell Dlg");
  }
  void item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD class_atom, const char* title) {
    while (words_.size() % 2) word(0);  // items start on a DWORD boundary
    dword(style | WS_CHILD | WS_VISIBLE);
    dword(0);
    coords(x, y, cx, cy);
    word(id);
    word(0xFFFF);
    word(class_atom);
    text(title);
    word(0);  // no creation data
  }
  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  void word(WORD w) { words_.push_back(w); }
  void dword(DWORD d) {
    word(LOWORD(d));
    word(HIWORD(d));
  }
  void coords(short x, short y, short cx, short cy) {
    word(static_cast<WORD>(x));
    word(static_cast<WORD>(y));
    word(static_cast<WORD>(cx));
    word(static_cast<WORD>(cy));
  }
  void text(const char* s) {
    while (*s) word(static_cast<unsigned char>(*s++));
    word(0);
  }
  std::vector<WORD> words_;
};

const WORD BUTTON_ATOM = 0x0080;
const WORD STATIC_ATOM = 0x0082;

std::string drive_text(int drive) {
  char letter = static_cast<char>('A' + drive);
  return std::string("There is no disk in drive ") + letter + ":. Insert a disk into drive " + letter +
         ":, or press Cancel.";
}

INT_PTR CALLBACK requester_proc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp) {
  auto* r = reinterpret_cast<DriveRequester*>(GetWindowLongPtrA(dialog, DWLP_USER));
  switch (msg) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(dialog, DWLP_USER, lp);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wp) == IDCANCEL && r) drive_requester_close(*r);
      return TRUE;
    case WM_CLOSE:
      if (r) drive_requester_close(*r);
      return TRUE;
    case WM_DESTROY:
      // Also reached when the owner window goes first and takes the dialog with it.
      if (r && r->dialog == dialog) {
        r->dialog = nullptr;
        if (r->icon) DestroyIcon(r->icon);
        r->icon = nullptr;
        EnableWindow(r->control, TRUE);
      }
      return TRUE;
    default:
      return FALSE;
  }
}

HWND top_window = nullptr;
WNDPROC top_previous_proc = nullptr;

std::vector<VolumeHandler>& volume_handlers() {
  static std::vector<VolumeHandler> all;
  return all;
}

void on_device_change(WPARAM event, LPARAM data) {
  if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return;
  const DEV_BROADCAST_HDR* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
  if (!header || header->dbch_devicetype != DBT_DEVTYP_VOLUME) return;
  DWORD units = reinterpret_cast<const DEV_BROADCAST_VOLUME*>(header)->dbcv_unitmask;
  for (VolumeHandler handler : volume_handlers()) handler(event == DBT_DEVICEARRIVAL, units);
}

LRESULT CALLBACK top_window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  WNDPROC previous = top_previous_proc;
  if (msg == WM_DEVICECHANGE) on_device_change(wp, lp);
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
    top_window = nullptr;
    top_previous_proc = nullptr;
  }
  return CallWindowProcA(previous, hwnd, msg, wp, lp);
}

}  // namespace

bool drive_in(int drive, DWORD units) { return drive >= 0 && drive < 32 && (units & (1u << drive)); }

void drive_requester_open(DriveRequester& r, HWND control, int drive) {
  drive_requester_close(r);
  DialogTemplate t;
  t.header(DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, 3, 230, 70,
           "Drive not ready");
  t.item(SS_ICON, 10, 10, 21, 20, REQUESTER_ICON_ID, STATIC_ATOM, "");
  t.item(SS_LEFT, 40, 10, 180, 30, REQUESTER_MESSAGE_ID, STATIC_ATOM, drive_text(drive).c_str());
  t.item(BS_DEFPUSHBUTTON | WS_TABSTOP, 170, 48, 50, 14, IDCANCEL, BUTTON_ATOM, "Cancel");
  r.control = control;
  HWND dialog = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), t.get(), GetAncestor(control, GA_ROOT),
                                           requester_proc, reinterpret_cast<LPARAM>(&r));
  if (!dialog) return;
  std::string root = std::string(1, static_cast<char>('A' + drive)) + ":\\";
  SHFILEINFOA info = {};
  if (SHGetFileInfoA(root.c_str(), 0, &info, sizeof info, SHGFI_ICON | SHGFI_LARGEICON)) r.icon = info.hIcon;
  SendDlgItemMessageA(dialog, REQUESTER_ICON_ID, STM_SETICON, reinterpret_cast<WPARAM>(r.icon), 0);
  r.dialog = dialog;
  r.drive = drive;
  EnableWindow(control, FALSE);
}

void drive_requester_close(DriveRequester& r) {
  if (r.dialog && IsWindow(r.dialog)) DestroyWindow(r.dialog);
  r.dialog = nullptr;
}

void watch_volume_changes(HWND control, VolumeHandler handler) {
  std::vector<VolumeHandler>& all = volume_handlers();
  if (std::find(all.begin(), all.end(), handler) == all.end()) all.push_back(handler);
  if (top_window) return;
  HWND top = GetAncestor(control, GA_ROOT);
  if (!top) return;
  top_previous_proc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(top, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(top_window_proc)));
  if (top_previous_proc) top_window = top;
}
