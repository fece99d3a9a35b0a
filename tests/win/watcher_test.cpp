// The directory watcher against real folders under Wine: real explorer lists for what the user
// sees, and probe gadgets that count the refresh messages their window hands them.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <map>
#include <vector>

#include "explorer/explorer_list.h"
#include "explorer/watcher.h"
#include "explorer_views_fixture.h"

namespace {

constexpr int WINDOW = 7;
constexpr int LIST = 1;
std::map<int, int> refreshes;  // by probe gadget number

LRESULT probe_notify(Gadget& g, UINT msg, WPARAM, LPARAM, bool* handled) {
  if (msg != WM_VANTOR_REFRESH) return 0;
  ++refreshes[g.number];
  *handled = true;
  return 0;
}

void probe_destroy(Gadget& g) { stop_watching(g.handle); }

const GadgetClass PROBE_CLASS = [] {
  GadgetClass c = {};
  c.kind = 99;
  c.notify = probe_notify;
  c.destroy = probe_destroy;
  return c;
}();

class Watcher : public ::testing::Test {
 protected:
  void SetUp() override {
    ui_init();
    watcher_start();
    ASSERT_TRUE(window_open(WINDOW, 0, 0, 400, 300, "watcher", 0xCF0000));
    refreshes.clear();
    pump_for(50);
  }
  void TearDown() override { window_close(WINDOW); }

  static HWND probe(int number) {
    HWND h = CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 10, 10, window_handle(WINDOW),
                             reinterpret_cast<HMENU>(static_cast<intptr_t>(number)), nullptr, nullptr);
    return gadget_register(number, h, &PROBE_CLASS, nullptr);
  }
  static bool refreshed(int number) {
    return pump_until([&] { return refreshes[number] > 0; });
  }
  // Whether `number` stayed without a refresh. A barrier instead of a pause: a probe watching a
  // folder of its own, added after every other watch (so the thread takes an earlier change
  // first), sees a file made there after the change in question; once its refresh is in, any
  // refresh for that change was posted before it and has been handled.
  static bool quiet(int number) {
    static int barrier_number = 900;
    int barrier = ++barrier_number;
    TempFolder elsewhere("watch_barrier" + std::to_string(barrier));
    watch_folder(probe(barrier), elsewhere.path());
    elsewhere.file("barrier.txt");
    EXPECT_TRUE(refreshed(barrier)) << "the barrier's own change was not reported";
    return refreshes[number] == 0;
  }
  static std::vector<std::string> names() {
    std::vector<std::string> shown;
    for (int i = 0; i < gadget_count_items(LIST); ++i) shown.push_back(gadget_get_item_text(LIST, i, 0));
    return shown;
  }
  static bool shows(const std::string& name) {
    for (const std::string& n : names())
      if (n == name) return true;
    return false;
  }
};

TEST_F(Watcher, CreatingRenamingAndDeletingAFileRelistTheList) {
  TempFolder folder("watch_list");
  ASSERT_TRUE(explorer_list_create(LIST, 0, 0, 300, 200, folder.path(), 0));
  ASSERT_EQ(gadget_count_items(LIST), 1);  // ".." only

  std::string a = folder.file("a.txt");
  EXPECT_TRUE(pump_until([] { return shows("a.txt"); }));
  ASSERT_TRUE(MoveFileA(a.c_str(), (folder.path() + "b.txt").c_str()));
  EXPECT_TRUE(pump_until([] { return shows("b.txt") && !shows("a.txt"); }));
  ASSERT_TRUE(DeleteFileA((folder.path() + "b.txt").c_str()));
  EXPECT_TRUE(pump_until([] { return gadget_count_items(LIST) == 1; }));
}

