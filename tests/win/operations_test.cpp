// The compression and extraction windows and the member launch, driven through the real windows
// with the real vantor.exe; a timer runs the user's steps while the windows wait for events.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <functional>
#include <vector>

#include "../tool_entries.h"
#include "archive/index_walk.h"
#include "runtime/folders.h"
#include "operations/compression_window.h"
#include "operations/extraction_window.h"
#include "shell/browsing.h"
#include "shell/dispatch.h"
#include "shell/globals.h"
#include "shell/shell.h"
#include "ui/ui.h"
#include "scripted_user.h"

namespace {

using namespace scripted;

void run_script(std::vector<std::function<void()>> steps, const std::function<void()>& start) {
  run(std::move(steps), start);
}

std::string to_upper(std::string text) {
  for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return text;
}

std::vector<std::string> members(const std::string& archive) {
  std::vector<std::string> names;
  index_walk_file(archive, [&](const IndexEntry& e) { names.push_back(e.folder + e.name); });
  return names;
}

class Operations : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(open_main_window());
    // vantor.exe stands in the build folder, one level above the test program.
    std::string folder = shell.operation.program_folder.substr(0, shell.operation.program_folder.size() - 1);
    shell.operation.program_folder = folder.substr(0, folder.find_last_of('\\') + 1);
    ASSERT_TRUE(exists(shell.operation.program_folder + "vantor.exe")) << shell.operation.program_folder;
  }

  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    work_ = std::string(temp) + "vantor_operations_test\\";
    delete_tree(work_);
    CreateDirectoryA(work_.c_str(), nullptr);
    CreateDirectoryA((work_ + "data").c_str(), nullptr);
    CreateDirectoryA((work_ + "data\\docs").c_str(), nullptr);
    CreateDirectoryA((work_ + "data\\docs\\sub").c_str(), nullptr);
    write_file(work_ + "data\\docs\\a.txt", "alpha\r\n");
    write_file(work_ + "data\\docs\\sub\\c.txt", std::string(70000, 'c'));
    write_file(work_ + "data\\b.txt", "bravo");
    shell.operation.archive_path.clear();
    shell.selection.selection_count = 0;
    shell.quit_requested = 0;
  }

  void TearDown() override {
    gadget_set_text(FILE_LIST, "");
    reset_temp_folders();
    delete_tree(work_);
  }

  void choose(std::initializer_list<const char*> files) {
    shell.selection.selection_count = 0;
    for (const char* f : files) selection_append(shell.selection, work_ + "data\\" + f);
  }

  // Compresses the chosen files into `archive` with the settings as they are; returns the box text.
  std::string compress_into(const std::string& archive, const char* box_title = "Added") {
    shell.operation.archive_path = archive;
    std::string box;
    run_script({[] { press(12, 1); }, answer_box(box_title, &box)}, [] { compression_window(operation_context()); });
    return box;
  }

  std::string work_;
};

TEST_F(Operations, AddWithDefaultSettingsWritesAnArchiveTheFrontEndLists) {
  choose({"docs\\a.txt", "docs\\sub\\c.txt", "b.txt"});
  std::string archive = work_ + "out.vnr";
  std::string box = compress_into(archive);
  EXPECT_EQ(box.rfind("archive=" + archive + " in ", 0), 0u) << box;
  EXPECT_EQ(members(archive), (std::vector<std::string>{"docs\\a.txt", "docs\\sub\\c.txt", "b.txt"}));
  EXPECT_EQ(shell.selection.selection_count, 0);
  EXPECT_FALSE(exists(shell.operation.program_folder + "\\master.lis"));

  std::string sizes;
  run_script({[&] {
               if (!archive_on_view()) return retry_step();
               sizes = gadget_get_item_text(FILE_LIST, row_of("b.txt"), 1);
               gadget_set_text(FILE_LIST, shell.operation.temp_root + "docs\\sub\\");
             },
              [&] {
                sizes += "|" + gadget_get_item_text(FILE_LIST, row_of("c.txt"), 1);
                queue_event(EVENT_MENU, MENU_EXIT, 0, EVENT_TYPE_NONE);
              }},
             [&] {
               shell.operation.archive_path = archive;
               browse_archive(archive);
             });
  EXPECT_EQ(sizes, "1 KB|69 KB");
}

