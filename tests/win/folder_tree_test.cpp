// The folder tree against a real tree-view control and real folders under Wine.
#include <gtest/gtest.h>

#include <cstring>
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>

#include <vector>

#include "runtime/find_entries_win.h"
#include "explorer/explorer_shared_win.h"
#include "explorer/folder_tree.h"
#include "explorer/my_computer_win.h"
#include "explorer_views_fixture.h"
#include "runtime/text.h"

namespace {

constexpr int WINDOW = 9;
constexpr int TREE = 25;

class FolderTree : public ::testing::Test {
 protected:
  void SetUp() override {
    ui_init();
    ASSERT_TRUE(window_open(WINDOW, 0, 0, 500, 500, "tree", 0xCF0000));
    pump_for(50);
  }
  void TearDown() override { window_close(WINDOW); }

  static HWND tree() { return gadget_handle(TREE); }
  static HTREEITEM next(HTREEITEM node, WPARAM how) {
    return reinterpret_cast<HTREEITEM>(SendMessageA(tree(), TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(node)));
  }
  static HTREEITEM root() { return next(nullptr, TVGN_ROOT); }
  static HTREEITEM selection() { return next(nullptr, TVGN_CARET); }
  static TVITEMA item(HTREEITEM node, char* text = nullptr) {
    TVITEMA i = {};
    i.mask = TVIF_PARAM | TVIF_CHILDREN | TVIF_STATE | (text ? TVIF_TEXT : 0);
    i.stateMask = TVIS_EXPANDED;
    i.hItem = node;
    i.pszText = text;
    i.cchTextMax = MAX_PATH;
    SendMessageA(tree(), TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&i));
    return i;
  }
  static std::string text(HTREEITEM node) {
    char buffer[MAX_PATH] = "";
    item(node, buffer);
    return buffer;
  }
  static long value(HTREEITEM node) { return static_cast<long>(item(node).lParam); }
  static bool expanded(HTREEITEM node) { return (item(node).state & TVIS_EXPANDED) != 0; }
  static std::vector<HTREEITEM> children(HTREEITEM node) {
    std::vector<HTREEITEM> all;
    for (HTREEITEM c = next(node, TVGN_CHILD); c; c = next(c, TVGN_NEXT)) all.push_back(c);
    return all;
  }
  static std::vector<std::string> child_names(HTREEITEM node) {
    std::vector<std::string> names;
    for (HTREEITEM c : children(node)) names.push_back(text(c));
    return names;
  }
  static HTREEITEM child(HTREEITEM node, const std::string& name) {
    for (HTREEITEM c : children(node))
      if (text(c) == name) return c;
    return nullptr;
  }
  static HTREEITEM drive(int d) {
    for (HTREEITEM c : children(root()))
      if (value(c) != NODE_MY_DOCUMENTS && node_kind(value(c)) == d) return c;
    return nullptr;
  }
  static void each_node(HTREEITEM node, const std::function<void(HTREEITEM)>& visit) {
    for (HTREEITEM c : children(node)) {
      visit(c);
      each_node(c, visit);
    }
  }
  // Walks to a folder of the temp tree and returns its node.
  static HTREEITEM shown(const std::string& folder) {
    gadget_set_text(TREE, folder);
    return selection();
  }
  static POINT centre(HTREEITEM node) {
    SendMessageA(tree(), TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(node));
    RECT r = {};
    std::memcpy(&r, &node, sizeof node);  // the message takes the node in the rectangle's place
    SendMessageA(tree(), TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r));
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  }
  // A click as the control receives it: the button goes down and comes up over the node.
  static void click(HTREEITEM node, UINT down, UINT up) {
    POINT p = centre(node);
    POINT screen = p;
    ClientToScreen(tree(), &screen);
    SetCursorPos(screen.x, screen.y);
    PostMessageA(tree(), down, down == WM_LBUTTONDOWN ? MK_LBUTTON : MK_RBUTTON, MAKELPARAM(p.x, p.y));
    PostMessageA(tree(), up, 0, MAKELPARAM(p.x, p.y));
  }
  static std::vector<int> events_for(DWORD ms) {
    std::vector<int> types;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms)
      if (wait_event(10) == EVENT_GADGET && event_gadget_number() == TREE) types.push_back(event_type());
    return types;
  }
  static bool has(const std::vector<int>& types, int type) {
    return std::find(types.begin(), types.end(), type) != types.end();
  }
};

