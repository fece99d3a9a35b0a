// Which entries get a mirror file of their own, and what an open says about those that do not.
#include <gtest/gtest.h>

#include "archive/mirror_tree.h"

namespace {

const std::string ROOT = "C:\\T\\tempvantor\\";

TEST(MirrorNames, EntriesThatWouldLandOnAnotherEntrysPlaceAreTurnedAway) {
  MirrorNames names;
  EXPECT_EQ(names.check(ROOT, "docs\\", "a.txt"), MirrorSkip::none);
  EXPECT_EQ(names.check(ROOT, "docs\\", "a.txt"), MirrorSkip::none);  // the same path again: the later size wins
  EXPECT_EQ(names.check(ROOT, "docs\\", "A.TXT"), MirrorSkip::clash);
  EXPECT_EQ(names.check(ROOT, "Docs\\", "b.txt"), MirrorSkip::clash);  // the folder is already spelt docs
  EXPECT_EQ(names.check(ROOT, "docs\\a.txt\\", "c"), MirrorSkip::clash);  // a folder where a file is
  EXPECT_EQ(names.check(ROOT, "docs\\sub\\", "d"), MirrorSkip::none);
  EXPECT_EQ(names.check(ROOT, "docs\\", "SUB"), MirrorSkip::clash);  // a file where a folder is
  EXPECT_EQ(names.check(ROOT, "docs\\", ""), MirrorSkip::none);  // a folder entry needs no file
  EXPECT_EQ(names.check(ROOT, "docs\\sub\\", "e"), MirrorSkip::none);
}

TEST(MirrorNames, UnsafeNamesAndPathsTooLongForTheSystem) {
  MirrorNames names;
  EXPECT_EQ(names.check(ROOT, "..\\", "x"), MirrorSkip::unsafe_name);
  EXPECT_EQ(names.check(ROOT, "", "con"), MirrorSkip::unsafe_name);
  std::string name(MIRROR_FILE_PATH_LIMIT - ROOT.size(), 'n');
  EXPECT_EQ(names.check(ROOT, "", name), MirrorSkip::none);  // 259 bytes
  EXPECT_EQ(names.check(ROOT, "", name + "n"), MirrorSkip::too_long);
  std::string folder(MIRROR_FOLDER_PATH_LIMIT - ROOT.size(), 'f');
  EXPECT_EQ(names.check(ROOT, folder + "\\", "x"), MirrorSkip::none);
  EXPECT_EQ(names.check(ROOT, folder + "f\\", "x"), MirrorSkip::folder_too_long);
}

// The folder's checks are kept from one member to the next: they must still hold for every
// member of a folder, and for folders that come back after another one.
TEST(MirrorNames, WhatIsWorkedOutOnceAFolderHoldsForEachOfItsMembers) {
  MirrorNames names;
  EXPECT_EQ(names.check(ROOT, "..\\", "x"), MirrorSkip::unsafe_name);
  EXPECT_EQ(names.check(ROOT, "..\\", "y"), MirrorSkip::unsafe_name);
  EXPECT_EQ(names.check(ROOT, "..\\", ""), MirrorSkip::unsafe_name);
  EXPECT_EQ(names.check(ROOT, "docs\\", "nul"), MirrorSkip::unsafe_name);
  EXPECT_EQ(names.check(ROOT, "docs\\", "a.txt"), MirrorSkip::none);
  EXPECT_EQ(names.check(ROOT, "other\\", "b.txt"), MirrorSkip::none);
  EXPECT_EQ(names.check(ROOT, "docs\\", "A.TXT"), MirrorSkip::clash);
  EXPECT_EQ(names.check(ROOT, "DOCS\\", "c.txt"), MirrorSkip::clash);
  EXPECT_EQ(names.check(ROOT, "Other\\", "B.txt"), MirrorSkip::clash);
  EXPECT_EQ(names.check(ROOT, "other\\b.txt\\", "d"), MirrorSkip::clash);
  // A folder without its final "\" runs into the name, and the path is judged whole.
  EXPECT_EQ(names.check(ROOT, "doc", "s\\A.TXT"), MirrorSkip::clash);
  EXPECT_EQ(names.check(ROOT, "..", "\\x"), MirrorSkip::unsafe_name);
  EXPECT_EQ(names.check(ROOT, "e", "\\f"), MirrorSkip::none);
}

// Members spread over many folders in turn, as some archives hold them: each folder's checks are
// remembered across the others and the tables grow many times, and still every clash is found.
TEST(MirrorNames, FoldersComingBackAmongThousandsOfOthersKeepEveryCheck) {
  MirrorNames names;
  EXPECT_EQ(names.check(ROOT, "", "x"), MirrorSkip::none);
  for (int round = 0; round < 3; ++round) {
    for (int f = 0; f < 3000; ++f) {
      std::string folder = "f" + std::to_string(f) + "\\";
      ASSERT_EQ(names.check(ROOT, folder, "m" + std::to_string(round)), MirrorSkip::none) << folder;
    }
    // A folder where a file is, refused each time it comes back.
    EXPECT_EQ(names.check(ROOT, "X\\", "y"), MirrorSkip::clash);
  }
  EXPECT_EQ(names.check(ROOT, "f7\\", "M1"), MirrorSkip::clash);    // a case twin of a file
  EXPECT_EQ(names.check(ROOT, "F7\\", "new"), MirrorSkip::clash);   // of a folder
  EXPECT_EQ(names.check(ROOT, "", "F2999"), MirrorSkip::clash);      // a file where a folder is
  EXPECT_EQ(names.check(ROOT, "f2999\\", "m3"), MirrorSkip::none);  // the folder is still fine
  EXPECT_EQ(names.check(ROOT, "f2999\\sub\\", "s"), MirrorSkip::none);
  EXPECT_EQ(names.check(ROOT, "f2999\\", "SUB"), MirrorSkip::clash);
}

TEST(MirrorNames, OnlyNamesOfAShortNamesShapeCanReachAnotherFile) {
  for (const char* name : {"LONGFI~1.TXT", "LONG~LMQ.TXT", "LONGFO~1", "A~1", "~", "\xC3\x89\xC3\x89\xC3\x89\xC3\x89~1.TXT"})
    EXPECT_TRUE(could_be_short_name(name)) << name;
  for (const char* name : {"longfilename.txt", "LONGFIL~1.TXT", "LONG~LMQ.TEXT", "LONG~LMQ.TXT.X", "A~1.B.C",
                           "\xC3\x89\xC3\x89\xC3\x89\xC3\x89\xC3\x89\xC3\x89~12.TXT"})
    EXPECT_FALSE(could_be_short_name(name)) << name;
  EXPECT_EQ(names_to_check("", "a.txt"), 0u);
  EXPECT_EQ(names_to_check("", "A~1.TXT"), 1u);
  EXPECT_EQ(names_to_check("docs\\sub\\", "A~1.TXT"), 1u);
  EXPECT_EQ(names_to_check("LONGFO~1\\sub\\", "a.txt"), 3u);  // the folder and all below it
  EXPECT_EQ(names_to_check("docs\\LONGFO~1\\", ""), 1u);
}

TEST(MirrorReport, SaysHowManyAreNotShownAndWhy) {
  MirrorReport none;
  EXPECT_EQ(mirror_report_text("C:\\a.vnr", none), "");

  MirrorReport r;
  r.count(MirrorSkip::unsafe_name);
  r.count(MirrorSkip::clash);
  r.count(MirrorSkip::clash);
  r.count(MirrorSkip::none);
  r.damage_position = 4096;
  EXPECT_EQ(mirror_report_text("C:\\a.vnr", r),
            "3 members of C:\\a.vnr are not shown: 1 with an unsafe name, 2 whose name clashes with another "
            "member's (letter case, a short name, or a file and a folder of one path). The archive is damaged at offset 4096 "
            "of its index: no member from there on can be extracted, and the ones after it are not shown.");

  MirrorReport one;
  one.count(MirrorSkip::too_long);
  EXPECT_EQ(mirror_report_text("C:\\a.vnr", one),
            "1 member of C:\\a.vnr is not shown: 1 with a path of 260 bytes or more.");
  one.count(MirrorSkip::not_created);
  EXPECT_EQ(mirror_report_text("C:\\a.vnr", one),
            "2 members of C:\\a.vnr are not shown: 1 with a path of 260 bytes or more, 1 whose stand-in file "
            "could not be created.");

  MirrorReport full;
  full.table_full = true;
  EXPECT_EQ(mirror_report_text("C:\\a.vnr", full), "The archive C:\\a.vnr holds more members than the 512000 shown.");
}

// Members turned away by the folder limit, their own paths far below 260 bytes, were said to
// have a path of 260 bytes or more.
TEST(MirrorReport, AFolderPathOf249BytesIsTheReasonGiven) {
  MirrorReport r;
  r.count(MirrorNames().check(ROOT, std::string(249 - ROOT.size() - 1, 'f') + "\\", "x"));  // 249 with its "\\"
  EXPECT_EQ(mirror_report_text("C:\\a.vnr", r),
            "1 member of C:\\a.vnr is not shown: 1 in a folder whose path has 249 bytes or more.");
}

}  // namespace
