// The folder tree's nodes: building the top level, reading a node's children the first time it
// opens, the walk to a location and the icons drawn on a background colour.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "explorer/explorer_shared_win.h"
#include "explorer/folder_tree_state.h"
#include "explorer/list_cells.h"
#include "explorer/my_computer_win.h"
#include "runtime/find_entries_win.h"
#include "runtime/text.h"

namespace {

// Critical-error boxes (a drive that is not ready) stay away while drives and folders are read.
class QuietErrors {
 public:
  QuietErrors() : old_(SetErrorMode(SEM_FAILCRITICALERRORS)) {}
  ~QuietErrors() { SetErrorMode(old_); }
  QuietErrors(const QuietErrors&) = delete;
  QuietErrors& operator=(const QuietErrors&) = delete;

 private:
  UINT old_;
};

std::string drive_root(int drive) { return std::string(1, static_cast<char>('A' + drive)) + ":\\"; }

// Calls visit for every entry of folder + pattern except "." and "..", until it returns false.
template <typename Visit>
void each_entry(const std::string& folder, const std::string& pattern, Visit visit) {
  find_entries(folder + pattern, [&](const FoundEntry& f) { return f.is_dots() || visit(f); });
}

HTREEITEM insert_node(FolderTree& t, HTREEITEM parent, const std::string& text, int icon, long value,
                      bool may_open) {
  std::string copy = text;
  TVINSERTSTRUCTA ins = {};
  ins.hParent = parent;
  ins.hInsertAfter = TVI_LAST;
  ins.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM | TVIF_CHILDREN;
  ins.item.pszText = &copy[0];
  ins.item.iImage = icon;
  ins.item.iSelectedImage = icon;
  ins.item.lParam = value;
  ins.item.cChildren = may_open ? 1 : 0;
  return reinterpret_cast<HTREEITEM>(SendMessageA(t.tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&ins)));
}

