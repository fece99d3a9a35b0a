// What a drop on the main window does, decided from what was dropped and what is on view.
#include <gtest/gtest.h>

#include "shell/file_drop.h"
#include "shell/startup.h"

namespace {

DroppedItem file(const std::string& path) { return {path, DroppedKind::FILE}; }
DroppedItem folder(const std::string& path) { return {path, DroppedKind::FOLDER}; }

// On disk they are chosen; ours and zips take them after a question; the others refuse by kind.
TEST(FileDrop, TheViewDecidesWhatHappensToFilesAndFolders) {
  std::vector<DroppedItem> two = {file("C:\\x\\a b.txt"), folder("C:\\x\\docs")};
  EXPECT_EQ(plan_drop(two, "", "", is_archive_name).action, DropAction::CHOOSE_FOR_ADDING);
  DropPlan add = plan_drop(two, "C:\\x\\a.vnr", "", is_archive_name);
  EXPECT_EQ(add.action, DropAction::ADD_TO_ARCHIVE);
  EXPECT_EQ(add.message.rfind("Add 2 items (1 folder with everything below) to C:\\x\\a.vnr?", 0), 0u) << add.message;
  EXPECT_EQ(plan_drop(two, "C:\\x\\b.ZIP", "zip", is_archive_name).action, DropAction::ADD_TO_ARCHIVE);
  EXPECT_EQ(plan_drop(two, "C:\\x\\ours.zip", "", is_archive_name).action, DropAction::ADD_TO_ARCHIVE);
  DropPlan seven = plan_drop(two, "C:\\x\\b.7z", "7z", is_archive_name);
  EXPECT_EQ(seven.message, "C:\\x\\b.7z is read-only (7z): files can be added to .vnr and .zip archives only.");
  EXPECT_EQ(plan_drop(two, "C:\\x\\setup.EXE", "", is_archive_name).action, DropAction::REFUSE);
  // A .zip name that the archiver reads as a tar is no zip to write into.
  EXPECT_EQ(plan_drop(two, "C:\\x\\b.zip", "tar", is_archive_name).action, DropAction::REFUSE);
}

TEST(FileDrop, OneArchiveAloneOpensWhateverIsOnView) {
  for (const char* name : {"C:\\d\\a.vnr", "C:\\d\\b.tar.GZ", "C:\\d\\c.zip"}) {
    EXPECT_EQ(plan_drop({file(name)}, "", "", is_archive_name).action, DropAction::OPEN_ARCHIVE) << name;
    EXPECT_EQ(plan_drop({file(name)}, "C:\\x\\a.vnr", "", is_archive_name).action, DropAction::OPEN_ARCHIVE) << name;
  }
  // With anything beside it, or as a folder of that name, it is only one more item.
  EXPECT_EQ(plan_drop({file("C:\\d\\a.vnr"), file("C:\\d\\b.txt")}, "", "", is_archive_name).action,
            DropAction::CHOOSE_FOR_ADDING);
  EXPECT_EQ(plan_drop({folder("C:\\d\\x.zip")}, "", "", is_archive_name).action, DropAction::CHOOSE_FOR_ADDING);
  EXPECT_EQ(plan_drop({file("C:\\d\\A.VNR")}, "", "", is_archive_name).action, DropAction::CHOOSE_FOR_ADDING);
}

// One bad name spoils the drop, before anything runs: each is named with its reason, then a count.
TEST(FileDrop, HostileNamesRefuseTheWholeDropByName) {
  std::vector<DroppedItem> items = {file("C:\\ok.txt"), {"C:\\x\\link", DroppedKind::LINK},
                                    {"\\\\.\\COM1", DroppedKind::DEVICE}, {"C:\\gone", DroppedKind::MISSING},
                                    {"C:\\?", DroppedKind::UNNAMEABLE}, {"C:\\long", DroppedKind::TOO_LONG},
                                    {"C:\\y\\link2", DroppedKind::LINK}};
  DropPlan plan = plan_drop(items, "C:\\x\\a.vnr", "", is_archive_name);
  EXPECT_EQ(plan.action, DropAction::REFUSE);
  EXPECT_EQ(plan.message,
            "Nothing was taken from the drop:\nC:\\x\\link is a link or junction, which is not followed."
            "\n\\\\.\\COM1 is a device, not a file.\nC:\\gone cannot be found."
            "\nC:\\? has a name this system's code page cannot hold.\nC:\\long is longer than 259 characters."
            "\n... and 1 more.");
  EXPECT_EQ(plan_drop({{"C:\\x.vnr", DroppedKind::LINK}}, "", "", is_archive_name).action, DropAction::REFUSE);
}

}  // namespace
