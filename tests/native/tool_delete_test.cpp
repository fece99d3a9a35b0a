// Removing members with `vantor d`: what remains extracts byte for byte and keeps its headers,
// solid streams that lose a member are compressed again, and every refusal or cancel leaves the
// archive exactly as it was.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "archive/index_walk.h"
#include "engine.h"
#include "remove.h"
#include "tool_test_support.h"

namespace {

using Contents = std::map<std::string, std::string>;  // stored path -> bytes

Contents sample_contents() {
  Contents c;
  c["a.txt"] = sample_text(120000, 1);
  c["docs/b.txt"] = sample_text(70000, 2);
  c["docs/sub/c.txt"] = sample_text(90000, 3);
  c["docs/sub/d.txt"] = "short";
  c["docs/subway.txt"] = sample_text(3000, 4);
  c["empty.txt"] = "";
  c["z.txt"] = sample_text(50000, 5);
  return c;
}

enum class Kind { PLAIN_ZSTD, SOLID_ZSTD, SOLID_DEFLATE };

// Writes `contents` below dir/src and archives them; a stub makes it self-extracting.
void make_archive(const ScratchFolder& dir, const std::string& archive, const Contents& contents, Kind kind,
                  const std::vector<uint8_t>& stub = {}) {
  CompressJob job;
  for (const auto& [path, bytes] : contents) {
    write_file(dir / ("src/" + path), bytes);
    job.sources.push_back(dir / ("src/" + path));
  }
  job.archive_path = archive;
  job.solid = kind != Kind::PLAIN_ZSTD;
  job.deflate = deflate_settings(3, false, 7);
  if (kind != Kind::SOLID_DEFLATE) job.zstd = zstd_settings(3, false, 7, job.solid);
  job.self_extracting = !stub.empty();
  job.stub = stub.data();
  job.stub_size = stub.size();
  ASSERT_TRUE(compress_archive(job).ok);
}

std::map<std::string, EntryHeader> headers_of(const std::string& archive) {
  std::vector<StoredEntry> entries;
  std::string problem;
  EXPECT_TRUE(read_index(archive, index_start(archive), entries, problem)) << problem;
  std::map<std::string, EntryHeader> out;
  for (const StoredEntry& e : entries) out[e.header.path()] = e.header;
  return out;
}

// The archive holds exactly `expected`, tests clean and extracts byte for byte, and the front
// end's walk reaches its end through every entry.
void expect_holds(const std::string& archive, const Contents& expected) {
  std::map<std::string, EntryHeader> headers = headers_of(archive);
  ASSERT_EQ(headers.size(), expected.size());
  IndexWalkResult walk = index_walk_file(archive, {});
  EXPECT_TRUE(walk.sound());
  EXPECT_EQ(walk.entries, static_cast<int64_t>(expected.size()));
  ScratchFolder out;
  ToolRun test = run_tool("t '" + archive + "'");
  EXPECT_EQ(test.exit_code, 0) << test.err;
  ToolRun extract = run_tool("x '" + archive + "' '" + out.path + "'");
  ASSERT_EQ(extract.exit_code, 0) << extract.err;
  for (const auto& [path, bytes] : expected) {
    EXPECT_TRUE(headers.count(path)) << path;
    EXPECT_EQ(read_file(out / path), bytes) << path;
  }
}

void put_mark(const std::string& archive, const std::string& path) {
  std::vector<StoredEntry> entries;
  std::string problem;
  ASSERT_TRUE(read_index(archive, index_start(archive), entries, problem));
  std::string bytes = read_file(archive);
  for (const StoredEntry& e : entries)
    if (e.header.path() == path) bytes[static_cast<size_t>(e.offset + mark_offset(e.header))] = 1;
  write_file(archive, bytes);
}

std::string list_file_bytes(const std::string& archive, const std::vector<std::string>& paths) {
  auto number = [](uint64_t v, int size) { return std::string(reinterpret_cast<const char*>(&v), size); };
  std::string s = number(paths.size(), 8) + number(paths.size(), 8) + number(archive.size(), 4) + archive;
  s += number(paths.size(), 4);
  for (const std::string& p : paths) s += number(p.size(), 4) + p;
  return s;
}

// What is in a folder (no leftovers beside the archive), sorted.
std::string names_in(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  std::string joined;
  for (const std::string& n : names) joined += n + " ";
  return joined;
}

TEST(ToolDelete, RemovesMembersAndFoldersFromEveryKindOfArchive) {
  for (Kind kind : {Kind::PLAIN_ZSTD, Kind::SOLID_ZSTD, Kind::SOLID_DEFLATE}) {
    SCOPED_TRACE(static_cast<int>(kind));
    ScratchFolder dir;
    std::string archive = dir / "arc.vnt";
    Contents contents = sample_contents();
    make_archive(dir, archive, contents, kind);
    put_mark(archive, "z.txt");
    std::map<std::string, EntryHeader> before = headers_of(archive);
    // A folder named with '\' and a trailing separator takes what is below it, not docs/subway.txt.
    ToolRun run = run_tool("d -t2 '" + archive + "' 'docs\\sub\\' a.txt");
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_NE(run.out.find("3 members removed, 4 remain"), std::string::npos) << run.out;
    for (const char* gone : {"a.txt", "docs/sub/c.txt", "docs/sub/d.txt"}) contents.erase(gone);
    expect_holds(archive, contents);
    for (const auto& [path, h] : headers_of(archive)) {
      const EntryHeader& old = before[path];
      EXPECT_EQ(h.flags & ~ENTRY_FLAG_SOLID_NEXT, old.flags & ~ENTRY_FLAG_SOLID_NEXT) << path;
      EXPECT_EQ(h.mtime_ns, old.mtime_ns) << path;
      EXPECT_EQ(h.unix_mode, old.unix_mode) << path;
      EXPECT_EQ(h.attributes, old.attributes) << path;
      EXPECT_EQ(h.mark, old.mark) << path;
      EXPECT_EQ(h.method, old.method) << path;
      if (kind == Kind::PLAIN_ZSTD) {
        EXPECT_EQ(h.compressed_size, old.compressed_size) << path;
      }
    }
    EXPECT_EQ(headers_of(archive)["z.txt"].mark, 1);

    // The list-file form, then the last members: an empty archive that l and t accept.
    std::string list = dir / "remove.lis";
    write_file(list, list_file_bytes(archive, {"docs", "empty.txt", "z.txt"}));
    run = run_tool("d x '" + list + "'");
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(read_file(archive).size(), 0u);
    expect_holds(archive, {});
  }
}

TEST(ToolDelete, SelfExtractingArchiveKeepsItsProgram) {
  ScratchFolder dir;
  std::string archive = dir / "arc.exe";
  std::vector<uint8_t> stub(4096);
  for (size_t i = 0; i < stub.size(); ++i) stub[i] = static_cast<uint8_t>(i * 31 + 7);
  Contents contents = sample_contents();
  make_archive(dir, archive, contents, Kind::SOLID_DEFLATE, stub);
  std::string program = read_file(archive).substr(0, INDEX_STUB_SIZE);
  ToolRun run = run_tool("d '" + archive + "' docs/b.txt");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  contents.erase("docs/b.txt");
  EXPECT_EQ(read_file(archive).substr(0, INDEX_STUB_SIZE), program);
  expect_holds(archive, contents);
  ASSERT_EQ(run_tool("d '" + archive + "' docs a.txt empty.txt z.txt").exit_code, 0);
  EXPECT_EQ(read_file(archive), program);
  expect_holds(archive, {});
}

TEST(ToolDelete, OldCodePageNamesKeepTheirBytesInAStreamCompressedAgain) {
  ScratchFolder dir;
  std::string archive = dir / "old.vnr";
  std::string one = sample_text(40000, 7), two = sample_text(30000, 8), three = sample_text(20000, 9);
  write_file(archive, solid_entries({{"caf\xe9.txt", one}, {"b.txt", two}, {"r\xe9sum\xe9.txt", three}}));
  ASSERT_EQ(run_tool("d '" + archive + "' b.txt").exit_code, 0);
  std::string bytes = read_file(archive);
  EXPECT_NE(bytes.find("caf\xe9.txt"), std::string::npos);
  EXPECT_NE(bytes.find("r\xe9sum\xe9.txt"), std::string::npos);
  std::vector<StoredEntry> entries;
  std::string problem;
  ASSERT_TRUE(read_index(archive, 0, entries, problem)) << problem;
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].header.flags, 0);
  EXPECT_EQ(entries[1].header.flags, ENTRY_FLAG_SOLID_NEXT);
  auto members = member_contents(archive);
  ASSERT_EQ(members.size(), 2u);
  EXPECT_EQ(members[0].second, one);
  EXPECT_EQ(members[1].second, three);
  // Named as the listing shows it, in UTF-8.
  ToolRun run = run_tool("d '" + archive + "' 'caf\xc3\xa9.txt'");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(member_contents(archive).size(), 1u);
}

