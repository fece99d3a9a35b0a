// The size listing of an open archive, its row keys, and the selection scan over a fake file list.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "archive/folder_scan.h"
#include "archive/listing.h"
#include "archive/row_key.h"
#include "shell/selection.h"

namespace {

struct Row {
  std::string name;
  int state;
  std::string size;
};

class FakeRows : public RowsView {
 public:
  FakeRows(std::string folder, std::vector<Row> rows) : folder_(std::move(folder)), rows_(std::move(rows)) {}
  int count() override { return static_cast<int>(rows_.size()); }
  int state(int r) override { return rows_[r].state; }
  std::string text(int r, int c) override { return c == 0 ? rows_[r].name : rows_[r].size; }
  void set_text(int r, int c, const std::string& t) override {
    if (c == 1) rows_[r].size = t;
  }
  std::string folder() override { return folder_; }
  const std::string& size(int r) const { return rows_[r].size; }

 private:
  std::string folder_;
  std::vector<Row> rows_;
};

const std::string ROOT = "C:\\T\\tempvantor\\";

ShellState& fresh_state() {
  static ShellState s;
  static bool allocated = false;
  if (!allocated) {
    allocate_shell_tables(s);
    allocated = true;
  }
  s.entries.entry_count = 0;
  s.selection.selection_count = 0;
  s.select_all_active = 0;
  return s;
}

void add_entry(ShellState& s, const std::string& path, int64_t size) {
  ASSERT_TRUE(entry_append(s.entries, path, size));
}

}  // namespace

TEST(RowKey, MatchesIndependentlyComputedValues) {
  EXPECT_EQ(sha1_hex(std::string("C:\\Temp\\tempvantor\\b.txt") + '\0'), "f083586680a22f44efed240245a1ae7c6c5fc5a7");
  EXPECT_EQ(row_key("C:\\Temp\\tempvantor\\docs\\a.txt"), 3183877);
  EXPECT_EQ(row_key("C:\\Temp\\tempvantor\\b.txt"), 2175025);
  EXPECT_EQ(row_key(""), 4196065);
  EXPECT_EQ(row_key(std::string(100, 'x')), 5359479);  // the padding spills into a second block
}

TEST(ListingStep, ShowsQuotientPlusOneKilobytes) {
  ShellState& s = fresh_state();
  std::vector<std::pair<std::string, int64_t>> sizes = {
      {"zero", 0}, {"small", 1023}, {"one", 1024}, {"five", 5000}, {"negative", -2048}};
  std::vector<Row> rows = {{"..", 2, "x"}, {"docs", 2, "y"}};
  for (auto& [name, size] : sizes) {
    add_entry(s, ROOT + name, size);
    rows.push_back({name, 1, "0 KB"});
  }
  FakeRows view(ROOT, rows);
  listing_step_rows(view, s.entries);
  EXPECT_EQ(view.size(0), "");
  EXPECT_EQ(view.size(1), "");
  EXPECT_EQ(view.size(2), "1 KB");
  EXPECT_EQ(view.size(3), "1 KB");
  EXPECT_EQ(view.size(4), "2 KB");
  EXPECT_EQ(view.size(5), "5 KB");
  EXPECT_EQ(view.size(6), "-1 KB");
}

TEST(ListingStep, SelectedRowsStayEmptyAndUnknownRowsShowOneKilobyte) {
  ShellState& s = fresh_state();
  add_entry(s, ROOT + "a.txt", 9000);
  add_entry(s, ROOT + "b.txt", 9000);
  // First listing with a.txt unselected leaves its row number in the table.
  FakeRows first(ROOT, {{"..", 2, ""}, {"a.txt", 1, ""}, {"b.txt", 1, ""}});
  listing_step_rows(first, s.entries);
  EXPECT_EQ(first.size(1), "9 KB");
  FakeRows again(ROOT, {{"..", 2, ""}, {"a.txt", 5, ""}, {"b.txt", 1, ""}, {"stray", 1, ""}});
  listing_step_rows(again, s.entries);
  EXPECT_EQ(again.size(1), "");
  EXPECT_EQ(again.size(2), "9 KB");
  EXPECT_EQ(again.size(3), "1 KB");
}

TEST(ListingStep, LaterEntryWinsAndStaleSlotsNeverGiveAWrongSize) {
  ShellState& s = fresh_state();
  add_entry(s, ROOT + "dup", 1024 * 10);
  add_entry(s, ROOT + "dup", 1024 * 20);
  FakeRows view(ROOT, {{"..", 2, ""}, {"dup", 1, ""}});
  listing_step_rows(view, s.entries);
  EXPECT_EQ(view.size(1), "21 KB");

  // A second archive: same names in another folder; slots left by the first must not leak.
  ShellState& t = fresh_state();
  add_entry(t, ROOT + "sub\\dup", 3000);
  FakeRows other(ROOT + "sub\\", {{"..", 2, ""}, {"x", 1, ""}, {"dup", 1, ""}});
  listing_step_rows(other, t.entries);
  EXPECT_EQ(other.size(1), "1 KB");
  EXPECT_EQ(other.size(2), "3 KB");
}