TEST_F(FolderTree, CreatedAtDriveCShowsThePlacesWithDriveCOpenAndNoFiles) {
  ASSERT_TRUE(folder_tree_create(TREE, 5, 5, 490, 290, "C:\\", TREE_NO_FILES));
  ASSERT_TRUE(root());
  EXPECT_EQ(text(root()), my_computer().name);
  EXPECT_EQ(value(root()), NODE_ROOT);
  EXPECT_TRUE(expanded(root()));

  std::vector<long> top;
  for (HTREEITEM c : children(root())) top.push_back(node_kind(value(c)));
  std::vector<long> expected;
  for (int d = 0; d < 32; ++d)
    if (GetLogicalDrives() & (1u << d)) expected.push_back(d);
  if (explorer_shared().my_documents.present) expected.push_back(NODE_MY_DOCUMENTS);
  EXPECT_EQ(top, expected);

  HTREEITEM c = drive(2);
  ASSERT_TRUE(c);
  EXPECT_EQ(selection(), c);
  EXPECT_TRUE(expanded(c));
  EXPECT_TRUE(node_filled(value(c)));
  EXPECT_FALSE(children(c).empty());
  each_node(root(), [](HTREEITEM n) { EXPECT_NE(node_kind(value(n)), NODE_FILE) << text(n); });
  EXPECT_EQ(gadget_get_text(TREE), "C:\\");
  EXPECT_EQ(gadget_get_state(TREE), 2);
}

TEST_F(FolderTree, LocationIsWalkedRegardlessOfCaseToTheDeepestExistingFolder) {
  TempFolder t("tree_walk");
  t.folder("Outer");
  std::string inner = t.folder("Outer\\Inner");
  ASSERT_TRUE(folder_tree_create(TREE, 5, 5, 490, 290, "C:\\", TREE_NO_FILES));

  HTREEITEM node = shown(to_lower_ascii(inner));
  EXPECT_EQ(text(node), "Inner");
  EXPECT_EQ(to_lower_ascii(gadget_get_text(TREE)), to_lower_ascii(inner));
  EXPECT_EQ(gadget_get_text(TREE).substr(gadget_get_text(TREE).size() - 13), "\\Outer\\Inner\\");

  node = shown(inner + "missing\\deeper\\");
  EXPECT_EQ(text(node), "Inner");
}

TEST_F(FolderTree, ClickingAFolderSelectsItAndReportsChangeAndClick) {
  TempFolder t("tree_click");
  t.folder("Pick");
  ASSERT_TRUE(folder_tree_create(TREE, 5, 5, 490, 290, "C:\\", TREE_NO_FILES));
  HTREEITEM pick = child(shown(t.path()), "Pick");
  ASSERT_TRUE(pick);
  events_for(100);

  click(pick, WM_LBUTTONDOWN, WM_LBUTTONUP);
  std::vector<int> types = events_for(500);
  EXPECT_TRUE(has(types, EVENT_TYPE_CHANGE));
  EXPECT_TRUE(has(types, EVENT_TYPE_LEFT_CLICK));
  EXPECT_EQ(selection(), pick);
  EXPECT_EQ(gadget_get_text(TREE), t.path() + "Pick\\");
}

// A name of 90 Japanese letters (270 bytes, valid on Windows) was cut in the node's text and the
// path it gives. Linux holds 255 bytes in a name: the node of a shorter folder is renamed.
TEST_F(FolderTree, NodeTextsLongerThan259BytesAreGivenWhole) {
  TempFolder t("tree_long");
  std::string name;
  for (int i = 0; i < 90; ++i) name += "\xE8\xAA\x9E";
  t.folder("short");
  ASSERT_TRUE(folder_tree_create(TREE, 5, 5, 490, 290, "C:\\", TREE_NO_FILES));
  HTREEITEM node = child(shown(t.path()), "short");
  std::wstring text = wide_text(name);
  TVITEMW renamed = {};
  renamed.mask = TVIF_TEXT;
  renamed.hItem = node;
  renamed.pszText = &text[0];
  SendMessageW(tree(), TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&renamed));
  SendMessageA(tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(node));
  EXPECT_EQ(gadget_get_text(TREE), t.path() + name + "\\");
}

