// The folder tree's answer to volume arrivals and removals.
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
  if (arrived && t.requester.dialog && drive_in(t.requester.drive, units)) drive_requester_close(t.requester);
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

void trees_volumes_changed(bool arrived, DWORD units) {
  std::vector<FolderTree*> all = trees();
  for (FolderTree* t : all)
    if (t->root) volumes_changed(*t, units, arrived);
}

}  // namespace

FolderTree* folder_tree_of(HWND tree) {
  for (FolderTree* t : trees())
    if (t->tree == tree) return t;
  return nullptr;
}

void tree_watch_device_changes(FolderTree& t) {
  trees().push_back(&t);
  watch_volume_changes(t.tree, trees_volumes_changed);
}

void tree_forget(FolderTree& t) {
  std::vector<FolderTree*>& all = trees();
  all.erase(std::remove(all.begin(), all.end(), &t), all.end());
}
