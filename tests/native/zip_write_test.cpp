// Zips written by `a` and `d` on a .zip: what other zip readers make of them, the headers
// Windows' own zip folder reads, adding, removing, refusals and a cancelled run.
#include <cstdio>

#include "tool_test_support.h"
#include "zip_write.h"

namespace {

struct Shell {
  int code = -1;
  std::string out;
};

Shell shell(const std::string& command) {
  Shell result;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return result;
  char chunk[4096];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) result.out.append(chunk, n);
  int status = pclose(pipe);
  result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool have(const std::string& tool) { return shell("command -v " + tool).code == 0; }

// A folder, an empty folder, an empty file, a UTF-8 name, bytes that do not shrink and text that does.
void make_tree(const ScratchFolder& s) {
  write_file(s / "tree/text.txt", sample_text(200000, 1));
  write_file(s / "tree/noise.bin", random_bytes(150000, 7));
  write_file(s / "tree/empty.txt", "");
  write_file(s / "tree/sub/naïve ☃.txt", "snow\n");
  std::system(("mkdir -p '" + (s / "tree/hollow") + "'").c_str());
}

// Runs a Python script over the zip (sys.argv[1]); its output, or what went wrong.
std::string python(const std::string& script, const std::string& zip) {
  ScratchFolder here;
  write_file(here / "check.py", "import sys, struct, zipfile\nz = zipfile.ZipFile(sys.argv[1])\n" + script);
  Shell run = shell("python3 '" + (here / "check.py") + "' '" + zip + "'");
  return run.code == 0 ? run.out : "python failed: " + run.out;
}

}  // namespace

TEST(ZipWrite, PeersTestAndExtractTheSameBytes) {
  ScratchFolder s;
  make_tree(s);
  ToolRun add = run_tool("a -r '" + (s / "out.zip") + "' '" + (s / "tree") + "'");
  ASSERT_EQ(add.exit_code, 0) << add.err;
  std::string zip = s / "out.zip";
  EXPECT_EQ(shell("unzip -t '" + zip + "'").code, 0);
  if (have("7z")) {
    EXPECT_EQ(shell("7z t '" + zip + "'").code, 0);
  }
  if (have("bsdtar")) {
    Shell listed = shell("bsdtar -tf '" + zip + "'");
    EXPECT_EQ(listed.code, 0);
    EXPECT_NE(listed.out.find("sub/naïve ☃.txt"), std::string::npos) << listed.out;
  }
  // Every member read back by Python equals its file; what does not shrink stays stored.
  std::string seen = python(
      "assert z.testzip() is None\n"
      "for i in z.infolist():\n"
      "    same = i.is_dir() or z.read(i) == open(sys.argv[2] + '/' + i.filename, 'rb').read()\n"
      "    print(i.filename, i.compress_type, same)\n",
      zip + "' '" + (s / "tree"));
  EXPECT_EQ(seen,
            "empty.txt 0 True\nhollow/ 0 True\nnoise.bin 0 True\nsub/ 0 True\nsub/naïve ☃.txt 0 True\n"
            "text.txt 8 True\n");
  EXPECT_EQ(shell("cd '" + s.path + "' && mkdir u && cd u && unzip -q ../out.zip && diff -r . ../tree").code, 0);
  // Our own reader too.
  EXPECT_EQ(run_tool("t '" + zip + "'").exit_code, 0);
  EXPECT_EQ(run_tool("x '" + zip + "' '" + (s / "ours") + "'").exit_code, 0);
  EXPECT_EQ(shell("diff -r '" + (s / "ours") + "' '" + (s / "tree") + "'").code, 0);
  if (have("7z")) {
    EXPECT_EQ(shell("cd '" + s.path + "' && 7z x -o7 out.zip >/dev/null && diff -r 7 tree").code, 0);
  }
}