// The extraction window reads the tree only on clicks, but a selection moved by the program is
// still a selection change.
TEST_F(FolderTree, SelectionMovedByTheProgramReportsAChange) {
  TempFolder t("tree_moved");
  t.folder("Moved");
  ASSERT_TRUE(folder_tree_create(TREE, 5, 5, 490, 290, "C:\\", TREE_NO_FILES));
  EXPECT_TRUE(has(events_for(300), EVENT_TYPE_CHANGE));

  gadget_set_text(TREE, t.path() + "Moved\\");
  std::vector<int> types = events_for(300);
  EXPECT_TRUE(has(types, EVENT_TYPE_CHANGE));
  EXPECT_FALSE(has(types, EVENT_TYPE_LEFT_CLICK));
}

TEST_F(FolderTree, RightClickSelectsTheNodeThenReportsIt) {
  TempFolder t("tree_right");
  t.folder("Right");
  ASSERT_TRUE(folder_tree_create(TREE, 5, 5, 490, 290, "C:\\", TREE_NO_FILES));
  HTREEITEM right = child(shown(t.path()), "Right");
  ASSERT_TRUE(right);
  events_for(100);

  click(right, WM_RBUTTONDOWN, WM_RBUTTONUP);
  EXPECT_TRUE(has(events_for(500), EVENT_TYPE_RIGHT_CLICK));
  EXPECT_EQ(gadget_get_text(TREE), t.path() + "Right\\");
}

TEST_F(FolderTree, ExpandButtonsOnlyWhereANodeCanOpen) {
  TempFolder t("tree_buttons");
  t.folder("empty");
  t.folder("parent");
  t.folder("parent\\child");
  t.folder("files");
  t.file("files\\a.txt");
  ASSERT_TRUE(folder_tree_create(TREE, 5, 5, 490, 290, "C:\\", TREE_NO_FILES));
  HTREEITEM folder = shown(t.path());
  EXPECT_EQ(item(child(folder, "empty")).cChildren, 0);
  EXPECT_EQ(item(child(folder, "parent")).cChildren, 1);
  EXPECT_EQ(item(child(folder, "files")).cChildren, 0);  // files are not shown

  window_close(WINDOW);
  ASSERT_TRUE(window_open(WINDOW, 0, 0, 500, 500, "tree", 0xCF0000));
  ASSERT_TRUE(folder_tree_create(TREE, 5, 5, 490, 290, t.path() + "*.txt", 0));
  folder = selection();
  EXPECT_EQ(item(child(folder, "files")).cChildren, 1);
  EXPECT_EQ(item(child(folder, "empty")).cChildren, 0);

  gadget_set_text(TREE, t.path() + "*.log");  // already read: stays as it is
  EXPECT_EQ(item(child(selection(), "files")).cChildren, 1);
  gadget_set_text(TREE, "*.log");  // a pattern alone rebuilds around the selection
  EXPECT_EQ(gadget_get_text(TREE), t.path());
  EXPECT_EQ(item(child(selection(), "files")).cChildren, 0);
}

TEST_F(FolderTree, FilesFollowThePatternPartsAndSortedTreesOrderThem) {
  TempFolder t("tree_files");
  t.file("b.txt");
  t.file("A.log");
  t.file("c.TXT");
  t.file("skip.dat");
  t.folder("zfolder");
  t.folder("Afolder");
  ASSERT_TRUE(folder_tree_create(TREE, 5, 5, 490, 290, t.path() + "*.txt;*.log", 0));
  std::vector<std::string> names = child_names(selection());
  ASSERT_EQ(names.size(), 5u);
  EXPECT_EQ(std::count(names.begin(), names.end(), "skip.dat"), 0);

  window_close(WINDOW);
  ASSERT_TRUE(window_open(WINDOW, 0, 0, 500, 500, "tree", 0xCF0000));
  ASSERT_TRUE(folder_tree_create(TREE, 5, 5, 490, 290, t.path() + "*.txt;*.log", TREE_SORTED));
  HTREEITEM folder = selection();
  EXPECT_EQ(child_names(folder), (std::vector<std::string>{"Afolder", "zfolder", "A.log", "b.txt", "c.TXT"}));
  // Values survive the sort: folders read as folders, files give their full path.
  HTREEITEM file = child(folder, "b.txt");
  EXPECT_EQ(node_kind(value(file)), NODE_FILE);
  SendMessageA(tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(file));
  EXPECT_EQ(gadget_get_text(TREE), t.path() + "b.txt");
  EXPECT_EQ(gadget_get_state(TREE), 1);
}