// Stamps a file with a whole-minute UTC time, so the list's minute cells compare exactly.
void stamp(const std::string& path, WORD year, WORD month) {
  SYSTEMTIME st = {year, month, 0, 3, 4, 5, 0, 0};
  FILETIME t;
  SystemTimeToFileTime(&st, &t);
  HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  SetFileTime(h, nullptr, nullptr, &t);
  CloseHandle(h);
}

std::string modified(const std::string& name) { return gadget_get_item_text(FILE_LIST, row_of(name), 3); }

TEST_F(Operations, MembersShowTheirOwnDatesAndFoldersTheNewestBelowThem) {
  stamp(work_ + "data\\docs\\a.txt", 2001, 2);
  stamp(work_ + "data\\docs\\sub\\c.txt", 2005, 6);
  stamp(work_ + "data\\b.txt", 1999, 12);
  choose({"docs\\a.txt", "docs\\sub\\c.txt", "b.txt"});
  std::string archive = work_ + "dated.vnr";
  compress_into(archive);
  // The same files as the list shows them on disk; docs and sub stand for their newest file, c.txt.
  gadget_set_text(FILE_LIST, work_ + "data\\docs\\sub\\");
  std::string c = modified("c.txt");
  gadget_set_text(FILE_LIST, work_ + "data\\docs\\");
  std::string a = modified("a.txt");
  gadget_set_text(FILE_LIST, work_ + "data\\");
  std::string disk = modified("b.txt") + "|" + c + "|" + a + "|" + c + "|" + c, inside;
  run_script({[&] {
                if (!archive_on_view()) return retry_step();
                inside = modified("b.txt") + "|" + modified("docs");
                gadget_set_text(FILE_LIST, shell.operation.temp_root + "docs\\");
              },
              [&] {
                inside += "|" + modified("a.txt") + "|" + modified("sub");
                gadget_set_text(FILE_LIST, shell.operation.temp_root + "docs\\sub\\");
              },
              [&] {
                inside += "|" + modified("c.txt");
                queue_event(EVENT_MENU, MENU_EXIT, 0, EVENT_TYPE_NONE);
              }},
             [&] {
               shell.operation.archive_path = archive;
               browse_archive(archive);
             });
  EXPECT_EQ(inside, disk);
  EXPECT_NE(a, c);
}

TEST_F(Operations, SolidAndUltraCarryOverWhileRecursiveIsTickedAgain) {
  shell.operation.solid_switch.clear();
  shell.operation.ultra_switch.clear();
  int solid = -1, ultra = -1, recursive = -1, self_extracting = -1;
  std::string method_text;
  run_script({[] {
               gadget_set_state(14, 1);
               press(14, 1);
               gadget_set_state(15, 1);
               press(15, 1);
               gadget_set_state(20, 0);
               press(20, 1);
               gadget_set_state(8, 1);
               press(8, 1);
             },
              [] { press(13, 1); }},
             [] { compression_window(operation_context()); });
  EXPECT_EQ(shell.operation.solid_switch, "-s");
  EXPECT_EQ(shell.operation.ultra_switch, "x");
  EXPECT_EQ(shell.operation.compression_method, 1);
  run_script({[&] {
               solid = gadget_get_state(14);
               ultra = gadget_get_state(15);
               recursive = gadget_get_state(20);
               self_extracting = gadget_get_state(21);
               method_text = gadget_get_text(7);
               PostMessageA(window_handle(1), WM_SYSCOMMAND, SC_CLOSE, 0);  // the close box
             }},
             [] { compression_window(operation_context()); });
  EXPECT_EQ(solid, 1);
  EXPECT_EQ(ultra, 1);
  EXPECT_EQ(recursive, 1);
  EXPECT_EQ(self_extracting, 0);
  EXPECT_EQ(method_text, "method 1");
  EXPECT_EQ(window_handle(1), nullptr);
  EXPECT_EQ(shell.selection.selection_count, 0);
  EXPECT_TRUE(IsWindowEnabled(window_handle(0)));
  shell.operation.solid_switch.clear();
  shell.operation.ultra_switch.clear();
  shell.operation.compression_method = 3;
}