TEST_F(Watcher, ARefreshDropsTheSelection) {
  TempFolder folder("watch_selection");
  folder.file("kept.txt");
  ASSERT_TRUE(explorer_list_create(LIST, 0, 0, 300, 200, folder.path(), 0));
  ListView_SetItemState(gadget_handle(LIST), 1, LVIS_SELECTED, LVIS_SELECTED);
  ASSERT_EQ(gadget_get_state(LIST), 1);
  folder.file("new.txt");
  EXPECT_TRUE(pump_until([] { return gadget_get_state(LIST) == -1 && shows("new.txt"); }));
}

TEST_F(Watcher, DriveLevelEndsTheWatch) {
  TempFolder folder("watch_stop");
  HWND p = probe(20);
  watch_folder(p, folder.path());
  folder.file("one.txt");
  ASSERT_TRUE(refreshed(20));

  stop_watching(p);
  pump_for(300);
  refreshes.clear();
  folder.file("two.txt");
  EXPECT_TRUE(quiet(20));

  watch_folder(p, folder.path());  // showing a folder again watches again
  folder.file("three.txt");
  EXPECT_TRUE(refreshed(20));
}

TEST_F(Watcher, MovingToAnotherFolderReplacesTheWatch) {
  TempFolder a("watch_a"), b("watch_b");
  HWND p = probe(20);
  watch_folder(p, a.path());
  watch_folder(p, b.path());
  a.file("in_a.txt");
  EXPECT_TRUE(quiet(20));
  b.file("in_b.txt");
  EXPECT_TRUE(refreshed(20));
}

TEST_F(Watcher, AFolderThatCannotBeWatchedKeepsTheEarlierWatch) {
  TempFolder a("watch_gone");
  HWND p = probe(20);
  watch_folder(p, a.path());
  watch_folder(p, a.path() + "missing\\");
  a.file("in_a.txt");
  EXPECT_TRUE(refreshed(20));
}

TEST_F(Watcher, TwoListsAreWatchedIndependently) {
  TempFolder a("watch_one"), b("watch_two");
  HWND first = probe(20), second = probe(21);
  watch_folder(first, a.path());
  watch_folder(second, b.path());
  a.file("a.txt");
  EXPECT_TRUE(refreshed(20));
  EXPECT_EQ(refreshes[21], 0);

  stop_watching(first);
  pump_for(300);
  refreshes.clear();
  b.file("b.txt");
  EXPECT_TRUE(refreshed(21));
  a.file("a2.txt");
  EXPECT_TRUE(quiet(20));
}

TEST_F(Watcher, DeletingTheFolderOnViewLeavesTheListAndLaterNavigationWorks) {
  TempFolder root("watch_deleted");
  std::string doomed = root.folder("doomed");
  std::string other = root.folder("other");
  ASSERT_TRUE(explorer_list_create(LIST, 0, 0, 300, 200, doomed, 0));
  ASSERT_TRUE(RemoveDirectoryA(doomed.c_str()));
  pump_for(600);
  EXPECT_EQ(gadget_get_text(LIST), doomed);
  EXPECT_EQ(names(), std::vector<std::string>{".."});

  gadget_set_text(LIST, other);
  root.file("other\\fresh.txt");
  EXPECT_TRUE(pump_until([] { return shows("fresh.txt"); }));
}

// One handle more than the wait can take would end the watcher for every list: the 64th folder
// goes unwatched and the others keep working.
TEST_F(Watcher, AtMostSixtyThreeFoldersAreWatched) {
  TempFolder root("watch_many");
  const int first = 100, count = 64;
  std::vector<HWND> probes;
  for (int i = 0; i < count; ++i) {
    probes.push_back(probe(first + i));
    watch_folder(probes.back(), root.folder("f" + std::to_string(i)));
  }
  // No slot is left for a barrier probe: f0's change, made after f63's, is the barrier.
  root.file("f63\\x.txt");
  root.file("f0\\x.txt");
  EXPECT_TRUE(refreshed(first));
  EXPECT_EQ(refreshes[first + 63], 0);

  stop_watching(probes[0]);
  watch_folder(probes[63], root.path() + "f63\\");
  root.file("f63\\y.txt");
  EXPECT_TRUE(refreshed(first + 63));
}

}  // namespace
