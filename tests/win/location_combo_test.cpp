// The location combo against a real extended combo box under Wine: its entries for a location,
// choices made in the opened list, the closed height and the editable field.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "explorer/explorer_shared_win.h"
#include "explorer/location_combo.h"
#include "explorer_views_fixture.h"
#include "runtime/text.h"

namespace {

constexpr int WINDOW = 8;
constexpr int COMBO = 24;

class LocationCombo : public ::testing::Test {
 protected:
  void SetUp() override {
    ui_init();
    ASSERT_TRUE(window_open(WINDOW, 0, 0, 500, 400, "combo", 0xCF0000));
    pump_for(50);
  }
  void TearDown() override { window_close(WINDOW); }

  static HWND combo() { return gadget_handle(COMBO); }
  static int count() { return static_cast<int>(SendMessageA(combo(), CB_GETCOUNT, 0, 0)); }
  static int selected() { return static_cast<int>(SendMessageA(combo(), CB_GETCURSEL, 0, 0)); }
  static uint32_t tag(int index) {
    COMBOBOXEXITEMA item = {};
    item.mask = CBEIF_LPARAM;
    item.iItem = index;
    SendMessageA(combo(), CBEM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return static_cast<uint32_t>(item.lParam);
  }
  static int indent(int index) {
    COMBOBOXEXITEMA item = {};
    item.mask = CBEIF_INDENT;
    item.iItem = index;
    SendMessageA(combo(), CBEM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return item.iIndent;
  }
  static std::vector<uint32_t> tags() {
    std::vector<uint32_t> all;
    for (int i = 0; i < count(); ++i) all.push_back(tag(i));
    return all;
  }
  static int index_of(uint32_t wanted) {
    for (int i = 0; i < count(); ++i)
      if (tag(i) == wanted) return i;
    return -1;
  }
  static std::vector<uint32_t> place_tags() {
    std::vector<uint32_t> expected = {LOCATION_TAG_MY_COMPUTER};
    for (uint32_t d = 0; d < 26; ++d)
      if (GetLogicalDrives() & (1u << d)) expected.push_back(d);
    return expected;
  }
  static bool documents_shown() { return explorer_shared().my_documents.present; }
  static int closed_height() {
    RECT r = {};
    GetWindowRect(combo(), &r);
    return r.bottom - r.top;
  }
  // Opens the list, moves its selection to the entry and confirms it with Enter, as a user would.
  static void choose(int index) {
    HWND inner = reinterpret_cast<HWND>(SendMessageA(combo(), CBEM_GETCOMBOCONTROL, 0, 0));
    SetFocus(inner);
    SendMessageA(inner, CB_SHOWDROPDOWN, TRUE, 0);
    SendMessageA(inner, CB_SETCURSEL, index, 0);
    SendMessageA(inner, WM_KEYDOWN, VK_RETURN, 0);
  }
  static bool chosen_event() {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 3000) {
      if (wait_event(10) == EVENT_GADGET && event_gadget_number() == COMBO && event_type() == EVENT_TYPE_LEFT_CLICK)
        return true;
    }
    return false;
  }
};

TEST_F(LocationCombo, CreatedAtDriveCListsThePlacesWithDriveCSelected) {
  ASSERT_TRUE(location_combo_create(COMBO, 10, 10, 300, 25, "C:\\", 0));
  std::vector<uint32_t> expected = place_tags();
  if (documents_shown()) expected.push_back(LOCATION_TAG_MY_DOCUMENTS);
  EXPECT_EQ(tags(), expected);
  EXPECT_EQ(tag(selected()), 2u);
  EXPECT_EQ(indent(0), 0);
  EXPECT_EQ(indent(selected()), 1);
  EXPECT_EQ(gadget_get_text(COMBO), "C:\\");
  EXPECT_EQ(closed_height(), 25);
}

TEST_F(LocationCombo, DeepLowerCasePathShowsTheFoldersOnTheWay) {
  TempFolder root("combo_deep");
  root.folder("Outer");
  std::string inner = root.folder("Outer\\Inner");
  ASSERT_TRUE(location_combo_create(COMBO, 10, 10, 300, 25, "C:\\", 0));

  std::string typed = to_lower_ascii(inner.substr(0, inner.size() - 1));
  gadget_set_text(COMBO, typed);
  std::string stored = gadget_get_text(COMBO);
  EXPECT_EQ(stored, "C" + typed.substr(1) + "\\");

  // Under drive C: one entry per folder of the path, each one deeper, the last one selected.
  int drive = index_of(2);
  size_t folders = 0;
  for (size_t i = 3; i < stored.size(); ++i) folders += stored[i] == '\\';
  ASSERT_EQ(selected(), drive + static_cast<int>(folders));
  for (int i = 1; i <= static_cast<int>(folders); ++i) {
    EXPECT_EQ(tag(drive + i), location_folder_tag(i));
    EXPECT_EQ(indent(drive + i), 1 + i);
  }
}

TEST_F(LocationCombo, AMissingFolderEndsTheEntriesButKeepsTheLocation) {
  TempFolder root("combo_missing");
  std::string deep = root.path() + "gone\\deeper\\";
  ASSERT_TRUE(location_combo_create(COMBO, 10, 10, 300, 25, deep, 0));
  EXPECT_EQ(gadget_get_text(COMBO), deep);
  size_t existing = 0;
  for (size_t i = 3; i < root.path().size(); ++i) existing += root.path()[i] == '\\';
  EXPECT_EQ(selected(), index_of(2) + static_cast<int>(existing));
  EXPECT_EQ(tag(selected()), location_folder_tag(static_cast<uint32_t>(existing)));
}

TEST_F(LocationCombo, ChoosingAHigherFolderGoesThereAndReportsAClick) {
  TempFolder root("combo_choose");
  root.folder("a");
  std::string b = root.folder("a\\b");
  ASSERT_TRUE(location_combo_create(COMBO, 10, 10, 300, 25, b, 0));
  pump_for(50);
  choose(selected() - 1);
  ASSERT_TRUE(chosen_event());
  EXPECT_EQ(gadget_get_text(COMBO), root.path() + "a\\");
  // Filled again for the new location: "b" is no longer listed below "a".
  EXPECT_EQ(tag(selected()) & 0xFFFF, LOCATION_TAG_FOLDER);
  EXPECT_NE(tag(selected() + 1) & 0xFFFF, LOCATION_TAG_FOLDER);
}

TEST_F(LocationCombo, ChoosingMyComputerGivesTheEmptyLocation) {
  ASSERT_TRUE(location_combo_create(COMBO, 10, 10, 300, 25, "C:\\", 0));
  choose(0);
  ASSERT_TRUE(chosen_event());
  EXPECT_EQ(gadget_get_text(COMBO), "");
  EXPECT_EQ(selected(), -1);
}

TEST_F(LocationCombo, ChoosingADriveGivesItsRoot) {
  ASSERT_TRUE(location_combo_create(COMBO, 10, 10, 300, 25, "", 0));
  choose(index_of(2));
  ASSERT_TRUE(chosen_event());
  EXPECT_EQ(gadget_get_text(COMBO), "C:\\");
  EXPECT_EQ(tag(selected()), 2u);
}

TEST_F(LocationCombo, ChoosingMyDocumentsGivesItsPath) {
  if (!documents_shown()) GTEST_SKIP() << "the shell names no My Documents folder here";
  ASSERT_TRUE(location_combo_create(COMBO, 10, 10, 300, 25, "C:\\", 0));
  ASSERT_NE(index_of(LOCATION_TAG_MY_DOCUMENTS), -1) << "My Documents is not listed";
  choose(index_of(LOCATION_TAG_MY_DOCUMENTS));
  ASSERT_TRUE(chosen_event());
  EXPECT_EQ(gadget_get_text(COMBO), explorer_shared().my_documents.path);
  EXPECT_EQ(tag(selected()), LOCATION_TAG_MY_DOCUMENTS);
}

TEST_F(LocationCombo, DrivesOnlyListsDrivesAndChoosesTheirRoots) {
  ASSERT_TRUE(location_combo_create(COMBO, 10, 10, 300, 25, "c:\\windows\\", LOCATION_DRIVES_ONLY));
  std::vector<uint32_t> drives = place_tags();
  drives.erase(drives.begin());
  EXPECT_EQ(tags(), drives);
  EXPECT_EQ(indent(0), 1);
  EXPECT_EQ(gadget_get_text(COMBO), "C:\\");
  choose(static_cast<int>(drives.size()) - 1);
  ASSERT_TRUE(chosen_event());
  EXPECT_EQ(gadget_get_text(COMBO), std::string(1, static_cast<char>('A' + drives.back())) + ":\\");
}

TEST_F(LocationCombo, ResizeMovesAndKeepsTheClosedHeightAsAsked) {
  ASSERT_TRUE(location_combo_create(COMBO, 10, 10, 300, 25, "C:\\", 0));
  gadget_resize(COMBO, 20, 30, 200, 31);
  RECT r = {};
  GetWindowRect(combo(), &r);
  MapWindowPoints(HWND_DESKTOP, window_handle(WINDOW), reinterpret_cast<POINT*>(&r), 2);
  EXPECT_EQ(r.left, 20);
  EXPECT_EQ(r.top, 30);
  EXPECT_EQ(r.right - r.left, 200);
  EXPECT_EQ(r.bottom - r.top, 31);
  gadget_resize(COMBO, GADGET_KEEP, GADGET_KEEP, 250, GADGET_KEEP);
  EXPECT_EQ(closed_height(), 31);
}

TEST_F(LocationCombo, EnterInTheEditableFieldGoesToATypedFolderOnly) {
  TempFolder root("combo_typed");
  std::string target = root.folder("target");
  std::string file = root.file("plain.txt");
  ASSERT_TRUE(location_combo_create(COMBO, 10, 10, 300, 25, "C:\\", LOCATION_EDITABLE));
  HWND edit = reinterpret_cast<HWND>(SendMessageA(combo(), CBEM_GETEDITCONTROL, 0, 0));
  ASSERT_TRUE(edit);
  auto type_and_enter = [&](const std::string& text) {
    SetFocus(edit);
    SetWindowTextA(edit, text.c_str());
    SendMessageA(edit, WM_KEYDOWN, VK_RETURN, 0);
  };

  type_and_enter(target);
  ASSERT_TRUE(chosen_event());
  EXPECT_EQ(gadget_get_text(COMBO), target);

  type_and_enter(root.path() + "nowhere");
  pump_for(200);
  EXPECT_EQ(gadget_get_text(COMBO), target);

  type_and_enter(file);
  pump_for(200);
  EXPECT_EQ(gadget_get_text(COMBO), target);
}

}  // namespace
