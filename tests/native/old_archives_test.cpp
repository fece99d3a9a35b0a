// Archives written by earlier versions of the archiver (tests/data/old_archives) must extract
// byte for byte forever. Each manifest line is "path size fnv1a-64" of one expected file.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "engine.h"
#include "tool_test_support.h"

namespace {

const std::string DATA = std::string(VANTOR_SOURCE_DIR) + "/tests/data/old_archives/";

uint64_t fnv1a(const std::string& bytes) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char c : bytes) h = (h ^ c) * 0x100000001b3ull;
  return h;
}

struct Expected {
  std::string path;
  size_t size;
  uint64_t hash;
};

std::vector<Expected> manifest(const std::string& name) {
  std::istringstream in(read_file(DATA + name));
  std::vector<Expected> out;
  Expected e;
  std::string hex;
  while (in >> e.path >> e.size >> hex) {
    e.hash = std::stoull(hex, nullptr, 16);
    out.push_back(e);
  }
  return out;
}

struct Case {
  const char* archive;
  const char* manifest;
};

class OldArchive : public ::testing::TestWithParam<Case> {};

TEST_P(OldArchive, ExtractsByteForByteAndTests) {
  const Case c = GetParam();
  std::vector<Expected> expected = manifest(c.manifest);
  ASSERT_FALSE(expected.empty());
  ScratchFolder out;
  ReadJob job;
  job.archive_path = DATA + c.archive;
  job.destination = out.path;
  job.threads = 2;
  RunResult r = read_archive(job);
  ASSERT_TRUE(r.ok) << (r.problems.empty() ? "" : r.problems[0]);
  EXPECT_EQ(r.members, static_cast<int64_t>(expected.size()));
  for (const Expected& e : expected) {
    std::string bytes = read_file(out / e.path);
    EXPECT_EQ(bytes.size(), e.size) << e.path;
    EXPECT_EQ(fnv1a(bytes), e.hash) << e.path;
  }

  std::set<std::string> listed;
  job.mode = ReadMode::LIST;
  job.on_entry = [&](const EntryHeader& h) { listed.insert(h.path()); };
  ASSERT_TRUE(read_archive(job).ok);
  std::set<std::string> wanted;
  for (const Expected& e : expected) wanted.insert(e.path);
  EXPECT_EQ(listed, wanted);

  ToolRun test = run_tool(std::string("t '") + DATA + c.archive + "'");
  EXPECT_EQ(test.exit_code, 0) << test.err;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, OldArchive,
                         ::testing::Values(Case{"plain.vnr", "tree.manifest"}, Case{"solid.vnr", "tree.manifest"},
                                           Case{"store.vnr", "small.manifest"}, Case{"sfx.exe", "small.manifest"}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string name = info.param.archive;
                           return name.substr(0, name.find('.'));
                         });

// Adding to an old archive copies its deflate members (a solid stream whole) beside new zstd ones.
TEST(OldArchiveAdd, KeepsDeflateMembersBesideNewZstdOnes) {
  for (const char* name : {"plain.vnr", "solid.vnr"}) {
    ScratchFolder dir;
    write_file(dir / "x.vnr", read_file(DATA + name));
    write_file(dir / "added.txt", sample_text(5000, 7));
    ASSERT_EQ(run_tool("a '" + (dir / "x.vnr") + "' '" + (dir / "added.txt") + "'").exit_code, 0) << name;
    ToolRun list = run_tool("l '" + (dir / "x.vnr") + "'");
    EXPECT_NE(list.out.find(" deflate "), std::string::npos) << name << list.out;
    EXPECT_NE(list.out.find(" zstd "), std::string::npos) << name << list.out;
    ToolRun x = run_tool("x '" + (dir / "x.vnr") + "' '" + (dir / "out") + "'");
    ASSERT_EQ(x.exit_code, 0) << name << x.err;
    for (const Expected& e : manifest("tree.manifest")) EXPECT_EQ(fnv1a(read_file(dir / ("out/" + e.path))), e.hash) << e.path;
    EXPECT_EQ(read_file(dir / "out/added.txt"), sample_text(5000, 7)) << name;
  }
}

}  // namespace
