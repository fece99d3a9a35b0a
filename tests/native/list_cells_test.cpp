#include "explorer/list_cells.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(SizeCell, RoundsUpBelowOneGibibyteAndDownFromIt) {
  EXPECT_EQ(size_cell(0), "0 KB");
  EXPECT_EQ(size_cell(1), "1 KB");
  EXPECT_EQ(size_cell(1024), "1 KB");
  EXPECT_EQ(size_cell(1025), "2 KB");
  EXPECT_EQ(size_cell(0x3FFFFFFF), "1048576 KB");
  EXPECT_EQ(size_cell(0x40000000), "1048576 KB");
  EXPECT_EQ(size_cell(0x40000001), "1048576 KB");
  EXPECT_EQ(size_cell(0xFFFFFFFF), "4194303 KB");
  EXPECT_EQ(size_cell(0x100000000ull), "4194304 KB");
  EXPECT_EQ(size_cell(0x100000000ull + 1023), "4194304 KB");
  EXPECT_EQ(size_cell(UINT64_MAX), "18014398509481983 KB");
}

TEST(AttributeLetters, InFixedOrderOnlyForSetBits) {
  EXPECT_EQ(attribute_letters(0x1 | 0x2 | 0x20), "RHA");
  EXPECT_EQ(attribute_letters(0x10), "D");
  EXPECT_EQ(attribute_letters(0), "");
  EXPECT_EQ(attribute_letters(0x4000 | 0x1000 | 0x800 | 0x100 | 0x80), "NTCOE");
  EXPECT_EQ(attribute_letters(0xFFFFFFFF), "RHSDANTCOE");
  EXPECT_EQ(attribute_letters(0x8 | 0x40 | 0x200 | 0x400), "");  // bits without a letter
}

TEST(ColumnKinds, IdentifiersMakeKindsOtherTitlesAreCustom) {
  EXPECT_EQ(column_kind_of_title("#size"), COLUMN_SIZE);
  EXPECT_EQ(column_kind_of_title("#accessed"), COLUMN_ACCESSED);
  EXPECT_EQ(column_kind_of_title("Size"), COLUMN_CUSTOM);
  EXPECT_EQ(column_kind_of_title("#SIZE"), COLUMN_CUSTOM);
  for (int kind = COLUMN_NAME; kind <= COLUMN_ACCESSED; ++kind)
    EXPECT_EQ(column_kind_of_title(column_kind_id(kind)), kind);
  EXPECT_STREQ(column_fallback_title(COLUMN_MODIFIED), "Modified");
}

struct Location {
  std::string path;
  std::string pattern;
};

Location navigate(Location from, const std::string& text) {
  split_location(text, &from.path, &from.pattern);
  return from;
}

TEST(SplitLocation, PathAndPatternFromTheText) {
  Location start{"C:\\old\\", "*.*"};
  Location both = navigate(start, "C:\\Temp\\*.txt;*.log");
  EXPECT_EQ(both.path, "C:\\Temp\\");
  EXPECT_EQ(both.pattern, "*.txt;*.log");
  Location kept = navigate(both, "D:\\");
  EXPECT_EQ(kept.path, "D:\\");
  EXPECT_EQ(kept.pattern, "*.txt;*.log");
  Location pattern_only = navigate(start, "*.vnr");
  EXPECT_EQ(pattern_only.path, "C:\\old\\");
  EXPECT_EQ(pattern_only.pattern, "*.vnr");
  Location drives = navigate(start, "");
  EXPECT_EQ(drives.path, "");
  EXPECT_EQ(drives.pattern, "*.*");
  EXPECT_EQ(navigate(start, "\\*.txt").pattern, "*.txt");  // lone leading "\" dropped
  EXPECT_EQ(navigate(start, "\\*.txt").path, "C:\\old\\");
  EXPECT_EQ(navigate(start, "\\").path, "");
}

TEST(SplitLocation, UpperCasesTheDriveLetterOnly) {
  Location start{"", "*.*"};
  EXPECT_EQ(navigate(start, "c:\\").path, "C:\\");
  EXPECT_EQ(navigate(start, "z:\\a\\b\\").path, "Z:\\a\\b\\");
  EXPECT_EQ(navigate(start, "~dir\\x\\").path, "~dir\\x\\");
  EXPECT_EQ(navigate(start, "\\\\server\\share\\").path, "\\\\server\\share\\");
}

