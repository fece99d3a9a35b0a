// LZMA2 members and their filters: what content calls for which filter or the fast coder, archives
// written and read back (solid blocks, a large file's primed pieces, members of older methods and
// packed ones beside them, removal from a filtered stream), and damaged or hostile LZMA2 entries.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>

#include "codec.h"
#include "remove.h"
#include "tool_test_support.h"

namespace {

std::string le(uint32_t v, int width) {
  std::string s;
  for (int i = 0; i < width; ++i) s += static_cast<char>(v >> (8 * i));
  return s;
}

// Looks like machine code: calls and jumps between plain instructions, headed like a program.
std::string program(const std::string& head, size_t size) {
  std::string s = head;
  uint32_t x = 7;
  while (s.size() < size) {
    x = x * 1103515245u + 12345u;
    s += (x >> 29) < 2 ? std::string("\xe8") + le(0x1000 + (x >> 20), 4) : std::string("\x48\x89\xe5\x5d", 4);
  }
  s.resize(size);
  return s;
}

std::string elf(uint16_t machine, size_t size) {
  std::string head = std::string("\x7f" "ELF\x02\x01\x01", 7) + std::string(11, '\0') + le(machine, 2);
  return program(head, size);
}

std::string pe(uint16_t machine, size_t size) {
  std::string head = "MZ" + std::string(0x3a, '\0') + le(0x40, 4) + std::string("PE\0\0", 4) + le(machine, 2);
  return program(head, size);
}

std::string wave(int channels, int bits, size_t samples, uint16_t format = 1) {
  std::string fmt = le(format, 2) + le(channels, 2) + le(44100, 4) + le(44100 * channels * bits / 8, 4) +
                    le(channels * bits / 8, 2) + le(bits, 2);
  std::string data;
  for (size_t i = 0; i < samples; ++i)
    for (int c = 0; c < channels; ++c)
      data += le(static_cast<uint32_t>(static_cast<int>(8000 * std::sin(i * 0.01 * (c + 1)))), bits / 8);
  return "RIFF" + le(static_cast<uint32_t>(36 + data.size()), 4) + "WAVEfmt " + le(16, 4) + fmt + "data" +
         le(static_cast<uint32_t>(data.size()), 4) + data;
}

std::string bitmap(int bits) {
  std::string s = "BM" + std::string(26, '\0') + le(bits, 2) + le(0, 4);
  for (int i = 0; i < 60000; ++i) s += static_cast<char>(i / 3 % 251);
  return s;
}

uint8_t filter_of(const std::string& bytes, int* distance = nullptr) {
  int d = -1;
  uint8_t f = filter_for_content(reinterpret_cast<const uint8_t*>(bytes.data()),
                                 std::min(bytes.size(), FILTER_HEAD_BYTES), d);
  if (distance) *distance = d;
  return f;
}

TEST(ContentFilter, ProgramsByTheirHeadersNotTheirNames) {
  EXPECT_EQ(filter_of(elf(62, 200)), FILTER_X86);
  EXPECT_EQ(filter_of(elf(3, 200)), FILTER_X86);
  EXPECT_EQ(filter_of(elf(183, 200)), FILTER_ARM64);
  EXPECT_EQ(filter_of(elf(40, 200)), FILTER_NONE);  // 32-bit ARM: no filter here
  std::string big_endian = elf(62, 200);
  big_endian[5] = 2;
  EXPECT_EQ(filter_of(big_endian), FILTER_NONE);
  EXPECT_EQ(filter_of(pe(0x8664, 300)), FILTER_X86);
  EXPECT_EQ(filter_of(pe(0x14c, 300)), FILTER_X86);
  EXPECT_EQ(filter_of(pe(0xaa64, 300)), FILTER_ARM64);
  std::string object = std::string(2, '\0') + program("", 100);
  std::string ar = "!<arch>\n/               0           0     0     0       4         `\n" + std::string(4, '\0') +
                   "a.o/            0           0     0     644     100       `\n" + le(0x8664, 2) + object;
  EXPECT_EQ(filter_of(ar), FILTER_X86);
}

TEST(ContentFilter, SamplesGetTheirStrideAndDamagedHeadsNothing) {
  int distance = 0;
  EXPECT_EQ(filter_of(wave(2, 16, 100), &distance), FILTER_DELTA);
  EXPECT_EQ(distance, 4);
  EXPECT_EQ(filter_of(wave(1, 24, 100), &distance), FILTER_DELTA);
  EXPECT_EQ(distance, 3);
  EXPECT_EQ(filter_of(wave(2, 16, 100, 3)), FILTER_NONE);  // floating point
  EXPECT_EQ(filter_of(bitmap(24), &distance), FILTER_DELTA);
  EXPECT_EQ(distance, 3);
  EXPECT_EQ(filter_of(bitmap(8)), FILTER_NONE);
  // Offsets pointing past what was read, cut headers and lookalikes choose nothing and read nothing
  // outside the head (the sanitizer build watches).
  std::string far = pe(0x8664, 300);
  far.replace(0x3c, 4, le(0xfffffff0u, 4));
  EXPECT_EQ(filter_of(far), FILTER_NONE);
  EXPECT_EQ(filter_of("MZ"), FILTER_NONE);
  EXPECT_EQ(filter_of("\x7f" "EL"), FILTER_NONE);
  EXPECT_EQ(filter_of("RIFF\x10\0\0\0WAVEfmt \xff\xff\xff\xff"), FILTER_NONE);
  EXPECT_EQ(filter_of("!<arch>\n/   0 0 0 0 99999999999 `\n"), FILTER_NONE);
  EXPECT_EQ(filter_of(sample_text(5000, 3)), FILTER_NONE);
}

bool packed(const std::string& head) {
  return looks_packed(reinterpret_cast<const uint8_t*>(head.data()), head.size());
}

// Formats coded to the last bit go to the fast coder; deflate's (which LZMA2 still shrinks), text
// and programs do not, whatever their names, and lookalikes or cut heads decide nothing.
TEST(ContentFilter, PackedDataByItsHeadNotItsName) {
  for (const std::string& head : {std::string("\xfd" "7zXZ\0\0\x04", 8), std::string("\x28\xb5\x2f\xfd\x24\x00"),
                                 std::string("!<arch>\ndebian-binary   1342"), std::string("\xff\xd8\xff\xe0\0\x10JFIF"),
                                 std::string("7z\xbc\xaf\x27\x1c\0\x04"), std::string("BZh91AY&SY\x01"),
                                 std::string("\0\0\0\x20" "ftypisom", 12), std::string("OggS\0\x02")})
    EXPECT_TRUE(packed(head)) << head;
  for (const std::string& head : {std::string("\x1f\x8b\x08\0"), std::string("PK\x03\x04\x14\0"),
                                 std::string("\x89PNG\r\n\x1a\n\0"), std::string("!<arch>\n/    "),
                                 std::string("BZh9 is not a stream"), std::string("\xfd" "7zX"), std::string("ftyp"),
                                 elf(62, 200), sample_text(500, 1)})
    EXPECT_FALSE(packed(head)) << head.substr(0, 16);
}

struct LzmaTree {
  ScratchFolder dir;
  std::vector<std::string> names;
  void add(const std::string& name, const std::string& bytes) {
    write_file(dir / ("src/" + name), bytes);
    names.push_back(name);
  }
  std::vector<std::string> sources() const {
    std::vector<std::string> out;
    for (const std::string& n : names) out.push_back(dir / ("src/" + n));
    return out;
  }
};

RunResult compress_lzma(const std::vector<std::string>& sources, const std::string& archive, int threads,
                        LzmaSettings lzma = lzma_settings(3, true, 0, true)) {
  CompressJob job;
  job.archive_path = archive;
  job.sources = sources;
  job.solid = true;
  job.threads = threads;
  job.lzma = lzma;
  job.memory_budget = 16 << 20;
  return compress_archive(job);
}

std::vector<StoredEntry> index_of(const std::string& archive) {
  std::vector<StoredEntry> entries;
  std::string problem;
  EXPECT_TRUE(read_index(archive, 0, entries, problem)) << problem;
  return entries;
}

void expect_extracts_as(const LzmaTree& t, const std::string& archive) {
  ScratchFolder out;
  RunResult r = extract_into(archive, out.path);
  ASSERT_TRUE(r.ok) << (r.problems.empty() ? "" : r.problems.front());
  for (const std::string& n : t.names) EXPECT_EQ(read_file(out / n), read_file(t.dir / ("src/" + n))) << n;
}

// Programs, sound, pixels and text in one solid run: every kind gets a stream of its own filter,
// each stream's first entry records it with the dictionary, and all come back byte for byte.
TEST(LzmaArchive, StreamsByFilterRecordTheirSettingsAndRoundTrip) {
  LzmaTree t;
  t.add("app.exe", pe(0x8664, 150000));
  t.add("tool", elf(62, 120000));
  t.add("arm", elf(183, 50000));
  t.add("song.wav", wave(2, 16, 20000));
  t.add("picture.bmp", bitmap(24));
  t.add("readme.txt", sample_text(80000, 5));
  t.add("tiny", "\xe8\x01");  // a filtered stream shorter than one instruction
  t.add("empty", "");
  for (int threads : {1, 2}) {
    std::string archive = t.dir / ("a" + std::to_string(threads) + ".vnr");
    ASSERT_TRUE(compress_lzma(t.sources(), archive, threads).ok);
    std::map<std::string, uint8_t> filter_of_stream;  // by member
    uint8_t stream_filter = FILTER_NONE;
    for (const StoredEntry& e : index_of(archive)) {
      const EntryHeader& h = e.header;
      bool starts = !(h.flags & ENTRY_FLAG_SOLID_NEXT);
      if (starts) stream_filter = h.filter;
      filter_of_stream[h.name] = stream_filter;
      if (h.method == METHOD_LZMA2 && starts) {
        EXPECT_GE(h.dictionary, 4096u) << h.name;
      } else {
        EXPECT_EQ(h.dictionary, 0u) << h.name;
        EXPECT_EQ(h.filter, FILTER_NONE) << h.name;
      }
    }
    EXPECT_EQ(filter_of_stream["app.exe"], FILTER_X86);
    EXPECT_EQ(filter_of_stream["tool"], FILTER_X86);
    EXPECT_EQ(filter_of_stream["readme.txt"], FILTER_NONE);
    EXPECT_EQ(filter_of_stream["arm"], FILTER_ARM64);
    EXPECT_EQ(filter_of_stream["song.wav"], FILTER_DELTA);
    expect_extracts_as(t, archive);
  }
}

// A file much larger than a solid block is cut into pieces primed with the data before them,
// which must decode as one stream; then members of older methods sit beside LZMA2 ones.
TEST(LzmaArchive, LargeFilePiecesAndOlderMethodsBeside) {
  LzmaTree t;
  std::string big;
  for (int i = 0; big.size() < (80u << 20); ++i) big += sample_text(1 << 20, static_cast<unsigned>(i % 5));
  t.add("big.log", big);
  std::string archive = t.dir / "a.vnr";
  LzmaSettings fast;
  fast.preset = 0;
  fast.dictionary = 16 << 20;
  ASSERT_TRUE(compress_lzma(t.sources(), archive, 2, fast).ok);
  std::vector<StoredEntry> entries = index_of(archive);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].header.dictionary, 16u << 20);
  EXPECT_LT(entries[0].header.compressed_size, big.size() / 20);  // the pieces share one history

  t.add("older.txt", sample_text(30000, 9));
  CompressJob zstd;
  zstd.archive_path = archive;
  zstd.sources = {t.dir / "src/older.txt"};
  zstd.zstd = zstd_settings(3, false, 0, false);
  ASSERT_TRUE(compress_archive(zstd).ok);
  t.add("more.exe", pe(0x14c, 40000));
  ASSERT_TRUE(compress_lzma({t.dir / "src/more.exe"}, archive, 2).ok);
  expect_extracts_as(t, archive);
}

