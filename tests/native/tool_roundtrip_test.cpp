// Archives written and read back on real files: every method, solid, threads, marks, the
// self-extracting layout and a member larger than the memory budget.
#include <sys/inotify.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>

#include "engine.h"
#include "tool_test_support.h"

namespace {

struct Tree {
  ScratchFolder dir;
  std::vector<std::string> files;  // relative paths
  void add(const std::string& rel, const std::string& bytes) {
    write_file(dir / ("src/" + rel), bytes);
    files.push_back(rel);
  }
  std::string src(const std::string& rel) const { return dir / ("src/" + rel); }
  std::vector<std::string> sources() const {
    std::vector<std::string> out;
    for (const std::string& f : files) out.push_back(src(f));
    return out;
  }
};

void fill_sample_tree(Tree& t) {
  t.add("docs/a.txt", sample_text(200000, 1));
  t.add("docs/sub/deep/c.txt", sample_text(5000, 2));
  t.add("b.txt", "hello");
  t.add("empty.dat", "");
  std::string noise;
  for (int i = 0; i < 300000; ++i) noise += static_cast<char>((i * 7919 + (i >> 3) * 104729) & 0xFF);
  t.add("docs/noise.bin", noise);
}

RunResult compress(const Tree& t, const std::string& archive, DeflateSettings d, bool solid, int threads,
                   int64_t budget = 16 << 20, ZstdSettings z = ZstdSettings()) {
  CompressJob job;
  job.archive_path = archive;
  job.sources = t.sources();
  job.deflate = d;
  job.zstd = z;
  job.solid = solid;
  job.threads = threads;
  job.memory_budget = budget;
  return compress_archive(job);
}

RunResult extract(const std::string& archive, const std::string& destination, bool marked_only = false) {
  ReadJob job;
  job.archive_path = archive;
  job.destination = destination;
  job.marked_only = marked_only;
  job.threads = 2;
  return read_archive(job);
}

void expect_same_files(const Tree& t, const std::string& out) {
  for (const std::string& f : t.files) EXPECT_EQ(read_file(out + "/" + f), read_file(t.src(f))) << f;
}

struct Walked {
  EntryHeader header;
  int64_t offset;
};

std::vector<Walked> walk(const std::string& archive, int64_t start) {
  std::string bytes = read_file(archive);
  std::vector<Walked> out;
  for (int64_t pos = start; pos < static_cast<int64_t>(bytes.size());) {
    EntryHeader h;
    size_t needed;
    std::string problem;
    EXPECT_EQ(decode_header(reinterpret_cast<const uint8_t*>(bytes.data()) + pos, bytes.size() - pos, h, needed,
                            problem),
              DecodeStatus::OK)
        << problem;
    out.push_back({h, pos});
    if (h.entry_length <= 0) break;
    pos += h.entry_length;
  }
  return out;
}

// Both engines, every method and effort: the files come back and every entry records the
// method that wrote it (-m0 stores everything; so does every method for the empty file and the
// five bytes of b.txt, which no method makes smaller).
TEST(RoundTrip, EveryMethodNormalAndUltra) {
  Tree t;
  fill_sample_tree(t);
  for (bool zstd : {false, true})
    for (bool ultra : {false, true}) {
      for (int method = 0; method <= 3; ++method) {
        std::string name = std::string(zstd ? "z" : "d") + std::to_string(method) + (ultra ? "x" : "");
        ZstdSettings z = zstd ? zstd_settings(method, ultra, 7, false) : ZstdSettings();
        RunResult w = compress(t, t.dir / (name + ".vnr"), deflate_settings(method, ultra, 7), false, 1, 16 << 20, z);
        ASSERT_TRUE(w.ok) << name;
        EXPECT_EQ(w.members, 5);
        uint8_t packed = method == 0 ? METHOD_STORE : zstd ? METHOD_ZSTD : METHOD_DEFLATE;
        for (const Walked& e : walk(t.dir / (name + ".vnr"), 0))
          EXPECT_EQ(e.header.method, e.header.size <= 5 ? METHOD_STORE : packed) << name << " " << e.header.name;
        RunResult r = extract(t.dir / (name + ".vnr"), t.dir / name);
        ASSERT_TRUE(r.ok) << name << ": " << (r.problems.empty() ? "" : r.problems[0]);
        expect_same_files(t, t.dir / name);
      }
    }
}

TEST(RoundTrip, MoreEffortNeverGrowsTheArchive) {
  Tree t;
  t.add("text.txt", sample_text(400000, 9));
  compress(t, t.dir / "m1.vnr", deflate_settings(1, false, 7), false, 1);
  compress(t, t.dir / "m3.vnr", deflate_settings(3, false, 7), false, 1);
  compress(t, t.dir / "m0.vnr", deflate_settings(0, false, 7), false, 1);
  EXPECT_LT(read_file(t.dir / "m3.vnr").size(), read_file(t.dir / "m1.vnr").size());
  EXPECT_LT(read_file(t.dir / "m1.vnr").size(), read_file(t.dir / "m0.vnr").size());
}

TEST(RoundTrip, SolidWithThreadsAndSmallWindow) {
  Tree t;
  fill_sample_tree(t);
  for (int i = 0; i < 40; ++i) t.add("many/f" + std::to_string(i) + ".txt", sample_text(1000 + i * 37, 100 + i));
  for (int threads : {1, 3, 0}) {
    std::string name = "solid" + std::to_string(threads);
    ASSERT_TRUE(compress(t, t.dir / (name + ".vnr"), deflate_settings(3, false, 0), true, threads).ok);
    RunResult r = extract(t.dir / (name + ".vnr"), t.dir / name);
    ASSERT_TRUE(r.ok) << (r.problems.empty() ? "" : r.problems[0]);
    EXPECT_EQ(r.members, static_cast<int64_t>(t.files.size()));
    expect_same_files(t, t.dir / name);
  }
}

TEST(RoundTrip, ThreadsKeepTheListedOrderWithoutSolid) {
  Tree t;
  for (int i = 0; i < 30; ++i) t.add("f" + std::to_string(100 + i) + ".txt", sample_text(20000 - i * 500, i));
  ASSERT_TRUE(compress(t, t.dir / "a.vnr", deflate_settings(3, false, 7), false, 4).ok);
  std::vector<Walked> entries = walk(t.dir / "a.vnr", 0);
  ASSERT_EQ(entries.size(), t.files.size());
  for (size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(entries[i].header.name, t.files[i]);
}

TEST(IndexLayout, FrontEndFieldsSitWhereItReadsThem) {
  Tree t;
  fill_sample_tree(t);
  ASSERT_TRUE(compress(t, t.dir / "a.vnr", deflate_settings(3, false, 7), false, 2).ok);
  std::string bytes = read_file(t.dir / "a.vnr");
  std::vector<Walked> entries = walk(t.dir / "a.vnr", 0);
  ASSERT_EQ(entries.size(), 5u);
  const Walked& first = entries[0];
  EXPECT_EQ(first.header.folder, "docs/");
  EXPECT_EQ(first.header.name, "a.txt");
  EXPECT_EQ(bytes.substr(12, 5), "a.txt");
  EXPECT_EQ(bytes[10], 5);
  EXPECT_EQ(bytes[17], 5);
  EXPECT_EQ(bytes.substr(19, 5), "docs/");
  EXPECT_EQ(static_cast<unsigned char>(bytes[24]) | static_cast<unsigned char>(bytes[25]) << 8, 200000 & 0xFFFF);
  EXPECT_EQ(bytes[32], 0) << "mark byte starts at 0";
  EXPECT_EQ(entries[1].header.folder, "docs/sub/deep/");
  EXPECT_EQ(entries[2].header.folder, "") << "root members have an empty folder";
  EXPECT_EQ(entries.back().offset + entries.back().header.entry_length, static_cast<int64_t>(bytes.size()))
      << "the last entry reaches the end of the file";
}

TEST(IndexLayout, WithoutKeepFoldersOnlyNamesAreStoredAndClashesFail) {
  Tree t;
  t.add("x/a.txt", "1");
  t.add("y/b.txt", "2");
  CompressJob job;
  job.archive_path = t.dir / "flat.vnr";
  job.sources = t.sources();
  job.keep_folders = false;
  ASSERT_TRUE(compress_archive(job).ok);
  for (const Walked& w : walk(job.archive_path, 0)) EXPECT_EQ(w.header.folder, "");
  t.add("y/a.txt", "3");
  job.sources = t.sources();
  job.archive_path = t.dir / "clash.vnr";
  RunResult r = compress_archive(job);
  EXPECT_FALSE(r.ok);
  EXPECT_FALSE(exists(job.archive_path));
}

TEST(MarkedExtraction, OnlyEntriesMarkedOneAreWritten) {
  Tree t;
  fill_sample_tree(t);
  for (bool solid : {false, true}) {
    std::string archive = t.dir / (solid ? "s.vnr" : "n.vnr");
    ASSERT_TRUE(compress(t, archive, deflate_settings(3, false, 7), solid, 2).ok);
    std::string bytes = read_file(archive);
    std::vector<std::string> marked;
    for (const Walked& w : walk(archive, 0)) {
      bool mark = w.header.name == "c.txt" || w.header.name == "noise.bin";
      bytes[static_cast<size_t>(w.offset + mark_offset(w.header))] = mark ? 1 : 0;
      if (mark) marked.push_back(w.header.path());
    }
    write_file(archive, bytes);
    std::string out = t.dir / (solid ? "outs" : "outn");
    RunResult r = extract(archive, out, true);
    ASSERT_TRUE(r.ok) << (r.problems.empty() ? "" : r.problems[0]);
    EXPECT_EQ(r.members, 2);
    EXPECT_EQ(read_file(out + "/docs/sub/deep/c.txt"), read_file(t.src("docs/sub/deep/c.txt")));
    EXPECT_EQ(read_file(out + "/docs/noise.bin"), read_file(t.src("docs/noise.bin")));
    EXPECT_FALSE(exists(out + "/b.txt"));
    EXPECT_FALSE(exists(out + "/docs/a.txt"));
  }
}

TEST(SelfExtracting, EntriesStartAfterTheStubSlotAndFollowTheExtensionRule) {
  Tree t;
  fill_sample_tree(t);
  const uint8_t stub[] = {'M', 'Z', 1, 2, 3};
  CompressJob job;
  job.archive_path = self_extracting_path(t.dir / "Archive.vnr");
  EXPECT_EQ(job.archive_path, t.dir / "Archive.exe");
  job.sources = t.sources();
  job.self_extracting = true;
  job.stub = stub;
  job.stub_size = sizeof stub;
  ASSERT_TRUE(compress_archive(job).ok);
  std::string bytes = read_file(job.archive_path);
  EXPECT_EQ(bytes.substr(0, 5), "MZ\x01\x02\x03");
  EXPECT_EQ(bytes.substr(5, INDEX_STUB_SIZE - 5), std::string(INDEX_STUB_SIZE - 5, '\0'));
  EXPECT_EQ(walk(job.archive_path, INDEX_STUB_SIZE).size(), 5u);

  ASSERT_TRUE(extract(job.archive_path, t.dir / "out").ok);
  expect_same_files(t, t.dir / "out");
  write_file(t.dir / "Archive.Exe", bytes);
  EXPECT_FALSE(extract(t.dir / "Archive.Exe", t.dir / "out2").ok) << ".Exe is read from offset 0";
}

TEST(SelfExtracting, StubLargerThanItsSlotIsRefused) {
  Tree t;
  t.add("a", "a");
  std::vector<uint8_t> big(INDEX_STUB_SIZE + 1, 1);
  CompressJob job;
  job.archive_path = t.dir / "big.exe";
  job.sources = t.sources();
  job.self_extracting = true;
  job.stub = big.data();
  job.stub_size = big.size();
  EXPECT_FALSE(compress_archive(job).ok);
  EXPECT_FALSE(exists(job.archive_path));
}

// Kilobytes of this process's resident memory: now, or the most since reset_peak_memory().
int64_t resident_kb(const char* field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field, 0) == 0) return std::atoll(line.c_str() + std::strlen(field));
  return -1;
}
void reset_peak_memory() { std::ofstream("/proc/self/clear_refs") << "5"; }