TEST(SplitLocation, RefusesTextsLongerThanTheLimit) {
  std::string path = "C:\\" + std::string(300, 'a') + "\\";
  std::string p = "C:\\keep\\", pattern = "*.*";
  EXPECT_FALSE(split_location(path, &p, &pattern));
  EXPECT_EQ(p, "C:\\keep\\");
  std::string fits = "C:\\" + std::string(LIST_TEXT_LIMIT - 5, 'a') + "\\";
  ASSERT_EQ(fits.size(), LIST_TEXT_LIMIT - 1);
  EXPECT_TRUE(split_location(fits, &p, &pattern));
  EXPECT_EQ(p, fits);
}

// 100 Japanese letters (300 bytes) are a valid path: the limit counts the system's characters.
TEST(SplitLocation, LimitCountsCharactersNotBytes) {
  std::string name, p, pattern;
  for (int i = 0; i < 100; ++i) name += "\xE8\xAA\x9E";
  EXPECT_TRUE(split_location("C:\\" + name + "\\", &p, &pattern));
  EXPECT_EQ(p, "C:\\" + name + "\\");
  EXPECT_FALSE(split_location("C:\\" + name + std::string(156, 'a') + "\\", &p, &pattern));  // 260 characters
}

TEST(PatternParts, SplitAtSemicolonsInOrder) {
  EXPECT_EQ(pattern_parts("*.txt;*.log"), (std::vector<std::string>{"*.txt", "*.log"}));
  EXPECT_EQ(pattern_parts("*.*"), (std::vector<std::string>{"*.*"}));
  EXPECT_EQ(pattern_parts(";a;;b;"), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(pattern_parts("").empty());
}

TEST(ParentPath, CutsTheLastFolder) {
  EXPECT_EQ(parent_of_path("C:\\a\\b\\"), "C:\\a\\");
  EXPECT_EQ(parent_of_path("C:\\a\\"), "C:\\");
  EXPECT_EQ(parent_of_path("C:\\"), "");
  EXPECT_EQ(parent_of_path(""), "");
}

TEST(ParentEntryKind, DriveRootsAndMyDocumentsLeadToTheDrives) {
  const std::string docs = "C:\\users\\me\\Documents\\";
  EXPECT_EQ(parent_entry_kind("C:\\", docs, true, 0), ENTRY_PARENT_TO_DRIVES);
  EXPECT_EQ(parent_entry_kind("C:\\a\\", docs, true, 0), ENTRY_PARENT);
  EXPECT_EQ(parent_entry_kind(docs, docs, true, 0), ENTRY_PARENT_TO_DRIVES);
  EXPECT_EQ(parent_entry_kind(docs + "sub\\", docs, true, 0), ENTRY_PARENT);
  EXPECT_EQ(parent_entry_kind(docs, docs, false, 0), ENTRY_PARENT);
  EXPECT_EQ(parent_entry_kind(docs, docs, true, LIST_NO_MY_DOCUMENTS), ENTRY_PARENT);
  EXPECT_EQ(parent_entry_kind("C:\\users\\me\\", docs, true, 0), ENTRY_PARENT);
}

TEST(SizeSortValue, NumberAtTheStartShortCellsLargest) {
  EXPECT_EQ(size_sort_value("12 KB"), 12u);
  EXPECT_EQ(size_sort_value("  7 KB"), 7u);
  EXPECT_EQ(size_sort_value("+3 KB"), 3u);
  EXPECT_EQ(size_sort_value("-1 KB"), UINT64_MAX);
  EXPECT_EQ(size_sort_value(""), UINT64_MAX);
  EXPECT_EQ(size_sort_value("5"), UINT64_MAX);
  EXPECT_EQ(size_sort_value("KB"), 0u);
  EXPECT_EQ(size_sort_value("99999999999999999999999 KB"), UINT64_MAX);
}

// Names of the records in sorted order.
std::string order_of(const std::vector<SortRecord>& records, int column, int direction,
                     bool drive_level = false) {
  std::string out;
  for (int i : sorted_order(records, column, direction, drive_level)) {
    if (!out.empty()) out += ",";
    out += records[static_cast<size_t>(i)].text;
  }
  return out;
}

std::vector<SortRecord> folder_view() {
  return {{ENTRY_FILE, "b.txt", 0},        {ENTRY_FOLDER, "Zeta", 0},  {ENTRY_PARENT, "..", 0},
          {ENTRY_FILE, "A.log", 0},        {ENTRY_FOLDER, "alpha", 0}, {ENTRY_FILE, "c.TXT", 0}};
}

TEST(SortByName, ParentFirstFoldersThenFilesCaseBlind) {
  EXPECT_EQ(order_of(folder_view(), COLUMN_NAME, 1), "..,alpha,Zeta,A.log,b.txt,c.TXT");
  EXPECT_EQ(order_of(folder_view(), COLUMN_NAME, -1), "..,c.TXT,b.txt,A.log,Zeta,alpha");
  EXPECT_EQ(order_of(folder_view(), COLUMN_TYPE, -1), "..,c.TXT,b.txt,A.log,Zeta,alpha");
}

TEST(SortByName, DriveLevelByKind) {
  std::vector<SortRecord> drives = {{ENTRY_MY_DOCUMENTS, "Documents", 0},
                                    {3, "Data (D:)", 0},
                                    {2, "System (C:)", 0}};
  EXPECT_EQ(order_of(drives, COLUMN_NAME, 1, true), "System (C:),Data (D:),Documents");
  EXPECT_EQ(order_of(drives, COLUMN_NAME, -1, true), "Documents,Data (D:),System (C:)");
  // Other text columns compare drives and My Documents by their text.
  EXPECT_EQ(order_of(drives, COLUMN_CUSTOM, 1, true), "Data (D:),Documents,System (C:)");
}

TEST(SortBySize, FoldersAfterFilesAscendingBeforeDescending) {
  std::vector<SortRecord> r = {{ENTRY_FOLDER, "dir", size_sort_value("")},
                               {ENTRY_FILE, "big", size_sort_value("900 KB")},
                               {ENTRY_PARENT_TO_DRIVES, "..", size_sort_value("")},
                               {ENTRY_FILE, "small", size_sort_value("2 KB")},
                               {ENTRY_FILE, "same", size_sort_value("2 KB")}};
  EXPECT_EQ(order_of(r, COLUMN_SIZE, 1), "..,small,same,big,dir");
  EXPECT_EQ(order_of(r, COLUMN_SIZE, -1), "..,dir,big,small,same");
}

TEST(SortByTime, GroupsThenTimesDrivesEqual) {
  std::vector<SortRecord> r = {{ENTRY_FILE, "new", 300},   {ENTRY_FOLDER, "dnew", 200},
                               {ENTRY_FILE, "old", 100},   {ENTRY_PARENT, "..", 0},
                               {ENTRY_FOLDER, "dold", 50}};
  EXPECT_EQ(order_of(r, COLUMN_MODIFIED, 1), "..,dold,dnew,old,new");
  EXPECT_EQ(order_of(r, COLUMN_CREATED, -1), "..,new,old,dnew,dold");
  SortRecord drive{2, "C:", 0};
  EXPECT_EQ(compare_sort_records(drive, r[0], COLUMN_ACCESSED, 1, false), 0);
  EXPECT_EQ(compare_sort_records(r[0], drive, COLUMN_ACCESSED, -1, false), 0);
}

}  // namespace

