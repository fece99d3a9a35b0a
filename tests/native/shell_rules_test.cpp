// The shell's window-free rules: the command-line document, the memory text, parent folders and
// what every menu item and gadget means in each loop.
#include <gtest/gtest.h>

#include "operations/find_window.h"
#include "shell/browsing.h"
#include "shell/dispatch.h"
#include "shell/startup.h"
#include "ui/events.h"

TEST(StartupDocument, FirstArgumentFullPathAsItIsRelativeAfterTheCurrentFolder) {
  // A quoted full path from the document's own folder, as an "open" from the shell gives it.
  EXPECT_EQ(startup_document_from("C:\\data\\", "\"C:\\prog\\WinVantor.exe\" \"C:\\data\\backup.vnr\""),
            "C:\\data\\backup.vnr");
  // Started from another folder: the full path still names the document.
  EXPECT_EQ(startup_document_from("C:\\work", "\"C:\\prog\\WinVantor.exe\" D:\\other\\x.vnr"), "D:\\other\\x.vnr");
  EXPECT_EQ(startup_document_from("C:\\work", "WinVantor \"\\\\server\\share\\my backup.vnr\""),
            "\\\\server\\share\\my backup.vnr");
  // From a console, unquoted program name and a bare or relative document.
  EXPECT_EQ(startup_document_from("C:\\work", "WinVantor backup.vnr"), "C:\\work\\backup.vnr");
  EXPECT_EQ(startup_document_from("C:\\work\\", "\"C:\\prog\\WinVantor.exe\" sub\\x.vnr more.vnr"),
            "C:\\work\\sub\\x.vnr");
  EXPECT_EQ(startup_document_from("C:\\work", "WinVantor \\top\\x.vnr"), "C:\\top\\x.vnr");
  // No argument names no document.
  EXPECT_EQ(startup_document_from("C:\\prog", "\"C:\\prog\\WinVantor.exe\""), "");
  EXPECT_EQ(startup_document_from("C:\\prog", "WinVantor.exe   "), "");
}

TEST(StartupDocument, ArgumentsFollowTheSystemQuotingRules) {
  EXPECT_EQ(first_argument("\"C:\\Program Files\\V\\WinVantor.exe\" a.vnr"), "a.vnr");
  EXPECT_EQ(first_argument("p\"rog name\"x  \"two words.vnr\" b"), "two words.vnr");
  EXPECT_EQ(first_argument("p a\"b c\"d e"), "ab cd");
  EXPECT_EQ(first_argument("p \"say \"\"hi\"\"\""), "say \"hi\"");
  EXPECT_EQ(first_argument("p a\\\\\"b c\""), "a\\b c");     // 2n backslashes: n, quote toggles
  EXPECT_EQ(first_argument("p a\\\\\\\"b"), "a\\\"b");        // 2n+1: n and a literal quote
  EXPECT_EQ(first_argument("p C:\\a\\\\b\\"), "C:\\a\\\\b\\");  // not before a quote: as written
}

TEST(StartupDocument, OnlyLowerCaseVnrOpensAnArchive) {
  EXPECT_TRUE(is_archive_name("C:\\a\\b.vnr"));
  EXPECT_FALSE(is_archive_name("C:\\a\\b.VNR"));
  EXPECT_FALSE(is_archive_name("C:\\a\\b.Vnr"));
  EXPECT_FALSE(is_archive_name("C:\\a.vnr\\b"));
  EXPECT_FALSE(is_archive_name("C:\\prog\\WinVantor.exe"));
}

TEST(MemoryText, MegabytesWithOneDecimal) {
  EXPECT_EQ(memory_text(1048576), "System free Mem:1.0 MB ");
  EXPECT_EQ(memory_text(1100000), "System free Mem:1.0 MB ");
  EXPECT_EQ(memory_text(2147483648ULL), "System free Mem:2048.0 MB ");
  EXPECT_EQ(memory_text(6442450944ULL), "System free Mem:6144.0 MB ");
  EXPECT_EQ(memory_text(0), "System free Mem:0.0 MB ");
}

TEST(ParentPath, GoesUpOneFolderOrToTheDriveLevel) {
  EXPECT_EQ(parent_path("C:\\a\\b\\"), "C:\\a\\*.*");
  EXPECT_EQ(parent_path("C:\\a\\"), "C:\\*.*");
  EXPECT_EQ(parent_path("C:\\a"), "C:\\*.*");
  EXPECT_EQ(parent_path("C:\\"), "");
  EXPECT_EQ(parent_path(""), "");
  EXPECT_EQ(parent_path("C:\\T\\tempvantor\\"), "C:\\T\\*.*");
}

TEST(Dispatch, DiskLoopMenu) {
  EXPECT_EQ(disk_loop_action(EVENT_MENU, 1, -1), Action::OPEN_ARCHIVE);
  EXPECT_EQ(disk_loop_action(EVENT_MENU, 2, -1), Action::ADD_FROM_MENU);
  EXPECT_EQ(disk_loop_action(EVENT_MENU, 4, -1), Action::SELECT_ALL);
  EXPECT_EQ(disk_loop_action(EVENT_MENU, 8, -1), Action::QUIT);
  EXPECT_EQ(disk_loop_action(EVENT_MENU, 9, -1), Action::OPEN_HELP);
  EXPECT_EQ(disk_loop_action(EVENT_MENU, 3, -1), Action::DELETE_MEMBERS);
  for (int inert : {5, 6, 7}) EXPECT_EQ(disk_loop_action(EVENT_MENU, inert, -1), Action::NONE) << inert;
}

