#include "archive/index_walk.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../fuzz/index_walk_target.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put_le(Bytes& out, int64_t value, int width) {
  for (int i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i)));
}

constexpr int64_t WHOLE = INT64_MIN;  // entry length = header plus body

// One entry as the archiver lays it out.
Bytes entry(const std::string& name, const std::string& folder, int64_t size, int64_t length = WHOLE,
            const std::string& body = "") {
  Bytes header;
  header.push_back(0x5A);
  header.push_back(0xA5);
  put_le(header, static_cast<int64_t>(name.size()), 2);
  header.insert(header.end(), name.begin(), name.end());
  put_le(header, static_cast<int64_t>(folder.size()), 2);
  header.insert(header.end(), folder.begin(), folder.end());
  put_le(header, size, 8);
  header.push_back(0);
  header.insert(header.end(), body.begin(), body.end());
  Bytes out;
  put_le(out, length == WHOLE ? static_cast<int64_t>(header.size()) + 8 : length, 8);
  out.insert(out.end(), header.begin(), header.end());
  return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct Walk {
  std::vector<IndexEntry> entries;
  IndexWalkResult result;
  bool out_of_bounds = false;
};

Walk walk_bytes(const Bytes& bytes, int64_t start = 0) {
  Walk w;
  BoundsCheckedSource source(bytes);
  w.result = index_walk(source, start, [&](const IndexEntry& e) { w.entries.push_back(e); });
  w.out_of_bounds = source.out_of_bounds;
  return w;
}

std::string temp_file(const std::string& name, const Bytes& bytes) {
  std::string path = testing::TempDir() + name;
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
  return path;
}

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(IndexStart, OnlyExactlyExeOrEXESelectsTheStub) {
  EXPECT_EQ(index_start("C:\\a\\setup.exe"), INDEX_STUB_SIZE);
  EXPECT_EQ(index_start("C:\\a\\SETUP.EXE"), 155648);
  EXPECT_EQ(index_start("C:\\a\\setup.Exe"), 0);
  EXPECT_EQ(index_start("C:\\a\\setup.eXE"), 0);
  EXPECT_EQ(index_start("C:\\a\\backup.vnr"), 0);
  EXPECT_EQ(index_start("C:\\a.exe\\backup"), 0);
  EXPECT_EQ(index_start("C:\\a\\backup.exe.vnr"), 0);
  EXPECT_EQ(index_start(""), 0);
}

TEST(IndexWalk, WorkedExampleFieldsAndOffsets) {
  Bytes bytes = concat({entry("a.txt", "docs/", 5000, 1000, std::string(967, 'x'))});
  ASSERT_EQ(bytes.size(), 1000u);
  Walk w = walk_bytes(bytes);
  ASSERT_EQ(w.entries.size(), 1u);
  EXPECT_EQ(w.entries[0].name, "a.txt");
  EXPECT_EQ(w.entries[0].folder, "docs\\");
  EXPECT_EQ(w.entries[0].size, 5000);
  EXPECT_EQ(w.entries[0].mark_offset, 32);
  EXPECT_EQ(w.result.end, IndexEnd::end_of_file);
  EXPECT_TRUE(w.result.sound());
}

TEST(IndexWalk, ChainOfEntriesInOrder) {
  Bytes bytes = concat({entry("a.txt", "docs/", 5000, WHOLE, "body"), entry("b.txt", "", 12)});
  Walk w = walk_bytes(bytes);
  ASSERT_EQ(w.entries.size(), 2u);
  EXPECT_EQ(w.entries[0].name, "a.txt");
  EXPECT_EQ(w.entries[1].name, "b.txt");
  EXPECT_EQ(w.entries[1].folder, "");
  EXPECT_EQ(w.entries[1].position, 8 + 2 + 2 + 5 + 2 + 5 + 8 + 1 + 4);
  EXPECT_TRUE(w.result.sound());
  EXPECT_EQ(w.result.stop_position, static_cast<int64_t>(bytes.size()));
}

TEST(IndexWalk, TextFieldsEndAtZeroButKeepTheirLength) {
  std::string name("ab\0xyz", 6);
  Bytes bytes = concat({entry(name, "docs/sub/", 7), entry("next", std::string("d\0/", 3), 8)});
  Walk w = walk_bytes(bytes);
  ASSERT_EQ(w.entries.size(), 2u);
  EXPECT_EQ(w.entries[0].name, "ab");
  EXPECT_EQ(w.entries[0].folder, "docs\\sub\\");  // read at 12+6, not after "ab"
  EXPECT_EQ(w.entries[0].size, 7);
  EXPECT_EQ(w.entries[1].folder, "d");
  EXPECT_EQ(w.entries[1].size, 8);
}

TEST(IndexWalk, SizeWithTopBitIsNegative) {
  Walk w = walk_bytes(entry("neg", "", -5));
  ASSERT_EQ(w.entries.size(), 1u);
  EXPECT_EQ(w.entries[0].size, -5);
  Walk min = walk_bytes(entry("min", "", INT64_MIN));
  ASSERT_EQ(min.entries.size(), 1u);
  EXPECT_EQ(min.entries[0].size, INT64_MIN);
}

TEST(IndexWalk, EmptyOrStubOnlyFilesYieldNothing) {
  Walk empty = walk_bytes({});
  EXPECT_EQ(empty.result.entries, 0);
  EXPECT_TRUE(empty.result.sound());
  Bytes stub(INDEX_STUB_SIZE, 0x90);
  EXPECT_EQ(walk_bytes(stub, INDEX_STUB_SIZE).result.entries, 0);
  stub.resize(1000);
  Walk shorter = walk_bytes(stub, INDEX_STUB_SIZE);
  EXPECT_EQ(shorter.result.entries, 0);
  EXPECT_FALSE(shorter.out_of_bounds);
}

TEST(IndexWalk, PollRunsOnceBeforeEachEntry) {
  Bytes bytes = concat({entry("a", "", 1), entry("b", "", 2), entry("c", "", 3)});
  MemorySource source(bytes);
  std::string order;
  index_walk(source, 0, [&](const IndexEntry& e) { order += e.name; }, [&] { order += "."; });
  EXPECT_EQ(order, ".a.b.c");
}

// Chains that cannot be right end the walk at the bad entry, keeping the entries before it,
// without reading a byte outside the file.
struct BadChain {
  const char* what;
  Bytes bad;
};

TEST(IndexWalk, BadEntriesEndTheWalkCleanly) {
  Bytes first = entry("ok", "", 1);
  Bytes negative_name = entry("abc", "", 1);
  negative_name[10] = 0x00;
  negative_name[11] = 0x80;  // N = -32768
  Bytes negative_folder = entry("abc", "f/", 1);
  negative_folder[15] = 0xFF;
  negative_folder[16] = 0xFF;  // M = -1
  Bytes overlong_name = entry("abc", "", 1);
  overlong_name[10] = 0xFF;
  overlong_name[11] = 0x7F;  // N = 32767, far past the end
  Bytes overlong_folder = entry("abc", "f/", 1);
  overlong_folder[15] = 0x00;
  overlong_folder[16] = 0x10;
  Bytes cut_header = entry("abc", "f/", 1);
  cut_header.resize(cut_header.size() - 1);  // mark byte missing
  const BadChain cases[] = {
      {"zero length", entry("z", "", 1, 0)},
      {"negative length", entry("z", "", 1, -8)},
      {"shorter than its header", entry("z", "", 1, 10)},
      {"negative name length", negative_name},
      {"negative folder length", negative_folder},
      {"name past the end", overlong_name},
      {"folder past the end", overlong_folder},
      {"header past the end", cut_header},
      {"a few stray bytes", Bytes{1, 0, 0}},
  };
  for (const BadChain& c : cases) {
    SCOPED_TRACE(c.what);
    Walk w = walk_bytes(concat({first, c.bad}));
    ASSERT_EQ(w.entries.size(), 1u);
    EXPECT_EQ(w.entries[0].name, "ok");
    EXPECT_EQ(w.result.end, IndexEnd::bad_entry);
    EXPECT_EQ(w.result.stop_position, static_cast<int64_t>(first.size()));
    EXPECT_EQ(w.result.damage_position, static_cast<int64_t>(first.size()));
    EXPECT_FALSE(w.result.sound());
    EXPECT_FALSE(w.out_of_bounds);
  }
}

TEST(IndexWalk, LengthBeyondTheEndKeepsTheEntryAndStops) {
  for (int64_t length : {int64_t{1} << 40, INT64_MAX}) {
    Walk w = walk_bytes(concat({entry("a", "", 1), entry("b", "", 2, length)}));
    ASSERT_EQ(w.entries.size(), 2u);
    EXPECT_EQ(w.result.end, IndexEnd::past_end);
    EXPECT_EQ(w.result.damage_position, w.entries[1].position);
    EXPECT_FALSE(w.result.sound());
    EXPECT_FALSE(w.out_of_bounds);
  }
}

TEST(IndexWalk, StopsAtTheTableCapacity) {
  Bytes one = entry("", "", 0);
  Bytes bytes;
  bytes.reserve(one.size() * (INDEX_ENTRY_LIMIT + 1));
  for (int i = 0; i < INDEX_ENTRY_LIMIT + 1; ++i) bytes.insert(bytes.end(), one.begin(), one.end());
  MemorySource source(bytes);
  int seen = 0;
  IndexWalkResult r = index_walk(source, 0, [&](const IndexEntry&) { ++seen; });
  EXPECT_EQ(seen, INDEX_ENTRY_LIMIT);
  EXPECT_EQ(r.end, IndexEnd::entry_limit);
  EXPECT_FALSE(r.sound());

  bytes.resize(one.size() * INDEX_ENTRY_LIMIT);
  MemorySource exact(bytes);
  EXPECT_TRUE(index_walk(exact, 0, nullptr).sound());
}

uint8_t mark_b(const IndexEntry& e) { return e.name == "b.txt" ? 1 : 0; }

TEST(IndexMark, WritesOnlyMarkBytesOfASoundChain) {
  Bytes bytes = concat({entry("a.txt", "docs/", 1, WHOLE, "zz"), entry("b.txt", "", 2)});
  Walk before = walk_bytes(bytes);
  bytes[static_cast<size_t>(before.entries[0].mark_offset)] = 1;  // an old mark is overwritten
  MemorySource source(bytes);
  bool written = false;
  index_mark(source, 0, mark_b, &written);
  EXPECT_TRUE(written);
  Bytes expected = bytes;
  expected[static_cast<size_t>(before.entries[0].mark_offset)] = 0;
  expected[static_cast<size_t>(before.entries[1].mark_offset)] = 1;
  EXPECT_EQ(source.bytes(), expected);
}

TEST(IndexMark, ABrokenChainMarksTheEntriesBeforeTheBreakOnly) {
  Bytes sound = concat({entry("a.txt", "", 1), entry("b.txt", "", 2)});
  Walk w = walk_bytes(sound);
  for (const Bytes& broken : {concat({sound, entry("c", "", 3, 0)}),                   // a bad entry
                              concat({entry("a.txt", "", 1), entry("b.txt", "", 2, 1000)})}) {  // cut short
    MemorySource source(broken);
    bool written = false;
    IndexWalkResult r = index_mark(source, 0, mark_b, &written);
    EXPECT_EQ(r.entries, 2);
    EXPECT_TRUE(written);
    Bytes expected = broken;
    expected[static_cast<size_t>(w.entries[1].mark_offset)] = 1;
    EXPECT_EQ(source.bytes(), expected);
  }
}

// More entries than the listing's table holds, and more than the pass keeps marks for at once.
TEST(IndexMark, HasNoEntryLimitAndCallsTheRuleOncePerEntryInOrder) {
  Bytes one = entry("", "", 0);
  Bytes bytes;
  const int count = INDEX_ENTRY_LIMIT + 7;
  bytes.reserve(one.size() * count);
  for (int i = 0; i < count; ++i) bytes.insert(bytes.end(), one.begin(), one.end());
  for (size_t held : {INDEX_MARKS_HELD, size_t{1000}}) {
    MemorySource source(bytes);
    int64_t calls = 0, last = -1;
    bool in_order = true, written = false;
    IndexWalkResult r = index_mark(
        source, 0,
        [&](const IndexEntry& e) -> uint8_t {
          in_order = in_order && e.position > last;
          last = e.position;
          return ++calls % 2;
        },
        &written, {}, held);
    EXPECT_EQ(r.entries, count);
    EXPECT_EQ(calls, count);
    EXPECT_TRUE(in_order);
    EXPECT_TRUE(written);
    int wrong = 0;  // entry i got mark (i + 1) % 2, past the marks held too
    for (int i = 0; i < count; ++i)
      wrong += source.bytes()[static_cast<size_t>(INDEX_FIXED_HEADER - 1) + one.size() * i] != (i + 1) % 2;
    EXPECT_EQ(wrong, 0);
  }
}

TEST(IndexFile, ExtensionDecidesWhereTheWalkStarts) {
  Bytes index = concat({entry("a.txt", "docs/", 5), entry("b.txt", "", 6)});
  Bytes with_stub(INDEX_STUB_SIZE, 0);
  with_stub.insert(with_stub.end(), index.begin(), index.end());
  std::vector<std::string> names;
  auto collect = [&](const IndexEntry& e) { names.push_back(e.folder + e.name); };

  EXPECT_TRUE(index_walk_file(temp_file("sfx.EXE", with_stub), collect).sound());
  EXPECT_EQ(names, (std::vector<std::string>{"docs\\a.txt", "b.txt"}));

  names.clear();  // read from 0: the zero stub is an entry of length 0
  EXPECT_EQ(index_walk_file(temp_file("sfx.Exe", with_stub), collect).end, IndexEnd::bad_entry);
  EXPECT_TRUE(names.empty());

  EXPECT_TRUE(index_walk_file(temp_file("plain.vnr", index), collect).sound());
  EXPECT_EQ(names.size(), 2u);

  EXPECT_EQ(index_walk_file(testing::TempDir() + "missing.vnr", collect).entries, 0);
}

TEST(IndexFile, MarkingWritesTheFile) {
  Bytes index = concat({entry("a.txt", "", 5), entry("b.txt", "", 6)});
  std::string path = temp_file("marks.vnr", index);
  bool written = false;
  index_mark_file(path, mark_b, &written);
  EXPECT_TRUE(written);
  Walk w = walk_bytes(index);
  Bytes after = read_file(path);
  ASSERT_EQ(after.size(), index.size());
  EXPECT_EQ(after[static_cast<size_t>(w.entries[1].mark_offset)], 1);
  after[static_cast<size_t>(w.entries[1].mark_offset)] = 0;
  EXPECT_EQ(after, index);
}

// The fuzz target's invariants over the seed corpus and deterministic mutations of it.
TEST(IndexFuzzReplay, SeedCorpusAndMutationsHoldTheInvariants) {
  std::string dir = std::string(VANTOR_SOURCE_DIR) + "/tests/fuzz/corpus/index_walk/";
  DIR* d = opendir(dir.c_str());
  ASSERT_NE(d, nullptr);
  std::vector<Bytes> seeds;
  while (dirent* f = readdir(d)) {
    if (f->d_name[0] != '.') seeds.push_back(read_file(dir + f->d_name));
  }
  closedir(d);
  ASSERT_GE(seeds.size(), 5u);
  uint32_t x = 2463534242u;
  auto next = [&] { x ^= x << 13; x ^= x >> 17; x ^= x << 5; return x; };
  int runs = 0;
  for (const Bytes& seed : seeds) {
    ASSERT_TRUE(index_walk_fuzz_one(seed.data(), seed.size()));
    for (int i = 0; i < 500; ++i) {
      Bytes m = seed;
      int edits = 1 + static_cast<int>(next() % 4);
      for (int k = 0; k < edits && !m.empty(); ++k) {
        uint32_t r = next();
        switch (r % 3) {
          case 0: m[next() % m.size()] = static_cast<uint8_t>(next()); break;
          case 1: m.resize(next() % (m.size() + 1)); break;
          default: m.insert(m.begin() + static_cast<long>(next() % m.size()), static_cast<uint8_t>(r >> 8));
        }
      }
      ASSERT_TRUE(index_walk_fuzz_one(m.data(), m.size())) << "seed " << runs / 500;
      ++runs;
    }
  }
}

}  // namespace
