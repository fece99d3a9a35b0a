// The compression and extraction windows and the member launch, driven through the real windows
// with the real vantor.exe; a timer runs the user's steps while the windows wait for events.
#include <gtest/gtest.h>

#include "operations/operation_texts.h"
#include "operations/verify.h"
#include "operations_fixture.h"

namespace {

using namespace operations_fixture;

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
  std::string archive = work_ + "out.vnr", box, status, exit_during, exit_after;
  int position = -1, ticks = 0;
  shell.operation.archive_path = archive;
  std::vector<int> main_gadgets = {1, 2, 3, 4, 5, 6, 23, 24, 30, 31, 32};
  run_script({[] { press(12, 1); },
              [&] {  // the run is under way: the window still takes timer ticks, the bar moves
                position = gadget_get_state(42);
                status = gadget_get_text(43);
                if (position <= 0 && ++ticks < 250) return retry_step();
                exit_during = gadget_get_text(13);
                press(13, 1);
              },
              // A run that ended on its own says "Added": taken too, so a failure cannot hang.
              [&] {
                for (const char* title : {"Note:", "Added"}) {
                  HWND shown = FindWindowA("#32770", title);
                  char text[1024] = {};
                  if (!shown || GetDlgItemTextA(shown, 0xFFFF, text, sizeof text) == 0) continue;
                  box = text;
                  exit_after = gadget_get_text(13);
                  PostMessageA(shown, WM_COMMAND, IDOK, 0);
                  return;
                }
                retry_step();
              }},
             [] { compression_window(operation_context()); });
  shell.operation.ultra_switch.clear();
  EXPECT_GT(position, 0);
  EXPECT_LT(position, PROGRESS_RANGE);
  EXPECT_NE(status.find(" KB of 49152 KB ("), std::string::npos) << status;  // the list's units
  EXPECT_NE(status.find("big.bin", status.find('\n')), std::string::npos) << "the member below: " << status;
  EXPECT_EQ(exit_during, "Cancel");
  EXPECT_EQ(exit_after, "Retry");
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

// Regression: Cancel during the opening after a removal was ignored, leaving a partial mirror and
// entry table on view without a word. The old view is gone, so the archive's folder is shown.
TEST_F(Operations, ACancelledOpeningAfterDeleteShowsTheArchivesFolderAndSaysSo) {
  std::string bytes, box, archive = work_ + "many.vnr";  // opening it again takes over a second
  for (int i = 0; i < 30000; ++i) bytes += stored_entry("d" + std::to_string(i % 60) + "/", std::to_string(i), "x");
  write_file(archive, bytes);
  auto shown = [](const char* title) { return [title] { return FindWindowA(nullptr, title) != nullptr; }; };
  run_script({[&] {
                if (!archive_on_view() || FindWindowA(nullptr, "Vantor - opening")) return retry_step();
                select_rows({"d0"});
                queue_event(EVENT_MENU, MENU_DELETE, 0, EVENT_TYPE_NONE);
              },
              when(shown("Delete"), [] { PostMessageA(FindWindowA(nullptr, "Delete"), WM_COMMAND, IDYES, 0); }),
              when(shown("Vantor - opening"), [] { press(46, 3); }),  // Cancel
              // Without the note the archive loop is left from the menu, so a failure cannot hang.
              when(shown("Note:"), [&] { shown("Note:")() ? answer_box("Note:", &box)() : exit_menu(); })},
             [&] { shell.operation.archive_path = archive; browse_archive(archive); });
  EXPECT_EQ(box, removed_not_reread_text(archive));
  EXPECT_EQ(gadget_get_text(FILE_LIST), work_);
  EXPECT_EQ(shell.entries.entry_count, 0);
  EXPECT_FALSE(exists(shell.operation.temp_root + "d1")) << "the partial mirror tree is removed";
  EXPECT_TRUE(shell.operation.archive_path.empty()) << "the archive loop was left";
}

// Regression: on disk a plain program, and an archive cut short, each came back as a damaged member.
TEST_F(Operations, VerifyOnDiskSkipsWhatIsNoArchiveAndSaysWhereOneIsDamaged) {
  std::string sound = stored_entry("", "a.txt", "alpha") + stored_entry("", "b.txt", "bravo"), box;
  write_file(work_ + "sound.vnr", sound);
  write_file(work_ + "broken.vnr", sound.substr(0, sound.size() - 2));
  write_file(work_ + "plain.exe", "MZ" + std::string(5000, 'p'));
  run_script({answer_box("Verify", &box)}, [&] {
    verify_archives(shell.operation.program_folder,
                    {work_ + "plain.exe", work_ + "broken.vnr", work_ + "sound.vnr", work_ + "data\\b.txt"});
  });
  EXPECT_EQ(box,
            "broken.vnr: the archive is damaged (member b.txt runs past the end of the file)\n"
            "plain.exe: skipped, not an archive (shorter than a self-extracting program)\n"
            "sound.vnr: all 2 members intact");
}

// A gadget's box in its window's client area.
RECT placed(int gadget) {
  RECT r = {};
  HWND control = gadget_handle(gadget);
  if (!control) return r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
  return r;
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
              in_extraction_window([&] {
                gadget_set_text(10, dest);
                queue_event(EVENT_GADGET, 10, 2, EVENT_TYPE_CHANGE);
                press(12, 2);
              }),
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

// They sat below the buttons, 4 pixels from the window's edge.
TEST_F(Operations, TheExtractionBarAndStatusSitAboveTheButtonsOverTheHiddenTaskSlider) {
  choose({"b.txt"});
  std::string archive = work_ + "out.vnr", box;
  compress_into(archive);
  RECT bar = {}, status = {}, exit_button = {};
  bool slider_shown = true;
  run_script({[] {
                if (!archive_on_view()) return retry_step();
                select_rows({"b.txt"});
                queue_event(EVENT_GADGET, EXTRACT_BUTTON, 0, EVENT_TYPE_LEFT_CLICK);
              },
              in_extraction_window([&] {
                gadget_set_text(10, work_ + "dest\\");
                queue_event(EVENT_GADGET, 10, 2, EVENT_TYPE_CHANGE);
                press(12, 2);
              }),
              [&] {  // the run has ended: its gadgets are where they were shown
                if (!FindWindowA("#32770", "Notice")) return retry_step();
                bar = placed(42);
                status = placed(43);
                exit_button = placed(13);
                slider_shown = IsWindowVisible(gadget_handle(17)) != FALSE;
              },
              answer_box("Notice", &box), [] { queue_event(EVENT_MENU, MENU_EXIT, 0, EVENT_TYPE_NONE); }},
             [&] {
               shell.operation.archive_path = archive;
               browse_archive(archive);
             });
  EXPECT_EQ(bar.left, 10);
  EXPECT_EQ(bar.right, 490);
  EXPECT_LE(bar.bottom, status.top);
  EXPECT_LE(status.bottom, exit_button.top);
  EXPECT_FALSE(slider_shown);
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
              in_extraction_window([&] {
                gadget_set_text(10, dest);
                queue_event(EVENT_GADGET, 10, 2, EVENT_TYPE_CHANGE);
                press(12, 2);
              }),
              answer_box("Note:", &box), [] { queue_event(EVENT_MENU, MENU_EXIT, 0, EVENT_TYPE_NONE); }},
             [&] {
               shell.operation.archive_path = archive;
               browse_archive(archive);
             });
  EXPECT_NE(box.find("were not extracted"), std::string::npos) << box;
  EXPECT_FALSE(exists(dest + "c.txt"));
}

}  // namespace

