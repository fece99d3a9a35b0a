// zstd in the archiver: round trips in every mode, the level table and memory fitting, and
// hostile zstd data (huge windows, members longer or shorter than recorded, truncated frames).
#include <fcntl.h>
#include <pty.h>
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <thread>
#include <tuple>

#include "codec.h"
#include "engine.h"
#include "tool_test_support.h"

namespace {

struct Sample {
  ScratchFolder dir;
  std::vector<std::string> files;
  Sample() { std::system(("mkdir -p '" + (dir / "src/empty") + "' '" + (dir / "src/small") + "'").c_str()); }
  void add(const std::string& rel, const std::string& bytes) {
    std::ofstream(dir / ("src/" + rel), std::ios::binary) << bytes;
    files.push_back(rel);
  }
};

// Empty files, many small ones and, when asked, one larger than two zstd pieces.
void fill(Sample& s, bool large) {
  s.add("empty/a.txt", "");
  s.add("empty/b.txt", "");
  for (int i = 0; i < 100; ++i) s.add("small/f" + std::to_string(i) + ".h", sample_text(40 + i * 13, i));
  if (large) s.add("large.log", sample_text(17 << 20, 99));
}

RunResult compress(const Sample& s, const std::string& archive, int method, bool ultra, bool solid, int threads) {
  CompressJob job;
  job.archive_path = archive;
  job.sources = {s.dir / "src"};
  job.deflate = deflate_settings(method, ultra, 7);
  job.zstd = zstd_settings(method, ultra, 0, solid);
  job.solid = solid;
  job.threads = threads;
  return compress_archive(job);
}

RunResult read(const std::string& archive, const std::string& destination, ReadMode mode = ReadMode::EXTRACT) {
  ReadJob job;
  job.mode = mode;
  job.archive_path = archive;
  job.destination = destination;
  job.threads = 2;
  return read_archive(job);
}

std::string first_problem(const RunResult& r) { return r.problems.empty() ? "" : r.problems[0]; }

class ZstdRoundTrip : public ::testing::TestWithParam<std::tuple<int, bool, bool>> {};

TEST_P(ZstdRoundTrip, EveryMemberComesBackWithItsMethod) {
  auto [method, ultra, solid] = GetParam();
  Sample s;
  fill(s, method == 1 && !ultra);
  std::string archive = s.dir / "a.vnr";
  RunResult w = compress(s, archive, method, ultra, solid, 2);
  ASSERT_TRUE(w.ok) << first_problem(w);
  RunResult r = read(archive, s.dir / "out");
  ASSERT_TRUE(r.ok) << first_problem(r);
  EXPECT_EQ(r.members, static_cast<int64_t>(s.files.size()));
  for (const std::string& f : s.files) EXPECT_EQ(read_file(s.dir / ("out/" + f)), read_file(s.dir / ("src/" + f))) << f;

  int zstd_members = 0;
  ReadJob list;
  list.mode = ReadMode::LIST;
  list.archive_path = archive;
  list.on_entry = [&](const EntryHeader& h) { zstd_members += h.method == METHOD_ZSTD; };
  ASSERT_TRUE(read_archive(list).ok);
  if (method == 0) EXPECT_EQ(zstd_members, 0);
  else EXPECT_GT(zstd_members, 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, ZstdRoundTrip,
                         ::testing::Combine(::testing::Values(0, 1, 3), ::testing::Bool(), ::testing::Bool()));

// The table the usage text and the README give: -m1 -m2 -m3 -mx1 -mx2 -mx3, alone and solid.
TEST(ZstdSettings, LevelsGrowAndTheWindowFollowsTheSlider) {
  const int alone[2][4] = {{0, 4, 5, 6}, {0, 9, 15, 19}};
  const int solid[2][4] = {{0, 3, 12, 15}, {0, 16, 17, 17}};
  for (bool in_stream : {false, true})
    for (bool ultra : {false, true})
      for (int m = 0; m <= 3; ++m)
        EXPECT_EQ(zstd_settings(m, ultra, 7, in_stream).level, (in_stream ? solid : alone)[ultra][m])
            << "-m" << (ultra ? "x" : "") << m << (in_stream ? " -s" : "");
  for (int k = 0; k <= 7; ++k) {
    EXPECT_EQ(zstd_settings(3, false, k, false).window_log, 21 + k) << "-k" << k << ": " << (2 << k) << " MB";
    EXPECT_EQ(zstd_settings(1, true, k, true).window_log, 21 + k) << "-k" << k << " -s";
  }
}

// What a setting too large for the address space gives up, in order: zstd's workers, then our
// encoders, then window; the note says what is left.
TEST(ZstdMemory, UltraWithTheWidestWindowFitsA32BitProcess) {
  const int64_t limit = int64_t(1400) << 20;
  ZstdSettings s = zstd_settings(3, true, 7, true);
  s.workers = 8;
  int encoders = 1;
  std::string note = fit_zstd_memory(s, encoders, limit);
  EXPECT_LE(zstd_memory_estimate(s, encoders), limit);
  EXPECT_GE(s.workers, 1);
  ZstdSettings one_more = s;
  ++one_more.workers;
  if (s.window_log == 28) {
    EXPECT_GT(zstd_memory_estimate(one_more, 1), limit) << "no worker given up in vain";
  }
  EXPECT_EQ(note, "note: to fit the 32-bit address space, " + std::to_string(s.workers) + " thread(s) and a " +
                      std::to_string((int64_t(1) << s.window_log) >> 20) + " MB window are used");

  // Workers go before the window: a limit that one worker at the full window fits keeps it.
  ZstdSettings wide = zstd_settings(3, true, 7, true);
  wide.workers = 1;
  const int64_t one_worker = zstd_memory_estimate(wide, 1);
  wide.workers = 6;
  encoders = 1;
  EXPECT_EQ(fit_zstd_memory(wide, encoders, one_worker),
            "note: to fit the 32-bit address space, 1 thread(s) and a 256 MB window are used");
  EXPECT_EQ(wide.workers, 1);
  EXPECT_EQ(wide.window_log, 28);
  // Below that, the window shrinks only once a single worker is left.
  wide.workers = 6;
  EXPECT_EQ(fit_zstd_memory(wide, encoders, one_worker - 1),
            "note: to fit the 32-bit address space, 1 thread(s) and a 128 MB window are used");
  EXPECT_EQ(wide.workers, 1);
  EXPECT_EQ(wide.window_log, 27);

  // Members on their own: encoders go first, then the window.
  ZstdSettings plain = zstd_settings(3, true, 7, false);
  int threads = 1;
  const int64_t one_encoder = zstd_memory_estimate(plain, 1);
  threads = 8;
  EXPECT_EQ(fit_zstd_memory(plain, threads, one_encoder),
            "note: to fit the 32-bit address space, 1 thread(s) and a 256 MB window are used");
  EXPECT_EQ(threads, 1);
  EXPECT_EQ(plain.window_log, 28);

  ZstdSettings fast = zstd_settings(1, false, 0, false);
  int two = 2;
  EXPECT_EQ(fit_zstd_memory(fast, two, limit), "") << "a setting that fits is left alone";
  EXPECT_EQ(two, 2);
}

// One zstd member built by hand around `frame`, recording `size` and the CRC of `data`.
std::string zstd_entry(const std::string& frame, const std::string& data, int64_t size) {
  EntryHeader h;
  h.name = "m.txt";
  h.size = size;
  h.method = METHOD_ZSTD;
  h.compressed_size = frame.size();
  h.crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  h.entry_length = header_size(h.name.size(), 0) + static_cast<int64_t>(frame.size());
  std::vector<uint8_t> bytes = encode_header(h);
  return std::string(bytes.begin(), bytes.end()) + frame;
}

std::string zstd_frame(const std::string& data) {
  ZstdEncoder encoder(zstd_settings(3, false, 0, false));
  std::vector<uint8_t> out;
  std::string problem;
  EXPECT_TRUE(encoder.compress_all(reinterpret_cast<const uint8_t*>(data.data()), data.size(), out, problem));
  return std::string(out.begin(), out.end());
}

void expect_refused(const std::string& archive_bytes, const std::string& reason) {
  ScratchFolder dir;
  write_file(dir / "a.vnr", archive_bytes);
  RunResult r = read(dir / "a.vnr", dir / "out");
  EXPECT_FALSE(r.ok);
  EXPECT_NE(first_problem(r).find(reason), std::string::npos) << first_problem(r);
  EXPECT_FALSE(exists(dir / "out/m.txt"));
  EXPECT_FALSE(read(dir / "a.vnr", "", ReadMode::TEST).ok);
}

TEST(HostileZstd, HugeWindowIsRefusedBeforeAnyAllocation) {
  // Magic, a frame header without single-segment flag, window descriptor 2^31, then a block.
  const std::string frame("\x28\xB5\x2F\xFD\x00\xA8\x01\x00\x00", 9);
  expect_refused(zstd_entry(frame, "", 1), "window larger than 256 MB");
}

TEST(HostileZstd, WrongRecordedSizesAndTruncatedFramesAreRefused) {
  std::string data = sample_text(100000, 5);
  std::string frame = zstd_frame(data);
  expect_refused(zstd_entry(frame, data.substr(0, 50000), 50000), "longer than the recorded size");
  expect_refused(zstd_entry(frame, data + "more", static_cast<int64_t>(data.size()) + 4),
                 "shorter than the recorded size");
  expect_refused(zstd_entry(frame.substr(0, frame.size() / 2), data, static_cast<int64_t>(data.size())),
                 "truncated");
  expect_refused(zstd_entry(frame + frame, data, static_cast<int64_t>(data.size())), "longer than the recorded size");

  ScratchFolder dir;
  write_file(dir / "empty.vnr", zstd_entry(zstd_frame(""), "", 0));
  RunResult empty = read(dir / "empty.vnr", dir / "out");
  EXPECT_TRUE(empty.ok) << first_problem(empty);
  EXPECT_TRUE(exists(dir / "out/m.txt"));
}

TEST(HostileZstd, BufferDecoderStopsAtItsLimit) {
  std::string data = sample_text(300000, 6);
  std::string frame = zstd_frame(data);
  std::vector<uint8_t> out;
  std::string problem;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(frame.data());
  EXPECT_TRUE(zstd_decode_buffer(p, frame.size(), data.size(), out, problem)) << problem;
  EXPECT_EQ(std::string(out.begin(), out.end()), data);
  EXPECT_FALSE(zstd_decode_buffer(p, frame.size(), data.size() - 1, out, problem));
  EXPECT_FALSE(zstd_decode_buffer(p, frame.size() - 3, data.size(), out, problem));
}

TEST(ToolProgram, ListShowsMethodsAndSelfExtractingArchivesUseDeflate) {
  ScratchFolder dir;
  write_file(dir / "src/a.txt", sample_text(20000, 1));
  write_file(dir / "src/b.txt", "");
  ASSERT_EQ(run_tool("a -r -m3 '" + (dir / "z.vnr") + "' '" + (dir / "src") + "'").exit_code, 0);
  ToolRun list = run_tool("l '" + (dir / "z.vnr") + "'");
  EXPECT_NE(list.out.find(" zstd "), std::string::npos) << list.out;
  EXPECT_NE(list.out.find(" store "), std::string::npos) << "an empty file is stored";
  ASSERT_EQ(run_tool("a -r -e -s -m3 '" + (dir / "z.vnr") + "' '" + (dir / "src") + "'").exit_code, 0);
  ToolRun sfx = run_tool("l '" + (dir / "z.exe") + "'");
  EXPECT_NE(sfx.out.find(" deflate "), std::string::npos) << sfx.out;
  EXPECT_EQ(sfx.out.find(" zstd "), std::string::npos) << "the stub decodes deflate only";
  EXPECT_TRUE(run_tool("t '" + (dir / "z.exe") + "'").err.empty()) << "no progress line on a file";
}

// Every entry of an archive with its compressed data.
std::vector<std::pair<EntryHeader, std::string>> entries_of(const std::string& archive) {
  std::vector<StoredEntry> entries;
  std::string problem;
  EXPECT_TRUE(read_index(archive, 0, entries, problem)) << problem;
  std::string bytes = read_file(archive);
  std::vector<std::pair<EntryHeader, std::string>> out;
  for (const StoredEntry& e : entries)
    out.emplace_back(e.header, bytes.substr(static_cast<size_t>(e.data_offset), static_cast<size_t>(e.header.compressed_size)));
  return out;
}

// The decoded size of each zstd frame in `data`, in order.
std::vector<size_t> frame_sizes(const std::string& data) {
  std::vector<size_t> sizes;
  std::vector<char> out(1 << 20);
  ZSTD_DCtx* decoder = ZSTD_createDCtx();
  for (size_t at = 0; at < data.size();) {
    size_t frame = ZSTD_findFrameCompressedSize(data.data() + at, data.size() - at);
    if (ZSTD_isError(frame)) break;
    ZSTD_DCtx_reset(decoder, ZSTD_reset_session_only);
    ZSTD_inBuffer in{data.data() + at, frame, 0};
    size_t decoded = 0, left = 1;
    while (left != 0 && !ZSTD_isError(left)) {
      ZSTD_outBuffer o{out.data(), out.size(), 0};
      left = ZSTD_decompressStream(decoder, &o, &in);
      decoded += o.pos;
    }
    sizes.push_back(ZSTD_isError(left) ? static_cast<size_t>(-1) : decoded);
    at += frame;
  }
  ZSTD_freeDCtx(decoder);
  return sizes;
}

RunResult compress_files(const std::vector<std::string>& sources, const std::string& archive, ZstdSettings z,
                         bool solid, int threads) {
  CompressJob job;
  job.archive_path = archive;
  job.sources = sources;
  job.zstd = z;
  job.solid = solid;
  job.threads = threads;
  return compress_archive(job);
}

// With several threads a file above 16 MB is cut into 8 MB frames that they share; one thread,
// or a file of 16 MB, gives one frame.
TEST(ZstdPieces, FilesAbove16MBAreCutInto8MBFrames) {
  ScratchFolder dir;
  const size_t mb = 1 << 20;
  const std::vector<std::pair<std::string, size_t>> files = {{"at_limit.txt", 16 * mb}, {"above.txt", 16 * mb + 1},
                                                             {"large.txt", 25 * mb}};
  std::vector<std::string> sources;
  for (size_t i = 0; i < files.size(); ++i) {
    write_file(dir / ("src/" + files[i].first), sample_text(files[i].second, static_cast<unsigned>(i)));
    sources.push_back(dir / ("src/" + files[i].first));
  }
  const std::map<std::string, std::vector<size_t>> cut = {
      {"at_limit.txt", {16 * mb}}, {"above.txt", {8 * mb, 8 * mb, 1}}, {"large.txt", {8 * mb, 8 * mb, 8 * mb, mb}}};
  for (int threads : {1, 2}) {
    std::string archive = dir / ("t" + std::to_string(threads) + ".vnr");
    ASSERT_TRUE(compress_files(sources, archive, zstd_settings(1, false, 7, false), false, threads).ok);
    for (const auto& [h, data] : entries_of(archive)) {
      EXPECT_EQ(h.method, METHOD_ZSTD) << h.name;
      std::vector<size_t> whole = {static_cast<size_t>(h.size)};
      EXPECT_EQ(frame_sizes(data), threads > 1 ? cut.at(h.name) : whole) << h.name << ", " << threads << " thread(s)";
    }
    RunResult r = read(archive, dir / ("out" + std::to_string(threads)));
    ASSERT_TRUE(r.ok) << first_problem(r);
    for (const auto& f : files) EXPECT_TRUE(read_file(dir / ("out" + std::to_string(threads) + "/" + f.first)) == read_file(dir / ("src/" + f.first))) << f.first;
  }
}

// Data zstd cannot shrink is stored as it is, whether it fits one read, is streamed, or is cut
// into frames by two threads (then written over, first and last in the archive).
TEST(ZstdStore, AMemberZstdWouldNotShrinkIsStored) {
  ScratchFolder dir;
  const std::vector<std::pair<std::string, std::string>> files = {
      {"noise_cut_first.bin", random_bytes((17 << 20) + 3, 4)}, {"noise_small.bin", random_bytes(60000, 1)},
      {"noise_large.bin", random_bytes(3 << 20, 2)}, {"text.txt", sample_text(3 << 20, 3)},
      {"noise_cut_last.bin", random_bytes(17 << 20, 5)}};
  std::vector<std::string> sources;
  for (const auto& [name, bytes] : files) {
    write_file(dir / ("src/" + name), bytes);
    sources.push_back(dir / ("src/" + name));
  }
  for (int threads : {1, 2}) {
    std::string archive = dir / ("t" + std::to_string(threads) + ".vnr");
    ASSERT_TRUE(compress_files(sources, archive, zstd_settings(3, false, 7, false), false, threads).ok);
    auto entries = entries_of(archive);
    ASSERT_EQ(entries.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
      const EntryHeader& h = entries[i].first;
      bool noise = h.name.rfind("noise", 0) == 0;
      EXPECT_EQ(h.method, noise ? METHOD_STORE : METHOD_ZSTD) << h.name << ", " << threads << " thread(s)";
      if (noise) {
        EXPECT_TRUE(entries[i].second == files[i].second) << h.name << " is kept byte for byte";
      }
      EXPECT_LT(h.compressed_size, noise ? h.size + 1 : h.size / 2) << h.name;
    }
    std::string out = dir / ("out" + std::to_string(threads));
    RunResult r = read(archive, out);
    ASSERT_TRUE(r.ok) << first_problem(r);
    for (const auto& [name, bytes] : files) EXPECT_TRUE(read_file(out + "/" + name) == bytes) << name;
    EXPECT_TRUE(read(archive, "", ReadMode::TEST).ok);
  }
}

// Far repeats: 4 MB of noise in 512-byte blocks, then the same blocks again in another order. The
// level's own match finder finds few of them even in a wide window; long-distance matching finds
// them, and it is on when the window (-k) is wider than the level's own.
TEST(ZstdLongDistance, FarRepeatsAreFoundWhenTheWindowIsWiderThanTheLevels) {
  ScratchFolder dir;
  const size_t block = 512, blocks = 8192;
  std::string first = random_bytes(block * blocks, 9), data = first;
  for (size_t i = 0; i < blocks; ++i) data += first.substr((i * 409 % blocks) * block, block);
  write_file(dir / "src/far.bin", data);
  ASSERT_GT(23, static_cast<int>(ZSTD_getCParams(4, data.size(), 0).windowLog)) << "-m1's own window must be narrower";
  ASSERT_TRUE(compress_files({dir / "src/far.bin"}, dir / "k7.vnr", zstd_settings(1, false, 7, false), false, 1).ok);
  auto entries = entries_of(dir / "k7.vnr");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].first.method, METHOD_ZSTD);
  EXPECT_LT(entries[0].first.compressed_size, data.size() * 6 / 10) << "the second half was not found";
  RunResult r = read(dir / "k7.vnr", dir / "out");
  ASSERT_TRUE(r.ok) << first_problem(r);
  EXPECT_TRUE(read_file(dir / "out/far.bin") == data);
}

