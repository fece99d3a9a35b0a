// Where "Extract here" puts an archive: a wrong answer merges into a user's folder, wraps a lone
// folder in a needless one, or lets a hostile member name choose the place.
#include <gtest/gtest.h>

#include <set>

#include "operations/smart_extract.h"

namespace {

NameTaken taken_in(const std::set<std::string>& names) {
  return [names](const std::string& n) { return names.count(n) > 0; };
}

SmartPlan plan(const std::vector<SmartMember>& members, const std::set<std::string>& on_disk = {}) {
  return smart_plan(members, "C:\\dl\\Holiday.zip", taken_in(on_disk));
}

}  // namespace

TEST(SmartExtract, OneTopFolderOrOneFileLandsInPlace) {
  SmartPlan p = plan({{"Photos/", true}, {"Photos/a.jpg", false}, {"Photos\\2024\\b.jpg", false}});
  EXPECT_TRUE(p.in_place);
  EXPECT_EQ(p.top, "Photos");
  EXPECT_EQ(p.name, "Photos");
  // A folder met only through the members below it, and tar's "./" entries, count the same.
  EXPECT_TRUE(plan({{"./", true}, {"./src/a.c", false}, {"src//b.c", false}}).in_place);
  p = plan({{"notes.txt", false}});
  EXPECT_TRUE(p.in_place);
  EXPECT_EQ(p.name, "notes.txt");
}

TEST(SmartExtract, ManyRootsGoIntoAFolderNamedAfterTheArchive) {
  SmartPlan p = plan({{"a.txt", false}, {"b.txt", false}});
  EXPECT_FALSE(p.in_place);
  EXPECT_EQ(p.name, "Holiday");
  EXPECT_EQ(plan({{"docs/a.txt", false}, {"src/b.c", false}}).name, "Holiday");
  // A top folder that is also a file's name: two items, however they are spelt.
  EXPECT_FALSE(plan({{"docs", false}, {"docs/a.txt", false}}).in_place);
  EXPECT_FALSE(plan({{"docs/a.txt", false}, {"Docs/b.txt", false}}).in_place);
  // An empty archive still gets its own (empty) folder, never the destination itself.
  EXPECT_EQ(plan({}).name, "Holiday");
}

TEST(SmartExtract, TakenNamesGetTheNextFreeNumberNeverAMerge) {
  EXPECT_EQ(plan({{"Photos/a.jpg", false}}, {"Photos", "Photos (2)"}).name, "Photos (3)");
  EXPECT_EQ(plan({{"a.txt", false}, {"b.txt", false}}, {"Holiday"}).name, "Holiday (2)");
  EXPECT_EQ(plan({{"notes.txt", false}}, {"notes.txt"}).name, "notes (2).txt");
  EXPECT_EQ(free_name(".profile", true, taken_in({".profile"})), ".profile (2)");
  EXPECT_EQ(free_name("x", false, [](const std::string&) { return true; }), "");
}

TEST(SmartExtract, HostileMemberNamesNeverChooseThePlace) {
  for (const char* evil : {"../outside.txt", "..\\..\\x", "/etc/passwd", "\\\\server\\share\\a", "C:\\Windows\\x.dll",
                           "C:x", "docs/../../x", "CON", "a./b"}) {
    SmartPlan p = plan({{evil, false}});
    EXPECT_FALSE(p.in_place) << evil;
    EXPECT_EQ(p.name, "Holiday") << evil;
  }
  // One bad member among good ones under one top folder spoils the lone-folder reading too.
  EXPECT_FALSE(plan({{"top/a", false}, {"top/../../b", false}}).in_place);
}

TEST(SmartExtract, ArchiveStemDropsTheWholeExtension) {
  EXPECT_EQ(archive_stem("C:\\dl\\src-1.2.tar.gz"), "src-1.2");
  EXPECT_EQ(archive_stem("/x/a.TAR.XZ"), "a");
  EXPECT_EQ(archive_stem("C:\\dl\\b.7z"), "b");
  EXPECT_EQ(archive_stem("C:\\dl\\README"), "README");
  EXPECT_EQ(archive_stem("C:\\dl\\.zip"), ".zip");
  EXPECT_EQ(archive_stem("C:\\dl\\a..zip"), "a");
  EXPECT_EQ(archive_stem("C:\\dl\\ .zip"), "Archive");
}
