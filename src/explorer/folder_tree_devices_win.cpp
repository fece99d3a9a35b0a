// The folder tree's drive requester and its device-change notices, received by subclassing the
// top-level window of the first tree.
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>

#include <algorithm>
#include <vector>

#include "explorer/explorer_shared_win.h"
#include "explorer/folder_tree_state.h"

namespace {

std::vector<FolderTree*>& trees() {
  static std::vector<FolderTree*> all;
  return all;
}

INT_PTR CALLBACK requester_proc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp) {
  FolderTree* t = folder_tree_of(reinterpret_cast<HWND>(GetWindowLongPtrA(dialog, DWLP_USER)));
  switch (msg) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(dialog, DWLP_USER, lp);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wp) == IDCANCEL && t) tree_requester_close(*t);
      return TRUE;
    case WM_CLOSE:
      if (t) tree_requester_close(*t);
      return TRUE;
    case WM_DESTROY:
      // Also reached when the owner window goes first and takes the dialog with it.
      if (t && t->requester == dialog) {
        t->requester = nullptr;
        if (t->requester_icon) DestroyIcon(t->requester_icon);
        t->requester_icon = nullptr;
        EnableWindow(t->tree, TRUE);
      }
      return TRUE;
    default:
      return FALSE;
  }
}

HWND top_window = nullptr;
WNDPROC top_previous_proc = nullptr;

bool drive_in(int drive, DWORD units) { return drive >= 0 && drive < 32 && (units & (1u << drive)); }

HTREEITEM next_node(const FolderTree& t, HTREEITEM node, WPARAM how) {
  return reinterpret_cast<HTREEITEM>(SendMessageA(t.tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(node)));
}

// Back to an unread drive: closed, no children, a fresh name, icon and expand button.
void reset_drive(FolderTree& t, HTREEITEM node, int drive) {
  SendMessageA(t.tree, TVM_EXPAND, TVE_COLLAPSE | TVE_COLLAPSERESET, reinterpret_cast<LPARAM>(node));
  while (HTREEITEM child = next_node(t, node, TVGN_CHILD))
    SendMessageA(t.tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(child));
  std::string root = std::string(1, static_cast<char>('A' + drive)) + ":\\";
  std::string name;
  int icon = 0;
  if (!shell_display_info(root, &name, &icon) || name.empty()) name = root;
  TVITEMA item = {};
  item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM | TVIF_CHILDREN;
  item.hItem = node;
  item.pszText = &name[0];
  item.iImage = icon;
  item.iSelectedImage = icon;
  item.lParam = drive;
  item.cChildren = 1;
  SendMessageA(t.tree, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

void append_drive(FolderTree& t, int drive) {
  std::string root = std::string(1, static_cast<char>('A' + drive)) + ":\\";
  TVINSERTSTRUCTA ins = {};
  ins.hParent = t.root;
  ins.hInsertAfter = TVI_LAST;
  ins.item.mask = TVIF_TEXT | TVIF_PARAM;
  ins.item.pszText = &root[0];
  ins.item.lParam = drive;
  HTREEITEM node =
      reinterpret_cast<HTREEITEM>(SendMessageA(t.tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&ins)));
  if (node) reset_drive(t, node, drive);
}

void volumes_changed(FolderTree& t, DWORD units, bool arrived) {
  UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS);
  DWORD present = GetLogicalDrives();
  DWORD seen = 0;
  if (arrived && t.requester && drive_in(t.requester_drive, units)) tree_requester_close(t);
  HTREEITEM node = next_node(t, t.root, TVGN_CHILD);
  while (node) {
    HTREEITEM next = next_node(t, node, TVGN_NEXT);
    long value = node_value(t, node);
    int drive = node_kind(value);
    if (node_is_drive(value)) {
      if (!arrived && !drive_in(drive, present)) {
        SendMessageA(t.tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(node));
      } else {
        seen |= 1u << drive;
        if (drive_in(drive, units)) reset_drive(t, node, drive);
      }
    }
    node = next;
  }
  if (arrived)
    for (int d = 0; d < 32; ++d)
      if (drive_in(d, present & ~seen)) append_drive(t, d);
  SetErrorMode(old_mode);
}

void on_device_change(WPARAM event, LPARAM data) {
  if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return;
  const DEV_BROADCAST_HDR* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
  if (!header || header->dbch_devicetype != DBT_DEVTYP_VOLUME) return;
  DWORD units = reinterpret_cast<const DEV_BROADCAST_VOLUME*>(header)->dbcv_unitmask;
  std::vector<FolderTree*> all = trees();
  for (FolderTree* t : all)
    if (t->root) volumes_changed(*t, units, event == DBT_DEVICEARRIVAL);
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

FolderTree* folder_tree_of(HWND tree) {
  for (FolderTree* t : trees())
    if (t->tree == tree) return t;
  return nullptr;
}

void tree_requester_open(FolderTree& t, int drive) {
  tree_requester_close(t);
  HWND dialog = drive_requester_dialog(t.tree, drive, requester_proc, &t.requester_icon);
  if (!dialog) return;
  t.requester = dialog;
  t.requester_drive = drive;
  EnableWindow(t.tree, FALSE);
}

void tree_requester_close(FolderTree& t) {
  if (t.requester && IsWindow(t.requester)) DestroyWindow(t.requester);
  t.requester = nullptr;
}

void tree_watch_device_changes(FolderTree& t) {
  trees().push_back(&t);
  if (top_window) return;
  HWND top = GetAncestor(t.tree, GA_ROOT);
  if (!top) return;
  top_previous_proc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(top, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(top_window_proc)));
  if (top_previous_proc) top_window = top;
}

void tree_forget(FolderTree& t) {
  std::vector<FolderTree*>& all = trees();
  all.erase(std::remove(all.begin(), all.end(), &t), all.end());
}