// Removing a member from a filtered stream writes the stream again with its filter on its new
// first entry.
TEST(LzmaArchive, RemovalKeepsTheStreamsFilter) {
  LzmaTree t;
  t.add("a.exe", pe(0x8664, 60000));
  t.add("b.exe", pe(0x8664, 70000));
  t.add("c.exe", pe(0x8664, 80000));
  std::string archive = t.dir / "a.vnr";
  ASSERT_TRUE(compress_lzma(t.sources(), archive, 1).ok);
  RemoveJob job;
  job.archive_path = archive;
  job.paths = {"a.exe"};
  RemoveResult removed = remove_members(job);
  ASSERT_TRUE(removed.run.ok) << (removed.run.problems.empty() ? "" : removed.run.problems.front());
  std::vector<StoredEntry> entries = index_of(archive);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].header.filter, FILTER_X86);
  EXPECT_NE(entries[0].header.dictionary, 0u);
  EXPECT_EQ(entries[1].header.filter, FILTER_NONE);
  t.names = {"b.exe", "c.exe"};
  expect_extracts_as(t, archive);
}

// Members compressed already share a zstd stream of their own after the LZMA2 ones, never cut
// into pieces; a text named like a package stays with the text. Then the run is added to and a
// packed member removed, and everything still comes back.
TEST(LzmaArchive, PackedMembersShareAFastStreamOfTheirOwn) {
  LzmaTree t;
  t.add("backup.xz", std::string("\xfd" "7zXZ\0", 6) + random_bytes(300000, 1));
  t.add("photo.jpg", "\xff\xd8\xff\xe0" + random_bytes(200000, 2));
  t.add("tool.deb", "!<arch>\ndebian-binary   " + random_bytes(200000, 2));  // the photo's bytes again
  t.add("named.xz", sample_text(90000, 4));
  t.add("readme.txt", sample_text(70000, 5));
  std::string archive = t.dir / "a.vnr";
  ASSERT_TRUE(compress_lzma(t.sources(), archive, 2).ok);
  std::vector<StoredEntry> entries = index_of(archive);
  ASSERT_EQ(entries.size(), 5u);
  std::map<std::string, uint8_t> method_of;  // the method of each member's stream
  uint8_t stream_method = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const EntryHeader& h = entries[i].header;
    if (!(h.flags & ENTRY_FLAG_SOLID_NEXT)) stream_method = h.method;
    method_of[h.name] = stream_method;
    if (i >= 2) {
      EXPECT_EQ(stream_method, METHOD_ZSTD) << h.name << " comes after the LZMA2 and PPMd streams";
    }
  }
  EXPECT_EQ(method_of["backup.xz"], METHOD_ZSTD);
  EXPECT_EQ(method_of["photo.jpg"], METHOD_ZSTD);
  EXPECT_EQ(method_of["named.xz"], METHOD_PPMD);  // text, by its bytes
  EXPECT_EQ(method_of["readme.txt"], METHOD_PPMD);
  // The package repeats the photo: the packed members share one stream.
  EXPECT_LT(entries[2].header.compressed_size + entries[3].header.compressed_size + entries[4].header.compressed_size,
            560000u);
  expect_extracts_as(t, archive);

  t.add("more.txt", sample_text(20000, 6));
  ASSERT_TRUE(compress_lzma({t.dir / "src/more.txt"}, archive, 2).ok);
  RemoveJob job;
  job.archive_path = archive;
  job.paths = {"photo.jpg"};
  RemoveResult removed = remove_members(job);
  ASSERT_TRUE(removed.run.ok) << (removed.run.problems.empty() ? "" : removed.run.problems.front());
  t.names = {"backup.xz", "tool.deb", "named.xz", "readme.txt", "more.txt"};
  expect_extracts_as(t, archive);
}

