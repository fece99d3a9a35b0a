// Files with the same bytes stored once: the later ones are copies naming the first. They come
// back byte for byte on every path of reading, survive adding and removing, and a copy that
// names no member before it fails alone.
#include <gtest/gtest.h>

#include <map>

#include "compress_stages.h"
#include "engine.h"
#include "remove.h"
#include "tool_test_support.h"

namespace {

using Contents = std::map<std::string, std::string>;  // stored path -> bytes

const std::string BIG = noise(2500000);  // more than a batch held in memory; cut into pieces

Contents duplicated_contents() {
  std::string one = sample_text(40000, 1);
  return {{"a/one.txt", one}, {"b/one-again.txt", one}, {"c/deep/one.txt", one},
          {"a/other.txt", sample_text(40000, 2)},  // same size, other bytes
          {"big.bin", BIG}, {"z/big-copy.bin", BIG}, {"empty1", ""}, {"empty2", ""}, {"short.txt", "hello"}};
}

enum class Kind { PLAIN_DEFLATE, PLAIN_ZSTD, SOLID_ZSTD, SOLID_LZMA };

struct Archive {
  ScratchFolder dir;
  std::string path = dir / "dup.vantor";

  RunResult add(const Contents& contents, Kind kind) {
    CompressJob job;
    for (const auto& [rel, bytes] : contents) {
      write_file(dir / ("src/" + rel), bytes);
      job.sources.push_back(dir / ("src/" + rel));
    }
    job.archive_path = path;
    job.threads = 2;
    job.solid = kind == Kind::SOLID_ZSTD || kind == Kind::SOLID_LZMA;
    job.deflate = deflate_settings(3, false, 7);
    if (kind == Kind::PLAIN_ZSTD || kind == Kind::SOLID_ZSTD) job.zstd = zstd_settings(3, false, 7, job.solid);
    if (kind == Kind::SOLID_LZMA) job.lzma = lzma_settings(5, true, 0, true);
    return compress_archive(job);
  }

  std::map<std::string, std::string> copies(std::vector<StoredEntry>* all = nullptr) const {  // copy -> its member
    std::vector<StoredEntry> entries;
    std::string problem;
    EXPECT_TRUE(read_index(path, 0, entries, problem)) << problem;
    std::map<std::string, std::string> out;
    for (const StoredEntry& e : entries)
      if (e.header.is_copy()) out[e.header.path()] = e.header.copy_of;
    if (all) *all = entries;
    return out;
  }