// -s orders the members by extension, then name, then folder, so files of a kind share context.
TEST(ZstdSolid, FilesOfAKindSitSideBySide) {
  ScratchFolder dir;
  // Bytes of their own: identical files would be stored as copies after the stream.
  for (const char* name : {"b/x.txt", "a.c", "z.txt", "b/a.c", "m.h", "noext"})
    write_file(dir / (std::string("src/") + name), sample_text(3000, name[0] + 7 * name[2]));
  const std::vector<std::string> solid = {"noext", "a.c", "b/a.c", "m.h", "b/x.txt", "z.txt"};
  for (bool in_stream : {true, false}) {
    std::string archive = dir / (in_stream ? "s.vnr" : "n.vnr");
    ASSERT_TRUE(compress_files({dir / "src"}, archive, zstd_settings(3, false, 7, in_stream), in_stream, 2).ok);
    std::vector<std::string> order;
    for (const auto& e : entries_of(archive)) order.push_back(e.first.folder + e.first.name);
    if (in_stream) EXPECT_EQ(order, solid);
    else EXPECT_NE(order, solid) << "without -s the folder's own order is kept";
  }
}

// Runs the built vantor with a pseudo-terminal for its output; returns what it wrote there.
std::string run_on_console(const std::vector<std::string>& args, int& exit_code) {
  int terminal = -1;
  pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child == 0) {
    int nothing = open("/dev/null", O_WRONLY);
    dup2(nothing, 1);  // the summary: only standard error stays on the console
    std::vector<char*> argv{const_cast<char*>(VANTOR_TOOL_EXE)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(VANTOR_TOOL_EXE, argv.data());
    _exit(127);
  }
  std::string seen;
  char buffer[4096];
  for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;) seen.append(buffer, static_cast<size_t>(n));
  int status = 0;
  waitpid(child, &status, 0);
  close(terminal);
  exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return seen;
}