// The blocks of a solid run continue one stream, each primed with the data before it: a file that
// repeats the end of the previous block costs next to nothing, the stream's settings are on its
// first entry only, and all of it comes back, on one thread or two.
TEST(LzmaArchive, BlocksContinueOneStreamPrimedWithWhatCameBefore) {
  LzmaTree t;
  std::string second = sample_text(3 << 20, 12) + random_bytes(1 << 20, 12);
  t.add("1.log", sample_text(4 << 20, 11));
  t.add("2.log", second);
  t.add("3.log", second.substr(1 << 20) + sample_text(1 << 19, 13));  // the end of the first block again
  t.add("4.log", sample_text(2 << 20, 14));
  LzmaSettings fast;
  fast.preset = 0;
  fast.dictionary = 32 << 20;
  for (int threads : {1, 2}) {
    std::string archive = t.dir / ("a" + std::to_string(threads) + ".vnr");
    ASSERT_TRUE(compress_lzma(t.sources(), archive, threads, fast).ok);
    std::vector<StoredEntry> entries = index_of(archive);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_FALSE(entries[0].header.flags & ENTRY_FLAG_SOLID_NEXT);
    EXPECT_NE(entries[0].header.dictionary, 0u);
    for (size_t i = 1; i < entries.size(); ++i) {
      EXPECT_TRUE(entries[i].header.flags & ENTRY_FLAG_SOLID_NEXT) << i;
      EXPECT_EQ(entries[i].header.dictionary, 0u) << i;
    }
    expect_extracts_as(t, archive);
  }
  // 3.log starts the second block: its megabyte of noise is found in the first and costs nothing.
  std::string without = t.dir / "without.vnr";
  ASSERT_TRUE(compress_lzma({t.dir / "src/1.log", t.dir / "src/2.log", t.dir / "src/4.log"}, without, 2, fast).ok);
  uint64_t all = std::filesystem::file_size(t.dir / "a2.vnr"), rest = std::filesystem::file_size(without);
  EXPECT_LT(all - rest, 512u << 10);
}

