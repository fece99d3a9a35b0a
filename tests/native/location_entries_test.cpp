// The location combo's entries, tags and selection for a location, and where a choice leads.
#include "explorer/location_entries.h"

#include <gtest/gtest.h>

#include <set>

namespace {

constexpr uint32_t DRIVES_C_D = (1u << 2) | (1u << 3);
const std::string DOCS = "C:\\Users\\me\\Documents\\";

LocationPlaces places(std::set<std::string> folders, std::string documents = DOCS) {
  LocationPlaces p;
  p.drive_mask = DRIVES_C_D;
  p.my_documents = documents;
  p.folder_exists = [folders](const std::string& f) { return folders.count(f) > 0; };
  return p;
}

const LocationEntry MY_COMPUTER = {LOCATION_TAG_MY_COMPUTER, 0, ""};
const LocationEntry DRIVE_C = {2, 1, "C:\\"};
const LocationEntry DRIVE_D = {3, 1, "D:\\"};
const LocationEntry MY_DOCUMENTS = {LOCATION_TAG_MY_DOCUMENTS, 0, DOCS};

TEST(LocationFill, DriveRootListsThePlacesWithTheDriveSelected) {
  LocationFill f = location_fill("C:\\", 0, places({}));
  EXPECT_EQ(f.location, "C:\\");
  EXPECT_EQ(f.entries, (std::vector<LocationEntry>{MY_COMPUTER, DRIVE_C, DRIVE_D, MY_DOCUMENTS}));
  EXPECT_EQ(f.selected, 1);
}

TEST(LocationFill, DeepPathShowsTheFoldersOnTheWayUnderItsDrive) {
  LocationFill f = location_fill("c:\\windows\\system32", 0, places({"C:\\windows", "C:\\windows\\system32"}));
  EXPECT_EQ(f.location, "C:\\windows\\system32\\");
  EXPECT_EQ(f.entries, (std::vector<LocationEntry>{MY_COMPUTER, DRIVE_C,
                                                   {location_folder_tag(1), 2, "C:\\windows"},
                                                   {location_folder_tag(2), 3, "C:\\windows\\system32"},
                                                   DRIVE_D, MY_DOCUMENTS}));
  EXPECT_EQ(f.selected, 3);
}

TEST(LocationFill, MissingFoldersAreLeftOutAndTheLocationKept) {
  LocationFill f = location_fill("D:\\a\\gone\\deeper\\", 0, places({"D:\\a"}));
  EXPECT_EQ(f.location, "D:\\a\\gone\\deeper\\");
  ASSERT_EQ(f.entries.size(), 5u);
  EXPECT_EQ(f.entries[3], (LocationEntry{location_folder_tag(1), 2, "D:\\a"}));
  EXPECT_EQ(f.entries[f.selected], f.entries[3]);
}

TEST(LocationFill, EmptyLocationListsThePlacesAndSelectsNothing) {
  LocationFill f = location_fill("", 0, places({}));
  EXPECT_EQ(f.location, "");
  EXPECT_EQ(f.entries.size(), 4u);
  EXPECT_EQ(f.selected, -1);
}

TEST(LocationFill, DriveMissingFromTheMaskSelectsNothing) {
  LocationFill f = location_fill("Q:\\x\\", 0, places({"Q:\\x"}));
  EXPECT_EQ(f.entries.size(), 4u);
  EXPECT_EQ(f.selected, -1);
}

TEST(LocationFill, InsideMyDocumentsFoldersFollowItsEntry) {
  LocationFill f = location_fill("c:\\users\\ME\\documents\\a\\b\\", 0,
                                 places({"C:\\users\\ME\\documents\\a", "C:\\users\\ME\\documents\\a\\b"}));
  ASSERT_EQ(f.entries.size(), 6u);
  EXPECT_EQ(f.entries[1], DRIVE_C);  // nothing under the drive
  EXPECT_EQ(f.entries[2], DRIVE_D);
  EXPECT_EQ(f.entries[3], MY_DOCUMENTS);
  EXPECT_EQ(f.entries[4], (LocationEntry{location_folder_tag(4), 1, "C:\\users\\ME\\documents\\a"}));
  EXPECT_EQ(f.entries[5], (LocationEntry{location_folder_tag(5), 2, "C:\\users\\ME\\documents\\a\\b"}));
  EXPECT_EQ(f.selected, 5);
}

TEST(LocationFill, MyDocumentsItselfSelectsItsEntry) {
  LocationFill f = location_fill(DOCS, 0, places({"C:\\Users", "C:\\Users\\me", "C:\\Users\\me\\Documents"}));
  ASSERT_EQ(f.entries.size(), 4u);
  EXPECT_EQ(f.selected, 3);
}

TEST(LocationFill, WithoutMyDocumentsItsFoldersStandUnderTheDrive) {
  std::set<std::string> folders = {"C:\\Users", "C:\\Users\\me", "C:\\Users\\me\\Documents"};
  for (LocationFill f : {location_fill(DOCS, LOCATION_NO_MY_DOCUMENTS, places(folders)),
                         location_fill(DOCS, 0, places(folders, ""))}) {
    ASSERT_EQ(f.entries.size(), 6u);
    EXPECT_EQ(f.entries[4], (LocationEntry{location_folder_tag(3), 4, "C:\\Users\\me\\Documents"}));
    EXPECT_EQ(f.selected, 4);
    EXPECT_EQ(f.entries.back(), DRIVE_D);
  }
}

TEST(LocationFill, DrivesOnlyListsDrivesAndKeepsOnlyTheRoot) {
  LocationFill f = location_fill("d:\\deep\\folder\\", LOCATION_DRIVES_ONLY, places({"D:\\deep"}));
  EXPECT_EQ(f.location, "D:\\");
  EXPECT_EQ(f.entries, (std::vector<LocationEntry>{{2, 1, "C:\\"}, {3, 1, "D:\\"}}));
  EXPECT_EQ(f.selected, 1);

  for (const char* odd : {"", "1:\\", "\\\\server\\share\\"}) {
    LocationFill none = location_fill(odd, LOCATION_DRIVES_ONLY, places({}));
    EXPECT_EQ(none.location, "") << odd;
    EXPECT_EQ(none.selected, -1) << odd;
  }
}

TEST(LocationChoice, TagsLeadToTheirPlaces) {
  const std::string current = "C:\\windows\\system32\\drivers\\";
  EXPECT_EQ(location_of_choice(LOCATION_TAG_MY_COMPUTER, current, DOCS), "");
  EXPECT_EQ(location_of_choice(LOCATION_TAG_MY_DOCUMENTS, current, DOCS), DOCS);
  EXPECT_EQ(location_of_choice(3, current, DOCS), "D:\\");
  EXPECT_EQ(location_of_choice(location_folder_tag(1), current, DOCS), "C:\\windows\\");
  EXPECT_EQ(location_of_choice(location_folder_tag(2), current, DOCS), "C:\\windows\\system32\\");
  EXPECT_EQ(location_of_choice(location_folder_tag(3), current, DOCS), current);
}

TEST(LocationChoice, DepthsOfAFillLeadBackToTheirFolders) {
  const std::string deep = "C:\\Users\\me\\Documents\\a\\b\\";
  LocationFill f = location_fill(deep, 0, places({"C:\\Users\\me\\Documents\\a", "C:\\Users\\me\\Documents\\a\\b"}));
  for (const LocationEntry& e : f.entries) {
    if ((e.tag & 0xFFFF) != LOCATION_TAG_FOLDER) continue;
    EXPECT_EQ(location_of_choice(e.tag, f.location, DOCS), e.path + "\\");
  }
}

TEST(LocationChoice, ADepthBeyondTheLocationKeepsIt) {
  EXPECT_EQ(location_of_choice(location_folder_tag(9), "C:\\a\\", DOCS), "C:\\a\\");
  EXPECT_EQ(location_of_choice(location_folder_tag(0), "C:\\a\\", DOCS), "C:\\a\\");
}

}  // namespace