void set_node(const FolderTree& t, HTREEITEM node, UINT mask, long value, int children) {
  TVITEMA item = {};
  item.mask = mask;
  item.hItem = node;
  item.lParam = value;
  item.cChildren = children;
  SendMessageA(t.tree, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

HTREEITEM next_node(const FolderTree& t, HTREEITEM node, WPARAM how) {
  return reinterpret_cast<HTREEITEM>(SendMessageA(t.tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(node)));
}

std::string node_text(const FolderTree& t, HTREEITEM node) {
  char text[LIST_TEXT_BYTES] = "";
  TVITEMA item = {};
  item.mask = TVIF_TEXT;
  item.hItem = node;
  item.pszText = text;
  item.cchTextMax = sizeof text;
  SendMessageA(t.tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
  return text;
}

// A folder can open when it holds a folder, or, with files shown, a file matching the pattern.
bool folder_may_open(const FolderTree& t, const std::string& folder) {
  bool found = false;
  each_entry(folder, "*.*", [&](const FoundEntry& f) { return !(found = f.is_folder()); });
  if (found || (t.flags & TREE_NO_FILES)) return found;
  for (const std::string& part : pattern_parts(t.pattern)) {
    each_entry(folder, part, [&](const FoundEntry& f) { return !(found = !f.is_folder()); });
    if (found) break;
  }
  return found;
}

// A drive that cannot report its free space does not open; one that is not ready asks for a disk.
bool drive_readable(FolderTree& t, int drive) {
  ULARGE_INTEGER free_bytes, total, total_free;
  if (GetDiskFreeSpaceExA(drive_root(drive).c_str(), &free_bytes, &total, &total_free)) return true;
  if (GetLastError() == ERROR_NOT_READY && !(t.flags & TREE_NO_DRIVE_REQUESTER)) drive_requester_open(t.requester, t.tree, drive);
  return false;
}

void add_folders(FolderTree& t, HTREEITEM node, const std::string& path) {
  int icon = explorer_shared().folder_icon;
  each_entry(path, "*.*", [&](const FoundEntry& f) {
    if (f.is_folder())
      insert_node(t, node, f.name, icon, NODE_FOLDER, folder_may_open(t, path + f.name + "\\"));
    return true;
  });
}

void add_files(FolderTree& t, HTREEITEM node, const std::string& path) {
  FileTypeLock lock;
  for (const std::string& part : pattern_parts(t.pattern)) {
    each_entry(path, part, [&](const FoundEntry& f) {
      if (!f.is_folder()) insert_node(t, node, f.name, file_type_of(path + f.name).icon, NODE_FILE, false);
      return true;
    });
  }
}

struct SortRecord {
  long value;
  std::string name;
};

int CALLBACK compare_children(LPARAM a, LPARAM b, LPARAM records) {
  const std::vector<SortRecord>& r = *reinterpret_cast<const std::vector<SortRecord>*>(records);
  const SortRecord &x = r[static_cast<size_t>(a)], &y = r[static_cast<size_t>(b)];
  if (tree_child_before(node_kind(x.value), x.name, node_kind(y.value), y.name)) return -1;
  return tree_child_before(node_kind(y.value), y.name, node_kind(x.value), x.name) ? 1 : 0;
}

// The control compares item values only: each child's value becomes the index of its record for
// the sort and is put back afterwards.
void sort_children(FolderTree& t, HTREEITEM node) {
  std::vector<SortRecord> records;
  std::vector<HTREEITEM> children;
  for (HTREEITEM c = next_node(t, node, TVGN_CHILD); c; c = next_node(t, c, TVGN_NEXT)) {
    records.push_back({node_value(t, c), node_text(t, c)});
    children.push_back(c);
    set_node(t, c, TVIF_PARAM, static_cast<long>(children.size() - 1), 0);
  }
  TVSORTCB sort = {};
  sort.hParent = node;
  sort.lpfnCompare = compare_children;
  sort.lParam = reinterpret_cast<LPARAM>(&records);
  SendMessageA(t.tree, TVM_SORTCHILDRENCB, 0, reinterpret_cast<LPARAM>(&sort));
  for (size_t i = 0; i < children.size(); ++i) set_node(t, children[i], TVIF_PARAM, records[i].value, 0);
}

HTREEITEM child_named(const FolderTree& t, HTREEITEM node, const std::string& name) {
  for (HTREEITEM c = next_node(t, node, TVGN_CHILD); c; c = next_node(t, c, TVGN_NEXT))
    if (node_kind(node_value(t, c)) == NODE_FOLDER && same_name_ignoring_case(node_text(t, c), name))
      return c;
  return nullptr;
}

HTREEITEM drive_node(const FolderTree& t, int drive) {
  for (HTREEITEM c = next_node(t, t.root, TVGN_CHILD); c; c = next_node(t, c, TVGN_NEXT)) {
    long value = node_value(t, c);
    if (node_is_drive(value) && node_kind(value) == drive) return c;
  }
  return nullptr;
}

bool open_node(FolderTree& t, HTREEITEM node) {
  if (!tree_read_node(t, node)) return false;
  SendMessageA(t.tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(node));
  return true;
}

}  // namespace

long node_value(const FolderTree& t, HTREEITEM node) {
  TVITEMA item = {};
  item.mask = TVIF_PARAM;
  item.hItem = node;
  if (!node || !SendMessageA(t.tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return -1;
  return static_cast<long>(item.lParam);
}

std::string node_path(const FolderTree& t, HTREEITEM node) {
  long value = node_value(t, node);
  if (value < 0 || value == NODE_ROOT) return std::string();
  int kind = node_kind(value);
  if (node_is_drive(value)) return drive_root(kind);
  if (kind == NODE_MY_DOCUMENTS) return explorer_shared().my_documents.path;
  std::string path = node_path(t, next_node(t, node, TVGN_PARENT)) + node_text(t, node);
  return kind == NODE_FILE ? path : path + "\\";
}

HTREEITEM selected_node(const FolderTree& t) { return next_node(t, nullptr, TVGN_CARET); }

void tree_rebuild(FolderTree& t) {
  QuietErrors quiet;
  SendMessageA(t.tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
  t.root = insert_node(t, TVI_ROOT, my_computer().name, my_computer().icon, NODE_ROOT, true);
  DWORD drives = GetLogicalDrives();
  for (int d = 0; d < 32; ++d) {
    if (!(drives & (1u << d))) continue;
    std::string name;
    int icon = 0;
    if (!shell_display_info(drive_root(d), &name, &icon) || name.empty()) name = drive_root(d);
    insert_node(t, t.root, name, icon, d, true);
  }
  const SpecialFolder& documents = explorer_shared().my_documents;
  if (documents.present && !(t.flags & TREE_NO_MY_DOCUMENTS))
    insert_node(t, t.root, documents.name, documents.icon, NODE_MY_DOCUMENTS, true);
  SendMessageA(t.tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(t.root));
}

bool tree_read_node(FolderTree& t, HTREEITEM node) {
  long value = node_value(t, node);
  if (value < 0 || node_filled(value)) return value >= 0;
  QuietErrors quiet;
  if (node_is_drive(value) && !drive_readable(t, node_kind(value))) return false;
  std::string path = node_path(t, node);
  add_folders(t, node, path);
  if (!(t.flags & TREE_NO_FILES)) add_files(t, node, path);
  if (t.flags & TREE_SORTED) sort_children(t, node);
  bool any = next_node(t, node, TVGN_CHILD) != nullptr;
  set_node(t, node, TVIF_PARAM | TVIF_CHILDREN, value | NODE_FILLED, any ? 1 : 0);
  tree_update_images(t);
  return true;
}

void tree_walk(FolderTree& t, const std::string& location) {
  HTREEITEM node = drive_node(t, location_drive(location));
  if (!node) return;
  if (open_node(t, node)) {
    for (const std::string& name : location_folder_names(location)) {
      HTREEITEM child = child_named(t, node, name);
      if (!child) break;
      node = child;
      if (!open_node(t, node)) break;
    }
  }
  SendMessageA(t.tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(node));
  SendMessageA(t.tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(node));
}

// On a background colour the icons come from a copy of the system list painted on that colour,
// copied again whenever the system list has grown.
void tree_update_images(FolderTree& t) {
  HIMAGELIST shared = explorer_shared().small_images;
  int background = t.colors[1];
  if (background == -1) {
    if (!t.private_images) return;
    SendMessageA(t.tree, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(shared));
    ImageList_Destroy(t.private_images);
    t.private_images = nullptr;
    return;
  }
  int count = ImageList_GetImageCount(shared);
  if (!t.private_images || count != t.private_image_count) {
    HIMAGELIST copy = ImageList_Duplicate(shared);
    if (!copy) return;
    SendMessageA(t.tree, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(copy));
    if (t.private_images) ImageList_Destroy(t.private_images);
    t.private_images = copy;
    t.private_image_count = count;
  }
  ImageList_SetBkColor(t.private_images, static_cast<COLORREF>(background));
}