// Windows' zip folder walks the local headers and reads the central directory's attribute bits:
// sizes and CRC in the local header (not only after the data), the folder bit, the read-only
// bit, the UTF-8 flag and a DOS date and time.
TEST(ZipWrite, HeadersWindowsZipFolderReads) {
  ScratchFolder s;
  make_tree(s);
  write_file(s / "tree/locked.txt", "read only");
  ASSERT_EQ(shell("cd '" + s.path + "/tree' && touch -d '2021-03-04 05:06:08' text.txt && chmod 444 locked.txt").code,
            0);
  ASSERT_EQ(run_tool("a -r '" + (s / "out.zip") + "' '" + (s / "tree") + "'").exit_code, 0);
  std::string headers = python(
      "data = open(sys.argv[1], 'rb').read()\n"
      "for i in z.infolist():\n"
      "    o = i.header_offset\n"
      "    crc, packed, size = struct.unpack('<III', data[o + 14:o + 26])\n"
      "    local = (crc, packed, size) == (i.CRC, i.compress_size, i.file_size)\n"
      "    print(i.filename, i.create_system, hex(i.flag_bits & 0x800), hex(i.external_attr & 0x11),\n"
      "          local, i.date_time if i.filename == 'text.txt' else '')\n",
      s / "out.zip");
  EXPECT_EQ(headers,
            "empty.txt 3 0x0 0x0 True \n"
            "hollow/ 3 0x0 0x10 True \n"
            "locked.txt 3 0x0 0x1 True \n"
            "noise.bin 3 0x0 0x0 True \n"
            "sub/ 3 0x0 0x10 True \n"
            "sub/naïve ☃.txt 3 0x800 0x0 True \n"
            "text.txt 3 0x0 0x0 True (2021, 3, 4, 5, 6, 8)\n");
}

TEST(ZipWrite, AddingKeepsMembersAndRemovingTakesFolders) {
  ScratchFolder s;
  make_tree(s);
  std::string zip = s / "Out.ZIP";
  ASSERT_EQ(run_tool("a -r '" + zip + "' '" + (s / "tree") + "'").exit_code, 0);
  write_file(s / "new/text.txt", "replaced");
  write_file(s / "new/more.txt", "more");
  ToolRun add = run_tool("a '" + zip + "' '" + (s / "new/text.txt") + "' '" + (s / "new/more.txt") + "'");
  ASSERT_EQ(add.exit_code, 0) << add.err;
  std::string listing = "for i in z.infolist(): print(i.filename, len(z.read(i)))\n";
  EXPECT_EQ(python(listing, zip),
            "empty.txt 0\nhollow/ 0\nnoise.bin 150000\nsub/ 0\nsub/naïve ☃.txt 5\ntext.txt 8\nmore.txt 4\n");
  // A path naming nothing changes nothing, even beside one that names a member.
  std::string before = read_file(zip);
  ToolRun missing = run_tool("d '" + zip + "' noise.bin nowhere/");
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.err.find("nowhere/: no such member or folder"), std::string::npos) << missing.err;
  EXPECT_EQ(read_file(zip), before);
  ToolRun removed = run_tool("d '" + zip + "' sub noise.bin");
  ASSERT_EQ(removed.exit_code, 0) << removed.err;
  EXPECT_NE(removed.out.find("3 members removed, 4 remain"), std::string::npos) << removed.out;
  EXPECT_EQ(python(listing, zip), "empty.txt 0\nhollow/ 0\ntext.txt 8\nmore.txt 4\n");
  EXPECT_EQ(shell("unzip -tq '" + zip + "'").code, 0);
}

TEST(ZipWrite, RefusalsLeaveTheZipAndSwitchesThatDoNotApply) {
  ScratchFolder s;
  write_file(s / "a.txt", sample_text(50000, 3));
  ToolRun sfx = run_tool("a -e '" + (s / "x.zip") + "' '" + (s / "a.txt") + "'");
  EXPECT_EQ(sfx.exit_code, 2);
  EXPECT_NE(sfx.err.find("-e cannot make a zip"), std::string::npos) << sfx.err;
  EXPECT_FALSE(exists(s / "x.zip"));
  // -m0 stores; -s and -k are noted and ignored.
  ToolRun stored = run_tool("a -m0 -s -k3 '" + (s / "x.zip") + "' '" + (s / "a.txt") + "'");
  ASSERT_EQ(stored.exit_code, 0) << stored.err;
  EXPECT_NE(stored.out.find("vantor: -s ignored"), std::string::npos) << stored.out;
  EXPECT_NE(stored.out.find("vantor: -k ignored"), std::string::npos) << stored.out;
  EXPECT_EQ(python("print([i.compress_type for i in z.infolist()])\n", s / "x.zip"), "[0]\n");
  // A zip that does not read, one with damaged data and one whose member cannot be copied stay
  // as they were.
  write_file(s / "cut.zip", read_file(s / "x.zip").substr(0, 100));
  write_file(s / "c.txt", sample_text(50000, 4));
  ASSERT_EQ(run_tool("a '" + (s / "flipped.zip") + "' '" + (s / "c.txt") + "'").exit_code, 0);
  std::string flipped = read_file(s / "flipped.zip");
  flipped[200] ^= 0x10;
  write_file(s / "flipped.zip", flipped);
  std::vector<std::string> refused = {"cut.zip", "flipped.zip"};
  if (have("zip") && shell("cd '" + s.path + "' && zip -q -P secret locked.zip a.txt").code == 0)
    refused.push_back("locked.zip");
  for (const std::string& name : refused) {
    std::string before = read_file(s / name);
    ToolRun run = run_tool("a '" + (s / name) + "' '" + (s / "a.txt") + "'");
    EXPECT_EQ(run.exit_code, 1) << name;
    EXPECT_NE(run.err.find("left as it was"), std::string::npos) << run.err;
    EXPECT_EQ(read_file(s / name), before) << name;
  }
  EXPECT_EQ(shell("ls -A '" + s.path + "' | grep -c vantor").out, "0\n");
}

