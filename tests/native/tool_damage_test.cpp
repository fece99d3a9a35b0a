// Archives that lie: damaged data, wrong sizes, hostile names and links. Every failure must be
// reported with a non-zero exit and leave nothing half-written behind.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine.h"
#include "tool_test_support.h"

namespace {

std::string shell_quoted(const std::string& s) { return "'" + s + "'"; }

std::string make_archive(ScratchFolder& dir, const std::string& name, const std::string& content,
                         const std::string& extra_switches = "") {
  write_file(dir / "src/a.txt", content);
  write_file(dir / "src/b.txt", "second member");
  std::string archive = dir / name;
  ToolRun run = run_tool("a -r " + extra_switches + " " + shell_quoted(archive) + " " + shell_quoted(dir / "src/a.txt") + " " +
                         shell_quoted(dir / "src/b.txt"));
  EXPECT_EQ(run.exit_code, 0) << run.err;
  return archive;
}

TEST(DamagedData, FlippedByteFailsTheCrcAndLeavesNoFile) {
  for (const char* method : {"-m0", "-m3"}) {
    ScratchFolder dir;
    std::string archive = make_archive(dir, "a.vnr", sample_text(50000, 3), method);
    std::string bytes = read_file(archive);
    bytes[bytes.size() / 4] ^= 0x20;  // inside a.txt's data
    write_file(archive, bytes);
    ToolRun run = run_tool("x " + shell_quoted(archive) + " " + shell_quoted(dir / "out"));
    EXPECT_EQ(run.exit_code, 1) << method;
    EXPECT_NE(run.err.find("a.txt"), std::string::npos) << run.err;
    EXPECT_FALSE(exists(dir / "out/a.txt")) << method;
    EXPECT_EQ(read_file(dir / "out/b.txt"), "second member") << "undamaged members still come out";
    EXPECT_NE(std::system(("ls -a " + shell_quoted(dir / "out") + " | grep -q part").c_str()), 0) << "no temporary left";
    EXPECT_EQ(run_tool("t " + shell_quoted(archive)).exit_code, 1);
  }
}

// With several threads small members are written by writer threads, many to a shared
// buffer: a member named twice still ends as the later one, a refused name and a damaged
// member fail alone (the members after it in the buffer intact), and a large member goes
// straight to disk beside them.
TEST(WriterThreads, LaterDuplicateWinsAndARefusalFailsAlone) {
  ScratchFolder dir;
  std::string archive = stored_entry("", "dup.txt", "first");
  for (int i = 0; i < 40; ++i) {
    archive += stored_entry("sub/", "f" + std::to_string(i) + ".txt", sample_text(100 + i, i));
    if (i == 20) {
      archive += stored_entry("sub/", "damaged.txt", sample_text(3000, 1));
      archive.back() ^= 0x20;
    }
  }
  archive += stored_entry("", "../evil.txt", "outside") + stored_entry("", "big.bin", sample_text(5 << 20, 9));
  archive += stored_entry("", "dup.txt", "second");
  write_file(dir / "x.vnr", archive);
  ToolRun run = run_tool("x -t2 " + shell_quoted(dir / "x.vnr") + " " + shell_quoted(dir / "out"));
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("evil.txt"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("damaged.txt: CRC-32 mismatch"), std::string::npos) << run.err;
  EXPECT_FALSE(exists(dir / "evil.txt"));
  EXPECT_FALSE(exists(dir / "out/sub/damaged.txt"));
  EXPECT_EQ(read_file(dir / "out/dup.txt"), "second");
  for (int i = 0; i < 40; ++i) EXPECT_EQ(read_file(dir / ("out/sub/f" + std::to_string(i) + ".txt")), sample_text(100 + i, i));
  EXPECT_EQ(read_file(dir / "out/big.bin"), sample_text(5 << 20, 9));
  EXPECT_NE(std::system(("ls -aR " + shell_quoted(dir / "out") + " | grep -q part").c_str()), 0) << "no temporary left";
}

TEST(DamagedData, ExistingFileIsReplacedOnlyByACompleteMember) {
  ScratchFolder dir;
  std::string archive = make_archive(dir, "a.vnr", sample_text(50000, 4));
  std::string bytes = read_file(archive);
  bytes[bytes.size() / 4] ^= 0x01;
  write_file(archive, bytes);
  write_file(dir / "out/a.txt", "precious old contents");
  EXPECT_EQ(run_tool("x " + shell_quoted(archive) + " " + shell_quoted(dir / "out")).exit_code, 1);
  EXPECT_EQ(read_file(dir / "out/a.txt"), "precious old contents");
}

TEST(DamagedData, RecordedSizeLargerOrSmallerThanTheDataIsAnError) {
  for (int delta : {+1, -1}) {
    ScratchFolder dir;
    std::string archive = make_archive(dir, "a.vnr", sample_text(5000, 5));
    std::string bytes = read_file(archive);
    // The size field of the first entry: 12 + "a.txt" + 2 + "" .
    size_t size_at = 12 + 5 + 2;
    uint8_t low = static_cast<uint8_t>(bytes[size_at]);
    bytes[size_at] = static_cast<char>(low + delta);
    write_file(archive, bytes);
    ToolRun run = run_tool("x " + shell_quoted(archive) + " " + shell_quoted(dir / "out"));
    EXPECT_EQ(run.exit_code, 1) << delta;
    EXPECT_NE(run.err.find("size"), std::string::npos) << run.err;
    EXPECT_FALSE(exists(dir / "out/a.txt"));
  }
}

// A deflate member declaring 2^62 bytes from 1.1 MB of data had about 1 GB written before its
// data ran out; zstd alike. Zeros, as dense as deflate makes data, still come out.
TEST(DamagedData, ImpossibleRecordedSizesAreRefusedBeforeWriting) {
  ScratchFolder dir;
  std::string zstd = read_file(make_archive(dir, "z.vnr", sample_text(5000, 5)));
  for (const std::string& archive : {solid_entries({{"bomb.bin", noise(1100000)}}), zstd}) {
    write_file(dir / "a.vnr", with_recorded_size(archive, int64_t(1) << 62));
    ToolRun run = run_tool("x " + shell_quoted(dir / "a.vnr") + " " + shell_quoted(dir / "out"));
    EXPECT_NE(run.err.find("is more than"), std::string::npos) << run.err;
    EXPECT_FALSE(exists(dir / "out/bomb.bin") || exists(dir / "out/a.txt"));
  }
  write_file(dir / "zeros.vnr", solid_entries({{"zeros", std::string(16 << 20, '\0')}}));
  EXPECT_EQ(run_tool("x " + shell_quoted(dir / "zeros.vnr") + " " + shell_quoted(dir / "zeros")).exit_code, 0);
  EXPECT_EQ(read_file(dir / "zeros/zeros").size(), size_t(16) << 20);
}

TEST(DamagedData, TruncatedArchiveAndBrokenChainsAreRefused) {
  ScratchFolder dir;
  std::string archive = make_archive(dir, "a.vnr", sample_text(5000, 6));
  std::string bytes = read_file(archive);
  write_file(dir / "cut.vnr", bytes.substr(0, bytes.size() - 3));
  EXPECT_EQ(run_tool("t " + shell_quoted(dir / "cut.vnr")).exit_code, 1);
  std::string zero_length = bytes;
  for (int i = 0; i < 8; ++i) zero_length[static_cast<size_t>(i)] = 0;
  write_file(dir / "zero.vnr", zero_length);
  ToolRun run = run_tool("t " + shell_quoted(dir / "zero.vnr"));
  EXPECT_EQ(run.exit_code, 1) << "an entry length of zero must not loop";
  write_file(dir / "junk.vnr", "this is not an archive at all, just text");
  EXPECT_EQ(run_tool("l " + shell_quoted(dir / "junk.vnr")).exit_code, 1);
  write_file(dir / "short.exe", "MZ");
  EXPECT_EQ(run_tool("t " + shell_quoted(dir / "short.exe")).exit_code, 1);
}

TEST(HostileNames, NothingIsWrittenOutsideTheDestination) {
  ScratchFolder dir;
  std::string archive = stored_entry("../", "escaped.txt", "1") + stored_entry("", "/tmp/absolute.txt", "2") +
                        stored_entry("", "C:evil.txt", "3") + stored_entry("sub/", "CON.txt", "4") +
                        stored_entry("a/../../", "up.txt", "5") + stored_entry("", "good.txt", "ok") +
                        stored_entry("dots./", "x", "6") + stored_entry("", "..\\win.txt", "7");
  write_file(dir / "evil.vnr", archive);
  ToolRun run = run_tool("x " + shell_quoted(dir / "evil.vnr") + " " + shell_quoted(dir / "out/inner"));
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(read_file(dir / "out/inner/good.txt"), "ok");
  EXPECT_FALSE(exists(dir / "out/escaped.txt"));
  EXPECT_FALSE(exists(dir / "up.txt"));
  EXPECT_FALSE(exists(dir / "out/up.txt"));
  EXPECT_FALSE(exists(dir / "out/win.txt"));
  EXPECT_FALSE(exists(dir / "out/inner/sub/CON.txt"));
  EXPECT_FALSE(exists(dir / "out/inner/C:evil.txt"));
  int refusals = 0;
  for (size_t at = run.err.find("refused"); at != std::string::npos; at = run.err.find("refused", at + 1)) ++refusals;
  EXPECT_EQ(refusals, 7) << run.err;
}

TEST(HostileNames, LinkInsideTheDestinationIsNotFollowed) {
  ScratchFolder dir;
  std::system(("mkdir -p " + shell_quoted(dir / "out/real/deeper") + " " + shell_quoted(dir / "elsewhere/deeper")).c_str());
  ASSERT_EQ(symlink((dir / "elsewhere").c_str(), (dir / "out/link").c_str()), 0);
  ASSERT_EQ(symlink((dir / "elsewhere").c_str(), (dir / "out/real/link").c_str()), 0);
  // At the top and below a real folder, and with the folders after the link there already.
  for (const char* folder : {"link/", "real/link/", "real/link/deeper/"}) {
    write_file(dir / "link.vnr", stored_entry(folder, "planted.txt", "x"));
    ToolRun run = run_tool("x " + shell_quoted(dir / "link.vnr") + " " + shell_quoted(dir / "out"));
    EXPECT_EQ(run.exit_code, 1) << folder;
    EXPECT_NE(run.err.find("is a link"), std::string::npos) << run.err;
  }
  EXPECT_FALSE(exists(dir / "elsewhere/planted.txt"));
  EXPECT_FALSE(exists(dir / "elsewhere/deeper/planted.txt"));
}

TEST(HostileNames, ExistingFileLinkIsReplacedNotWrittenThrough) {
  ScratchFolder dir;
  write_file(dir / "target.txt", "outside");
  std::system(("mkdir -p " + shell_quoted(dir / "out")).c_str());
  ASSERT_EQ(symlink((dir / "target.txt").c_str(), (dir / "out/a.txt").c_str()), 0);
  write_file(dir / "a.vnr", stored_entry("", "a.txt", "inside"));
  EXPECT_EQ(run_tool("x " + shell_quoted(dir / "a.vnr") + " " + shell_quoted(dir / "out")).exit_code, 0);
  EXPECT_EQ(read_file(dir / "target.txt"), "outside");
  EXPECT_EQ(read_file(dir / "out/a.txt"), "inside");
}

// A disk that fills mid-write (writes past 1 MB fail; the signal that would end the run is
// ignored), first under the new archive, then under spilled output: the old archive stays, and
// nothing the run made is left, neither the named temporaries (members unpacked from the stream
// that loses old.txt, spilled output) nor the new archive, which has no name until it is whole.
TEST(FailedWrite, OldArchiveSurvivesAndNoTemporaryRemains) {
  ScratchFolder dir, logs;
  for (const char* name : {"keep1.txt", "keep2.txt", "old.txt"}) write_file(dir / name, sample_text(3000, name[4]));
  const std::string archive = dir / "keep.vnr";
  ASSERT_EQ(run_tool("a -s -m1 " + shell_quoted(archive) + " " + shell_quoted(dir / "keep1.txt") + " " +
                     shell_quoted(dir / "keep2.txt") + " " + shell_quoted(dir / "old.txt")).exit_code, 0);
  const std::string before = read_file(archive);
  write_file(dir / "old.txt", "changed");
  for (int i = 0; i < 3; ++i) write_file(dir / ("big/b" + std::to_string(i)), random_bytes(2 << 20, i + 1));
  const std::vector<std::string> names = sorted_names_in(dir.path);
  const bool traced = std::system("strace -qq -o /dev/null true >/dev/null 2>&1") == 0;
  const std::string runner = "trap '' XFSZ; ulimit -f 2048; " +
                             (traced ? "strace -f -qq -e trace=openat,linkat -o " + shell_quoted(logs / "trace") + " " : "");
  for (const std::string switches : {"-s -m1", "-s -m1 -b1 -t2"}) {
    ToolRun run;
    std::vector<std::string> created = created_in(dir.path, [&] {
      run = run_tool("a " + switches + " " + shell_quoted(archive) + " " + shell_quoted(dir / "old.txt") + " " +
                     shell_quoted(dir / "big"), runner);
    });
    EXPECT_EQ(run.exit_code, 1) << switches;
    EXPECT_NE(run.err.find("cannot write"), std::string::npos) << run.err;
    EXPECT_EQ(read_file(archive), before) << switches;
    EXPECT_EQ(sorted_names_in(dir.path), names) << switches;
    auto made = [&](const std::string& tail) {
      return std::any_of(created.begin(), created.end(), [&](const std::string& n) { return n.find(tail) != std::string::npos; });
    };
    EXPECT_TRUE(made(".d")) << switches << ": no member unpacked";
    if (switches.find("-b1") != std::string::npos) {
      EXPECT_TRUE(made(".tmp.")) << "nothing spilled";
    }
    if (!traced) continue;
    std::string trace = read_file(logs / "trace");
    EXPECT_NE(trace.find("O_TMPFILE"), std::string::npos) << "the new archive had a name from the start";
    EXPECT_EQ(trace.find("linkat("), std::string::npos) << "the unfinished archive was given a name";
  }
}

TEST(FailedWrite, ListFileNamingAnUnwritableFolderFails) {
  ScratchFolder dir;
  write_file(dir / "src/a.txt", "a");
  std::vector<std::string> slots;
  std::string list;
  auto put = [&list](uint64_t v, int w) { for (int i = 0; i < w; ++i) list += static_cast<char>(v >> (8 * i)); };
  std::string archive = dir / "no/such/folder/x.vnr";
  std::string member = dir / "src/a.txt";
  put(1, 8); put(1, 8); put(archive.size(), 4); list += archive; put(1, 4); put(member.size(), 4); list += member;
  write_file(dir / "master.lis", list);
  ToolRun run = run_tool("a -y   -r  -b16 -k7 -t1   -m3 x " + shell_quoted(dir / "master.lis"));
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("cannot create"), std::string::npos) << run.err;
}

}  // namespace