// A block is primed with the end of the files before it, read a second time. Should a file have
// changed since the block before read it, the stream would not decode: the run fails and the
// archive it adds to stays byte for byte.
TEST(LzmaArchive, PrimingBytesChangedSinceTheBlockBeforeReadThemFailTheRun) {
  LzmaTree t;
  t.add("old.txt", sample_text(50000, 10));
  std::string archive = t.dir / "a.vnr";
  ASSERT_TRUE(compress_lzma(t.sources(), archive, 1).ok);
  const std::string before = read_file(archive);
  LzmaTree added;
  added.add("1.log", sample_text(4 << 20, 11));
  added.add("2.log", sample_text(4 << 20, 12));
  added.add("3.log", sample_text(4 << 20, 13));
  added.add("4.log", sample_text(2 << 20, 14));
  CompressJob job;
  job.archive_path = archive;
  job.sources = added.sources();
  job.solid = true;
  job.threads = 1;  // two blocks, the second primed with the first's end
  job.lzma.preset = 0;
  job.lzma.dictionary = 32 << 20;
  int changed = 0;
  job.before_priming = [&](const std::string& path) {
    if (path != added.dir / "src/2.log" || changed++) return;
    std::string bytes = read_file(path);
    bytes[bytes.size() - 100] ^= 1;
    write_file(path, bytes);
  };
  RunResult r = compress_archive(job);
  EXPECT_EQ(changed, 1);
  EXPECT_FALSE(r.ok);
  ASSERT_EQ(r.problems.size(), 1u);
  EXPECT_NE(r.problems[0].find("2.log changed while it was read"), std::string::npos) << r.problems[0];
  EXPECT_TRUE(read_file(archive) == before);
}

