// The archiver on archives other programs write: which reading wins, the machine listing, and
// extraction through our own output path (list files, encrypted members, links and escapes).
#include <cstdint>

#include "tool_test_support.h"

namespace {

std::string q(const std::string& s) { return "'" + s + "'"; }

void sh(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

// a.txt, sub/b.bin and sub/c.txt in `dir`, archived by a peer tool as `archive`.
void peer_archive(const ScratchFolder& dir, const std::string& archive, const std::string& tool,
                  const std::string& members = "a.txt sub") {
  write_file(dir / "src/a.txt", sample_text(5000, 1));
  write_file(dir / "src/sub/b.bin", random_bytes(70000, 2));
  write_file(dir / "src/sub/c.txt", "c");
  sh("cd " + q(dir / "src") + " && " + tool + " " + q(archive) + " " + members + " >/dev/null");
}

std::string list_file(const std::string& archive, const std::vector<std::string>& paths) {
  auto le = [](uint64_t v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>(v >> (8 * i));
    return s;
  };
  std::string bytes = le(paths.size(), 8) + le(paths.size(), 8) + le(archive.size(), 4) + archive + le(paths.size(), 4);
  for (const std::string& p : paths) bytes += le(p.size(), 4) + p;
  return bytes;
}

TEST(ForeignDetection, OurIndexFirstThenLibarchiveThenOurDamageMessage) {
  ScratchFolder dir;
  write_file(dir / "a.txt", "ours");
  // Written as ours, then named as a zip (`a` on a .zip name writes a standard zip).
  ASSERT_EQ(run_tool("a " + q(dir / "ours.vnr") + " " + q(dir / "a.txt")).exit_code, 0);
  sh("mv " + q(dir / "ours.vnr") + " " + q(dir / "ours.zip"));
  EXPECT_EQ(run_tool("l -p " + q(dir / "ours.zip")).out.substr(0, 21), "vantor-listing\t1\tvnr\n");
  // A self-extracting zip: a program in front whose length is not our stub's.
  peer_archive(dir, dir / "plain.zip", "zip -qr");
  write_file(dir / "setup.exe", random_bytes(160000, 7) + read_file(dir / "plain.zip"));
  ToolRun sfx = run_tool("x " + q(dir / "setup.exe") + " " + q(dir / "out"));
  EXPECT_EQ(sfx.exit_code, 0) << sfx.err;
  EXPECT_EQ(read_file(dir / "out/sub/b.bin"), random_bytes(70000, 2));
  write_file(dir / "noise.zip", random_bytes(3000, 9));
  ToolRun noise = run_tool("l " + q(dir / "noise.zip"));
  EXPECT_EQ(noise.exit_code, 1);
  EXPECT_NE(noise.err.find("damaged archive at offset 0"), std::string::npos) << noise.err;
}

TEST(ForeignDetection, NoFilterRunsAProgram) {
  ScratchFolder dir;
  // Compressors whose decoder is not built in would be run as programs: these stand in for them.
  for (const char* name : {"lrzip", "grzip", "lzop", "lzip", "bzip2", "xz", "zstd", "lz4", "gzip"})
    write_file(dir / (std::string("bin/") + name), "#!/bin/sh\ntouch " + q(dir / "ran") + "\ncat\n");
  sh("chmod +x " + q(dir / "bin") + "/*");
  write_file(dir / "a.lrz", "LRZI\x00\x06" + random_bytes(200, 3));
  write_file(dir / "a.gz", "");
  sh("printf 'hello' | gzip > " + q(dir / "a.gz"));
  ToolRun lrz = run_tool("t " + q(dir / "a.lrz"), "PATH=" + q(dir / "bin") + " ");
  EXPECT_EQ(lrz.exit_code, 1);
  ToolRun gz = run_tool("x " + q(dir / "a.gz") + " " + q(dir / "out"), "PATH=" + q(dir / "bin") + " ");
  EXPECT_EQ(gz.exit_code, 0) << gz.err;
  EXPECT_EQ(read_file(dir / "out/a"), "hello");
  EXPECT_FALSE(exists(dir / "ran"));
}

TEST(ForeignListing, MachineListingEscapesNamesAndEnds) {
  ScratchFolder dir;
  sh("cd " + q(dir.path) + " && python3 -c \"import zipfile; z = zipfile.ZipFile('n.zip', 'w'); "
     "z.writestr('tab\\tname.txt', 'x'); z.writestr('d/\\u00e9t\\u00e9.txt', 'yy'); "
     "z.writestr('d/', ''); z.close()\"");
  ToolRun run = run_tool("l -p " + q(dir / "n.zip"));
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out.substr(0, run.out.find('\n') + 1), "vantor-listing\t1\tzip\n");
  EXPECT_NE(run.out.find("\t-\ttab\\x09name.txt\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("f\t2\t-1\t"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\td/\xc3\xa9t\xc3\xa9.txt\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\nd\t"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.substr(run.out.size() - 6), "end\t3\n");
  // In a tar a backslash is part of a name; a cut archive never ends its listing.
  write_file(dir / "src/back\\slash", random_bytes(100000, 3));
  sh("cd " + q(dir / "src") + " && tar czf ../b.tgz .");
  ToolRun back = run_tool("l -p " + q(dir / "b.tgz"));
  EXPECT_NE(back.out.find("\t./back\\x5cslash\n"), std::string::npos) << back.out;
  std::string whole = read_file(dir / "b.tgz");
  write_file(dir / "cut.tgz", whole.substr(0, whole.size() / 2));
  ToolRun cut = run_tool("l -p " + q(dir / "cut.tgz"));
  EXPECT_EQ(cut.exit_code, 1);
  EXPECT_EQ(cut.out.find("end\t"), std::string::npos) << cut.out;
}

TEST(ForeignExtract, ListFileChoosesMembersInEveryFormat) {
  ScratchFolder dir;
  for (const char* tool : {"zip -qr", "7z a -bd", "tar czf", "vnr"}) {
    std::string archive = dir / (std::string("x.") + (tool[0] == 'v' ? "vnr" : tool[0] == 'z' ? "zip" : tool[0] == '7' ? "7z" : "tgz"));
    if (tool[0] == 'v') ASSERT_EQ(run_tool("a -r " + q(archive) + " " + q(dir / "src/a.txt") + " " + q(dir / "src/sub")).exit_code, 0);
    // The tar is made from ".": its members are "./a.txt"..., as the listing prints them.
    else peer_archive(dir, archive, tool, tool[0] == 't' ? "." : "a.txt sub");
    std::string out = dir / (std::string("out-") + tool[0]);
    std::string lead = tool[0] == 't' ? "./" : "";
    write_file(dir / "list", list_file(archive, {lead + "sub/b.bin", lead + "a.txt"}));
    ToolRun run = run_tool("x x " + q(dir / "list") + " " + q(out));
    EXPECT_EQ(run.exit_code, 0) << tool << run.err;
    std::string base = out;
    EXPECT_EQ(read_file(base + "/sub/b.bin"), random_bytes(70000, 2)) << tool;
    EXPECT_EQ(read_file(base + "/a.txt"), sample_text(5000, 1)) << tool;
    EXPECT_FALSE(exists(base + "/sub/c.txt")) << tool;
  }
}

TEST(ForeignExtract, EncryptedMembersAreRefusedByNameAndTheRestExtracts) {
  ScratchFolder dir;
  peer_archive(dir, dir / "plain.zip", "zip -qr");
  sh("cd " + q(dir / "src") + " && zip -q -P secret ../e.zip a.txt && zip -qr ../e.zip sub");
  // With writer threads (-t2): small members are held in memory and written by them.
  ToolRun run = run_tool("x -t2 " + q(dir / "e.zip") + " " + q(dir / "out"));
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("vantor: a.txt is encrypted: not supported yet without a password (-pw)\n"), std::string::npos)
      << run.err;
  EXPECT_FALSE(exists(dir / "out/a.txt"));
  EXPECT_EQ(read_file(dir / "out/sub/b.bin"), random_bytes(70000, 2));
  ToolRun test = run_tool("t " + q(dir / "e.zip"));
  EXPECT_NE(test.err.find("vantor: a.txt is encrypted"), std::string::npos) << test.err;
  EXPECT_EQ(test.err.find("damaged member"), std::string::npos) << test.err;
  sh("cd " + q(dir / "src") + " && 7z a -bd -psecret -mhe=on ../h.7z a.txt >/dev/null");
  ToolRun names = run_tool("l " + q(dir / "h.7z"));
  EXPECT_NE(names.err.find("the names in this archive are encrypted: not supported yet"), std::string::npos) << names.err;
}

TEST(ForeignExtract, LinksDevicesAndEscapingNamesAreRefused) {
  ScratchFolder dir;
  sh("mkdir -p " + q(dir / "outside") + " && cd " + q(dir.path) + " && python3 -c \"import tarfile, io\n"
     "t = tarfile.open('h.tar', 'w')\n"
     "def add(name, kind, data=b'', link=''):\n"
     "  i = tarfile.TarInfo(name); i.type = kind; i.size = len(data); i.linkname = link; i.mode = 0o6755\n"
     "  t.addfile(i, io.BytesIO(data))\n"
     "add('l', tarfile.SYMTYPE, link='" + dir.path + "/outside')\n"
     "add('l/x.txt', tarfile.REGTYPE, b'through the link')\n"
     "add('hard', tarfile.LNKTYPE, link='/etc/passwd')\n"
     "add('dev', tarfile.CHRTYPE)\n"
     "add('../up.txt', tarfile.REGTYPE, b'up')\n"
     "add('ok.txt', tarfile.REGTYPE, b'ok')\n"
     "t.close()\"");
  ToolRun run = run_tool("x " + q(dir / "h.tar") + " " + q(dir / "out"));
  EXPECT_EQ(run.exit_code, 1);
  for (const char* line : {"refused l: a link is not extracted", "refused hard: a link is not extracted",
                           "refused dev: a device, FIFO or socket is not extracted", "refused ../up.txt"})
    EXPECT_NE(run.err.find(line), std::string::npos) << line << "\n" << run.err;
  EXPECT_EQ(read_file(dir / "out/ok.txt"), "ok");
  EXPECT_FALSE(exists(dir / "outside/x.txt"));
  EXPECT_FALSE(exists(dir / "up.txt"));
  struct stat st;
  ASSERT_EQ(lstat((dir / "out/ok.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 06000, 0u);  // set-id bits never survive
}

TEST(ForeignTest, ADamagedMemberIsNamedAndTheOthersAreStillRead) {
  ScratchFolder dir;
  write_file(dir / "src/a.bin", random_bytes(40000, 4));
  write_file(dir / "src/b.txt", sample_text(40000, 5));
  sh("cd " + q(dir / "src") + " && zip -q ../d.zip a.bin b.txt");
  std::string bytes = read_file(dir / "d.zip");
  bytes[20000] = static_cast<char>(bytes[20000] ^ 0x55);  // inside a.bin's data
  write_file(dir / "d.zip", bytes);
  ToolRun run = run_tool("t " + q(dir / "d.zip"));
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("vantor: damaged member: a.bin: "), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("b.txt"), std::string::npos) << run.err;
}

}  // namespace

#include "foreign_reader.h"

namespace {

struct Drain : ForeignVisitor {
  bool entry(const MemberInfo&) override { return true; }
  bool data(const uint8_t*, size_t) override { return true; }
  void entry_end(const MemberInfo&, const std::string& problem) override { problems += problem; }
  std::string problems;
};

TEST(ForeignMemory, AMemberAskingMoreThanTheCapIsRefusedNamingTheNeed) {
  ScratchFolder dir;
  write_file(dir / "a.txt", sample_text(1000, 6));
  sh("xz -k --lzma2=dict=64MiB " + q(dir / "a.txt"));
  ForeignSource source;
  source.paths = {dir / "a.txt.xz"};
  source.name = source.paths[0];
  source.memory_cap = 16 << 20;
  Drain capped;
  ForeignWalk walk = walk_foreign(source, capped);
  std::string said = walk.problem + capped.problems;
  EXPECT_NE(said.find("needs 6"), std::string::npos) << said;  // the 64 MB window and a little more
  EXPECT_NE(said.find(" MB of memory at once, more than the 16 MB a member may take here"), std::string::npos) << said;
  source.memory_cap = 128 << 20;
  Drain room;
  walk = walk_foreign(source, room);
  EXPECT_EQ(walk.problem + room.problems, "");
  // A 7z whose header asks for a 1.5 GB dictionary for 5 KB, refused under a 32-bit cap.
  sh("cd " + q(dir.path) + " && 7z a -bd -mhc=off -m0=LZMA:d=1m s.7z a.txt >/dev/null && python3 -c \""
     "import struct, zlib\nb = bytearray(open('s.7z', 'rb').read())\noff, size = struct.unpack('<QQ', b[12:28])\n"
     "i = b.index(b'\\x03\\x01\\x01\\x05\\x5d', 32 + off)\nb[i + 5:i + 9] = struct.pack('<I', 0x60000000)\n"
     "struct.pack_into('<I', b, 28, zlib.crc32(b[32 + off:32 + off + size]))\n"
     "struct.pack_into('<I', b, 8, zlib.crc32(b[12:32]))\nopen('huge.7z', 'wb').write(b)\"");
  source.paths = {dir / "huge.7z"};
  source.memory_cap = 700 << 20;
  Drain huge;
  walk = walk_foreign(source, huge);
  EXPECT_NE((walk.problem + huge.problems).find("needs 1537 MB of memory at once, more than the 700 MB"),
            std::string::npos) << walk.problem << huge.problems;
}

}  // namespace

namespace {

// A sample of libarchive's source, decoded from its uuencoded form into `dir`.
std::string libarchive_sample(const ScratchFolder& dir, const std::string& name) {
  std::string uu = std::string(VANTOR_LIBARCHIVE_SOURCE) + "/libarchive/test/" + name + ".uu";
  sh("cd " + q(dir.path) + " && python3 -c \"import binascii, sys\nout = b''\n"
     "for line in open(sys.argv[1]).read().splitlines()[1:]:\n  if line in ('end', chr(96)): break\n"
     "  out += binascii.a2b_uu(line)\nopen(sys.argv[2], 'wb').write(out)\" " + q(uu) + " " + q(name));
  return dir / name;
}

TEST(ForeignVolumes, AMultiVolumeRarReadsOnThroughThePartsBesideTheFirst) {
  ScratchFolder dir;
  for (int part = 1; part <= 8; ++part)
    libarchive_sample(dir, "test_read_format_rar5_multiarchive.part0" + std::to_string(part) + ".rar");
  std::string first = dir / "test_read_format_rar5_multiarchive.part01.rar";
  ToolRun whole = run_tool("t " + q(first));
  EXPECT_EQ(whole.exit_code, 0) << whole.err;
  EXPECT_NE(whole.out.find("2 files, 510280 bytes tested"), std::string::npos) << whole.out;
  // Without a part the member running into it is named as damaged.
  sh("rm " + q(dir / "test_read_format_rar5_multiarchive.part05.rar"));
  ToolRun cut = run_tool("t " + q(first));
  EXPECT_EQ(cut.exit_code, 1);
  EXPECT_NE(cut.err.find("vantor: damaged member: "), std::string::npos) << cut.err;
}

}  // namespace