TEST_F(Operations, ASelfExtractingArchiveIsReportedUnderItsProgramName) {
  choose({"b.txt"});
  shell.operation.archive_path = work_ + "setup.vnr";
  std::string box;
  run_script({[] {
               gadget_set_state(21, 1);
               press(21, 1);
               press(12, 1);
             },
              answer_box("Added", &box)},
             [] { compression_window(operation_context()); });
  EXPECT_EQ(box.rfind("archive=" + work_ + "setup.exe in ", 0), 0u) << box;
  EXPECT_TRUE(exists(work_ + "setup.exe"));
  EXPECT_FALSE(exists(work_ + "setup.vnr"));
  EXPECT_EQ(members(work_ + "setup.exe"), (std::vector<std::string>{"b.txt"}));
}

TEST_F(Operations, AFailedCompressionWarnsInsteadOfReportingSuccess) {
  choose({"b.txt"});
  std::string box = compress_into(work_ + "no\\such\\folder\\out.vnr", "Note:");
  EXPECT_NE(box.find("was not written"), std::string::npos) << box;
  EXPECT_FALSE(exists(work_ + "no\\such\\folder\\out.vnr"));
}

TEST_F(Operations, ARunShowsItsProgressAndTheExitButtonCancelsIt) {
  write_file(work_ + "data\\big.bin", noise(48 << 20));
  choose({"big.bin"});
  shell.operation.ultra_switch = "x";
  std::string archive = work_ + "out.vnr", box, status;
  int position = -1, ticks = 0;
  shell.operation.archive_path = archive;
  std::vector<int> main_gadgets = {1, 2, 3, 4, 5, 6, 23, 24, 30, 31, 32};
  run_script({[] { press(12, 1); },
              [&] {  // the run is under way: the window still takes timer ticks, the bar moves
                position = gadget_get_state(42);
                status = gadget_get_text(43);
                if (position <= 0 && ++ticks < 250) return retry_step();
                press(13, 1);
              },
              // A run that ended on its own says "Added": taken too, so a failure cannot hang.
              [&] {
                for (const char* title : {"Note:", "Added"}) {
                  HWND shown = FindWindowA("#32770", title);
                  char text[1024] = {};
                  if (!shown || GetDlgItemTextA(shown, 0xFFFF, text, sizeof text) == 0) continue;
                  box = text;
                  PostMessageA(shown, WM_COMMAND, IDOK, 0);
                  return;
                }
                retry_step();
              }},
             [] { compression_window(operation_context()); });
  shell.operation.ultra_switch.clear();
  EXPECT_GT(position, 0);
  EXPECT_LT(position, PROGRESS_RANGE);
  EXPECT_NE(status.find(" of 50.3 MB, "), std::string::npos) << status;
  EXPECT_EQ(box.rfind("Compression was cancelled after ", 0), 0u) << box;
  EXPECT_FALSE(exists(archive));
  // Nothing of the run is left beside the archive, and the main window keeps every gadget: the
  // run's own gadgets take numbers no other window uses.
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((work_ + "*").c_str(), &found);
  std::vector<std::string> names;
  do names.push_back(found.cFileName);
  while (FindNextFileA(find, &found));
  FindClose(find);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", "data"}));
  for (int g : main_gadgets) {
    ASSERT_NE(gadget_record(g), nullptr) << g;
    EXPECT_EQ(gadget_record(g)->window, 0) << g;
  }
}

TEST_F(Operations, ACancelledOpeningLeavesTheListWhereItWas) {
  // Enough members that building their mirror takes more than the second before the busy window.
  std::string bytes;
  for (int i = 0; i < 30000; ++i)
    bytes += stored_entry("d" + std::to_string(i % 300) + "/", "f" + std::to_string(i) + ".txt", "");
  std::string archive = work_ + "many.vnr";
  write_file(archive, bytes);
  gadget_set_text(FILE_LIST, work_);
  bool busy_seen = false, opened = true;
  run_script({[&] {
               // An opening that ended before the busy window showed is left, so the test fails
               // instead of waiting in the archive loop.
               if (archive_on_view()) return exit_menu();
               if (!FindWindowA(nullptr, "Vantor - opening")) return retry_step();
               busy_seen = true;
               press(46, 3);  // Cancel
             }},
             [&] {
               shell.operation.archive_path = archive;
               opened = browse_archive(archive);
             });
  EXPECT_TRUE(busy_seen);
  EXPECT_FALSE(opened);
  EXPECT_EQ(gadget_get_text(FILE_LIST), work_);
  EXPECT_EQ(shell.entries.entry_count, 0);
  EXPECT_FALSE(exists(shell.operation.temp_root + "d0")) << "the partial mirror tree is removed";
  EXPECT_EQ(FindWindowA(nullptr, "Vantor - opening"), nullptr);
}