namespace {

TEST(FileTypeKey, UpperCasedShortExtensionsOnly) {
  std::string key;
  ASSERT_TRUE(file_type_key("C:\\a\\notes.txt", &key));
  EXPECT_EQ(key, "TXT");
  ASSERT_TRUE(file_type_key("C:\\a\\page.html", &key));
  EXPECT_EQ(key, "HTML");
  ASSERT_TRUE(file_type_key("C:\\a\\README", &key));
  EXPECT_EQ(key, "");
  EXPECT_FALSE(file_type_key("C:\\a\\data.json5", &key));  // five characters: asked per file
  for (const char* own_icon : {"x.exe", "x.EXE", "x.Ico", "x.lnk", "x.icl"})
    EXPECT_FALSE(file_type_key(own_icon, &key)) << own_icon;
  EXPECT_TRUE(file_type_key("x.exe.txt", &key));
}

TEST(FileTypeCache, FindsWhatWasAddedEmptyNamesShareOffsetZero) {
  FileTypeCache cache;
  EXPECT_EQ(cache.find("TXT"), nullptr);
  cache.add("TXT", "Text Document", 7);
  cache.add("", "", 3);
  for (int i = 0; i < 250; ++i) cache.add("K" + std::to_string(i), "Type " + std::to_string(i), i);
  const FileTypeRecord* txt = cache.find("TXT");
  ASSERT_NE(txt, nullptr);
  EXPECT_STREQ(cache.type_name(*txt), "Text Document");
  EXPECT_EQ(txt->icon, 7);
  const FileTypeRecord* none = cache.find("");
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none->name_offset, 0u);
  EXPECT_STREQ(cache.type_name(*none), "");
  ASSERT_NE(cache.find("K249"), nullptr);
  EXPECT_STREQ(cache.type_name(*cache.find("K249")), "Type 249");
  EXPECT_EQ(cache.find("TX"), nullptr);  // keys compare in full
}

}  // namespace