// ---- Damaged and hostile LZMA2 entries ----

std::string lzma_stream(const std::string& data, uint8_t filter, uint32_t& dictionary) {
  std::unique_ptr<EncodingMethod> method = lzma2_encoding(lzma_settings(1, true, 0, true));
  std::unique_ptr<Encoder> encoder = method->encoder();
  encoder->use_filter(filter, 0);
  std::vector<uint8_t> out;
  std::string problem;
  EXPECT_TRUE(encoder->compress_all(reinterpret_cast<const uint8_t*>(data.data()), data.size(), out, problem));
  dictionary = encoder->dictionary();
  return std::string(out.begin(), out.end());
}

std::string lzma_entry(const std::string& name, const std::string& data, const std::string& packed,
                       uint32_t dictionary, uint8_t filter, int64_t recorded = -1) {
  EntryHeader h;
  h.name = name;
  h.method = METHOD_LZMA2;
  h.size = recorded >= 0 ? recorded : static_cast<int64_t>(data.size());
  h.crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  h.compressed_size = packed.size();
  h.filter = filter;
  h.dictionary = dictionary;
  h.entry_length = header_size(h) + static_cast<int64_t>(packed.size());
  std::vector<uint8_t> bytes = encode_header(h);
  return std::string(bytes.begin(), bytes.end()) + packed;
}