TEST_F(Operations, ExtractWritesExactlyTheChosenMembers) {
  choose({"docs\\a.txt", "docs\\sub\\c.txt", "b.txt"});
  std::string archive = work_ + "out.vnr";
  compress_into(archive);
  std::string dest = work_ + "dest\\deeper\\";
  std::string box;
  run_script({[] {
                if (!archive_on_view()) return retry_step();
                select_rows({"docs"});
              },
              [] { queue_event(EVENT_GADGET, EXTRACT_BUTTON, 0, EVENT_TYPE_LEFT_CLICK); },
              [&] {
                gadget_set_text(10, dest);
                queue_event(EVENT_GADGET, 10, 2, EVENT_TYPE_CHANGE);
                press(12, 2);
              },
              answer_box("Notice", &box), [] { queue_event(EVENT_MENU, MENU_EXIT, 0, EVENT_TYPE_NONE); }},
             [&] {
               shell.operation.archive_path = archive;
               browse_archive(archive);
             });
  EXPECT_EQ(box.rfind("Archive =" + archive + " in ", 0), 0u) << box;
  // Members keep their folders below the destination; b.txt was not chosen.
  EXPECT_EQ(read_file(dest + "docs\\a.txt"), "alpha\r\n");
  EXPECT_TRUE(read_file(dest + "docs\\sub\\c.txt") == std::string(70000, 'c'));
  EXPECT_FALSE(exists(dest + "b.txt"));
  EXPECT_FALSE(exists(dest + "a.txt"));
  EXPECT_EQ(shell.selection.selection_count, 0);
}

TEST_F(Operations, ADamagedMemberIsReportedAndLeavesNoPartialFile) {
  choose({"docs\\sub\\c.txt"});
  std::string archive = work_ + "out.vnr";
  compress_into(archive);
  std::string bytes = read_file(archive);
  bytes[bytes.size() - 40] ^= 0x55;  // inside the member's compressed data
  bytes[bytes.size() - 41] ^= 0x55;
  write_file(archive, bytes);
  std::string dest = work_ + "dest\\";
  std::string box;
  run_script({[] {
                if (!archive_on_view()) return retry_step();
                select_rows({"c.txt"});
              },
              [] { queue_event(EVENT_GADGET, EXTRACT_BUTTON, 0, EVENT_TYPE_LEFT_CLICK); },
              [&] {
                gadget_set_text(10, dest);
                queue_event(EVENT_GADGET, 10, 2, EVENT_TYPE_CHANGE);
                press(12, 2);
              },
              answer_box("Note:", &box), [] { queue_event(EVENT_MENU, MENU_EXIT, 0, EVENT_TYPE_NONE); }},
             [&] {
               shell.operation.archive_path = archive;
               browse_archive(archive);
             });
  EXPECT_NE(box.find("were not extracted"), std::string::npos) << box;
  EXPECT_FALSE(exists(dest + "c.txt"));
}