// One member's output far above the budget: it goes to a file beside the archive, so memory
// grows by the budget and the buffers, not by the output.
TEST(LargeMember, StreamsThroughASmallMemoryBudget) {
  Tree t;
  t.add("small.txt", "small");
  // 96 MB of sixteen letters in random order: deflate keeps well over half of it.
  {
    std::ofstream big(t.dir / "src/big.bin", std::ios::binary);
    std::string block(1 << 20, ' ');
    uint32_t x = 77;
    for (int i = 0; i < 96; ++i) {
      for (char& c : block) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        c = static_cast<char>('a' + (x & 15));
      }
      big.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
  }
  t.files.push_back("big.bin");
  RunResult w;
  reset_peak_memory();
  const int64_t before = resident_kb("VmRSS:");
  std::vector<std::string> created = created_in(t.dir.path, [&] {
    w = compress(t, t.dir / "big.vnr", deflate_settings(1, false, 7), false, 1, 1 << 20);
  });
  const int64_t growth_mb = (resident_kb("VmHWM:") - before) >> 10;
  ASSERT_TRUE(w.ok) << (w.problems.empty() ? "" : w.problems[0]);
  const int64_t output_mb = static_cast<int64_t>(read_file(t.dir / "big.vnr").size() >> 20);
  ASSERT_GT(output_mb, 40) << "the output must dwarf the budget";
  EXPECT_LT(growth_mb, 16) << "memory grew by " << growth_mb << " MB for " << output_mb << " MB of output";
  bool spilled = false;
  for (const std::string& name : created) spilled |= name.rfind("big.vnr.vantor-", 0) == 0 && name.find(".tmp.") != std::string::npos;
  EXPECT_TRUE(spilled) << "no spill file was created";

  RunResult r = extract(t.dir / "big.vnr", t.dir / "out");
  ASSERT_TRUE(r.ok) << (r.problems.empty() ? "" : r.problems[0]);
  EXPECT_EQ(r.bytes_in, (96 << 20) + 5);
  EXPECT_TRUE(read_file(t.dir / "out/big.bin") == read_file(t.src("big.bin")));
  EXPECT_NE(std::system(("ls -a '" + t.dir.path + "' | grep -q vantor-").c_str()), 0) << "no spill file left";
}

