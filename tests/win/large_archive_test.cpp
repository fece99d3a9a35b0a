// Archives past 4 GiB, made by tests/large/run.sh with the real archiver and named in the
// environment: the front end's index walk, size text and marking pass on them. Skipped without them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "archive/index_walk.h"
#include "archive/listing.h"
#include "operations/marking.h"
#include "shell/globals.h"

namespace {

constexpr int64_t FOUR_GIB = int64_t{1} << 32;
const std::string ROOT = "C:\\T\\tempvantor\\";
const std::string LAUNCH = "C:\\T\\launchvantor\\";

class OneFolder : public RowsView {
 public:
  explicit OneFolder(std::vector<std::string> names) : names_(std::move(names)), cells_(names_.size()) {}
  int count() override { return static_cast<int>(names_.size()); }
  int state(int r) override { return r == 0 ? 2 : 1; }
  std::string text(int r, int c) override { return c == 0 ? names_[r] : cells_[r]; }
  void set_text(int r, int c, const std::string& t) override {
    if (c == 1) cells_[r] = t;
  }
  std::string folder() override { return ROOT; }
  std::vector<std::string> names_, cells_;
};

struct LargeArchive {
  std::string path;
  int64_t big_size = 0;
  std::vector<IndexEntry> entries;
};

// The archive named by `variable`, walked; empty path when the run did not make one.
LargeArchive walk_large(const char* variable) {
  LargeArchive a;
  const char* path = std::getenv(variable);
  const char* size = std::getenv("VANTOR_LARGE_SIZE");
  if (!path || !size) return a;
  a.path = path;
  a.big_size = std::strtoll(size, nullptr, 10);
  IndexWalkResult walk = index_walk_file(a.path, [&](const IndexEntry& e) { a.entries.push_back(e); });
  EXPECT_TRUE(walk.sound()) << "walk stopped at " << walk.stop_position;
  return a;
}

uint8_t byte_at(const std::string& path, int64_t offset) {
  auto source = open_file_source(path, false);
  uint8_t b = 0xEE;
  if (source) source->read_at(offset, &b, 1);
  return b;
}

// The listing step's text for the members of the archive's root.
std::vector<std::string> size_texts(const LargeArchive& a) {
  static ShellState s;
  if (s.entries.entry_paths.empty()) allocate_shell_tables(s);
  s.entries.entry_count = 0;
  std::vector<std::string> names{".."};
  for (const IndexEntry& e : a.entries) {
    EXPECT_TRUE(entry_append(s.entries, ROOT + e.folder + e.name, e.size));
    names.push_back(e.name);
  }
  OneFolder rows(names);
  listing_step_rows(rows, s.entries);
  return rows.cells_;
}

// Marks one member through the marking pass and checks every mark byte on disk.
void mark_and_check(const LargeArchive& a, size_t chosen) {
  auto archive = open_file_source(a.path, true);
  ASSERT_TRUE(archive);
  MarkingResult m = mark_entries(*archive, index_start(a.path), {ROOT + a.entries[chosen].name}, ROOT, LAUNCH);
  archive.reset();
  EXPECT_TRUE(m.written);
  EXPECT_EQ(m.marked, 1);
  EXPECT_EQ(m.launch_target, LAUNCH + a.entries[chosen].name);
  for (size_t i = 0; i < a.entries.size(); ++i) {
    const IndexEntry& e = a.entries[i];
    EXPECT_EQ(byte_at(a.path, e.mark_offset), i == chosen ? 1 : 0) << e.name << " at " << e.position;
  }
}

std::string kb(int64_t bytes) { return std::to_string(bytes / 1024 + 1) + " KB"; }

}  // namespace

TEST(LargeArchive, StoredSelfExtractingIndexLiesPastFourGiB) {
  LargeArchive a = walk_large("VANTOR_LARGE_SFX");
  if (a.path.empty()) GTEST_SKIP() << "made only by tests/large/run.sh";
  ASSERT_EQ(a.entries.size(), 3u);
  EXPECT_EQ(a.entries[0].position, INDEX_STUB_SIZE);
  EXPECT_EQ(a.entries[0].size, a.big_size);
  EXPECT_GT(a.entries[1].position, FOUR_GIB + INDEX_STUB_SIZE);
  EXPECT_GT(a.entries[2].position, a.entries[1].position);
  std::vector<std::string> texts = size_texts(a);
  EXPECT_EQ(texts[1], kb(a.big_size));
  EXPECT_EQ(texts[2], kb(a.entries[1].size));
  mark_and_check(a, 1);
}

// A self-extracting archive is written with deflate: its member past 4 GiB is one deflate stream.
TEST(LargeArchive, DeflatedMemberLargerThanFourGiB) {
  LargeArchive a = walk_large("VANTOR_LARGE_DEFLATED");
  if (a.path.empty()) GTEST_SKIP() << "made only by tests/large/run.sh";
  ASSERT_EQ(a.entries.size(), 3u);
  EXPECT_EQ(a.entries[0].position, INDEX_STUB_SIZE);
  EXPECT_EQ(a.entries[0].size, a.big_size);
  EXPECT_EQ(size_texts(a)[1], kb(a.big_size));
  mark_and_check(a, 0);
}

TEST(LargeArchive, ZstdMemberLargerThanFourGiB) {
  LargeArchive a = walk_large("VANTOR_LARGE_VNR");
  if (a.path.empty()) GTEST_SKIP() << "made only by tests/large/run.sh";
  ASSERT_EQ(a.entries.size(), 3u);
  EXPECT_EQ(a.entries[0].position, 0);
  EXPECT_EQ(a.entries[0].size, a.big_size);
  EXPECT_EQ(size_texts(a)[1], kb(a.big_size));
  mark_and_check(a, 0);
}