TEST_F(Operations, DoubleClickedMembersLandInTheLaunchFolder) {
  std::string program = read_file(shell.operation.program_folder + "vantor.exe");
  write_file(work_ + "data\\run.exe", program);
  choose({"docs\\a.txt", "b.txt", "run.exe"});
  std::string archive = work_ + "out.vnr";
  compress_into(archive);
  // Downloaded: what is opened from it carries its Mark of the Web (under Wine a file of that name).
  write_file(archive + ":Zone.Identifier", "[ZoneTransfer]\r\nZoneId=3\r\n");
  bool text_member = false, whole_archive = false;
  run_script({[] {
                if (!archive_on_view()) return retry_step();
                select_rows({"b.txt"});
              },
              [] { queue_event(EVENT_GADGET, FILE_LIST, 0, EVENT_TYPE_LEFT_DOUBLE_CLICK); },
              // The text is there once its run has written it; docs, before it in the archive,
              // would be there by then had the whole archive been extracted.
              when([] { return exists(shell.operation.launch_root + "b.txt"); },
                   [&] {
                     const std::string& launch = shell.operation.launch_root;
                     text_member = exists(launch + "b.txt") && !exists(launch + "docs");
                     // Whatever the shell opened the text with is closed again.
                     if (HWND viewer = FindWindowA("Notepad", nullptr)) PostMessageA(viewer, WM_CLOSE, 0, 0);
                     select_rows({"run.exe"});
                   }),
              [] { queue_event(EVENT_GADGET, FILE_LIST, 0, EVENT_TYPE_LEFT_DOUBLE_CLICK); },
              when([] {
                     const std::string& launch = shell.operation.launch_root;
                     return exists(launch + "run.exe") && exists(launch + "docs\\a.txt");
                   },
                   [&] {
                     const std::string& launch = shell.operation.launch_root;
                     whole_archive = exists(launch + "run.exe") && exists(launch + "docs\\a.txt");
                     queue_event(EVENT_MENU, MENU_EXIT, 0, EVENT_TYPE_NONE);
                   })},
             [&] {
               shell.operation.archive_path = archive;
               browse_archive(archive);
             });
  EXPECT_TRUE(text_member);
  EXPECT_TRUE(whole_archive);
  EXPECT_EQ(shell.operation.launch_target, shell.operation.launch_root + "run.exe");
  EXPECT_EQ(read_file(shell.operation.launch_root + "b.txt:Zone.Identifier"), "[ZoneTransfer]\r\nZoneId=3\r\n");
}

