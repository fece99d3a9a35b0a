// The main window as start-up leaves it: every gadget under its number, where it belongs.
#include <gtest/gtest.h>

#include <cstdio>

#include "runtime/folders.h"
#include "shell/dispatch.h"
#include "shell/globals.h"
#include "shell/shell.h"
#include "ui/ui.h"

namespace {

RECT place(int gadget) {
  RECT r = {};
  HWND h = gadget_handle(gadget);
  GetWindowRect(h, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(h), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

void expect_place(int gadget, int x, int y, int w, int h) {
  ASSERT_NE(gadget_handle(gadget), nullptr) << "gadget " << gadget;
  RECT r = place(gadget);
  EXPECT_EQ(r.left, x) << "gadget " << gadget;
  EXPECT_EQ(r.top, y) << "gadget " << gadget;
  EXPECT_EQ(r.right - r.left, w) << "gadget " << gadget;
  if (gadget != LOCATION_COMBO) {
    EXPECT_EQ(r.bottom - r.top, h) << "gadget " << gadget;
  }
}

TEST(MainWindow, GadgetsStandUnderTheirNumbers) {
  ASSERT_TRUE(open_main_window());
  char title[64] = {};
  GetWindowTextA(window_handle(0), title, sizeof(title));
  EXPECT_STREQ(title, "Vantor Archiver");
  int w = shell.inner_width, h = shell.inner_height;
  EXPECT_EQ(w, 800);
  EXPECT_GE(h, 600);
  expect_place(FILE_LIST, 1, 95, w - 5, h - 135);
  expect_place(LOCATION_COMBO, 30, 66, w - 40, 25);
  expect_place(MEMORY_TEXT, w - 140, h - 40, 140, 20);
  expect_place(PARENT_BUTTON, 1, 65, 28, 28);
  const int row[] = {ADD_BUTTON, EXTRACT_BUTTON, VERIFY_BUTTON, DELETE_BUTTON, FIND_BUTTON, SELECT_ALL_BUTTON, INFO_BUTTON};
  for (int i = 0; i < 7; ++i) expect_place(row[i], 64 * i, 1, 64, 64);
  // The memory text carries the free memory in megabytes with one decimal; a pass refreshes it.
  std::string memory = gadget_get_text(MEMORY_TEXT);
  double megabytes = 0;
  char unit[8] = {};
  ASSERT_EQ(std::sscanf(memory.c_str(), "System free Mem:%lf %2s", &megabytes, unit), 2) << memory;
  EXPECT_STREQ(unit, "MB");
  EXPECT_EQ(memory.substr(memory.size() - 4), " MB ");
  EXPECT_GT(megabytes, 0.0);
  EXPECT_GT(free_physical_memory(), 0u);
  gadget_set_text(MEMORY_TEXT, "");
  refresh_memory_text();
  EXPECT_EQ(gadget_get_text(MEMORY_TEXT).rfind("System free Mem:", 0), 0u);
  EXPECT_EQ(shell.start_folder, "");
  EXPECT_NE(shell.operation.temp_root.find("tempvantor\\"), std::string::npos);
  EXPECT_EQ(shell.operation.program_folder.back(), '\\');

  // Only the list, the combo and the memory text follow the size; the buttons stay.
  SetWindowPos(window_handle(0), nullptr, 0, 0, 900, 700, SWP_NOMOVE | SWP_NOZORDER);
  follow_window_size();
  int w2 = window_inner_width(0), h2 = window_inner_height(0);
  expect_place(FILE_LIST, 1, 95, w2 - 5, h2 - 135);
  expect_place(MEMORY_TEXT, w2 - 140, h2 - 40, 140, 20);
  expect_place(ADD_BUTTON, 0, 1, 64, 64);
  window_close(0);
}

}  // namespace

namespace {

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Made on the Unix side before the run (see tests/CMakeLists.txt): Wine's CreateSymbolicLink
// reports success and creates nothing.
std::string prepared(const std::string& name) {
  std::string path = "Z:" + std::string(VANTOR_WIN_LINKS) + "/" + name;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

}  // namespace

// Removing the temporary folders never follows a link inside them to the user's files: what the
// tree holds goes, the folder a link in it names stays whole. (Wine keeps the folder link itself,
// which RemoveDirectory removes on Windows.)
TEST(TemporaryFolders, RemovalDeletesLinksNotTheirTargets) {
  std::string tree = prepared("removal/tree"), outside = prepared("removal/outside\\");
  DWORD attributes = GetFileAttributesA((tree + "\\sub\\escape").c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  ASSERT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT) << "sub\\escape is no link here";
  ASSERT_TRUE(exists(tree + "\\sub\\escape\\keep.txt")) << "the link leads to the user's file";
  ASSERT_TRUE(exists(tree + "\\own.txt") && exists(tree + "\\sub\\own.txt"));
  delete_folder_tree(tree + "\\");
  EXPECT_FALSE(exists(tree + "\\own.txt"));
  EXPECT_FALSE(exists(tree + "\\sub\\own.txt"));
  EXPECT_TRUE(exists(outside + "keep.txt"));
  EXPECT_TRUE(exists(outside + "inner\\deep.txt"));
}