TEST(ZipWrite, CancelLeavesTheOldZipAndNoTemporary) {
  ScratchFolder s;
  write_file(s / "old.txt", "old");
  ASSERT_EQ(run_tool("a '" + (s / "x.zip") + "' '" + (s / "old.txt") + "'").exit_code, 0);
  std::string before = read_file(s / "x.zip");
  write_file(s / "big/one.bin", random_bytes(3 << 20, 5));
  write_file(s / "big/two.bin", random_bytes(1 << 20, 6));
  RunControl control;
  CompressJob job;
  job.archive_path = s / "x.zip";
  job.sources = {s / "big"};
  job.control = &control;
  job.progress = [&](int64_t, int64_t) { control.cancel = true; };
  RunResult result = add_to_zip(job);
  EXPECT_TRUE(result.cancelled);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(read_file(s / "x.zip"), before);
  EXPECT_EQ(shell("ls -A '" + s.path + "'").out, "big\nold.txt\nx.zip\n");
}

// More than 65,535 members need the zip64 end records; readers must still find them all.
TEST(ZipWrite, ManyMembersGetZip64EndRecords) {
  ScratchFolder s;
  ASSERT_EQ(shell("mkdir '" + (s / "many") + "' && cd '" + (s / "many") + "' && seq -w 1 65600 | xargs touch").code, 0);
  ToolRun add = run_tool("a '" + (s / "many.zip") + "' '" + (s / "many") + "'");
  ASSERT_EQ(add.exit_code, 0) << add.err;
  EXPECT_NE(read_file(s / "many.zip").find(std::string("PK\x06\x06", 4)), std::string::npos);
  EXPECT_EQ(python("print(len(z.infolist()), z.testzip())\n", s / "many.zip"), "65600 None\n");
  EXPECT_EQ(shell("unzip -tq '" + (s / "many.zip") + "'").code, 0);
}

TEST(ZipWrite, ListFilesNameTheZipAndStaleTemporariesGo) {
  ScratchFolder s;
  write_file(s / "one.txt", "one");
  write_file(s / "two.txt", "two");
  write_file(s / "x.Zip.vantor-0123456789abcdef.tmp", "left by a killed run");
  auto list = [](const std::string& archive, const std::vector<std::string>& paths) {
    auto number = [](uint64_t v, int size) { return std::string(reinterpret_cast<const char*>(&v), size); };
    std::string bytes = number(paths.size(), 8) + number(paths.size(), 8) + number(archive.size(), 4) + archive;
    bytes += number(paths.size(), 4);
    for (const std::string& p : paths) bytes += number(p.size(), 4) + p;
    return bytes;
  };
  write_file(s / "add.lis", list(s / "x.Zip", {s / "one.txt", s / "two.txt"}));
  ASSERT_EQ(run_tool("a x '" + (s / "add.lis") + "'").exit_code, 0);
  EXPECT_FALSE(exists(s / "x.Zip.vantor-0123456789abcdef.tmp"));
  write_file(s / "remove.lis", list(s / "x.Zip", {"one.txt"}));
  ASSERT_EQ(run_tool("d x '" + (s / "remove.lis") + "'").exit_code, 0);
  EXPECT_EQ(python("print([(i.filename, z.read(i)) for i in z.infolist()])\n", s / "x.Zip"), "[('two.txt', b'two')]\n");
}

TEST(ZipWrite, NameThatIsNotUtf8IsRefused) {
  ScratchFolder s;
  write_file(s / "in/latin\xe9.txt", "1252");
  ToolRun run = run_tool("a '" + (s / "x.zip") + "' '" + (s / "in") + "'");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("its name is not UTF-8 text"), std::string::npos) << run.err;
  EXPECT_FALSE(exists(s / "x.zip"));
}