TEST(Dispatch, DiskLoopGadgets) {
  EXPECT_EQ(disk_loop_action(EVENT_GADGET, 1, EVENT_TYPE_RIGHT_CLICK), Action::LIST_EVENT);
  EXPECT_EQ(disk_loop_action(EVENT_GADGET, 2, 0), Action::ADD_FROM_BUTTON);
  EXPECT_EQ(disk_loop_action(EVENT_GADGET, 3, 0), Action::EXTRACT_WITHOUT_ARCHIVE);
  EXPECT_EQ(disk_loop_action(EVENT_GADGET, 6, 0), Action::SHOW_ABOUT);
  EXPECT_EQ(disk_loop_action(EVENT_GADGET, 31, 0), Action::PARENT_FOLDER);
  EXPECT_EQ(disk_loop_action(EVENT_GADGET, 32, 0), Action::SELECT_ALL);
  EXPECT_EQ(disk_loop_action(EVENT_GADGET, 4, 0), Action::VERIFY);
  EXPECT_EQ(disk_loop_action(EVENT_GADGET, 5, 0), Action::DELETE_MEMBERS);
  EXPECT_EQ(disk_loop_action(EVENT_GADGET, 30, 0), Action::NONE);  // the memory text
  for (int type : {EVENT_TYPE_LEFT_CLICK, FIND_SHOW_CHOICE}) EXPECT_EQ(disk_loop_action(EVENT_GADGET, 23, type), Action::FIND_FILE);
  EXPECT_EQ(disk_loop_action(EVENT_GADGET, 24, EVENT_TYPE_LEFT_CLICK), Action::LOCATION_CHOSEN);
  EXPECT_EQ(disk_loop_action(EVENT_GADGET, 24, EVENT_TYPE_LEFT_DOUBLE_CLICK), Action::LOCATION_CHOSEN);
  EXPECT_EQ(disk_loop_action(EVENT_GADGET, 24, 1), Action::NONE);  // combo notices such as selection change
  EXPECT_EQ(disk_loop_action(EVENT_CLOSE_WINDOW, 0, 0), Action::CLOSE_WINDOW);
  EXPECT_EQ(disk_loop_action(0x200, 0, -1), Action::NONE);  // a raw window message
}

TEST(Dispatch, ArchiveLoop) {
  EXPECT_EQ(archive_loop_action(EVENT_MENU, 1, -1), Action::OPEN_ARCHIVE);
  EXPECT_EQ(archive_loop_action(EVENT_MENU, 2, -1), Action::ADD_REFUSED);
  EXPECT_EQ(archive_loop_action(EVENT_MENU, 4, -1), Action::SELECT_ALL);
  EXPECT_EQ(archive_loop_action(EVENT_MENU, 8, -1), Action::LEAVE_ARCHIVE);
  EXPECT_EQ(archive_loop_action(EVENT_MENU, 3, -1), Action::DELETE_MEMBERS);
  for (int inert : {5, 6, 7, 9}) EXPECT_EQ(archive_loop_action(EVENT_MENU, inert, -1), Action::NONE) << inert;
  EXPECT_EQ(archive_loop_action(EVENT_GADGET, 1, 2), Action::LIST_EVENT);
  EXPECT_EQ(archive_loop_action(EVENT_GADGET, 2, 0), Action::ADD_REFUSED);
  EXPECT_EQ(archive_loop_action(EVENT_GADGET, 3, 0), Action::EXTRACT);
  EXPECT_EQ(archive_loop_action(EVENT_GADGET, 6, 0), Action::SHOW_ABOUT);
  EXPECT_EQ(archive_loop_action(EVENT_GADGET, 24, 0), Action::LOCATION_CHOSEN);
  EXPECT_EQ(archive_loop_action(EVENT_GADGET, 24, 768), Action::NONE);
  EXPECT_EQ(archive_loop_action(EVENT_GADGET, 31, 0), Action::PARENT_FOLDER);
  EXPECT_EQ(archive_loop_action(EVENT_GADGET, 32, 0), Action::SELECT_ALL);
  EXPECT_EQ(archive_loop_action(EVENT_GADGET, 4, 0), Action::VERIFY);
  EXPECT_EQ(archive_loop_action(EVENT_GADGET, 5, 0), Action::DELETE_MEMBERS);
  for (int type : {EVENT_TYPE_LEFT_CLICK, FIND_SHOW_CHOICE})
    EXPECT_EQ(archive_loop_action(EVENT_GADGET, 23, type), Action::FIND_FILE);
  EXPECT_EQ(archive_loop_action(EVENT_CLOSE_WINDOW, 0, 0), Action::CLOSE_WINDOW);
}