TEST(ListingStep, RowsBeyondTheSixteenBitTableAreResolvedByTheFallback) {
  ShellState& s = fresh_state();
  std::vector<Row> rows = {{"..", 2, ""}};
  for (int i = 1; i <= 33000; ++i) rows.push_back({"f" + std::to_string(i), 1, ""});
  for (int i = 1; i <= 33000; ++i) add_entry(s, ROOT + "f" + std::to_string(i), int64_t(i) * 1024);
  FakeRows view(ROOT, rows);
  listing_step_rows(view, s.entries);
  EXPECT_EQ(view.size(1), "2 KB");
  EXPECT_EQ(view.size(32767), "32768 KB");
  EXPECT_EQ(view.size(32768), "32769 KB");
  EXPECT_EQ(view.size(33000), "33001 KB");
}

namespace {

// A small in-memory folder tree for the scans.
std::map<std::string, std::vector<FolderEntry>> tree = {
    {"C:\\d\\", {{".", true}, {"..", true}, {"docs", true}, {"b.txt", false}}},
    {"C:\\d\\docs\\", {{".", true}, {"..", true}, {"a.txt", false}, {"sub", true}, {"z.txt", false}}},
    {"C:\\d\\docs\\sub\\", {{"c.txt", false}}},
    {"C:\\d\\empty\\", {{".", true}, {"..", true}, {"inner", true}}},
    {"C:\\d\\empty\\inner\\", {}},
    {"C:\\p\\",
     {{"readme", false}, {"archive.tar.gz", false}, {"Notes.TXT", false}, {"notes.txt", false}, {"file.", false}}},
};

bool fake_enumerate(const std::string& folder, const std::string&, const FolderVisitor& visit) {
  auto it = tree.find(folder);
  if (it == tree.end()) return false;
  for (const FolderEntry& e : it->second) visit(e);
  return true;
}

std::vector<std::string> selection(const ShellState& s) {
  const SelectionTable& t = s.selection;
  return std::vector<std::string>(t.selection_list.begin() + 1, t.selection_list.begin() + 1 + t.selection_count);
}

}  // namespace

TEST(FolderScan, CollectsFilesDepthFirstInFolderOrder) {
  ShellState& s = fresh_state();
  EXPECT_TRUE(folder_scan("C:\\d\\docs", "*", "*", 0, s.selection, fake_enumerate));
  EXPECT_EQ(selection(s), (std::vector<std::string>{"C:\\d\\docs\\a.txt", "C:\\d\\docs\\sub\\c.txt",
                                                     "C:\\d\\docs\\z.txt"}));
  s.selection.selection_count = 0;
  folder_scan("C:\\d\\empty\\", "*", "*", 0, s.selection, fake_enumerate);
  folder_scan("C:\\d\\gone\\", "*", "*", 0, s.selection, fake_enumerate);
  EXPECT_EQ(s.selection.selection_count, 0);
}

TEST(FolderScan, PatternsCompareLowerCasedNameAndExtension) {
  ShellState& s = fresh_state();
  folder_scan("C:\\p\\", "readme", "", 0, s.selection, fake_enumerate);
  folder_scan("C:\\p\\", "archive.tar", "gz", 0, s.selection, fake_enumerate);
  folder_scan("C:\\p\\", "notes", "txt", 0, s.selection, fake_enumerate);
  folder_scan("C:\\p\\", "Notes", "*", 0, s.selection, fake_enumerate);  // capitals never match
  folder_scan("C:\\p\\", "file", "*", 0, s.selection, fake_enumerate);   // "file." is named "file." whole
  folder_scan("C:\\p\\", "file.", "", 0, s.selection, fake_enumerate);
  EXPECT_EQ(selection(s), (std::vector<std::string>{"C:\\p\\readme", "C:\\p\\archive.tar.gz", "C:\\p\\Notes.TXT",
                                                     "C:\\p\\notes.txt", "C:\\p\\file."}));
}

TEST(SelectionScan, KeepsListOrderAndExpandsFoldersInPlace) {
  ShellState& s = fresh_state();
  FakeRows rows("C:\\d\\", {{"..", 6, ""}, {"b.txt", 5, ""}, {"docs", 6, ""}, {"other.txt", 1, ""}});
  EXPECT_TRUE(scan_selection(rows, s, fake_enumerate));
  EXPECT_EQ(selection(s), (std::vector<std::string>{"C:\\d\\b.txt", "C:\\d\\docs\\a.txt", "C:\\d\\docs\\sub\\c.txt",
                                                     "C:\\d\\docs\\z.txt"}));
  // With "Select all" every entry counts, and ".." is still never followed.
  s.select_all_active = 1;
  FakeRows all("C:\\d\\", {{"..", 2, ""}, {"..", 2, ""}, {"other.txt", 1, ""}, {"empty", 2, ""}});
  scan_selection(all, s, fake_enumerate);
  EXPECT_EQ(selection(s), (std::vector<std::string>{"C:\\d\\other.txt"}));
}

TEST(SelectionScan, StopsAtTheTableCapacity) {
  ShellState& s = fresh_state();
  s.selection.selection_count = TABLE_CAPACITY - 1;
  EXPECT_TRUE(selection_append(s.selection, "last"));
  EXPECT_FALSE(selection_append(s.selection, "one too many"));
  EXPECT_EQ(s.selection.selection_count, TABLE_CAPACITY);
  EXPECT_EQ(s.selection.selection_list[TABLE_CAPACITY], "last");
}
