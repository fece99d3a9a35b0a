// PPMd streams for text in the solid Ultra tiers: which bytes count as text, the decoder fed in
// the stretches the reader hands it and refusing damaged or hostile streams, and archives where
// text streams sit beside LZMA2, packed and older members through copies, removal and adding.
#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include "codec.h"
#include "remove.h"
#include "tool_test_support.h"

namespace {

bool text(const std::string& head) { return looks_text(reinterpret_cast<const uint8_t*>(head.data()), head.size()); }

TEST(ContentFilter, TextByItsBytesNotItsName) {
  EXPECT_TRUE(text(sample_text(4000, 1)));
  EXPECT_TRUE(text("caf\xc3\xa9 na\xefve\r\n\tcolumns\f\x1b[0m"));  // UTF-8, Latin-1, tabs, a colour code
  EXPECT_FALSE(text(std::string("t\0e\0x\0t\0", 8)));                 // UTF-16 goes to LZMA2
  EXPECT_FALSE(text(random_bytes(4000, 3)));
  EXPECT_FALSE(text(""));
  std::string sparse = sample_text(640, 2);
  for (size_t i = 0; i < 10; ++i) sparse[i * 64] = '\x02';
  EXPECT_TRUE(text(sparse));  // one stray control byte in 64 is still text
  sparse[1] = '\x02';
  EXPECT_FALSE(text(sparse));
}

struct Coded {
  std::vector<uint8_t> stream;
  EntryHeader first;
};

Coded ppmd_encode(const std::string& data, PpmdSettings s = PpmdSettings{16, 4u << 20}) {
  Coded c;
  std::unique_ptr<Encoder> encoder = ppmd_encoding(s)->encoder();
  std::string problem;
  EXPECT_TRUE(encoder->compress_all(reinterpret_cast<const uint8_t*>(data.data()), data.size(), c.stream, problem))
      << problem;
  c.first.method = METHOD_PPMD;
  c.first.ppmd_order = encoder->model_order();
  c.first.ppmd_memory = encoder->model_memory();
  return c;
}

std::string decode(const Coded& c, uint64_t size, size_t stretch, std::string& problem) {
  std::vector<uint8_t> out;
  problem.clear();
  if (!ppmd_decode_buffer(c.first, size, c.stream.data(), c.stream.size(), stretch, out, problem)) return "<failed>";
  return std::string(out.begin(), out.end());
}

// Whatever stretches the input comes in (down to single bytes, which wait for the margin a
// symbol may take), the stream decodes whole and ends exactly where its encoder flushed it.
TEST(PpmdStream, DecodesInAnyStretchesAndEndsWhereItWasFlushed) {
  std::string data = sample_text(300000, 7) + random_bytes(5000, 7) + std::string(20000, 'a');
  for (int order : {2, 6, 16, 64}) {
    Coded c = ppmd_encode(data, PpmdSettings{order, 8u << 20});
    EXPECT_EQ(c.first.ppmd_order, order);
    EXPECT_LT(c.stream.size(), data.size() / 4) << order;
    std::string problem;
    for (size_t stretch : {size_t(1), size_t(13), size_t(4096), c.stream.size()})
      EXPECT_EQ(decode(c, data.size(), stretch, problem), data) << order << " " << stretch << ": " << problem;
  }
  Coded empty = ppmd_encode("");
  std::string problem;
  EXPECT_EQ(decode(empty, 0, 1, problem), "") << problem;
  // A small stream gets a model no larger than it can fill.
  EXPECT_LT(empty.first.ppmd_memory, 4u << 20);
}

TEST(PpmdStream, RefusesDamagedStreamsAndModelsOutOfRange) {
  std::string data = sample_text(200000, 9);
  Coded c = ppmd_encode(data);
  std::string problem;
  // Cut anywhere: truncated, never more or other bytes.
  for (size_t keep : {size_t(0), size_t(3), c.stream.size() / 2, c.stream.size() - 1}) {
    Coded cut = c;
    cut.stream.resize(keep);
    EXPECT_EQ(decode(cut, data.size(), 4096, problem), "<failed>") << keep;
    EXPECT_EQ(problem, "compressed data is truncated") << keep;
  }
  // A recorded size larger than the stream runs out of input; a smaller one leaves bytes over.
  EXPECT_EQ(decode(c, data.size() + 100, 4096, problem), "<failed>");
  EXPECT_NE(decode(c, data.size() - 100, 4096, problem), data.substr(0, data.size() - 100));
  EXPECT_FALSE(problem.empty());
  // A stream must begin with a zero byte; a damaged middle decodes to other bytes or is refused.
  Coded bad_start = c;
  bad_start.stream[0] = 1;
  EXPECT_EQ(decode(bad_start, data.size(), 4096, problem), "<failed>");
  EXPECT_EQ(problem, "compressed data is damaged");
  Coded flipped = c;
  flipped.stream[flipped.stream.size() / 3] ^= 0x40;
  EXPECT_NE(decode(flipped, data.size(), 4096, problem), data);
  // The model is judged before anything is allocated (in an archive too: see below).
  for (auto m : {std::make_tuple(1, 4u << 20, "model order of 1"), std::make_tuple(65, 4u << 20, "model order of 65"),
                 std::make_tuple(16, 0u, "model of 0 bytes"), std::make_tuple(16, 0xffffffffu, "asking for 4096 MB")}) {
    Coded hostile = c;
    hostile.first.ppmd_order = static_cast<uint8_t>(std::get<0>(m));
    hostile.first.ppmd_memory = std::get<1>(m);
    EXPECT_EQ(decode(hostile, data.size(), 4096, problem), "<failed>");
    EXPECT_NE(problem.find(std::get<2>(m)), std::string::npos) << problem;
  }
  EXPECT_EQ(decoding_memory(c.first, 1), c.first.ppmd_memory + (64u << 10));
}

// The model's record belongs on a PPMd stream's first entry and nowhere else.
TEST(PpmdStream, ModelRecordOnlyWhereAStreamStarts) {
  auto decoded = [](EntryHeader h) {
    h.name = "a.txt";
    h.compressed_size = 10;
    h.size = 100;
    h.entry_length = header_size(h) + 10;
    std::vector<uint8_t> bytes = encode_header(h);
    bytes.resize(bytes.size() + 10);
    EntryHeader out;
    size_t needed = 0;
    std::string problem;
    DecodeStatus status = decode_header(bytes.data(), bytes.size(), out, needed, problem);
    return status == DecodeStatus::OK && out.ppmd_order == h.ppmd_order && out.ppmd_memory == h.ppmd_memory;
  };
  EntryHeader h;
  h.method = METHOD_PPMD;
  h.ppmd_order = 8;
  h.ppmd_memory = 1u << 20;
  EXPECT_TRUE(decoded(h));
  h.flags = ENTRY_FLAG_SOLID_NEXT;
  EXPECT_FALSE(decoded(h));
  h.ppmd_order = 0, h.ppmd_memory = 0;
  EXPECT_TRUE(decoded(h));
  h.flags = 0;
  EXPECT_FALSE(decoded(h));  // a PPMd stream without its model
  h.method = METHOD_LZMA2;
  h.dictionary = 1u << 20;
  h.ppmd_order = 8, h.ppmd_memory = 1u << 20;
  EXPECT_FALSE(decoded(h));
  EXPECT_GE(largest_output(METHOD_PPMD, 25000), uint64_t(64) << 20);  // 64 MB of one letter took 24.7 KB
}

// An archive whose PPMd stream asks for a model no 32-bit reader could hold, or an order out of
// range, is refused with the reason before anything is allocated or written.
TEST(PpmdArchive, HostileModelIsRefusedAndNothingWritten) {
  std::string data = sample_text(50000, 40);
  Coded c = ppmd_encode(data);
  for (auto model : {std::make_pair(16, (256u << 20) + 1), std::make_pair(99, 4u << 20)}) {
    ScratchFolder dir;
    EntryHeader h = c.first;
    h.name = "a.txt";
    h.ppmd_order = static_cast<uint8_t>(model.first);
    h.ppmd_memory = model.second;
    h.size = static_cast<int64_t>(data.size());
    h.compressed_size = c.stream.size();
    h.crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    h.entry_length = header_size(h) + static_cast<int64_t>(c.stream.size());
    std::vector<uint8_t> bytes = encode_header(h);
    write_file(dir / "a.vnr", std::string(bytes.begin(), bytes.end()) + std::string(c.stream.begin(), c.stream.end()));
    RunResult r = extract_into(dir / "a.vnr", dir / "out");
    EXPECT_FALSE(r.ok);
    ASSERT_FALSE(r.problems.empty());
    EXPECT_NE(r.problems.front().find(model.first == 16 ? "more than the 256 MB a 32-bit reader can give"
                                                         : "model order of 99"),
              std::string::npos)
        << r.problems.front();
    EXPECT_FALSE(exists(dir / "out/a.txt"));
  }
}

struct Tree {
  ScratchFolder dir;
  std::map<std::string, std::string> files;
  void add(const std::string& name, const std::string& bytes) {
    write_file(dir / ("src/" + name), bytes);
    files[name] = bytes;
  }
  std::vector<std::string> sources(const std::vector<std::string>& names) const {
    std::vector<std::string> out;
    for (const std::string& n : names) out.push_back(dir / ("src/" + n));
    return out;
  }
  std::vector<std::string> all() const {
    std::vector<std::string> names;
    for (const auto& f : files) names.push_back(f.first);
    return sources(names);
  }
  void expect_archive_holds_them(const std::string& archive) const {
    ScratchFolder out;
    RunResult r = extract_into(archive, out.path);
    ASSERT_TRUE(r.ok) << (r.problems.empty() ? "" : r.problems.front());
    for (const auto& f : files) EXPECT_EQ(read_file(out / f.first), f.second) << f.first;
  }
};

// Solid Ultra settings with a small, quick model and the fastest LZMA2 preset.
LzmaSettings quick_ultra() {
  LzmaSettings s = lzma_settings(1, true, 0, true);
  s.preset = 0;
  s.text = PpmdSettings{4, 4u << 20};
  return s;
}

RunResult add(const std::vector<std::string>& sources, const std::string& archive, int threads, bool solid = true,
              LzmaSettings lzma = quick_ultra()) {
  CompressJob job;
  job.archive_path = archive;
  job.sources = sources;
  job.solid = solid;
  job.threads = threads;
  job.lzma = solid ? lzma : lzma_settings(3, true, 0, false);
  if (!solid) job.zstd = zstd_settings(3, true, 0, false);
  job.memory_budget = 16 << 20;
  return compress_archive(job);
}

// The method of each member's stream, and the model records the index holds.
std::map<std::string, uint8_t> stream_methods(const std::string& archive, int* models = nullptr) {
  std::vector<StoredEntry> entries;
  std::string problem;
  EXPECT_TRUE(read_index(archive, 0, entries, problem)) << problem;
  std::map<std::string, uint8_t> out;
  uint8_t method = 0;
  for (const StoredEntry& e : entries) {
    if (!(e.header.flags & ENTRY_FLAG_SOLID_NEXT) && !e.header.is_copy()) method = e.header.method;
    out[e.header.name] = e.header.is_copy() ? METHOD_STORE : method;
    if (models && e.header.ppmd_order) ++*models;
  }
  return out;
}

// Text files fill several PPMd blocks beside a chained pair of LZMA2 blocks, a filtered program and
// packed data; each block is a stream with its model on its first entry, and all decode on two
// threads as on one. Without -s or Ultra nothing is PPMd.
TEST(PpmdArchive, TextBlocksBesideEveryOtherMethod) {
  Tree t;
  for (int i = 0; i < 4; ++i) t.add("text" + std::to_string(i) + ".py", sample_text(3 << 20, 20 + i));
  t.add("small.txt", "print('hello')\n");
  t.add("data.bin", random_bytes(1 << 20, 6) + std::string(8 << 20, '\0'));
  t.add("table.bin", random_bytes(1 << 20, 5) + std::string(4 << 20, '\0') + random_bytes(2 << 20, 5));
  t.add("tool.exe", "MZ" + std::string(0x3a, '\0') + std::string("\x40\0\0\0PE\0\0\x64\x86", 10) + sample_text(9000, 8));
  t.add("photo.jpg", "\xff\xd8\xff\xe0" + sample_text(40000, 9));
  t.add("empty.txt", "");
  for (int threads : {1, 2}) {
    std::string archive = t.dir / ("a" + std::to_string(threads) + ".vnr");
    ASSERT_TRUE(add(t.all(), archive, threads).ok);
    int models = 0;
    std::map<std::string, uint8_t> method = stream_methods(archive, &models);
    for (const char* name : {"text0.py", "text3.py", "small.txt"}) EXPECT_EQ(method[name], METHOD_PPMD) << name;
    EXPECT_EQ(method["table.bin"], METHOD_LZMA2);
    EXPECT_EQ(method["tool.exe"], METHOD_LZMA2);
    EXPECT_EQ(method["photo.jpg"], METHOD_ZSTD);
    EXPECT_GE(models, threads);  // two blocks a thread
    t.expect_archive_holds_them(archive);
  }
  ScratchFolder out;
  ToolRun run = run_tool("x -t2 '" + (t.dir / "a2.vnr") + "' '" + out.path + "'");
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(read_file(out / "text1.py"), t.files["text1.py"]);
  std::string plain = t.dir / "plain.vnr";
  ASSERT_TRUE(add(t.sources({"text0.py", "small.txt"}), plain, 2, false).ok);
  for (const auto& m : stream_methods(plain)) EXPECT_NE(m.second, METHOD_PPMD) << m.first;
}

// A copy of a text member, removing members from a PPMd stream (its first one included) and
// adding onto the archive: every stream stays whole and its model moves to its new first entry.
TEST(PpmdArchive, CopiesRemovalAndAddingKeepTextStreamsWhole) {
  Tree t;
  t.add("a.txt", sample_text(90000, 31));
  t.add("b.txt", sample_text(70000, 32));
  t.add("c.txt", sample_text(50000, 33));
  t.add("same.txt", t.files["b.txt"]);
  t.add("prog.exe", "MZ" + std::string(0x3a, '\0') + std::string("\x40\0\0\0PE\0\0\x64\x86", 10) + random_bytes(9000, 4));
  std::string archive = t.dir / "a.vnr";
  ASSERT_TRUE(add(t.all(), archive, 2).ok);
  std::map<std::string, uint8_t> method = stream_methods(archive);
  EXPECT_EQ(method["a.txt"], METHOD_PPMD);
  EXPECT_EQ(method["same.txt"], METHOD_STORE);  // a copy naming b.txt
  t.expect_archive_holds_them(archive);

  RemoveJob job;
  job.archive_path = archive;
  job.paths = {"a.txt", "c.txt"};
  RemoveResult removed = remove_members(job);
  ASSERT_TRUE(removed.run.ok) << (removed.run.problems.empty() ? "" : removed.run.problems.front());
  t.files.erase("a.txt");
  t.files.erase("c.txt");
  int models = 0;
  EXPECT_EQ(stream_methods(archive, &models)["b.txt"], METHOD_PPMD);
  EXPECT_EQ(models, 1);
  t.expect_archive_holds_them(archive);

  t.add("d.md", sample_text(40000, 34));
  ASSERT_TRUE(add(t.sources({"d.md"}), archive, 2).ok);
  t.add("e.log", sample_text(30000, 35));
  ASSERT_TRUE(add(t.sources({"e.log"}), archive, 1, false).ok);
  method = stream_methods(archive);
  EXPECT_EQ(method["d.md"], METHOD_PPMD);
  EXPECT_EQ(method["e.log"], METHOD_ZSTD);
  t.expect_archive_holds_them(archive);
}

}  // namespace
