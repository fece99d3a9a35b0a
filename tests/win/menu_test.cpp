// Menu bars built through the layer, and menu choices arriving as events.
#include "ui/menu.h"

#include <gtest/gtest.h>

#include <string>

#include "ui/ui.h"

namespace {

std::string item_text(HMENU menu, int position) {
  char text[64] = {};
  GetMenuStringA(menu, position, text, sizeof text, MF_BYPOSITION);
  return text;
}

bool is_separator(HMENU menu, int position) {
  MENUITEMINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_FTYPE;
  GetMenuItemInfoA(menu, position, TRUE, &info);
  return (info.fType & MFT_SEPARATOR) != 0;
}

class MenuBar : public testing::Test {
 protected:
  void SetUp() override {
    ui_init();
    ASSERT_TRUE(window_open(0, 0, 0, 400, 300, "menus", 0xCF0000));
    window = window_handle(0);
  }
  void TearDown() override { window_close(0); }

  void build_main_menu() {
    ASSERT_TRUE(create_menu(0, window));
    menu_title("File");
    const char* texts[] = {"Open archive", "Add to archive", "Delete", "Select all", "-----", "-----", "-----"};
    for (int i = 0; i < 7; ++i) menu_item(i + 1, texts[i]);
    menu_bar_separator();
    menu_item(8, "Exit");
    menu_title("?");
    menu_item(9, "Contents");
    menu_bar_separator();
  }

  // Chooses the item at `position` of drop-down `drop_down` the way the system reports it.
  int choose(int drop_down, int position) {
    HMENU sub = GetSubMenu(GetMenu(window), drop_down);
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(GetMenuItemID(sub, position), 0), 0);
    for (int i = 0; i < 20; ++i) {
      const int code = wait_event(0);
      if (code == EVENT_MENU) return event_gadget_number();
    }
    return -1;
  }

  HWND window = nullptr;
};

TEST_F(MenuBar, MainMenuHasItsDropDownsInOrder) {
  build_main_menu();
  HMENU bar = GetMenu(window);
  ASSERT_EQ(bar, menu_handle(0)) << "the bar is attached to its window";
  ASSERT_EQ(GetMenuItemCount(bar), 2);
  EXPECT_EQ(item_text(bar, 0), "File");
  EXPECT_EQ(item_text(bar, 1), "?");

  HMENU file = GetSubMenu(bar, 0);
  ASSERT_EQ(GetMenuItemCount(file), 9);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(GetMenuItemID(file, i), static_cast<UINT>(i + 1));
  EXPECT_EQ(item_text(file, 5), "-----");
  EXPECT_FALSE(is_separator(file, 5)) << "five hyphens are an ordinary item";
  EXPECT_TRUE(is_separator(file, 7));
  EXPECT_EQ(item_text(file, 8), "Exit");

  HMENU help = GetSubMenu(bar, 1);
  ASSERT_EQ(GetMenuItemCount(help), 2);
  EXPECT_EQ(GetMenuItemID(help, 0), 9u);
  EXPECT_TRUE(is_separator(help, 1));
}

TEST_F(MenuBar, ChosenItemsReportTheirNumbers) {
  build_main_menu();
  EXPECT_EQ(choose(0, 5), 6) << "the second \"-----\"";
  EXPECT_EQ(choose(0, 2), 3);
  EXPECT_EQ(choose(0, 8), 8);
  EXPECT_EQ(choose(1, 0), 9);
}

TEST_F(MenuBar, ItemsNeedAMenuAndADropDown) {
  EXPECT_EQ(menu_item(1, "orphan"), 0) << "nothing is being built";
  EXPECT_EQ(create_menu(0, nullptr), 0);
  EXPECT_EQ(create_menu(-1, window), 0);
  ASSERT_TRUE(create_menu(0, window));
  EXPECT_EQ(menu_item(1, "before any title"), 0);
  EXPECT_EQ(menu_bar_separator(), 0);
  EXPECT_EQ(menu_title("File"), 1);
  EXPECT_EQ(menu_item(1, "Open"), 1);
}

TEST_F(MenuBar, RecordGoesWithItsWindowAndANumberCanBeBuiltAgain) {
  build_main_menu();
  ASSERT_NE(menu_handle(0), nullptr);
  ASSERT_TRUE(create_menu(0, window));
  EXPECT_EQ(GetMenuItemCount(GetMenu(window)), 0) << "a new bar replaces the old one";

  window_close(0);
  EXPECT_EQ(menu_handle(0), nullptr);
  EXPECT_EQ(menu_title("File"), 0) << "the bar being built went with the window";
  ASSERT_TRUE(window_open(0, 0, 0, 400, 300, "menus again", 0xCF0000));
  window = window_handle(0);
  build_main_menu();
  EXPECT_EQ(choose(0, 6), 7);
}

}  // namespace
