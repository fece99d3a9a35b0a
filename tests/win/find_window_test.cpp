// The Find window over the real main window: a search in an open archive's mirror tree shows
// the members' own sizes and times, and a double-click takes the list to the result; on disk,
// links are listed but not entered, and names compare by the system's letter case.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <vector>

#include "operations/find_search.h"
#include "operations/find_window.h"
#include "runtime/text.h"
#include "shell/browsing.h"
#include "shell/dispatch.h"
#include "shell/globals.h"
#include "shell/shell.h"
#include "ui/ui.h"
#include "scripted_user.h"

namespace {

using namespace scripted;

constexpr int FIND_WINDOW = 4, PATTERN_FIELD = 48, GO_BUTTON = 49, RESULTS = 50, STATUS = 51;
constexpr int FOLDER_TEXT = 53, CLOSE_BUTTON = 54;

void put(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

// One index entry; with a time, it carries the archiver's own fields after the mark.
std::string entry(const std::string& folder, const std::string& name, int64_t size, int64_t mtime_ns = -1) {
  std::string e;
  put(e, 0, 8);
  e.push_back(mtime_ns >= 0 ? '\x56' : '\x01');
  e.push_back('\x02');
  put(e, name.size(), 2);
  e += name;
  put(e, folder.size(), 2);
  e += folder;
  put(e, static_cast<uint64_t>(size), 8);
  e.push_back('\0');
  if (mtime_ns >= 0) {
    put(e, 0, 12);
    put(e, static_cast<uint64_t>(mtime_ns), 8);
    put(e, 0, 9);
  }
  uint64_t length = e.size();
  for (int i = 0; i < 8; ++i) e[i] = static_cast<char>(length >> (8 * i));
  return e;
}

int result_row(const std::string& path) {
  for (int i = 0; i < gadget_count_items(RESULTS); ++i)
    if (gadget_get_item_text(RESULTS, i, 0) == path) return i;
  return -1;
}

std::vector<std::string> result_paths() {
  std::vector<std::string> paths;
  for (int i = 0; i < gadget_count_items(RESULTS); ++i) paths.push_back(gadget_get_item_text(RESULTS, i, 0));
  return paths;
}

// A click on a column's header, as the mouse makes it.
void click_header(int column) {
  HWND header = reinterpret_cast<HWND>(SendMessageA(gadget_handle(RESULTS), LVM_GETHEADER, 0, 0));
  RECT r = {};
  SendMessageA(header, HDM_GETITEMRECT, column, reinterpret_cast<LPARAM>(&r));
  LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  SendMessageA(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageA(header, WM_LBUTTONUP, 0, at);
}

void key(int gadget, WPARAM code) {
  SetFocus(gadget_handle(gadget));
  PostMessageA(gadget_handle(gadget), WM_KEYDOWN, code, 1);
}

bool find_open() { return window_handle(FIND_WINDOW) != nullptr; }
bool search_ended() {
  std::string status = gadget_get_text(STATUS);
  return status.rfind("Done", 0) == 0 || status.rfind("Stopped", 0) == 0;
}

std::string selected_name() {
  int row = gadget_get_state(FILE_LIST);
  return row < 0 ? std::string() : gadget_get_item_text(FILE_LIST, row, 0);
}

class FindFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(open_main_window()); }
  void SetUp() override {
    work_ = temp_folder("vantor_find_test");
    reset_temp_folders();
    delete_tree(work_);
    CreateDirectoryA(work_.c_str(), nullptr);
    shell.operation.archive_path.clear();
    shell.quit_requested = 0;
  }
  void TearDown() override {
    gadget_set_text(FILE_LIST, "");
    reset_temp_folders();
    delete_tree(work_);
  }
  std::string work_;
};

TEST_F(FindFiles, AnArchiveResultShowsTheMembersSizeAndTimeAndOpensItsFolderWithTheEntrySelected) {
  const int64_t y2001 = 978307200LL * 1000000000LL;
  std::string archive = work_ + "found.vnr";
  write_file(archive, entry("docs/sub/", "target.txt", 5000, y2001) + entry("", "other.txt", 10) +
                          entry("docs/", "plain.txt", 3000) + entry("docs/", "skip.bin", 1));
  std::vector<std::string> rows;
  std::string target_size, target_date, plain_size, plain_date, status, shown_folder, shown_entry, shown_size;
  bool window_gone = false;
  run(
      {when(archive_on_view, [] { press(FIND_BUTTON, 0); }),
       when([] { return window_handle(FIND_WINDOW) != nullptr; },
            [] {
              gadget_set_text(PATTERN_FIELD, "*.TXT");
              press(GO_BUTTON, FIND_WINDOW);
            }),
       when([] { return gadget_get_text(STATUS).rfind("Done", 0) == 0; },
            [&] {
              status = gadget_get_text(STATUS);
              for (int i = 0; i < gadget_count_items(RESULTS); ++i) rows.push_back(gadget_get_item_text(RESULTS, i, 0));
              int t = result_row("docs\\sub\\target.txt"), p = result_row("docs\\plain.txt");
              target_size = gadget_get_item_text(RESULTS, t, 1);
              target_date = gadget_get_item_text(RESULTS, t, 2);
              plain_size = gadget_get_item_text(RESULTS, p, 1);
              plain_date = gadget_get_item_text(RESULTS, p, 2);
              queue_event(EVENT_GADGET, RESULTS, FIND_WINDOW, EVENT_TYPE_LEFT_DOUBLE_CLICK, t);
            }),
       when([] { return selected_name() == "target.txt"; },
            [&] {
              window_gone = window_handle(FIND_WINDOW) == nullptr;
              shown_folder = gadget_get_text(FILE_LIST);
              shown_entry = selected_name();
              shown_size = gadget_get_item_text(FILE_LIST, gadget_get_state(FILE_LIST), 1);
              exit_menu();
            })},
      [&] {
        shell.operation.archive_path = archive;
        browse_archive(archive);
      });
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(rows, (std::vector<std::string>{"docs\\plain.txt", "docs\\sub\\target.txt", "other.txt"}));
  EXPECT_EQ(status, "Done: 3 folders looked at, 3 found");
  EXPECT_EQ(target_size, "5 KB");  // the member's size, not its empty stand-in's
  EXPECT_NE(target_date.find("2001"), std::string::npos) << target_date;
  EXPECT_EQ(plain_size, "3 KB");
  EXPECT_EQ(plain_date, "");  // no time of its own: not the time the archive was opened
  EXPECT_TRUE(window_gone);
  EXPECT_EQ(shown_folder, shell.operation.temp_root + "docs\\sub\\");
  EXPECT_EQ(shown_entry, "target.txt");
  EXPECT_EQ(shown_size, "5 KB");  // the archive loop's listing step saw the new folder first
}

TEST_F(FindFiles, EnterSearchesAHeaderClickSortsAndEscCloses) {
  std::string archive = work_ + "sorted.vnr";
  write_file(archive, entry("docs/sub/", "target.txt", 5000) + entry("", "other.txt", 10) +
                          entry("docs/", "plain.txt", 3000) + entry("docs/", "skip.bin", 1));
  std::string folder;
  std::vector<std::string> by_size, by_size_down, by_path;
  bool closed = false;
  run({when(archive_on_view, [] { press(FIND_BUTTON, 0); }),
       when(find_open,
            [&] {
              folder = gadget_get_text(FOLDER_TEXT);
              gadget_set_text(PATTERN_FIELD, "*.txt");
              click_header(1);  // before the search: its results are merged into that order
              key(PATTERN_FIELD, VK_RETURN);
            }),
       when(search_ended,
            [&] {
              by_size = result_paths();
              click_header(1);
              by_size_down = result_paths();
              click_header(0);
              by_path = result_paths();
              key(PATTERN_FIELD, VK_ESCAPE);
            }),
       when([] { return !find_open(); },
            [&] {
              closed = !find_open();
              exit_menu();
            })},
      [&] {
        shell.operation.archive_path = archive;
        browse_archive(archive);
      });
  EXPECT_EQ(folder, archive + "\\") << "the archive, not the folder it is unpacked to";
  EXPECT_EQ(by_size, (std::vector<std::string>{"other.txt", "docs\\plain.txt", "docs\\sub\\target.txt"}));
  EXPECT_EQ(by_size_down, (std::vector<std::string>{"docs\\sub\\target.txt", "docs\\plain.txt", "other.txt"}));
  EXPECT_EQ(by_path, (std::vector<std::string>{"docs\\plain.txt", "docs\\sub\\target.txt", "other.txt"}));
  EXPECT_TRUE(closed);
}

TEST_F(FindFiles, ASearchThatReachesTheLimitSaysSoAndCloseEndsIt) {
  std::string archive = work_ + "many.vnr";
  write_file(archive, entry("", "a.txt", 1) + entry("", "b.txt", 1) + entry("", "c.txt", 1));
  std::string status;
  size_t rows = 0;
  set_find_hit_limit(2);
  run({when(archive_on_view, [] { press(FIND_BUTTON, 0); }),
       when(find_open,
            [] {
              gadget_set_text(PATTERN_FIELD, "*.txt");
              press(GO_BUTTON, FIND_WINDOW);
            }),
       when(search_ended,
            [&] {
              status = gadget_get_text(STATUS);
              rows = result_paths().size();
              press(CLOSE_BUTTON, FIND_WINDOW);
            }),
       when([] { return !find_open(); }, [] { exit_menu(); })},
      [&] {
        shell.operation.archive_path = archive;
        browse_archive(archive);
      });
  set_find_hit_limit(TABLE_CAPACITY);
  EXPECT_EQ(status, "Stopped at the limit: 1 folder looked at, 2 found");
  EXPECT_EQ(rows, 2u);
}

TEST_F(FindFiles, PathSortKeysOrderPathsAsTheMainListComparesNames) {
  const std::vector<std::string> paths = {"a.txt", "A.TXT", "b.txt", "_x", "docs\\a", "docs-a", "\xc3\xa9t\xc3\xa9",
                                          "\xc3\x89T\xc3\x89", "ez", "10.txt", "9.txt", "\xe6\x97\xa5.txt", "a b"};
  auto sign = [](int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; };
  for (const std::string& a : paths)
    for (const std::string& b : paths)
      EXPECT_EQ(sign(path_sort_key(a).compare(path_sort_key(b))), sign(compare_names(a, b))) << a << " / " << b;
}

TEST_F(FindFiles, ADiskSearchListsLinksWithoutEnteringThemAndFoldsLettersByTheSystemsTable) {
  std::string tree = std::string(VANTOR_WIN_LINKS) + "/removal/tree/";
  for (char& c : tree) c = c == '/' ? '\\' : c;
  tree = "Z:" + tree;
  std::vector<std::string> found;
  std::atomic<bool> cancel{false};
  EXPECT_TRUE(find_walk(tree, NamePattern("*"), cancel, [&](std::vector<FindHit>& batch, const FindCounts&) {
    for (const FindHit& h : batch) found.push_back(h.folder + h.name);
  }));
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"own.txt", "sub", "sub\\escape", "sub\\own.txt"}));

  EXPECT_TRUE(NamePattern("\xc3\x84RGER.TXT").matches("\xc3\xa4rger.txt"));
  EXPECT_TRUE(NamePattern("\xce\xa6\xce\xa9*").matches("\xcf\x86\xcf\x89\xcf\x84\xce\xbf.png"));
  EXPECT_TRUE(NamePattern("\xd0\xbe\xd1\x82?\xd1\x91\xd1\x82.*").matches("\xd0\x9e\xd0\xa2\xd0\xa7\xd0\x81\xd0\xa2.doc"));
  EXPECT_TRUE(NamePattern("?-*").matches("\xf0\x9f\x98\x80-\xe6\x97\xa5"));  // one "?" for a surrogate pair
}

}  // namespace