// Another member that cannot be written beside a program (still held open by an earlier launch)
// is named in a note; the program itself was extracted and checked, and is started. (The name is
// its own: a program started by another test may still hold its file.)
TEST_F(Operations, AProgramIsLaunchedWhenAMemberBesideItFails) {
  write_file(work_ + "data\\starter.exe", read_file(shell.operation.program_folder + "vantor.exe"));
  choose({"b.txt", "starter.exe"});
  std::string archive = work_ + "out.vnr";
  compress_into(archive);
  HANDLE held = INVALID_HANDLE_VALUE;
  std::string box;
  run_script({[&] {
                if (!archive_on_view()) return retry_step();
                CreateDirectoryA(shell.operation.launch_root.c_str(), nullptr);
                write_file(shell.operation.launch_root + "b.txt", "held");
                held = CreateFileA((shell.operation.launch_root + "b.txt").c_str(), GENERIC_READ, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
                select_rows({"starter.exe"});
              },
              [] { queue_event(EVENT_GADGET, FILE_LIST, 0, EVENT_TYPE_LEFT_DOUBLE_CLICK); },
              answer_box("Note:", &box), exit_menu},
             [&] {
               shell.operation.archive_path = archive;
               browse_archive(archive);
             });
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  CloseHandle(held);
  EXPECT_EQ(box.rfind(shell.operation.launch_root + "starter.exe is started, but", 0), 0u) << box;
  EXPECT_NE(box.find("b.txt"), std::string::npos) << box;
  EXPECT_EQ(read_file(shell.operation.launch_root + "starter.exe"), read_file(work_ + "data\\starter.exe"));
}

TEST_F(Operations, TreeClicksFillTheFieldAndTypingOverridesThem) {
  std::string first_field, after_click, typed;
  std::string folder = work_ + "data\\";
  run_script({[&] {
               first_field = gadget_get_text(10);
               gadget_set_text(25, folder);  // the tree walks to the folder and selects it
               queue_event(EVENT_GADGET, 25, 2, EVENT_TYPE_LEFT_CLICK);
             },
              [&] {
                after_click = gadget_get_text(10);
                gadget_set_text(10, "C:\\typed\\");
                queue_event(EVENT_GADGET, 10, 2, EVENT_TYPE_CHANGE);
              },
              [&] {
                typed = shell.operation.destination_folder;
                PostMessageA(window_handle(2), WM_SYSCOMMAND, SC_CLOSE, 0);
              }},
             [&] { extraction_window(work_ + "none.vnr", operation_context()); });
  EXPECT_EQ(first_field, shell.operation.program_folder);
  EXPECT_EQ(to_upper(after_click), to_upper(folder));
  EXPECT_EQ(typed, "C:\\typed\\");
  EXPECT_EQ(window_handle(2), nullptr);
  EXPECT_TRUE(IsWindowEnabled(window_handle(0)));
  EXPECT_EQ(shell.selection.selection_count, 0);
}

// A message box as the user sees it: its title, its text and which system icon it shows.
struct Box {
  std::string title, text, icon;
  bool operator==(const Box& o) const { return title == o.title && text == o.text && icon == o.icon; }
};

std::ostream& operator<<(std::ostream& out, const Box& b) {
  return out << "[" << b.title << "] \"" << b.text << "\" icon " << b.icon;
}

std::string icon_of(HWND box) {
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    char kind[16] = {};
    GetClassNameA(child, kind, sizeof kind);
    if (lstrcmpiA(kind, "Static") != 0 || (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) continue;
    HICON shown = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
    if (!shown || !IsWindowVisible(child)) return "none";
    if (shown == LoadIconA(nullptr, IDI_WARNING)) return "warning";
    if (shown == LoadIconA(nullptr, IDI_INFORMATION)) return "information";
    return "another";
  }
  return "none";
}

// A step that waits for a message box, reads it and presses OK.
std::function<void()> read_box(Box* seen) {
  return [seen] {
    HWND box = FindWindowA("#32770", nullptr);
    char text[1024] = {}, title[256] = {};
    if (!box || GetDlgItemTextA(box, 0xFFFF, text, sizeof text) == 0) return retry_step();
    GetWindowTextA(box, title, sizeof title);
    *seen = {title, text, icon_of(box)};
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  };
}

// What the loops say when the user asks for what cannot be done, and the About box: raised by
// the user's own events, read off the boxes.
TEST_F(Operations, EveryNoteComesFromItsEventWithItsTextAndIcon) {
  std::vector<Box> disk(4), inside(2);
  run_script({[] {
                select_rows({});
                queue_event(EVENT_MENU, MENU_ADD, 0, EVENT_TYPE_NONE);
              },
              read_box(&disk[0]), [] { press(ADD_BUTTON, 0); }, read_box(&disk[1]),
              [] { press(EXTRACT_BUTTON, 0); }, read_box(&disk[2]), [] { press(INFO_BUTTON, 0); },
              read_box(&disk[3]), exit_menu},
             [] { run_disk_loop(); });
  const std::string pick = "Please select one file or one folder";
  EXPECT_EQ(disk[0], (Box{"Note:", pick, "none"})) << "Add from the menu";
  EXPECT_EQ(disk[1], (Box{"Note:", pick, "warning"})) << "the Add button";
  EXPECT_EQ(disk[2], (Box{"Note:", "Please select and open existing archive ", "warning"})) << "Extract, no archive";
  EXPECT_EQ(disk[3], (Box{"INFO", "Win Vantor Version 1.1.3 - archive manager for Windows", "information"}));

  choose({"b.txt"});
  std::string archive = work_ + "notes.vnr";
  compress_into(archive);
  run_script({[] {
                if (!archive_on_view()) return retry_step();
                select_rows({});
                queue_event(EVENT_MENU, MENU_ADD, 0, EVENT_TYPE_NONE);
              },
              read_box(&inside[0]), [] { press(EXTRACT_BUTTON, 0); }, read_box(&inside[1]), exit_menu},
             [&] {
               shell.operation.archive_path = archive;
               browse_archive(archive);
             });
  EXPECT_EQ(inside[0], (Box{"Info:", "Please, add file or folder require exit from the archive", "warning"}));
  EXPECT_EQ(inside[1], (Box{"Note:", "Please select file or folder ", "warning"})) << "Extract, nothing chosen";
}

TEST_F(Operations, DestinationFoldersAreCreatedOnePrefixAtATime) {
  std::string deep = work_ + "made\\one\\two\\";
  EXPECT_EQ(create_folder_chain(deep), 1);
  EXPECT_TRUE(exists(deep));
  EXPECT_EQ(create_folder_chain(deep), 0);  // already there
  EXPECT_EQ(create_folder_chain("\\vantor_not_made\\x\\"), 0);
  EXPECT_FALSE(exists("C:\\vantor_not_made"));
  EXPECT_EQ(create_folder_chain(work_ + "gap\\\\after\\"), 1);
  EXPECT_FALSE(exists(work_ + "gap\\after"));
}

}  // namespace