  // With threads, through the writers' memory batches; on one, written as decoded. TEST too.
  RunResult read(ReadMode mode, const std::string& dest, int threads,
                 std::function<bool(const EntryHeader&)> select = {}) const {
    ReadJob job;
    job.mode = mode;
    job.archive_path = path;
    job.destination = dest;
    job.threads = threads;
    job.select = std::move(select);
    return threads > 1 ? read_archive(job) : read_archive_with(job, nullptr);
  }
};

void expect_extracts(const Archive& a, const Contents& expected) {
  for (int threads : {1, 3}) {
    std::string out = a.dir / ("out" + std::to_string(threads));
    for (ReadMode mode : {ReadMode::EXTRACT, ReadMode::TEST}) {
      RunResult r = a.read(mode, out, threads);
      ASSERT_TRUE(r.ok) << (r.problems.empty() ? "" : r.problems.front());
      EXPECT_EQ(r.members, static_cast<int64_t>(expected.size()));
    }
    for (const auto& [rel, bytes] : expected) EXPECT_TRUE(read_file(out + "/" + rel) == bytes) << rel << " " << threads;
  }
}

class CopiesRoundTrip : public ::testing::TestWithParam<Kind> {};

TEST_P(CopiesRoundTrip, LaterDuplicatesBecomeCopiesAfterEveryStreamAndComeBack) {
  Archive a;
  Contents c = duplicated_contents();
  ASSERT_TRUE(a.add(c, GetParam()).ok);
  std::map<std::string, std::string> expected_copies{
      {"b/one-again.txt", "a/one.txt"}, {"c/deep/one.txt", "a/one.txt"}, {"z/big-copy.bin", "big.bin"}};
  // Solid order goes by kind and name: "one-again" and "big-copy" come first and are kept.
  if (GetParam() == Kind::SOLID_ZSTD || GetParam() == Kind::SOLID_LZMA)
    expected_copies = {{"a/one.txt", "b/one-again.txt"}, {"c/deep/one.txt", "b/one-again.txt"},
                       {"big.bin", "z/big-copy.bin"}};
  std::vector<StoredEntry> entries;
  EXPECT_EQ(a.copies(&entries), expected_copies);
  ASSERT_EQ(entries.size(), c.size());
  bool seen_copy = false;
  for (const StoredEntry& e : entries) {
    EXPECT_TRUE(!seen_copy || e.header.is_copy()) << "a member after the copies: " << e.header.path();
    seen_copy = seen_copy || e.header.is_copy();
    EXPECT_TRUE(!e.header.is_copy() || e.header.crc == entries[e.source].header.crc) << e.header.path();
  }
  expect_extracts(a, c);
}

INSTANTIATE_TEST_SUITE_P(Methods, CopiesRoundTrip,
                         ::testing::Values(Kind::PLAIN_DEFLATE, Kind::PLAIN_ZSTD, Kind::SOLID_ZSTD, Kind::SOLID_LZMA));

TEST(Copies, OnlyACopyIsExtractedWhenOnlyItIsChosen) {
  Archive a;
  Contents c = duplicated_contents();
  ASSERT_TRUE(a.add(c, Kind::SOLID_ZSTD).ok);
  for (int threads : {1, 3}) {
    std::string out = a.dir / ("only" + std::to_string(threads));
    RunResult r = a.read(ReadMode::EXTRACT, out, threads, [](const EntryHeader& h) {
      return h.path() == "big.bin" || h.path() == "a/one.txt";  // copies of members of the solid stream
    });
    ASSERT_TRUE(r.ok) << (r.problems.empty() ? "" : r.problems.front());
    EXPECT_EQ(r.members, 2);
    EXPECT_TRUE(read_file(out + "/big.bin") == BIG);
    EXPECT_TRUE(read_file(out + "/a/one.txt") == c["a/one.txt"]);
    EXPECT_FALSE(exists(out + "/z/big-copy.bin"));
    EXPECT_FALSE(exists(out + "/b/one-again.txt"));
  }
}

TEST(Copies, ListingShowsTheCopyAndTheMemberItNames) {
  Archive a;
  ASSERT_TRUE(a.add({{"x.txt", "same bytes"}, {"y.txt", "same bytes"}}, Kind::PLAIN_DEFLATE).ok);
  ToolRun run = run_tool("l '" + a.path + "'");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_NE(run.out.find(" copy "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("y.txt = x.txt\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("x.txt = "), std::string::npos) << run.out;
}

// The target compressed must be what its copy was found equal to: a file that changed in
// between would give the copy other data.
TEST(Copies, ATargetCompressedWithOtherDataThanItsCopyWasComparedToRefusesTheRun) {
  ScratchFolder dir;
  std::vector<compression::Source> sources(1);
  sources[0].stored = StoredName{"a/", "t.txt"};
  compression::Copy copy;
  copy.source.stored = StoredName{"", "c.txt"};
  copy.source.info.size = 5;
  copy.crc = 1234;
  for (auto written : {compression::WrittenData{5, 1234}, {5, 999}, {6, 1234}}) {
    File file;
    ASSERT_TRUE(file.create(dir / "out"));
    compression::BufferedWriter out(file);
    RunResult result;
    bool same = written.crc == 1234 && written.size == 5;
    EXPECT_EQ(compression::write_copies({copy}, sources, {written}, out, result), same);
    ASSERT_TRUE(out.finish() && file.close());
    std::string bytes = read_file(dir / "out");
    EntryHeader h;
    size_t needed = 0;
    std::string problem;
    decode_header(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), h, needed, problem);
    EXPECT_EQ(h.copy_of + std::to_string(h.crc), same ? "a/t.txt1234" : "0");
    EXPECT_EQ(result.problems.size(), same ? 0u : 1u);
    EXPECT_EQ(bytes.empty(), !same);
  }
}

// The search reads whole files of one size and head: a cancel stops it and finds nothing; files of
// one size whose heads differ stay apart.
TEST(Copies, TheSearchStopsOnCancelAndHeadsKeepFilesApart) {
  ScratchFolder dir;
  std::string big = sample_text(3 << 20, 4);
  std::string other = big;
  other[0] ^= 1;
  std::vector<compression::Source> sources;
  int n = 0;
  for (const std::string* bytes : {&big, &big, &other}) {
    compression::Source s;
    s.path = dir / ("f" + std::to_string(n++));
    write_file(s.path, *bytes);
    s.stored = StoredName{"", s.path.substr(s.path.rfind('/') + 1)};
    s.info.size = static_cast<int64_t>(bytes->size());
    sources.push_back(s);
  }
  RunControl control;
  control.cancel = true;
  std::vector<compression::Source> kept = sources;
  std::vector<compression::Copy> copies;
  EXPECT_FALSE(compression::find_copies(kept, copies, &control));
  EXPECT_TRUE(copies.empty());
  control.cancel = false;
  kept = sources;
  ASSERT_TRUE(compression::find_copies(kept, copies, &control));
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(copies[0].source.stored.name, "f1");
  EXPECT_EQ(kept.size(), 2u);
}

// Four bytes that, appended to `prefix`, give the whole the CRC-32 `target`. Feeding four bytes
// is four zero-byte steps from the register XORed with them, and each step is undone through the
// table, whose top bytes are all different.
std::string crc_forging_suffix(const std::string& prefix, uint32_t target) {
  const z_crc_t* table = get_crc_table();
  uint32_t reg = ~target;
  for (int step = 0; step < 4; ++step) {
    uint32_t k = 0;
    while ((table[k] >> 24) != (reg >> 24)) ++k;
    reg = ((reg ^ static_cast<uint32_t>(table[k])) << 8) | k;
  }
  uint32_t before = ~static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(prefix.data()), static_cast<uInt>(prefix.size())));
  uint32_t bytes = reg ^ before;
  return prefix + std::string{static_cast<char>(bytes), static_cast<char>(bytes >> 8), static_cast<char>(bytes >> 16),
                              static_cast<char>(bytes >> 24)};
}

uint32_t crc_of(const std::string& s) {
  return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

// Files of one size and one CRC-32 with other bytes are no copies: only the byte comparison tells
// them apart. One pair differs from its first byte, the other only past the head the search
// checks first.
TEST(Copies, FilesWithOneSizeAndCrcButOtherBytesStayMembers) {
  std::string small = sample_text(30000, 1);
  std::string small_twin = crc_forging_suffix(sample_text(small.size() - 4, 2), crc_of(small));
  std::string large = sample_text(200000, 3);
  std::string large_tail = large.substr(0, large.size() - 4);
  large_tail[150000] ^= 1;
  std::string large_twin = crc_forging_suffix(large_tail, crc_of(large));
  ASSERT_EQ(crc_of(small_twin), crc_of(small));
  ASSERT_EQ(crc_of(large_twin), crc_of(large));
  ASSERT_NE(small_twin, small);
  ASSERT_NE(large_twin, large);
  Contents c{{"a.txt", small}, {"b.txt", small_twin}, {"c.txt", large}, {"d.txt", large_twin}};
  for (Kind kind : {Kind::PLAIN_ZSTD, Kind::SOLID_LZMA}) {
    Archive a;
    ASSERT_TRUE(a.add(c, kind).ok);
    EXPECT_TRUE(a.copies().empty());
    expect_extracts(a, c);
  }
}

// ---- Adding to an archive with copies ----

TEST(CopiesAdded, ReplacingTheMemberCopiesNameKeepsTheCopiesData) {
  Archive a;
  Contents c = duplicated_contents();
  ASSERT_TRUE(a.add(c, Kind::PLAIN_ZSTD).ok);
  c["a/one.txt"] = "replaced";
  ASSERT_TRUE(a.add({{"a/one.txt", "replaced"}, {"short.txt", "hello"}}, Kind::PLAIN_ZSTD).ok);
  // Stored again in this run, the two former copies are one member and its copy.
  std::map<std::string, std::string> copies = a.copies();
  EXPECT_EQ(copies.count("z/big-copy.bin"), 1u);
  EXPECT_EQ(copies.size(), 2u);
  expect_extracts(a, c);
}

TEST(CopiesAdded, NewDuplicatesAreCopiesOfTheirOwnRun) {
  Archive a;
  Contents c = duplicated_contents();
  ASSERT_TRUE(a.add(c, Kind::SOLID_ZSTD).ok);
  Contents more{{"n/one.txt", sample_text(9000, 7)}, {"n/two.txt", sample_text(9000, 7)}, {"short.txt", "hello"}};
  ASSERT_TRUE(a.add(more, Kind::SOLID_ZSTD).ok);
  c.insert(more.begin(), more.end());
  EXPECT_EQ(a.copies().at("n/two.txt"), "n/one.txt");
  EXPECT_EQ(a.copies().size(), 4u);
  expect_extracts(a, c);
}

// ---- Removing ----

RemoveResult remove_paths(const Archive& a, const std::vector<std::string>& paths) {
  RemoveJob job;
  job.archive_path = a.path;
  job.paths = paths;
  job.deflate = deflate_settings(3, false, 7);
  job.zstd = zstd_settings(3, false, 7, true);  // as the command line gives them
  return remove_members(job);
}

TEST(CopiesRemoved, NoOrderOfRemovalsLosesACopysData) {
  for (Kind kind : {Kind::PLAIN_ZSTD, Kind::SOLID_ZSTD}) {
    Archive a;
    Contents c = duplicated_contents();
    ASSERT_TRUE(a.add(c, kind).ok);
    // A copy, then the member copies name, then the copy that took its place, until none is left.
    int rounds = 0;
    for (auto copies = a.copies(); !copies.empty(); copies = a.copies(), ++rounds) {
      std::string gone = rounds == 0 ? copies.rbegin()->first : copies.begin()->second;
      SCOPED_TRACE("removing " + gone + (kind == Kind::SOLID_ZSTD ? " (solid)" : ""));
      RemoveResult r = remove_paths(a, {gone});
      ASSERT_TRUE(r.run.ok) << gone << ": " << (r.run.problems.empty() ? "" : r.run.problems.front());
      c.erase(gone);
      expect_extracts(a, c);
      for (const auto& [copy, target] : a.copies()) EXPECT_TRUE(c.count(target)) << copy << " names " << target;
    }
    EXPECT_EQ(rounds, 3);
    std::vector<std::string> rest;
    for (const auto& kept : c) rest.push_back(kept.first);
    EXPECT_TRUE(remove_paths(a, rest).run.ok);
    std::vector<StoredEntry> left;
    a.copies(&left);
    EXPECT_TRUE(left.empty());
  }
}

// ---- Hostile indexes ----

std::string copy_entry(const std::string& name, const std::string& of, const std::string& data,
                       const std::string& own = "") {
  EntryHeader h;
  h.name = name;
  h.size = static_cast<int64_t>(data.size());
  h.method = METHOD_STORE;
  h.crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  h.copy_of = of;
  h.compressed_size = own.size();
  h.entry_length = header_size(h) + static_cast<int64_t>(own.size());
  std::vector<uint8_t> bytes = encode_header(h);
  return std::string(bytes.begin(), bytes.end()) + own;
}

struct Hostile {
  std::string archive;
  std::string member;  // the member that fails
  std::string says = "damaged archive: ";
};

TEST(CopiesHostile, ACopyNamingNoMemberBeforeItFailsAloneOthersExtract) {
  std::string data = "the data";
  std::string t = stored_entry("", "t.txt", data);
  std::vector<Hostile> cases{
      {t + copy_entry("self.txt", "self.txt", data), "self.txt"},
      {t + copy_entry("fwd.txt", "later.txt", data) + stored_entry("", "later.txt", data), "fwd.txt"},
      {t + copy_entry("c1.txt", "t.txt", data) + copy_entry("c2.txt", "c1.txt", data), "c2.txt"},
      {t + copy_entry("lost.txt", "missing.txt", data), "lost.txt"},
      {t + copy_entry("crc.txt", "t.txt", "other!!!"), "crc.txt", "CRC-32 mismatch"},
      {t + copy_entry("long.txt", "t.txt", data + "x"), "long.txt", "size differs"},
  };
  for (const Hostile& h : cases) {
    Archive a;
    write_file(a.path, h.archive);
    for (int threads : {1, 3}) {
      std::string out = a.dir / ("out" + std::to_string(threads));
      RunResult r = a.read(ReadMode::EXTRACT, out, threads);
      EXPECT_FALSE(r.ok) << h.member;
      ASSERT_EQ(r.problems.size(), 1u) << h.member;
      EXPECT_NE(r.problems[0].find(h.member), std::string::npos) << r.problems[0];
      EXPECT_NE(r.problems[0].find(h.says), std::string::npos) << r.problems[0];
      EXPECT_EQ(read_file(out + "/t.txt"), data);
      EXPECT_FALSE(exists(out + "/" + h.member));
    }
  }
}

TEST(CopiesHostile, ACopyWithDataOfItsOwnIsRefusedAndACopyOfDamagedDataFailsTheTest) {
  ScratchFolder dir;
  std::string data = "the data";
  write_file(dir / "own.vantor", stored_entry("", "t.txt", data) + copy_entry("c.txt", "t.txt", data, data));
  std::vector<StoredEntry> entries;
  std::string problem;
  EXPECT_FALSE(read_index(dir / "own.vantor", 0, entries, problem));
  EXPECT_NE(problem.find("data of its own"), std::string::npos) << problem;

  std::string bad = stored_entry("", "t.txt", data);
  bad[bad.size() - 1] ^= 1;  // the stored bytes no longer match the CRC both entries carry
  Archive a;
  write_file(a.path, bad + copy_entry("c.txt", "t.txt", data));
  RunResult r = a.read(ReadMode::TEST, "", 1);
  EXPECT_FALSE(r.ok);
  ASSERT_EQ(r.problems.size(), 2u);
  EXPECT_NE(r.problems[1].find("c.txt: CRC-32 mismatch"), std::string::npos) << r.problems[1];
}

}  // namespace