// Every damaged member fails alone with a reason; the sound one beside it still extracts.
TEST(LzmaDamage, EachBadMemberFailsAloneWithAReason) {
  std::string data = program("", 50000);
  uint32_t dictionary = 0;
  std::string packed = lzma_stream(data, FILTER_X86, dictionary);
  std::string flipped = packed;
  flipped[flipped.size() / 2] ^= 0x55;
  std::string short_data = "\xe8\x01\x02";
  uint32_t short_dictionary = 0;
  std::string short_packed = lzma_stream(short_data, FILTER_X86, short_dictionary);
  struct Case {
    const char* what;
    std::string entry;
  } cases[] = {
      {"truncated", lzma_entry("t", data, packed.substr(0, packed.size() / 2), dictionary, FILTER_X86)},
      {"no end marker", lzma_entry("e", data, packed.substr(0, packed.size() - 1), dictionary, FILTER_X86)},
      {"flipped", lzma_entry("f", data, flipped, dictionary, FILTER_X86)},
      {"size too small", lzma_entry("s", data, packed, dictionary, FILTER_X86, 100)},
      {"size too large", lzma_entry("l", data, packed, dictionary, FILTER_X86, 60000)},
      {"wrong filter", lzma_entry("w", data, packed, dictionary, FILTER_ARM64)},
      {"no dictionary", lzma_entry("d", data, packed, 0, FILTER_X86)},
      {"huge dictionary", lzma_entry("h", data, packed, 0xfffffff0u, FILTER_X86)},
  };
  std::string sound = lzma_entry("sound", short_data, short_packed, short_dictionary, FILTER_X86);
  for (const Case& c : cases) {
    ScratchFolder dir;
    write_file(dir / "a.vnr", c.entry + sound);
    RunResult r = extract_into(dir / "a.vnr", dir / "out/");
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_EQ(r.problems.size(), 1u) << c.what;
    EXPECT_EQ(read_file(dir / "out/sound"), short_data) << c.what;
    EXPECT_EQ(sorted_names_in(dir / "out/"), std::vector<std::string>{"sound"}) << c.what;
  }
}

// Own field records the archiver does not know, or in places where they make no sense, make the
// entry unreadable rather than misread.
TEST(LzmaDamage, MisplacedOrUnknownFieldsAreRefused) {
  EntryHeader h;
  h.name = "x";
  h.method = METHOD_LZMA2;
  h.dictionary = 1 << 20;
  h.filter = FILTER_DELTA;
  h.filter_distance = 256;
  h.entry_length = header_size(h);
  std::vector<uint8_t> bytes = encode_header(h);
  EntryHeader back;
  size_t needed = 0;
  std::string problem;
  ASSERT_EQ(decode_header(bytes.data(), bytes.size(), back, needed, problem), DecodeStatus::OK) << problem;
  EXPECT_EQ(back.filter_distance, 256);
  EXPECT_EQ(back.dictionary, 1u << 20);
  EXPECT_EQ(decode_header(bytes.data(), bytes.size() - 1, back, needed, problem), DecodeStatus::NEED_MORE);

  auto refused = [&](std::vector<uint8_t> b, const char* what) {
    EntryHeader out;
    std::string why;
    EXPECT_EQ(decode_header(b.data(), b.size(), out, needed, why), DecodeStatus::BAD) << what;
  };
  std::vector<uint8_t> unknown = bytes;
  unknown[bytes.size() - 7 - 5] = 9;  // the filter record's tag
  refused(unknown, "unknown tag");
  std::vector<uint8_t> bad_filter = bytes;
  bad_filter[bytes.size() - 7 - 3] = 7;  // the filter itself
  refused(bad_filter, "unknown filter");
  EntryHeader next = h;
  next.flags = ENTRY_FLAG_SOLID_NEXT;
  next.entry_length = header_size(next);
  refused(encode_header(next), "settings inside a stream");
  EntryHeader zstd = h;
  zstd.method = METHOD_ZSTD;
  refused(encode_header(zstd), "settings on another method");
}

// ---- Fitting the memory there is ----

// Solid Ultra's threads and dictionary as fitted to `limit` bytes, the dictionary as an encoder
// begins a large stream with it.
struct Fitted {
  int threads = 0;
  uint32_t dictionary = 0;
  std::string note;
};

Fitted fit_ultra(int window_position, int threads, int64_t limit) {
  std::unique_ptr<EncodingMethod> method = lzma2_encoding(lzma_settings(3, true, window_position, true));
  Fitted f;
  f.threads = threads;
  f.note = method->fit(f.threads, true, limit);
  std::unique_ptr<Encoder> encoder = method->encoder();
  std::string problem;
  EXPECT_TRUE(encoder->begin(int64_t(1) << 30, problem)) << problem;
  f.dictionary = encoder->dictionary();
  return f;
}