// The compressed data of every entry of an archive, by name.
std::map<std::string, std::string> member_data(const std::string& archive) {
  std::string bytes = read_file(archive);
  std::map<std::string, std::string> data;
  for (const Walked& w : walk(archive, 0))
    data[w.header.name] = bytes.substr(static_cast<size_t>(w.offset + header_size(w.header.name.size(), w.header.folder.size())),
                                       static_cast<size_t>(w.header.compressed_size));
  return data;
}

size_t count_of(const std::string& haystack, const std::string& needle) {
  size_t n = 0;
  for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) ++n;
  return n;
}

// With several threads a file above two 1 MB pieces is cut: each deflate piece but the last ends
// on a sync flush (an empty stored block, 00 00 FF FF), and the pieces join into one stream.
TEST(LargeMember, PiecesCompressedByThreadsJoinIntoOneMember) {
  Tree t;
  std::string five = sample_text(5 << 20, 5);  // exactly five pieces
  t.add("five.txt", five);
  t.add("odd.txt", sample_text((3 << 20) + 12345, 6));  // three whole pieces and a short one
  t.add("two.txt", sample_text(2 << 20, 7));            // not above two pieces: not cut
  const std::string sync_flush("\0\0\xff\xff", 4);
  for (int method : {0, 3}) {
    for (int threads : {1, 3}) {
      std::string name = "pieces" + std::to_string(method) + "t" + std::to_string(threads);
      ASSERT_TRUE(compress(t, t.dir / (name + ".vnr"), deflate_settings(method, false, 7), false, threads).ok);
      std::vector<Walked> entries = walk(t.dir / (name + ".vnr"), 0);
      ASSERT_EQ(entries.size(), 3u);
      EXPECT_EQ(entries[0].header.size, 5 << 20) << "the patched header carries the whole size";
      if (method == 3) {
        std::map<std::string, std::string> data = member_data(t.dir / (name + ".vnr"));
        EXPECT_EQ(count_of(data["five.txt"], sync_flush), threads > 1 ? 4u : 0u) << name;
        EXPECT_EQ(count_of(data["odd.txt"], sync_flush), threads > 1 ? 3u : 0u) << name;
        EXPECT_EQ(count_of(data["two.txt"], sync_flush), 0u) << name;
      }
      RunResult r = extract(t.dir / (name + ".vnr"), t.dir / name);
      ASSERT_TRUE(r.ok) << (r.problems.empty() ? "" : r.problems[0]);
      EXPECT_TRUE(read_file(t.dir / (name + "/five.txt")) == five);
      EXPECT_TRUE(read_file(t.dir / (name + "/odd.txt")) == read_file(t.src("odd.txt")));
      EXPECT_TRUE(read_file(t.dir / (name + "/two.txt")) == read_file(t.src("two.txt")));
    }
  }
}

TEST(EmptyArchive, NoFilesGiveAnEmptyArchiveThatReadsBack) {
  ScratchFolder dir;
  CompressJob job;
  job.archive_path = dir / "empty.vnr";
  ASSERT_TRUE(compress_archive(job).ok);
  EXPECT_EQ(read_file(job.archive_path).size(), 0u);
  EXPECT_TRUE(extract(job.archive_path, dir / "out").ok);
}

}  // namespace
