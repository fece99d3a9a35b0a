// Opening an archive on a real folder: the mirror tree on disk, its times, the entry table and
// what the report says, as the front end shows them.
#include "archive/open_archive.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "runtime/folders.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put_le(Bytes& out, int64_t value, int width) {
  for (int i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i)));
}

constexpr int64_t NO_TIME = -1;

// One index entry; with a time it carries the archiver's own fields, the last-write time among them.
Bytes entry(const std::string& folder, const std::string& name, int64_t mtime_ns = NO_TIME) {
  Bytes body;
  body.push_back(mtime_ns == NO_TIME ? 0x5A : ENTRY_SIGNATURE);
  body.push_back(0xA5);
  put_le(body, static_cast<int64_t>(name.size()), 2);
  body.insert(body.end(), name.begin(), name.end());
  put_le(body, static_cast<int64_t>(folder.size()), 2);
  body.insert(body.end(), folder.begin(), folder.end());
  put_le(body, 2048, 8);  // size
  body.push_back(0);      // mark
  if (mtime_ns != NO_TIME) {
    Bytes own(OWN_FIELDS_SIZE, 0);
    for (int i = 0; i < 8; ++i)
      own[OWN_MTIME_OFFSET + i] = static_cast<uint8_t>(static_cast<uint64_t>(mtime_ns) >> (8 * i));
    body.insert(body.end(), own.begin(), own.end());
  }
  Bytes out;
  put_le(out, static_cast<int64_t>(body.size()) + 8, 8);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

class OpenArchive : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vantor_open_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    base_ = std::string(pattern) + "/";
    root_ = base_ + "tempvantor\\";  // as the program names it; the disk has "/"
    disk_ = base_ + "tempvantor/";
    static EntryTable shared;
    if (shared.entry_paths.empty()) allocate_entry_table(shared);
    table_ = &shared;
    table_->entry_count = 0;
  }
  void TearDown() override { delete_folder_tree(base_); }

  std::string write_archive(std::initializer_list<Bytes> entries) {
    Bytes bytes;
    for (const Bytes& e : entries) bytes.insert(bytes.end(), e.begin(), e.end());
    std::string path = base_ + "a.vnr";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  std::string base_, root_, disk_;
  EntryTable* table_ = nullptr;
};