// Regression: Windows' "new compressed folder" is a zip of its end record alone, which libarchive's
// reader does not recognise; adding to it was refused as a zip that does not read.
TEST(ZipWrite, AddingToAnEmptyZipTakesItAsNoMembers) {
  ScratchFolder s;
  write_file(s / "new.zip", std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  write_file(s / "a.txt", "a");
  ToolRun add = run_tool("a '" + (s / "new.zip") + "' '" + (s / "a.txt") + "'");
  ASSERT_EQ(add.exit_code, 0) << add.err;
  EXPECT_EQ(python("print(z.namelist())\n", s / "new.zip"), "['a.txt']\n");
  // Removing the last member leaves such a zip, which takes members again.
  ASSERT_EQ(run_tool("d '" + (s / "new.zip") + "' a.txt").exit_code, 0);
  EXPECT_EQ(read_file(s / "new.zip").size(), 22u);
  EXPECT_EQ(run_tool("a '" + (s / "new.zip") + "' '" + (s / "a.txt") + "'").exit_code, 0);
}

// Regression: a folder holding the zip took in the old zip and the run's own lock file.
TEST(ZipWrite, FolderHoldingTheZipLeavesItAndItsLockOut) {
  ScratchFolder s;
  write_file(s / "here/a.txt", "a");
  for (int run = 0; run < 2; ++run)
    ASSERT_EQ(run_tool("a '" + (s / "here/x.zip") + "' '" + (s / "here") + "'").exit_code, 0);
  EXPECT_EQ(python("print(z.namelist())\n", s / "here/x.zip"), "['a.txt']\n");
}

// Regression: a time past 2038 wrapped in the extended timestamp field (32-bit seconds), so
// readers that use it showed 2150 as 2013; it now stops at the field's last second.
TEST(ZipWrite, TimeBeyondTheTimestampFieldStopsAtItsEnd) {
  ScratchFolder s;
  write_file(s / "later.txt", "later");
  ASSERT_EQ(shell("touch -d '2150-01-01' '" + (s / "later.txt") + "'").code, 0);
  ASSERT_EQ(run_tool("a '" + (s / "x.zip") + "' '" + (s / "later.txt") + "'").exit_code, 0);
  EXPECT_EQ(python("extra = z.infolist()[0].extra\n"
                   "at = extra.index(b'UT')\n"
                   "print(struct.unpack('<i', extra[at + 5:at + 9])[0])\n",
                   s / "x.zip"),
            "2147483647\n");
}

// A .zip that is one of our own archives is read as ours, so adding and removing keep it ours.
TEST(ZipWrite, ZipNameOnOurOwnArchiveStaysOurs) {
  ScratchFolder s;
  write_file(s / "a.txt", "a");
  write_file(s / "b.txt", "b");
  ASSERT_EQ(run_tool("a '" + (s / "x.vnr") + "' '" + (s / "a.txt") + "'").exit_code, 0);
  ASSERT_EQ(std::rename((s / "x.vnr").c_str(), (s / "x.zip").c_str()), 0);
  ASSERT_EQ(run_tool("a '" + (s / "x.zip") + "' '" + (s / "b.txt") + "'").exit_code, 0);
  ASSERT_EQ(run_tool("d '" + (s / "x.zip") + "' a.txt").exit_code, 0);
  ToolRun listed = run_tool("l -p '" + (s / "x.zip") + "'");
  EXPECT_EQ(listed.out.substr(0, listed.out.find('\n')), "vantor-listing\t1\tvnr");
  EXPECT_NE(listed.out.find("\tb.txt\nend\t1\n"), std::string::npos) << listed.out;
}

// -m and -mx choose the deflate level, which the flag bits 1 and 2 of a deflated member record:
// 6 for level 1, 0 for the normal levels, 2 for level 9.
TEST(ZipWrite, MethodSwitchesChooseTheDeflateLevel) {
  ScratchFolder s;
  write_file(s / "text.txt", sample_text(100000, 9));
  std::string levels;
  for (const char* method : {"-m1", "-m3", "-mx3"}) {
    std::string zip = s / (std::string(method) + ".zip");
    ASSERT_EQ(run_tool("a " + std::string(method) + " '" + zip + "' '" + (s / "text.txt") + "'").exit_code, 0);
    levels += python("print(z.infolist()[0].flag_bits & 6, end=' ')\n", zip);
  }
  EXPECT_EQ(levels, "6 0 2 ");
}