TEST(ToolDelete, RefusalsLeaveTheArchiveAsItWas) {
  ScratchFolder dir;
  std::string archive = dir / "arc.vnt";
  Contents contents = sample_contents();
  contents["n.bin"] = noise(300000);
  make_archive(dir, archive, contents, Kind::SOLID_ZSTD);
  std::string original = read_file(archive);

  // Paths that name nothing, a part of a name among them: the first few, then a count.
  ToolRun run = run_tool("d '" + archive + "' a.txt doc docs/sub/c q1 q2 q3 q4 q5");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("doc: no such member or folder in " + archive), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("and 2 more"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("q5:"), std::string::npos) << run.err;
  EXPECT_EQ(read_file(archive), original);
  EXPECT_EQ(run_tool("d '" + archive + "'").exit_code, 2);
  EXPECT_EQ(run_tool("d '" + archive + "' ''").exit_code, 2);

  // A full disk: writes past 32 KB fail (and the signal that would end the run is ignored).
  run = run_tool("d '" + archive + "' a.txt", "trap '' XFSZ; ulimit -f 64; ");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("left as it was: cannot write the new archive"), std::string::npos) << run.err;
  EXPECT_EQ(read_file(archive), original);

  // A read-only archive keeps its protection: nothing is rewritten.
  chmod(archive.c_str(), 0444);
  run = run_tool("d '" + archive + "' a.txt");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("is read-only; nothing was removed"), std::string::npos) << run.err;
  EXPECT_EQ(read_file(archive), original);
  chmod(archive.c_str(), 0644);

  // A broken index, then damaged data in the stream that must be compressed again.
  std::string broken = original.substr(0, original.size() - 10);
  write_file(archive, broken);
  run = run_tool("d '" + archive + "' a.txt");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("left as it was"), std::string::npos) << run.err;
  EXPECT_EQ(read_file(archive), broken);
  std::string damaged = original;
  damaged[damaged.size() - 200] ^= 0x55;
  write_file(archive, damaged);
  run = run_tool("d '" + archive + "' a.txt");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("left as it was"), std::string::npos) << run.err;
  EXPECT_EQ(read_file(archive), damaged);
  EXPECT_EQ(names_in(dir.path), "arc.vnt src ");
}

TEST(ToolDelete, CancelMidRunLeavesNothingBehind) {
  ScratchFolder dir;
  std::string archive = dir / "arc.vnt";
  Contents contents;
  for (int i = 0; i < 8; ++i) contents["f" + std::to_string(i) + ".txt"] = sample_text(3 << 20, i);
  make_archive(dir, archive, contents, Kind::SOLID_DEFLATE);
  std::string original = read_file(archive);
  RunControl control;
  RemoveJob job;
  job.archive_path = archive;
  job.paths = {"f0.txt"};
  job.deflate = deflate_settings(1, false, 7);
  job.control = &control;
  int64_t calls = 0, last_done = 0, last_total = 0;
  job.progress = [&](int64_t done, int64_t total) {
    EXPECT_LE(done, total);
    last_done = done;
    last_total = total;
    if (++calls == 3) control.cancel = true;
  };
  RemoveResult result = remove_members(job);
  EXPECT_TRUE(result.run.cancelled);
  EXPECT_GE(calls, 3);
  EXPECT_LT(last_done, last_total / 2);  // stopped soon, not at the end
  EXPECT_EQ(read_file(archive), original);
  EXPECT_EQ(names_in(dir.path), "arc.vnt src ");
}

}  // namespace
