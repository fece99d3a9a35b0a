// The folder tree gadget (kind 24): My Computer, the drives and My Documents, with folders read
// from the disk the first time their node opens. Its text is the path of the selected node.
#include "explorer/folder_tree.h"

#include <commctrl.h>

#include "explorer/explorer_shared_win.h"
#include "explorer/folder_tree_state.h"
#include "ui/ui.h"

namespace {

FolderTree* state_of(Gadget& g) { return static_cast<FolderTree*>(g.state); }

void report(Gadget& g, int type) { queue_event(EVENT_GADGET, g.number, g.window, type); }

void select_node(FolderTree& t, HTREEITEM node) {
  if (node) SendMessageA(t.tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(node));
}

HTREEITEM node_under_mouse(const FolderTree& t) {
  TVHITTESTINFO hit = {};
  GetCursorPos(&hit.pt);
  ScreenToClient(t.tree, &hit.pt);
  SendMessageA(t.tree, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
  return (hit.flags & TVHT_ONITEM) ? hit.hItem : nullptr;
}

// Returns TRUE to keep a node closed that cannot be read.
LRESULT on_expanding(FolderTree& t, const NMTREEVIEWA& n) {
  if (!(n.action & TVE_EXPAND)) return FALSE;
  return tree_read_node(t, n.itemNew.hItem) ? FALSE : TRUE;
}

// The A and W forms of the tree's notices share every field read here.
LRESULT tree_notify(Gadget& g, UINT msg, WPARAM, LPARAM lp, bool* handled) {
  FolderTree* t = state_of(g);
  if (!t || msg != WM_NOTIFY) return 0;
  const NMHDR& notice = *reinterpret_cast<const NMHDR*>(lp);
  const NMTREEVIEWA& n = *reinterpret_cast<const NMTREEVIEWA*>(lp);
  switch (notice.code) {
    case NM_CLICK:
      report(g, EVENT_TYPE_LEFT_CLICK);
      break;
    case NM_DBLCLK:
      report(g, EVENT_TYPE_LEFT_DOUBLE_CLICK);
      break;
    case NM_RCLICK:
      select_node(*t, node_under_mouse(*t));
      report(g, EVENT_TYPE_RIGHT_CLICK);
      break;
    case NM_RDBLCLK:
      report(g, EVENT_TYPE_RIGHT_DOUBLE_CLICK);
      break;
    case TVN_SELCHANGEDA:
    case TVN_SELCHANGEDW:
      report(g, EVENT_TYPE_CHANGE);
      break;
    case TVN_BEGINDRAGA:
    case TVN_BEGINDRAGW:
      select_node(*t, n.itemNew.hItem);
      report(g, EVENT_TYPE_DRAG_START);
      break;
    case TVN_ITEMEXPANDINGA:
    case TVN_ITEMEXPANDINGW:
      *handled = true;
      return on_expanding(*t, n);
    default:
      return 0;
  }
  *handled = true;
  return 0;
}

void tree_destroy(Gadget& g) {
  FolderTree* t = state_of(g);
  if (!t) return;
  drive_requester_close(t->requester);
  SendMessageA(t->tree, TVM_SETIMAGELIST, TVSIL_NORMAL, 0);  // the system's list is shared, never ours
  if (t->private_images) ImageList_Destroy(t->private_images);
  tree_forget(*t);
  delete t;
}

// 1 a file, 2 any other node, 0 no selection.
int tree_get_state(Gadget& g) {
  FolderTree* t = state_of(g);
  HTREEITEM node = t ? selected_node(*t) : nullptr;
  if (!node) return 0;
  return node_kind(node_value(*t, node)) == NODE_FILE ? 1 : 2;
}

std::string tree_get_text(Gadget& g) {
  FolderTree* t = state_of(g);
  return t ? node_path(*t, selected_node(*t)) : std::string();
}

void set_text(FolderTree& t, const std::string& text) {
  drive_requester_close(t.requester);
  TreeTextTarget target = folder_tree_target(text);
  std::string location = target.location_from_selection ? node_path(t, selected_node(t)) : target.location;
  if (target.new_pattern) t.pattern = target.pattern;
  if (target.rebuild) tree_rebuild(t);
  if (!location.empty()) tree_walk(t, location);
}

void tree_set_text(Gadget& g, const std::string& text) {
  if (FolderTree* t = state_of(g)) set_text(*t, text);
}

COLORREF native_color(int color) { return color == GADGET_COLOR_DEFAULT ? CLR_DEFAULT : static_cast<COLORREF>(color); }

void tree_set_color(Gadget& g, int kind, int color) {
  FolderTree* t = state_of(g);
  if (!t || kind < GADGET_COLOR_TEXT || kind > GADGET_COLOR_LINE) return;
  t->colors[kind - 1] = color;
  g.colors[kind - 1] = color;
  if (kind == GADGET_COLOR_TEXT) {
    SendMessageA(t->tree, TVM_SETTEXTCOLOR, 0, static_cast<LPARAM>(native_color(color)));
  } else if (kind == GADGET_COLOR_BACKGROUND) {
    SendMessageA(t->tree, TVM_SETBKCOLOR, 0, static_cast<LPARAM>(native_color(color)));
    tree_update_images(*t);
  } else {
    SendMessageA(t->tree, TVM_SETLINECOLOR, 0, static_cast<LPARAM>(native_color(color)));
  }
  InvalidateRect(t->tree, nullptr, TRUE);
}

int tree_get_color(Gadget& g, int kind) {
  FolderTree* t = state_of(g);
  if (!t || kind < GADGET_COLOR_TEXT || kind > GADGET_COLOR_LINE) return GADGET_COLOR_DEFAULT;
  return t->colors[kind - 1];
}

const GadgetClass FOLDER_TREE_CLASS = [] {
  GadgetClass c = {};
  c.kind = GADGET_FOLDER_TREE;
  c.notify = tree_notify;
  c.destroy = tree_destroy;
  c.get_state = tree_get_state;
  c.get_text = tree_get_text;
  c.set_text = tree_set_text;
  c.set_color = tree_set_color;
  c.get_color = tree_get_color;
  return c;
}();

HWND create_control(HWND parent, int number, int x, int y, int w, int h, uint32_t flags) {
  DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
  if (!(flags & TREE_NO_BUTTONS)) style |= TVS_HASBUTTONS;
  if (!(flags & TREE_NO_LINES)) style |= TVS_HASLINES | TVS_LINESATROOT;
  if (flags & TREE_SHOW_SELECTION) style |= TVS_SHOWSELALWAYS;
  DWORD ex_style = (flags & TREE_NO_CLIENT_EDGE) ? 0 : WS_EX_CLIENTEDGE;
  HWND tree = CreateWindowExA(ex_style, WC_TREEVIEWA, "", style, x, y, w, h, parent,
                              reinterpret_cast<HMENU>(static_cast<intptr_t>(number)), GetModuleHandleA(nullptr),
                              nullptr);
  if (!tree) return nullptr;
  SendMessageA(tree, TVM_SETEXTENDEDSTYLE, TVS_EX_DOUBLEBUFFER, TVS_EX_DOUBLEBUFFER);
  SendMessageA(tree, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(explorer_shared().small_images));
  return tree;
}

}  // namespace

HWND folder_tree_create(int number, int x, int y, int w, int h, const std::string& path, uint32_t flags) {
  HWND parent = gadget_target_window();
  if (!parent || number < 0) return nullptr;
  explorer_shared();
  explorer_types_setup();
  HWND tree = create_control(parent, number, x, y, w, h, flags);
  if (!tree) return nullptr;
  FolderTree* t = new FolderTree;
  t->tree = tree;
  t->number = number;
  t->flags = flags;
  if (!gadget_register(number, tree, &FOLDER_TREE_CLASS, t)) {
    delete t;
    DestroyWindow(tree);
    return nullptr;
  }
  tree_watch_device_changes(*t);
  set_text(*t, "");
  set_text(*t, path);
  return tree;
}