// The front end's largest Ultra + Solid (-k7 -t8) in a 32-bit process keeps two threads with a
// 64 MB dictionary, as the usage says; a smaller budget takes the threads, then the dictionary,
// and says so; what fits is left alone.
TEST(LzmaFit, SolidUltraLowersTheDictionaryThenTheThreadsToFit) {
  std::unique_ptr<EncodingMethod> method = lzma2_encoding(lzma_settings(3, true, 7, true));
  int threads = 8;
  EXPECT_EQ(method->fit(threads, true, ADDRESS_SPACE_32_BIT),
            "note: to fit the 32-bit address space, 2 thread(s) and a 64 MB dictionary are used");
  EXPECT_EQ(threads, 2);

  Fitted small = fit_ultra(7, 8, 300 << 20);
  EXPECT_EQ(small.threads, 1);
  EXPECT_LT(small.dictionary, 64u << 20);
  EXPECT_GE(small.dictionary, LZMA_DICTIONARY_MIN);
  EXPECT_EQ(small.note, "note: to fit the 32-bit address space, 1 thread(s) and a " +
                            std::to_string(small.dictionary >> 20) + " MB dictionary are used");

  Fitted roomy = fit_ultra(1, 2, ADDRESS_SPACE_32_BIT);
  EXPECT_EQ(roomy.threads, 2);
  EXPECT_EQ(roomy.dictionary, 4u << 20);
  EXPECT_EQ(roomy.note, "");
}

// A run fitted to a small budget says so and still comes back byte for byte.
TEST(LzmaFit, ARunFittedToASmallBudgetRoundTrips) {
  LzmaTree t;
  t.add("a.txt", sample_text(300000, 1));
  t.add("b.exe", pe(0x8664, 200000));
  t.add("c.txt", sample_text(200000, 2));
  CompressJob job;
  job.archive_path = t.dir / "a.vnr";
  job.sources = t.sources();
  job.solid = true;
  job.threads = 4;
  job.lzma = lzma_settings(3, true, 7, true);
  job.address_space = 300 << 20;
  RunResult r = compress_archive(job);
  ASSERT_TRUE(r.ok) << (r.problems.empty() ? "" : r.problems.front());
  ASSERT_EQ(r.notes.size(), 1u);
  EXPECT_NE(r.notes[0].find("1 thread(s)"), std::string::npos) << r.notes[0];
  expect_extracts_as(t, job.archive_path);
}

// Many workers over streams with big dictionaries would each hold one: the workers are fitted to
// the budget, never below one, say so, and every member comes back.
TEST(LzmaFit, DecodingWorkersFitTheirStreamsDictionaries) {
  ScratchFolder dir;
  std::string data = sample_text(1 << 20, 3);
  uint32_t unused = 0;
  std::string packed = lzma_stream(data, FILTER_NONE, unused);
  std::string archive;
  for (int i = 0; i < 8; ++i) archive += lzma_entry("m" + std::to_string(i), data, packed, LZMA_DICTIONARY_MAX, FILTER_NONE);
  write_file(dir / "a.vnr", archive);
  struct Case {
    int64_t budget;
    const char* note;
  } cases[] = {{int64_t(20) << 20, "note: to fit the 32-bit address space, 3 thread(s) decode"},
               {1, "note: to fit the 32-bit address space, 1 thread(s) decode"},
               {int64_t(1) << 30, nullptr}};
  for (const Case& c : cases) {
    for (ReadMode mode : {ReadMode::EXTRACT, ReadMode::TEST}) {
      ReadJob job;
      job.mode = mode;
      job.archive_path = dir / "a.vnr";
      job.destination = dir / ("out" + std::to_string(c.budget));
      job.threads = 8;
      job.address_space = c.budget;
      RunResult r = read_archive(job);
      ASSERT_TRUE(r.ok) << (r.problems.empty() ? "" : r.problems.front());
      EXPECT_EQ(r.members, 8);
      EXPECT_EQ(r.notes, c.note ? std::vector<std::string>{c.note} : std::vector<std::string>{}) << c.budget;
    }
    for (int i = 0; i < 8; ++i)
      EXPECT_TRUE(read_file(dir / ("out" + std::to_string(c.budget) + "/m" + std::to_string(i))) == data) << i;
  }
}

}  // namespace