struct stat stat_of(const std::string& path) {
  struct stat st = {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st;
}

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

int64_t mtime_ns(const std::string& path) {
  struct stat st = stat_of(path);
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

constexpr int64_t T1 = 1600000000123456700, T2 = 1700000000000000100, T3 = 1650000000000000000;

TEST_F(OpenArchive, BuildsTheTreeOnDiskAndListsEveryEntry) {
  std::string path = write_archive({entry("", "a.txt", T1), entry("docs\\", "b.txt", T2),
                                    entry("docs\\sub\\", "c.txt", T3), entry("empty\\", ""),
                                    entry("..\\", "escape.txt"), entry("DOCS\\", "B.TXT", T1)});
  ArchiveSession s = open_archive(path, root_, *table_);
  ASSERT_TRUE(s.opened);
  EXPECT_FALSE(s.cancelled);
  EXPECT_EQ(s.entries, 6);  // members without a mirror file are listed all the same
  EXPECT_EQ(table_->entry_paths[2], root_ + "docs\\b.txt");
  EXPECT_EQ(table_->entry_sizes[2], 2048);

  EXPECT_TRUE(S_ISREG(stat_of(disk_ + "docs/sub/c.txt").st_mode));
  EXPECT_EQ(stat_of(disk_ + "a.txt").st_size, 0);
  EXPECT_TRUE(S_ISDIR(stat_of(disk_ + "empty").st_mode));
  EXPECT_FALSE(exists(base_ + "escape.txt"));
  EXPECT_FALSE(exists(disk_ + "DOCS"));
  EXPECT_EQ(s.report.unsafe_names, 1);
  EXPECT_EQ(s.report.clashes, 1);
  EXPECT_FALSE(mirror_report_text(path, s.report).empty());

  ASSERT_EQ(table_->created_folder_count, 4);  // the root, made by its first member, is one
  EXPECT_EQ(table_->created_folders[2], "docs\\");
  EXPECT_EQ(table_->created_folders[4], "empty\\");

  // Members keep their times; a folder takes the newest time below it, set after its files.
  EXPECT_EQ(mtime_ns(disk_ + "a.txt"), T1);
  EXPECT_EQ(mtime_ns(disk_ + "docs/sub/c.txt"), T3);
  EXPECT_EQ(mtime_ns(disk_ + "docs/sub"), T3);
  EXPECT_EQ(mtime_ns(disk_ + "docs"), T2);
}

TEST_F(OpenArchive, AStoppedOpeningKeepsWhatWasBuiltAndStillFindsTheDamage) {
  Bytes broken = entry("", "c.txt");
  broken[0] = 0xFF;  // a length past the end of the file
  std::string path = write_archive({entry("", "a.txt"), entry("", "b.txt"), broken});
  std::vector<int64_t> positions;
  int64_t seen_size = 0;
  ArchiveSession s = open_archive(path, root_, *table_, [&](int64_t position, int64_t size, int members) {
    positions.push_back(position);
    seen_size = size;
    return members < 1;
  });
  EXPECT_TRUE(s.cancelled);
  EXPECT_EQ(s.entries, 1);
  EXPECT_TRUE(exists(disk_ + "a.txt"));
  EXPECT_FALSE(exists(disk_ + "b.txt"));
  EXPECT_EQ(positions.size(), 2u);  // asked before each entry until it said stop
  EXPECT_EQ(seen_size, stat_of(path).st_size);
  EXPECT_EQ(s.report.damage_position, static_cast<int64_t>(2 * entry("", "a.txt").size()));
}

// The index is read in blocks of 256 KB: entries across a block's end, and a broken last entry
// past several blocks, are found as they were when each entry was read alone.
TEST_F(OpenArchive, AnIndexOfManyBlocksIsReadWhole) {
  Bytes bytes;
  std::string long_name(200, 'n');
  int count = 0;
  while (bytes.size() < 700 * 1024) {
    // The newest time below f0 comes in the middle of the index.
    Bytes e = entry("f" + std::to_string(count % 3) + "\\", long_name + std::to_string(count),
                    T1 + (count == 30 ? 1000000 : count));
    bytes.insert(bytes.end(), e.begin(), e.end());
    ++count;
  }
  int64_t damage = static_cast<int64_t>(bytes.size());
  Bytes broken = entry("", "last");
  broken[0] = 0xFF;
  bytes.insert(bytes.end(), broken.begin(), broken.end());
  std::string path = base_ + "many.vnr";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
  ArchiveSession s = open_archive(path, root_, *table_);
  EXPECT_EQ(s.entries, count + 1);  // the broken one is listed, and named as the damage
  EXPECT_EQ(s.report.damage_position, damage);
  EXPECT_EQ(table_->entry_paths[count], root_ + "f" + std::to_string((count - 1) % 3) + "\\" + long_name +
                                            std::to_string(count - 1));
  EXPECT_EQ(mtime_ns(disk_ + "f1/" + long_name + "1"), T1 + 1);
  // A folder's time is the newest of all its members, which came in many runs.
  EXPECT_EQ(mtime_ns(disk_ + "f0"), T1 + 1000000);
  EXPECT_EQ(table_->created_folder_count, 3);
}

TEST_F(OpenArchive, WhatCannotBeReadIsNamedAndLeavesTheTable) {
  table_->entry_count = 2;
  ArchiveSession missing = open_archive(base_ + "missing.vnr", root_, *table_);
  EXPECT_FALSE(missing.opened);
  EXPECT_EQ(missing.problem, "it does not exist");
  ArchiveSession folder = open_archive(base_, root_, *table_);
  EXPECT_FALSE(folder.opened);
  EXPECT_EQ(folder.problem, "it is a folder");
  EXPECT_EQ(archive_open_problem(base_), "it is a folder");
  EXPECT_EQ(table_->entry_count, 2);
  EXPECT_FALSE(exists(disk_));
}

// Another program's archive opens from the archiver's listing: hostile paths never reach past
// the mirror root, and each entry keeps the path the archiver knows it by.
TEST_F(OpenArchive, AForeignListingBuildsTheMirrorAndNothingOutsideIt) {
  ForeignListing listing = read_foreign_listing(
      "vantor-listing\t1\tzip\n"
      "d\t0\t0\t0\t10\t-\tdocs/\n"
      "f\t5000\t100\t1600000000123456700\t20\t-\t./docs/a.txt\n"
      "f\t1\t1\t0\t0\t-\t../escape.txt\n"
      "f\t1\t1\t0\t0\t-\t/abs.txt\n"
      "f\t1\t1\t0\t0\t-\tC:/drive.txt\n"
      "l\t0\t0\t0\t0\t-\tdocs/\\x2E\\x2E/link\n"
      "f\t-1\t-1\t0\t0\te\tsecret.bin\n"
      "end\t7\n");
  ASSERT_TRUE(listing.sound) << listing.problem;
  ArchiveSession s = open_foreign_archive(base_ + "a.zip", listing, root_, *table_);
  ASSERT_TRUE(s.opened);
  EXPECT_EQ(s.format, "zip");
  EXPECT_EQ(s.entries, 7);
  EXPECT_EQ(table_->entry_paths[2], root_ + "docs\\a.txt");
  EXPECT_EQ(table_->entry_sizes[2], 5000);
  EXPECT_EQ(table_->entry_members[2], "./docs/a.txt");
  EXPECT_EQ(table_->entry_members[6], "docs/../link");
  EXPECT_EQ(mtime_ns(disk_ + "docs/a.txt"), T1);
  EXPECT_TRUE(exists(disk_ + "secret.bin"));
  EXPECT_EQ(s.report.unsafe_names, 4);
  EXPECT_FALSE(exists(base_ + "escape.txt"));
  EXPECT_FALSE(exists(disk_ + "abs.txt"));
  EXPECT_FALSE(exists(disk_ + "link"));
  EXPECT_FALSE(exists("/abs.txt"));

  // A cut listing opens nothing and leaves the table as it was.
  ArchiveSession cut = open_foreign_archive(base_ + "b.zip", read_foreign_listing("vantor-listing\t1\tzip\n"), root_,
                                            *table_);
  EXPECT_FALSE(cut.opened);
  EXPECT_NE(cut.problem.find("cut short"), std::string::npos);
  EXPECT_EQ(table_->entry_count, 7);
}

}  // namespace
