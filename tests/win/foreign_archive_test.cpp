// Other programs' archives in the front end, with the real vantor.exe: a zip written from the
// compression window opens from the archiver's listing, gives back only the chosen members, has
// a member launched and is verified; what the archiver cannot list is refused with its reason.
#include <gtest/gtest.h>

#include "operations_fixture.h"

namespace {

using namespace operations_fixture;

class ForeignArchives : public Operations {};

TEST_F(ForeignArchives, AZipFromTheWindowOpensExtractsLaunchesAndVerifies) {
  choose({"docs\\a.txt", "docs\\sub\\c.txt", "b.txt"});
  std::string archive = work_ + "out.zip", dest = work_ + "dest\\";
  ASSERT_EQ(compress_into(archive).rfind("archive=" + archive, 0), 0u);
  std::string format, notice, verify;
  int entries = 0;
  run_script({[&] {
                if (!archive_on_view()) return retry_step();
                format = shell.operation.archive_format;
                entries = shell.entries.entry_count;
                select_rows({"docs"});
              },
              [] { queue_event(EVENT_GADGET, EXTRACT_BUTTON, 0, EVENT_TYPE_LEFT_CLICK); },
              in_extraction_window([&] {
                gadget_set_text(10, dest);
                queue_event(EVENT_GADGET, 10, 2, EVENT_TYPE_CHANGE);
                press(12, 2);
              }),
              answer_box("Notice", &notice), [] { select_rows({"b.txt"}); },
              [] { queue_event(EVENT_GADGET, FILE_LIST, 0, EVENT_TYPE_LEFT_DOUBLE_CLICK); },
              when([] { return exists(shell.operation.launch_root + "b.txt"); },
                   [] {
                     if (HWND viewer = FindWindowA("Notepad", nullptr)) PostMessageA(viewer, WM_CLOSE, 0, 0);
                     queue_event(EVENT_GADGET, VERIFY_BUTTON, 0, EVENT_TYPE_LEFT_CLICK);
                   }),
              answer_box("Verify", &verify), exit_menu},
             [&] {
               shell.operation.archive_path = archive;
               browse_archive(archive);
             });
  EXPECT_EQ(format, "zip");
  EXPECT_GE(entries, 3);
  EXPECT_EQ(notice.rfind("Archive =" + archive + " in ", 0), 0u) << notice;
  EXPECT_EQ(read_file(dest + "docs\\a.txt"), "alpha\r\n");
  EXPECT_TRUE(read_file(dest + "docs\\sub\\c.txt") == std::string(70000, 'c'));
  EXPECT_FALSE(exists(dest + "b.txt"));  // not chosen
  EXPECT_EQ(read_file(shell.operation.launch_root + "b.txt"), "bravo");
  EXPECT_FALSE(exists(shell.operation.launch_root + "docs"));  // only the launched member
  EXPECT_NE(verify.find("are intact"), std::string::npos) << verify;
  EXPECT_EQ(shell.operation.archive_format, "");  // cleared with the archive path on leaving
}

// Chosen in the open requester, a program that is another program's self-extracting archive
// breaks our index at once and is read by the archiver instead, Verify included.
TEST_F(ForeignArchives, AnotherProgramsSelfExtractingZipOpensAsAZip) {
  choose({"b.txt"});
  compress_into(work_ + "one.zip");
  write_file(work_ + "setup.exe", std::string(200000, 'M') + read_file(work_ + "one.zip"));
  std::string format, verify;
  run_script({[&] {
                if (!archive_on_view()) return retry_step();
                format = shell.operation.archive_format;
                queue_event(EVENT_GADGET, VERIFY_BUTTON, 0, EVENT_TYPE_LEFT_CLICK);
              },
              answer_box("Verify", &verify), exit_menu},
             [&] {
               shell.operation.archive_path = work_ + "setup.exe";
               browse_archive(work_ + "setup.exe");
             });
  EXPECT_EQ(format, "zip");
  EXPECT_NE(verify.find("are intact"), std::string::npos) << verify;
}

TEST_F(ForeignArchives, WhatTheArchiverCannotListIsRefusedAndOursUnderAZipNameIsOurs) {
  write_file(work_ + "junk.zip", std::string(3000, 'j'));
  std::string box;
  bool opened = true;
  run_script({answer_box("Note:", &box)}, [&] {
    shell.operation.archive_path = work_ + "junk.zip";
    opened = browse_archive(work_ + "junk.zip");
  });
  EXPECT_FALSE(opened);
  EXPECT_NE(box.find("junk.zip cannot be opened: "), std::string::npos) << box;

  choose({"b.txt"});
  compress_into(work_ + "ours.vnr");
  ASSERT_TRUE(MoveFileA((work_ + "ours.vnr").c_str(), (work_ + "ours.zip").c_str()));
  std::string format = "unset";
  run_script({[&] {
                if (!archive_on_view()) return retry_step();
                format = shell.operation.archive_format;
              },
              exit_menu},
             [&] {
               shell.operation.archive_path = work_ + "ours.zip";
               browse_archive(work_ + "ours.zip");
             });
  EXPECT_EQ(format, "");  // walked as ours: marks, not list files
  EXPECT_EQ(shell.entries.entry_count, 1);
}

}  // namespace
