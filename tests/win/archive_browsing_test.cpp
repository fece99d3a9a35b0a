// Opening archives in the real main window and browsing them, driven by a script of steps that
// a timer runs while the program's own loops wait for events.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <functional>
#include <vector>

#include "archive/open_archive.h"
#include "shell/browsing.h"
#include "shell/dispatch.h"
#include "shell/globals.h"
#include "shell/shell.h"
#include "ui/ui.h"
#include "scripted_user.h"

namespace {

using namespace scripted;

void run_script(std::vector<std::function<void()>> steps, const std::function<void()>& start) {
  run(std::move(steps), start, 60);
}

void put(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

struct Member {
  std::string folder, name;
  int64_t size;
  char signature = 1;            // 0x56 claims the archiver's own fields after the mark
  std::string tail = "payload";  // the entry's bytes after the mark
};

void write_archive(const std::string& path, const std::vector<Member>& members) {
  std::string bytes;
  for (const Member& m : members) {
    std::string e;
    put(e, 0, 8);
    e.push_back(m.signature);
    e.push_back('\x02');
    put(e, m.name.size(), 2);
    e += m.name;
    put(e, m.folder.size(), 2);
    e += m.folder;
    put(e, static_cast<uint64_t>(m.size), 8);
    e.push_back('\0');
    e += m.tail;
    uint64_t length = e.size();
    for (int i = 0; i < 8; ++i) e[i] = static_cast<char>(length >> (8 * i));
    bytes += e;
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

std::string size_of(const std::string& name) {
  int row = row_of(name);
  return row < 0 ? "(no row)" : gadget_get_item_text(FILE_LIST, row, 1);
}

class ArchiveBrowsing : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(open_main_window()); }

  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    work_ = std::string(temp) + "vantor_browse_test\\";
    reset_temp_folders();
    delete_tree(work_);
    CreateDirectoryA(work_.c_str(), nullptr);
    archive_ = work_ + "backup.vnr";
    write_archive(archive_, {{"docs/", "a.txt", 5000}, {"", "b.txt", 1023}, {"docs/sub/", "c.txt", 1024}});
    shell.operation.archive_path.clear();
    shell.selection.selection_count = 0;
    shell.quit_requested = 0;
    shell.operation.destination_folder.clear();
  }

  void TearDown() override {
    gadget_set_text(FILE_LIST, "");
    reset_temp_folders();
    delete_tree(work_);
  }

  std::string work_, archive_;
};

TEST_F(ArchiveBrowsing, CommandLineArchiveOpensAtTheEndOfTheFirstPass) {
  shell.startup_document = archive_;
  std::string root_folder, a_size, b_size, sub_state;
  run_script(
      {[&] {
         if (!archive_on_view()) return retry_step();
         root_folder = gadget_get_text(FILE_LIST);
         b_size = size_of("b.txt");
         gadget_set_text(FILE_LIST, shell.operation.temp_root + "docs\\");
       },
       [&] { a_size = size_of("a.txt"); },
       [&] { queue_event(EVENT_MENU, MENU_EXIT, 0, EVENT_TYPE_NONE); },
       [&] {
         sub_state = gadget_get_text(FILE_LIST);
         queue_event(EVENT_MENU, MENU_EXIT, 0, EVENT_TYPE_NONE);
       }},
      [] { run_disk_loop(); });
  EXPECT_EQ(root_folder, shell.operation.temp_root);
  EXPECT_EQ(b_size, "1 KB");
  EXPECT_EQ(a_size, "5 KB");
  // "Exit" leaves the archive but the list stays inside the mirror tree.
  EXPECT_EQ(sub_state, shell.operation.temp_root + "docs\\");
  EXPECT_EQ(shell.operation.archive_path, "");
  EXPECT_EQ(shell.startup_document, "");
  EXPECT_TRUE(exists(shell.operation.temp_root + "docs\\sub\\c.txt"));
}

TEST_F(ArchiveBrowsing, DoubleClickOpensAndTheParentButtonLeavesTwoLevelsUp) {
  gadget_set_text(FILE_LIST, work_);
  select_rows({"backup.vnr"});
  std::string inside, sub_size, parent_of_temp;
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  run_script(
      {[&] {
         if (!archive_on_view()) return retry_step();
         inside = gadget_get_text(FILE_LIST);
         gadget_set_text(FILE_LIST, shell.operation.temp_root + "docs\\sub\\");
       },
       [&] {
         sub_size = size_of("c.txt");
         queue_event(EVENT_GADGET, PARENT_BUTTON, 0, EVENT_TYPE_LEFT_CLICK);
       },
       [&] { queue_event(EVENT_GADGET, PARENT_BUTTON, 0, EVENT_TYPE_LEFT_CLICK); },
       [&] { queue_event(EVENT_GADGET, PARENT_BUTTON, 0, EVENT_TYPE_LEFT_CLICK); },
       [&] {
         parent_of_temp = gadget_get_text(FILE_LIST);
         queue_event(EVENT_MENU, MENU_EXIT, 0, EVENT_TYPE_NONE);
       }},
      [] {
        queue_event(EVENT_GADGET, FILE_LIST, 0, EVENT_TYPE_LEFT_DOUBLE_CLICK);
        run_disk_loop();
      });
  EXPECT_EQ(inside, shell.operation.temp_root);
  EXPECT_EQ(sub_size, "2 KB");
  // Up from temp_root: the list shows the temporary folder's parent, two levels above the mirror.
  std::string temp_dir = temp;
  std::string expected = temp_dir.substr(0, temp_dir.find_last_of('\\', temp_dir.size() - 2) + 1);
  EXPECT_EQ(parent_of_temp, expected);
}

TEST_F(ArchiveBrowsing, OpeningASecondArchiveReplacesTheFirstMirror) {
  std::string second = work_ + "other.vnr";
  write_archive(second, {{"", "only.txt", 10}});
  bool first_gone = false, second_there = false;
  run_script(
      {[&] {
         if (!archive_on_view()) return retry_step();
         // Inside the first archive's loop: open the second one, as the menu would.
         shell.operation.archive_path = second;
         script.push_back([&] {
           if (!archive_on_view()) return retry_step();
           first_gone = !exists(shell.operation.temp_root + "docs");
           second_there = exists(shell.operation.temp_root + "only.txt");
           queue_event(EVENT_MENU, MENU_EXIT, 0, EVENT_TYPE_NONE);
         });
         script.push_back([&] { queue_event(EVENT_MENU, MENU_EXIT, 0, EVENT_TYPE_NONE); });
         browse_archive(second);
       }},
      [&] {
        shell.operation.archive_path = archive_;
        browse_archive(archive_);
      });
  EXPECT_TRUE(first_gone);
  EXPECT_TRUE(second_there);
}

WORD year_written(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  SYSTEMTIME st = {};
  GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
  FileTimeToSystemTime(&data.ftLastWriteTime, &st);
  return st.wYear;
}

TEST_F(ArchiveBrowsing, EntriesWithoutAWholeTimeOfTheirOwnKeepTheTimeOfOpening) {
  // cut.txt carries the signature but ends inside the time field: read on, the next entry's
  // length would be taken for a time in 1970.
  write_archive(archive_, {{"", "foreign.txt", 1}, {"docs/", "cut.txt", 1, '\x56', std::string(16, '\0')},
                           {"docs/", "z.txt", 1}});
  run_script({[&] {
               if (!archive_on_view()) return retry_step();
               queue_event(EVENT_MENU, MENU_EXIT, 0, EVENT_TYPE_NONE);
             }},
             [&] {
               shell.operation.archive_path = archive_;
               browse_archive(archive_);
             });
  SYSTEMTIME now;
  GetSystemTime(&now);
  for (const char* f : {"foreign.txt", "docs\\cut.txt", "docs\\z.txt", "docs"})
    EXPECT_EQ(year_written(shell.operation.temp_root + f), now.wYear) << f;
}

TEST_F(ArchiveBrowsing, AnArchiveThatCannotBeOpenedIsNamedWithTheReasonAndNotShown) {
  std::string missing = work_ + "missing.vnr", box;
  bool opened = true;
  gadget_set_text(FILE_LIST, work_);
  run_script({answer_box("Note:", &box)}, [&] { opened = browse_archive(missing); });
  EXPECT_FALSE(opened);
  EXPECT_EQ(box, "The archive " + missing + " cannot be opened: it does not exist.");
  EXPECT_EQ(gadget_get_text(FILE_LIST), work_);  // no empty archive view

  HANDLE lock = CreateFileA(archive_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  run_script({answer_box("Note:", &box)}, [&] { opened = browse_archive(archive_); });
  CloseHandle(lock);
  EXPECT_FALSE(opened);
  EXPECT_EQ(box, "The archive " + archive_ + " cannot be opened: another program holds it locked.");

  // Named on the command line: the warning, and no archive becomes the current one.
  run_script({answer_box("Note:", &box), exit_menu}, [&] {
    shell.startup_document = missing;
    run_disk_loop();
  });
  EXPECT_EQ(box, "The archive " + missing + " cannot be opened: it does not exist.");
  EXPECT_EQ(shell.operation.archive_path, "");
}

// LONG~LMQ.TXT is Wine's short name of longfilename.txt: its stand-in, and one in a folder named
// by a short name, landed on another member's place, whose row then stood for both.
TEST_F(ArchiveBrowsing, AShortNameGetsNoStandInOnAnotherMembersPlace) {
  CreateDirectoryA((work_ + "longfoldername").c_str(), nullptr);
  char alias[MAX_PATH];
  std::string folder(alias, GetShortPathNameA((work_ + "longfoldername").c_str(), alias, MAX_PATH));
  write_archive(work_ + "short.vnr", {{"", "longfilename.txt", 1}, {"", "LONG~LMQ.TXT", 2}, {"longfoldername/", "y", 3},
                                      {folder.substr(folder.rfind('\\') + 1) + "/", "x", 4}});
  reset_temp_folders();
  EXPECT_EQ(open_archive(work_ + "short.vnr", shell.operation.temp_root, shell.entries).report.clashes, 2);
  EXPECT_NE(GetFileAttributesA((shell.operation.temp_root + "longfoldername\\y").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA((shell.operation.temp_root + "longfoldername\\x").c_str()), INVALID_FILE_ATTRIBUTES);
}

// Only names of a short name's shape have the stand-in's final name checked. A "~" in a name of
// another shape reaches no other file: each such member gets a stand-in of its own, and the
// one name of the shape that is longfilename.txt's short name is turned away.
TEST_F(ArchiveBrowsing, NamesThatCannotBeShortNamesGetStandInsOfTheirOwn) {
  write_file(work_ + "longfilename.txt", "");
  char buffer[MAX_PATH];
  std::string alias(buffer, GetShortPathNameA((work_ + "longfilename.txt").c_str(), buffer, MAX_PATH));
  alias = alias.substr(alias.rfind('\\') + 1);
  size_t tilde = alias.find('~');
  ASSERT_NE(tilde, std::string::npos);
  std::vector<std::string> own = {alias + "X", "X" + alias, alias.substr(0, tilde) + "XXXXXXXX" + alias.substr(tilde),
                                  alias + ".X"};
  write_archive(work_ + "tilde.vnr", {{"", "longfilename.txt", 1}, {"", own[0], 2}, {"", own[1], 3}, {"", alias, 4},
                                      {"", own[2], 5}, {"", own[3], 6}});
  reset_temp_folders();
  EXPECT_EQ(open_archive(work_ + "tilde.vnr", shell.operation.temp_root, shell.entries).report.clashes, 1);
  for (const std::string& name : own) {
    std::string path = shell.operation.temp_root + name;
    std::string found(buffer, GetLongPathNameA(path.c_str(), buffer, MAX_PATH));
    EXPECT_EQ(found.substr(found.rfind('\\') + 1), name);
  }
}

// Names of U+2024 ONE DOT LEADER are no dots: the mirror shows them by the archiver's own rule.
TEST_F(ArchiveBrowsing, DotLeaderNamesAreMirroredAsTheArchiverExtractsThem) {
  const std::string leaders = "\xE2\x80\xA4\xE2\x80\xA4";
  write_archive(work_ + "leaders.vnr", {{leaders + "/", "a.txt", 1}, {"x/", leaders, 2}});
  reset_temp_folders();
  ArchiveSession leading = open_archive(work_ + "leaders.vnr", shell.operation.temp_root, shell.entries);
  EXPECT_EQ(mirror_report_text("", leading.report), "");
  EXPECT_NE(GetFileAttributesA((shell.operation.temp_root + leaders + "\\a.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(ArchiveBrowsing, OneWarningSaysHowManyMembersAreNotShownAndWhy) {
  std::string archive = work_ + "partly.vnr";
  std::string long_name(260 - shell.operation.temp_root.size(), 'n');
  write_archive(archive, {{"", "a.txt", 1}, {"", "A.TXT", 2}, {"", long_name, 3}, {"docs/", "x", 4}, {"", "docs", 5}});
  int64_t damage = static_cast<int64_t>(read_file(archive).size());
  write_file(archive, read_file(archive) + std::string(30, '\0'));  // an entry of length 0
  std::string box;
  int rows = 0;
  run_script({answer_box("Note:", &box), [&] {
                if (!archive_on_view()) return retry_step();
                rows = gadget_count_items(FILE_LIST);
                exit_menu();
              }},
             [&] {
               shell.operation.archive_path = archive;
               browse_archive(archive);
             });
  EXPECT_EQ(box, "3 members of " + archive + " are not shown: 1 with a path of 260 bytes or more, 2 whose name "
                 "clashes with another member's (letter case, a short name, or a file and a folder of one path). The archive is "
                 "damaged at offset " + std::to_string(damage) + " of its index: no member from there on can be "
                 "extracted, and the ones after it are not shown.");
  EXPECT_EQ(rows, 3);  // "..", a.txt, docs
  EXPECT_EQ(shell.entries.entry_count, 5);
}

TEST_F(ArchiveBrowsing, HostileNamesNeverReachOutsideTheMirror) {
  std::string sentinel = work_ + "sentinel.txt";
  FILE* f = std::fopen(sentinel.c_str(), "wb");
  std::fputs("keep me", f);
  std::fclose(f);
  // Relative climbs from the mirror root to the sentinel, and absolute forms of its path.
  std::string climb;
  const std::string& root = shell.operation.temp_root;
  for (size_t i = root.find('\\'); i != std::string::npos; i = root.find('\\', i + 1))
    climb += "../";
  std::string target = sentinel.substr(3);  // without "C:\"
  for (char& c : target)
    if (c == '\\') c = '/';
  std::string evil = work_ + "evil.vnr";
  write_archive(evil, {{climb + target.substr(0, target.rfind('/') + 1), "sentinel.txt", 1},
                       {"", climb + target, 1},
                       {sentinel.substr(0, sentinel.rfind('\\') + 1), "sentinel.txt", 1},
                       {"C:" + target.substr(0, target.rfind('/') + 1), "sentinel.txt", 1},
                       {"docs/", "con.txt", 1},
                       {"docs/", "a.txt:stream", 1},
                       {"", "fine.txt", 1}});
  int rows = 0;
  std::string box;
  run_script({answer_box("Note:", &box), [&] {
                if (!archive_on_view()) return retry_step();
                rows = gadget_count_items(FILE_LIST);
                queue_event(EVENT_MENU, MENU_EXIT, 0, EVENT_TYPE_NONE);
              }},
             [&] {
               shell.operation.archive_path = evil;
               browse_archive(evil);
             });
  EXPECT_EQ(box, "6 members of " + evil + " are not shown: 6 with an unsafe name.");
  FILE* check = std::fopen(sentinel.c_str(), "rb");
  ASSERT_NE(check, nullptr);
  char text[16] = {};
  std::fread(text, 1, sizeof(text) - 1, check);
  std::fclose(check);
  EXPECT_STREQ(text, "keep me");
  EXPECT_EQ(shell.entries.entry_count, 7);  // every entry stays in the table
  EXPECT_EQ(rows, 2);               // "..", fine.txt
  EXPECT_TRUE(exists(shell.operation.temp_root + "fine.txt"));
}

TEST_F(ArchiveBrowsing, ChoosingADriveInTheComboLeavesTheArchive) {
  bool mirror_gone_at_once = false;
  run_script({[&] {
               if (!archive_on_view()) return retry_step();
               gadget_set_text(LOCATION_COMBO, "C:\\");
               queue_event(EVENT_GADGET, LOCATION_COMBO, 0, EVENT_TYPE_LEFT_CLICK);
             },
              [&] {
                mirror_gone_at_once = !exists(shell.operation.temp_root);
                exit_menu();  // the disk loop's Exit ends the program
              }},
             [&] {
               shell.startup_document = archive_;
               run_disk_loop();
             });
  EXPECT_TRUE(mirror_gone_at_once);
  // C:\ is shorter than the mirror root: archive mode ended and the list went to its parent.
  EXPECT_EQ(gadget_get_text(FILE_LIST), "");
  EXPECT_EQ(shell.operation.archive_path, "");
}

TEST_F(ArchiveBrowsing, SelectAllTakesEveryMemberBelowTheMirrorRoot) {
  std::vector<std::string> taken;
  run_script({[&] {
               if (!archive_on_view()) return retry_step();
               queue_event(EVENT_MENU, MENU_SELECT_ALL, 0, EVENT_TYPE_NONE);
             },
             [&] {
               selection_scan();
               const SelectionTable& t = shell.selection;
               taken.assign(t.selection_list.begin() + 1, t.selection_list.begin() + 1 + t.selection_count);
               queue_event(EVENT_MENU, MENU_EXIT, 0, EVENT_TYPE_NONE);
             }},
             [&] {
               shell.operation.archive_path = archive_;
               browse_archive(archive_);
             });
  ASSERT_EQ(taken.size(), 3u);
  for (const std::string& path : taken) EXPECT_EQ(path.rfind(shell.operation.temp_root, 0), 0u) << path;
  EXPECT_EQ(shell.select_all_active, 0);  // leaving the archive clears the highlight
}

}  // namespace