// On a console a long run redraws one line of percentage and MB/s, and clears it at the end.
TEST(ToolProgram, AConsoleShowsProgressOnOneLine) {
  ScratchFolder dir;
  write_file(dir / "src/big.txt", sample_text(48 << 20, 4));
  int code = -1;
  std::string seen = run_on_console({"a", "-mx1", "-t2", dir / "a.vnr", dir / "src/big.txt"}, code);
  EXPECT_EQ(code, 0) << seen;
  std::regex line("\r *([0-9]{1,3}) %  [0-9]+\\.[0-9] MB/s   ");
  int drawn = 0, last = -1;
  for (std::sregex_iterator m(seen.begin(), seen.end(), line), end; m != end; ++m, ++drawn) {
    int percent = std::stoi((*m)[1]);
    EXPECT_GE(percent, last) << seen;
    EXPECT_LE(percent, 100);
    last = percent;
  }
  EXPECT_GT(drawn, 0) << "no progress line in: " << seen;
  const std::string cleared = "\r                         \r";
  ASSERT_GE(seen.size(), cleared.size()) << seen;
  EXPECT_EQ(seen.substr(seen.size() - cleared.size()), cleared) << "the line is cleared at the end";
  ToolRun piped = run_tool("t '" + (dir / "a.vnr") + "'");
  EXPECT_EQ(piped.exit_code, 0);
  EXPECT_EQ(piped.err, "") << "nothing added on a file";
}

// Decoded members wait for the writer threads in memory up to 8 MB; the decoder then waits.
TEST(MemberWriters, AtMostEightMegabytesWaitForTheWriters) {
  std::unique_ptr<MemberWriters> writers = start_member_writers(1);
  std::mutex lock;
  std::condition_variable changed;
  int posted = 0, written = 0;
  bool release = false;
  std::thread decoder([&] {
    for (int i = 0; i < 12; ++i) {
      writers->post(1 << 20, [&](int) {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [&] { return release; });  // the writer is stuck on its first member
        ++written;
      });
      std::lock_guard<std::mutex> guard(lock);
      ++posted;
      changed.notify_all();
    }
  });
  {
    std::unique_lock<std::mutex> guard(lock);
    ASSERT_TRUE(changed.wait_for(guard, std::chrono::seconds(20), [&] { return posted >= 8; })) << posted;
    EXPECT_FALSE(changed.wait_for(guard, std::chrono::milliseconds(500), [&] { return posted > 8; }))
        << posted << " MB handed over while the writer wrote nothing";
    release = true;
  }
  changed.notify_all();
  decoder.join();
  writers->drain();
  EXPECT_EQ(written, 12);
}

}  // namespace