TEST_F(FolderTree, RootOrNoSelectionGiveTheEmptyText) {
  ASSERT_TRUE(folder_tree_create(TREE, 5, 5, 490, 290, "C:\\", TREE_NO_FILES));
  SendMessageA(tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(root()));
  EXPECT_EQ(gadget_get_text(TREE), "");
  EXPECT_EQ(gadget_get_state(TREE), 2);

  gadget_set_text(TREE, "");
  EXPECT_EQ(selection(), nullptr);
  EXPECT_EQ(gadget_get_text(TREE), "");
  EXPECT_EQ(gadget_get_state(TREE), 0);
  EXPECT_FALSE(node_filled(value(drive(2))));  // rebuilt: nothing read yet
}

TEST_F(FolderTree, MyDocumentsGivesItsPathAndFlagHidesIt) {
  if (!explorer_shared().my_documents.present) GTEST_SKIP() << "no My Documents folder in this prefix";
  ASSERT_TRUE(folder_tree_create(TREE, 5, 5, 490, 290, "", TREE_NO_FILES));
  HTREEITEM documents = children(root()).back();
  SendMessageA(tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(documents));
  EXPECT_EQ(gadget_get_text(TREE), explorer_shared().my_documents.path);

  window_close(WINDOW);
  ASSERT_TRUE(window_open(WINDOW, 0, 0, 500, 500, "tree", 0xCF0000));
  ASSERT_TRUE(folder_tree_create(TREE, 5, 5, 490, 290, "", TREE_NO_FILES | TREE_NO_MY_DOCUMENTS));
  for (HTREEITEM c : children(root())) EXPECT_NE(value(c), NODE_MY_DOCUMENTS);
}

TEST_F(FolderTree, BackgroundColourUsesAPrivateImageListUntilReset) {
  ASSERT_TRUE(folder_tree_create(TREE, 5, 5, 490, 290, "C:\\", TREE_NO_FILES));
  HIMAGELIST shared = explorer_shared().small_images;
  auto images = [] { return reinterpret_cast<HIMAGELIST>(SendMessageA(tree(), TVM_GETIMAGELIST, TVSIL_NORMAL, 0)); };
  EXPECT_EQ(images(), shared);

  gadget_set_color(TREE, GADGET_COLOR_BACKGROUND, rgb(10, 20, 30));
  EXPECT_NE(images(), shared);
  EXPECT_EQ(ImageList_GetBkColor(images()), static_cast<COLORREF>(rgb(10, 20, 30)));
  EXPECT_EQ(ImageList_GetImageCount(images()), ImageList_GetImageCount(shared));
  EXPECT_EQ(gadget_get_color(TREE, GADGET_COLOR_BACKGROUND), rgb(10, 20, 30));

  gadget_set_color(TREE, GADGET_COLOR_BACKGROUND, GADGET_COLOR_DEFAULT);
  EXPECT_EQ(images(), shared);
  EXPECT_EQ(gadget_get_color(TREE, GADGET_COLOR_BACKGROUND), GADGET_COLOR_DEFAULT);
  EXPECT_GT(ImageList_GetImageCount(shared), 0);  // the shared list survives
}

TEST_F(FolderTree, VolumeNoticesResetTheDriveNode) {
  ASSERT_TRUE(folder_tree_create(TREE, 5, 5, 490, 290, "C:\\", TREE_NO_FILES));
  ASSERT_TRUE(node_filled(value(drive(2))));
  DEV_BROADCAST_VOLUME volume = {};
  volume.dbcv_size = sizeof volume;
  volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
  volume.dbcv_unitmask = 1u << 2;
  SendMessageA(window_handle(WINDOW), WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume));
  HTREEITEM c = drive(2);
  ASSERT_TRUE(c);
  EXPECT_FALSE(node_filled(value(c)));
  EXPECT_TRUE(children(c).empty());
  EXPECT_EQ(item(c).cChildren, 1);

  // Reading it again works; a removal notice for a drive that is still there only closes it.
  SendMessageA(tree(), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(c));
  EXPECT_FALSE(children(c).empty());
  SendMessageA(window_handle(WINDOW), WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(&volume));
  EXPECT_EQ(drive(2), c);
  EXPECT_FALSE(expanded(c));
  EXPECT_TRUE(children(c).empty());
}

}  // namespace