// The one new gadget sits below the buttons; ticked, loose members get a folder of their own
// under the next free name, and what was in the destination stays as it was.
TEST_F(Operations, TheArchiveFolderBoxKeepsLooseMembersTogetherWithoutMerging) {
  choose({"docs\\a.txt", "b.txt"});
  std::string archive = work_ + "out.vnr", box;
  compress_into(archive);
  std::string dest = work_ + "dest\\";
  CreateDirectoryA(dest.c_str(), nullptr);
  CreateDirectoryA((dest + "out").c_str(), nullptr);
  write_file(dest + "out\\keep.txt", "mine");
  int ticked_at_first = -1;
  RECT ok_button = {}, smart_box = {};
  run_script({[] {
                if (!archive_on_view()) return retry_step();
                select_rows({"docs", "b.txt"});
                queue_event(EVENT_GADGET, EXTRACT_BUTTON, 0, EVENT_TYPE_LEFT_CLICK);
              },
              in_extraction_window([&] {
                ticked_at_first = gadget_get_state(55);
                ok_button = placed(12);
                smart_box = placed(55);
                gadget_set_state(55, 1);
                gadget_set_text(10, dest);
                queue_event(EVENT_GADGET, 10, 2, EVENT_TYPE_CHANGE);
                press(12, 2);
              }),
              answer_box("Notice", &box), [] { queue_event(EVENT_MENU, MENU_EXIT, 0, EVENT_TYPE_NONE); }},
             [&] {
               shell.operation.archive_path = archive;
               browse_archive(archive);
             });
  EXPECT_EQ(ticked_at_first, 0);  // off for our own archives
  EXPECT_EQ(ok_button.left, 380);
  EXPECT_EQ(ok_button.top, 435);
  EXPECT_GE(smart_box.top, ok_button.bottom);
  EXPECT_EQ(read_file(dest + "out (2)\\docs\\a.txt"), "alpha\r\n");
  EXPECT_EQ(read_file(dest + "out (2)\\b.txt"), "bravo");
  EXPECT_EQ(read_file(dest + "out\\keep.txt"), "mine");
  EXPECT_FALSE(exists(dest + "out\\b.txt"));
}

// The status line was 18 pixels high: the member at hand, its second line, was cut in half.
TEST_F(Operations, BusyWindowStatusShowsBothLinesAboveTheBarAndCancel) {
  RunView view = open_busy_window("testing");
  ASSERT_GE(view.window, 0);
  show_run_gadgets(view, "0:01 elapsed\nsome member.txt");
  RECT status = placed(view.status.number), bar = placed(view.bar.number), cancel = placed(view.stop_gadget);
  RECT inner = {};
  GetClientRect(window_handle(view.window), &inner);
  close_busy_window();
  HDC dc = GetDC(nullptr);
  TEXTMETRICA metrics = {};
  GetTextMetricsA(dc, &metrics);
  ReleaseDC(nullptr, dc);
  EXPECT_GE(status.bottom - status.top, 2 * metrics.tmHeight);
  EXPECT_LE(status.bottom, bar.top);
  EXPECT_LE(bar.bottom, cancel.top);
  EXPECT_LE(cancel.bottom, inner.bottom);
}
