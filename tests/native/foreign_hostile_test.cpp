// Foreign archives written by an attacker: crafted names, links and devices, memory bombs,
// encrypted members, damaged copies of every family and the decoding library's own bad samples.
// Every run ends in a clear refusal or a correct result, with exit code 0 or 1 (never a crash or
// a hang), and leaves everything outside its destination as it was.
#include <sys/stat.h>

#include <regex>

#include "foreign_test_support.h"

namespace {

// Address space like a 32-bit process's, files up to 200 MB (beyond, a write fails as on a full
// disk: some samples declare 10 GB members), and a time limit that turns a hang into a failure.
const char* const kLimits = "ulimit -v 3000000; ulimit -f 200000; trap '' XFSZ; timeout -s KILL 20 ";

struct Contained {
  ToolRun run;
  std::map<std::string, std::string> inside;  // what the destination holds afterwards
};

// Runs vantor (`command` names the archive; `x` runs get a new scratch/out) and checks the rules
// above.
Contained run_contained(const ScratchFolder& scratch, const std::string& command, const std::string& archive) {
  bool extracting = command[0] == 'x';
  auto outside = [&] {
    std::map<std::string, std::string> all = folder_contents(scratch.path);
    for (auto it = all.begin(); it != all.end();) it = it->first.rfind("out", 0) == 0 ? all.erase(it) : std::next(it);
    return all;
  };
  std::system(("rm -rf " + shell_quoted(scratch / "out")).c_str());
  std::map<std::string, std::string> before = outside();
  Contained result;
  result.run = run_tool(command + " " + shell_quoted(archive) + (extracting ? " " + shell_quoted(scratch / "out") : ""), kLimits);
  SCOPED_TRACE(command + " " + archive);
  EXPECT_TRUE(result.run.exit_code == 0 || result.run.exit_code == 1) << "exit code " << result.run.exit_code << ": " << result.run.err;
  if (result.run.exit_code == 1) {
    EXPECT_FALSE(result.run.err.empty()) << "a refusal without a reason";
  }
  EXPECT_EQ(outside(), before) << "something outside the destination changed";
  result.inside = folder_contents(scratch / "out");
  for (const auto& [path, what] : result.inside)
    EXPECT_TRUE(what == "folder" || what.rfind("file ", 0) == 0) << path << " is " << what;
  return result;
}

bool python_writes(const std::string& folder, const std::string& script) {
  std::string log;
  ScratchFolder code;
  write_file(code / "make.py", script);
  bool ok = run_in(folder, "python3 " + shell_quoted(code / "make.py"), &log) == 0;
  EXPECT_TRUE(ok) << log;
  return ok;
}

// One hostile member beside ok.txt: the hostile one is refused by name, ok.txt still extracts.
struct CraftedCase {
  const char* name;
  const char* archive;
  const char* python;  // writes `archive`; OUT is the scratch folder's absolute path
  const char* shown;   // the refusal names the member by this
  bool alone = true;   // ok.txt is all that is written (else a plain file may follow a link's name)
};

void PrintTo(const CraftedCase& c, std::ostream* os) { *os << c.name; }

class CraftedMembers : public testing::TestWithParam<CraftedCase> {};

const char* const kCraftedPrelude = R"(import io, os, tarfile, zipfile, struct
OUT = os.getcwd()
def zip_with(name, data=b"bad\n"):
    with zipfile.ZipFile("a.zip", "w") as z:
        z.writestr("ok.txt", b"fine\n")
        z.writestr(zipfile.ZipInfo(name), data)
def tar_with(*members):
    with tarfile.open("a.tar", "w", format=tarfile.GNU_FORMAT) as t:
        info = tarfile.TarInfo("ok.txt"); info.size = 5; t.addfile(info, io.BytesIO(b"fine\n"))
        for m, data in members: t.addfile(m, io.BytesIO(data) if data else None)
def entry(name, kind, target="", size=0, mode=0o644):
    m = tarfile.TarInfo(name); m.type = kind; m.linkname = target; m.size = size; m.mode = mode
    m.devmajor, m.devminor = 1, 3
    return m
def cpio_with(name, mode, data=b""):
    def one(n, m, d):
        n = n.encode() + b"\0"
        h = b"070701" + b"".join(b"%08X" % v for v in (1, m, 0, 0, 1, 0, len(d), 0, 0, 1, 3, len(n), 0))
        pad = lambda b: b + b"\0" * (-len(b) % 4)
        return pad(h + n) + pad(d)
    open("a.cpio", "wb").write(one("ok.txt", 0o100644, b"fine\n") + one(name, mode, data) + one("TRAILER!!!", 0, b""))
open("outside/secret.txt", "w").write("outside\n")
)";

TEST_P(CraftedMembers, HostileMemberRefusedByNameTheRestExtracted) {
  const CraftedCase& c = GetParam();
  if (!have_tool("python3")) GTEST_SKIP() << "python3 is not installed: crafted archives are not tested";
  ScratchFolder scratch;
  std::filesystem::create_directories(scratch / "outside");
  ASSERT_TRUE(python_writes(scratch.path, std::string(kCraftedPrelude) + c.python));
  Contained x = run_contained(scratch, "x", scratch / c.archive);
  EXPECT_EQ(x.run.exit_code, 1);
  EXPECT_NE(x.run.err.find(c.shown), std::string::npos) << x.run.err;
  EXPECT_EQ(x.inside["ok.txt"], describe_file("fine\n"));
  for (const auto& [path, what] : x.inside) EXPECT_TRUE(!c.alone || path == "ok.txt" || what == "folder") << path << " was written";
  EXPECT_EQ(read_file(scratch / "outside/secret.txt"), "outside\n");
}

INSTANTIATE_TEST_SUITE_P(
    Foreign, CraftedMembers,
    testing::Values(
        CraftedCase{"zip_parent", "a.zip", "zip_with('../x')", "../x"},
        CraftedCase{"zip_parent_inside", "a.zip", "zip_with('a/../../x')", "a/../../x"},
        CraftedCase{"zip_parent_backslash", "a.zip", "zip_with('..\\\\x')", ".."},
        CraftedCase{"zip_absolute", "a.zip", "zip_with(OUT + '/outside/x')", "/outside/x"},
        CraftedCase{"zip_drive", "a.zip", "zip_with('C:\\\\x')", "C:"},
        CraftedCase{"zip_drive_relative", "a.zip", "zip_with('C:x')", "C:x"},
        CraftedCase{"zip_device", "a.zip", "zip_with('con')", "con"},
        CraftedCase{"zip_device_with_extension", "a.zip", "zip_with('sub/aux.txt')", "aux.txt"},
        CraftedCase{"tar_parent", "a.tar", "tar_with((entry('../x', tarfile.REGTYPE, size=4), b'bad\\n'))", "../x"},
        CraftedCase{"tar_absolute", "a.tar", "tar_with((entry(OUT + '/outside/x', tarfile.REGTYPE, size=4), b'bad\\n'))", "/outside/x"},
        CraftedCase{"tar_symlink_then_file", "a.tar",
                    "tar_with((entry('link', tarfile.SYMTYPE, '../outside'), None), (entry('link/x', tarfile.REGTYPE, size=4), b'bad\\n'))", "link", false},
        CraftedCase{"tar_absolute_symlink_then_file", "a.tar",
                    "tar_with((entry('link', tarfile.SYMTYPE, OUT + '/outside'), None), (entry('link/secret.txt', tarfile.REGTYPE, size=4), b'bad\\n'))", "link", false},
        CraftedCase{"tar_hard_link_outside", "a.tar", "tar_with((entry('hard', tarfile.LNKTYPE, '../outside/secret.txt'), None))", "hard"},
        CraftedCase{"tar_hard_link_absolute", "a.tar", "tar_with((entry('hard', tarfile.LNKTYPE, OUT + '/outside/secret.txt'), None))", "hard"},
        CraftedCase{"tar_hard_link_then_write", "a.tar",
                    "tar_with((entry('hard', tarfile.LNKTYPE, OUT + '/outside/secret.txt'), None), (entry('hard', tarfile.REGTYPE, size=4), b'bad\\n'))", "hard", false},
        CraftedCase{"tar_character_device", "a.tar", "tar_with((entry('dev', tarfile.CHRTYPE), None))", "dev"},
        CraftedCase{"tar_block_device", "a.tar", "tar_with((entry('blk', tarfile.BLKTYPE), None))", "blk"},
        CraftedCase{"tar_fifo", "a.tar", "tar_with((entry('fifo', tarfile.FIFOTYPE), None))", "fifo"},
        CraftedCase{"cpio_character_device", "a.cpio", "cpio_with('dev', 0o020644)", "dev"},
        CraftedCase{"cpio_fifo", "a.cpio", "cpio_with('fifo', 0o010644)", "fifo"},
        CraftedCase{"cpio_symlink", "a.cpio", "cpio_with('link', 0o120777, OUT.encode() + b'/outside')", "link"}),
    [](const testing::TestParamInfo<CraftedCase>& info) { return std::string(info.param.name); });

// Modes from an archive never make a setuid or setgid file.
TEST(ForeignHostile, SetuidModeIsNeverExtracted) {
  if (!have_tool("python3")) GTEST_SKIP() << "python3 is not installed";
  ScratchFolder scratch;
  std::filesystem::create_directories(scratch / "outside");
  ASSERT_TRUE(python_writes(scratch.path, std::string(kCraftedPrelude) +
                                              "tar_with((entry('run', tarfile.REGTYPE, size=4, mode=0o6777), b'bad\\n'))"));
  Contained x = run_contained(scratch, "x", scratch / "a.tar");
  EXPECT_EQ(x.run.exit_code, 0) << x.run.err;
  struct stat st;
  ASSERT_EQ(stat((scratch / "out/run").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & (S_ISUID | S_ISGID), 0u) << std::oct << st.st_mode;
}

// A text listing that names files on this machine (contents=) must not copy them out.
TEST(ForeignHostile, ListingThatNamesLocalFilesCopiesNothing) {
  ScratchFolder scratch;
  write_file(scratch / "outside/secret.txt", "local secret\n");
  write_file(scratch / "a.mtree", "#mtree\nleak type=file contents=" + (scratch / "outside/secret.txt") + "\n./leak2 type=file size=13 contents=/etc/hostname\n");
  Contained x = run_contained(scratch, "x", scratch / "a.mtree");
  for (const auto& [path, what] : x.inside) EXPECT_NE(what, describe_file("local secret\n")) << path;
  EXPECT_EQ(x.inside.count("leak2"), 0u);
}

// Memory a member asks for: a 7z coder's dictionary or model size, a rar5 window. Under the cap of
// a 32-bit process: a refusal that names the need, or the right bytes.
struct MemoryCase {
  const char* name;
  const char* make;   // shell, in the scratch folder, writes a.7z or a.rar
  const char* patch;  // python patching a.7z / a.rar in place
};

void PrintTo(const MemoryCase& c, std::ostream* os) { *os << c.name; }

class MemoryAsked : public testing::TestWithParam<MemoryCase> {};

// 7z with a plain header (-mhc=off): a coder's properties patched, both CRCs made right again.
const char* const kPatch7z = R"(import struct, zlib
b = bytearray(open("a.7z", "rb").read())
off, size = struct.unpack_from("<QQ", b, 12)
start = 32 + off
def patch(pattern, at, value):
    i = b.find(pattern, start)
    assert i > 0, pattern
    b[i + at:i + at + len(value)] = value
)";
const char* const kFix7z = R"(
struct.pack_into("<I", b, 28, zlib.crc32(bytes(b[start:start + size])))
struct.pack_into("<I", b, 8, zlib.crc32(bytes(b[12:32])))
open("a.7z", "wb").write(b)
)";

// rar5: the first file header's window bits set to 4 GB (2^15 * 128 KB), its CRC made right.
const char* const kPatchRar5 = R"(import struct, zlib
b = bytearray(open("a.rar", "rb").read())
def vint(p):
    v = s = 0
    while True:
        v |= (b[p] & 0x7f) << s; s += 7; p += 1
        if not b[p - 1] & 0x80: return v, p
p = 8
while True:
    crc_at = p; size, q = vint(p + 4); end = q + size
    kind, q = vint(q); flags, q = vint(q)
    if flags & 1: _, q = vint(q)
    if flags & 2: data, q = vint(q)
    else: data = 0
    if kind == 2:
        fflags, q = vint(q); _, q = vint(q); _, q = vint(q)
        if fflags & 2: q += 4
        if fflags & 4: q += 4
        info, r = vint(q)
        assert r - q == 2, "window bits need a two-byte field"
        info = (info & ~0x3c00) | (15 << 10)
        b[q], b[q + 1] = (info & 0x7f) | 0x80, info >> 7
        struct.pack_into("<I", b, crc_at, zlib.crc32(bytes(b[crc_at + 4:end])))
        break
    p = end + data
open("a.rar", "wb").write(b)
)";

TEST_P(MemoryAsked, RefusedNamingTheNeedOrDecodedRight) {
  const MemoryCase& c = GetParam();
  bool rar = std::string(c.make).find("rar") != std::string::npos;
  if (!have_tool("python3") || (!rar && !have_tool("7z")) || (rar && library_source().empty()))
    GTEST_SKIP() << "python3, 7z or the library's rar samples are missing: " << c.name << " is not tested";
  ScratchFolder scratch;
  write_file(scratch / "small.txt", "small\n");
  if (rar) {
    ASSERT_EQ(decode_samples("test_read_format_rar5_compressed", scratch.path), 1);
    ASSERT_EQ(run_in(scratch.path, "mv test_read_format_rar5_compressed.rar a.rar"), 0);
  } else {
    std::string log;
    ASSERT_EQ(run_in(scratch.path, c.make, &log), 0) << log;
  }
  ASSERT_TRUE(python_writes(scratch.path, rar ? std::string(kPatchRar5) : std::string(kPatch7z) + c.patch + kFix7z));
  std::string archive = scratch / (rar ? "a.rar" : "a.7z");
  for (const char* command : {"t", "x"}) {
    Contained run = run_contained(scratch, command, archive);
    if (run.run.exit_code == 1) {
      EXPECT_TRUE(std::regex_search(run.run.err, std::regex("[0-9] ?([KMG]i?B|bytes)"))) << "the refusal does not name the need: " << run.run.err;
      EXPECT_EQ(run.run.err.find("damaged"), std::string::npos) << "memory refused is not damage: " << run.run.err;
    } else if (!rar && command[0] == 'x') {
      EXPECT_EQ(run.inside["small.txt"], describe_file("small\n"));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Foreign, MemoryAsked,
    testing::Values(
        MemoryCase{"lzma_1536_mb", "7z a -bd -mhc=off -m0=LZMA a.7z small.txt", "patch(b'\\x23\\x03\\x01\\x01\\x05', 6, struct.pack('<I', 1536 << 20))"},
        MemoryCase{"lzma_4_gb", "7z a -bd -mhc=off -m0=LZMA a.7z small.txt", "patch(b'\\x23\\x03\\x01\\x01\\x05', 6, struct.pack('<I', 0xFFFFFFFF))"},
        MemoryCase{"lzma2_4_gb", "7z a -bd -mhc=off -m0=LZMA2 a.7z small.txt", "patch(b'\\x21\\x21\\x01', 3, bytes([40]))"},
        MemoryCase{"ppmd_4_gb", "7z a -bd -mhc=off -m0=PPMd a.7z small.txt",
                   "patch(b'\\x23\\x03\\x04\\x01\\x05', 5, bytes([32]) + struct.pack('<I', 0xFFFFFFDB))"},
        MemoryCase{"rar5_window_4_gb", "rar", ""}),
    [](const testing::TestParamInfo<MemoryCase>& info) { return std::string(info.param.name); });

// Encrypted members are refused by name while the rest extracts; encrypted names in one line.
struct EncryptedCase {
  const char* name;
  const char* make;  // writes `archive` from secret.txt and plain.txt (or a rar sample's stem)
  const char* archive;
  bool names_hidden;
};

void PrintTo(const EncryptedCase& c, std::ostream* os) { *os << c.name; }

class EncryptedMembers : public testing::TestWithParam<EncryptedCase> {};

TEST_P(EncryptedMembers, RefusedByNameTheRestExtracted) {
  const EncryptedCase& c = GetParam();
  bool sample = std::string(c.make).rfind("test_", 0) == 0;
  if (sample ? library_source().empty() : !have_tool(std::string(c.make).substr(0, std::string(c.make).find(' '))))
    GTEST_SKIP() << "the peer tool or the library's samples are missing: " << c.name << " is not tested";
  ScratchFolder scratch;
  write_file(scratch / "secret.txt", "secret\n");
  write_file(scratch / "plain.txt", "plain\n");
  std::string log;
  if (sample) {
    ASSERT_EQ(decode_samples(c.make, scratch.path), 1);
  } else {
    ASSERT_EQ(run_in(scratch.path, c.make, &log), 0) << log;
  }
  std::string archive = scratch / c.archive;
  Contained x = run_contained(scratch, "x", archive);
  EXPECT_EQ(x.run.exit_code, 1);
  if (c.names_hidden) {
    EXPECT_NE(x.run.err.find("encrypted"), std::string::npos) << x.run.err;
    EXPECT_EQ(std::count(x.run.err.begin(), x.run.err.end(), '\n'), 1) << x.run.err;
    EXPECT_TRUE(x.inside.empty());
    return;
  }
  ToolRun listed = run_tool("l -p " + shell_quoted(archive));
  Listing listing = parse_listing(listed.out);
  ASSERT_EQ(listing.error, "") << listed.err;
  int encrypted = 0;
  for (const auto& [path, e] : listing.entries) {
    if (e.flags != "e") continue;
    ++encrypted;
    EXPECT_NE(x.run.err.find(path + " is encrypted: not supported yet"), std::string::npos) << x.run.err;
    EXPECT_EQ(x.inside.count(path), 0u) << path << " was written";
  }
  EXPECT_GT(encrypted, 0);
  if (!sample) {
    EXPECT_EQ(listing.entries["plain.txt"].flags, "-");
    EXPECT_EQ(x.inside["plain.txt"], describe_file("plain\n"));
    ToolRun t = run_tool("t " + shell_quoted(archive));
    EXPECT_EQ(t.exit_code, 1);
    EXPECT_NE(t.err.find("secret.txt is encrypted: not supported yet"), std::string::npos) << t.err;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Foreign, EncryptedMembers,
    testing::Values(
        EncryptedCase{"zip_traditional", "zip -q -P pw a.zip secret.txt && zip -q a.zip plain.txt", "a.zip", false},
        EncryptedCase{"zip_aes", "7z a -bd -tzip -ppw -mem=AES256 a.zip secret.txt && 7z a -bd -tzip a.zip plain.txt", "a.zip", false},
        EncryptedCase{"sevenzip_data", "7z a -bd -ppw a.7z secret.txt && 7z a -bd a.7z plain.txt", "a.7z", false},
        EncryptedCase{"sevenzip_names", "7z a -bd -ppw -mhe=on a.7z secret.txt plain.txt", "a.7z", true},
        EncryptedCase{"rar4_data", "test_read_format_rar4_encrypted.rar", "test_read_format_rar4_encrypted.rar", false},
        EncryptedCase{"rar4_partly", "test_read_format_rar_encryption_partially", "test_read_format_rar_encryption_partially.rar", false},
        EncryptedCase{"rar4_names", "test_read_format_rar4_encrypted_filenames", "test_read_format_rar4_encrypted_filenames.rar", true},
        EncryptedCase{"rar5_data", "test_read_format_rar5_encrypted.rar", "test_read_format_rar5_encrypted.rar", false},
        EncryptedCase{"rar5_names", "test_read_format_rar5_encrypted_filenames", "test_read_format_rar5_encrypted_filenames.rar", true}),
    [](const testing::TestParamInfo<EncryptedCase>& info) { return std::string(info.param.name); });

// Damaged copies of one archive per family: cut at half (always a refusal) and just before its
// end, and with single bits flipped at spread places; `t` and `x` on each.
struct DamageCase {
  const char* name;
  const char* tools;
  const char* archive;
  const char* command;  // run in a folder holding text.txt, noise.bin and sub/small.txt
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

class DamagedArchives : public testing::TestWithParam<DamageCase> {};

TEST_P(DamagedArchives, CutAndFlippedCopiesAreRefusedOrRight) {
  const DamageCase& c = GetParam();
  std::istringstream tools(c.tools);
  for (std::string tool; tools >> tool;)
    if (tool == "samples" ? library_source().empty() : !have_tool(tool)) GTEST_SKIP() << tool << " is missing: damaged " << c.name << " is not tested";
  ScratchFolder scratch;
  std::string log;
  write_file(scratch / "tree/text.txt", sample_text(200000, 4));
  write_file(scratch / "tree/noise.bin", random_bytes(50000, 8));
  write_file(scratch / "tree/sub/small.txt", "small\n");
  if (std::string(c.tools) == "samples") {
    ASSERT_EQ(decode_samples(c.command, scratch / "tree"), 1);
  } else {
    ASSERT_EQ(run_in(scratch / "tree", c.command, &log), 0) << log;
  }
  std::string sound = read_file(scratch / ("tree/" + std::string(c.archive)));
  ASSERT_GT(sound.size(), 64u);
  std::system(("rm -rf " + shell_quoted(scratch / "tree")).c_str());
  std::vector<std::pair<std::string, std::string>> copies = {{"cut at half", sound.substr(0, sound.size() / 2)},
                                                             {"cut before the end", sound.substr(0, sound.size() - 1)}};
  for (int i = 0; i < 8; ++i) {
    size_t at = i < 4 ? 8 + i * 41 : sound.size() * (i - 3) / 5;  // headers first, then spread
    std::string flipped = sound;
    flipped[at % sound.size()] ^= static_cast<char>(1 << (i % 8));
    copies.push_back({"bit flipped at " + std::to_string(at % sound.size()), flipped});
  }
  for (const auto& [what, bytes] : copies) {
    SCOPED_TRACE(what);
    write_file(scratch / c.archive, bytes);
    for (const char* command : {"t", "x"}) {
      Contained run = run_contained(scratch, command, scratch / c.archive);
      if (what == "cut at half") {
        EXPECT_EQ(run.run.exit_code, 1) << command << " said nothing of the missing half";
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Foreign, DamagedArchives,
    testing::Values(DamageCase{"zip", "zip", "a.zip", "zip -qr a.zip *"},
                    DamageCase{"sevenzip", "7z", "a.7z", "7z a -bd a.7z *"},
                    DamageCase{"sevenzip_not_solid", "7z", "a.7z", "7z a -bd -ms=off -m0=PPMd a.7z *"},
                    DamageCase{"tar", "tar", "a.tar", "tar -cf a.tar *"},
                    DamageCase{"tar_gz", "tar gzip", "a.tgz", "tar -czf a.tgz *"},
                    DamageCase{"tar_bz2", "tar bzip2", "a.tbz", "tar -cjf a.tbz *"},
                    DamageCase{"tar_xz", "tar xz", "a.txz", "tar -cJf a.txz *"},
                    DamageCase{"tar_zst", "tar zstd", "a.tzst", "tar --zstd -cf a.tzst *"},
                    DamageCase{"tar_lz4", "tar lz4", "a.tlz4", "tar -I lz4 -cf a.tlz4 *"},
                    DamageCase{"tar_Z", "tar compress", "a.taZ", "tar -Z -cf a.taZ *"},
                    DamageCase{"iso", "xorriso", "a.iso", "xorriso -as mkisofs -quiet -R -J -o a.iso ."},
                    DamageCase{"cab", "gcab", "a.cab", "gcab -cz a.cab text.txt noise.bin sub/small.txt"},
                    DamageCase{"lha", "lha", "a.lzh", "lha a a.lzh text.txt noise.bin sub >/dev/null"},
                    DamageCase{"cpio", "cpio", "a.cpio", "find * | cpio --quiet -o -H newc > a.cpio"},
                    DamageCase{"ar", "ar", "a.a", "ar rcU a.a text.txt noise.bin"},
                    DamageCase{"single_gz", "gzip", "text.txt.gz", "gzip -k text.txt"},
                    DamageCase{"single_xz", "xz", "text.txt.xz", "xz -k text.txt"},
                    DamageCase{"single_bz2", "bzip2", "text.txt.bz2", "bzip2 -k text.txt"},
                    DamageCase{"single_zst", "zstd", "text.txt.zst", "zstd -q text.txt"},
                    DamageCase{"rar", "samples", "test_read_format_rar_compress_normal.rar", "test_read_format_rar_compress_normal"},
                    DamageCase{"rar5", "samples", "test_read_format_rar5_multiple_files.rar", "test_read_format_rar5_multiple_files.rar"}),
    [](const testing::TestParamInfo<DamageCase>& info) { return std::string(info.param.name); });

// A member in a method no decoder here reads (zip's deflate64) is refused by name; the rest extracts.
TEST(ForeignHostile, UnreadableMethodIsRefusedByNameTheRestExtracted) {
  if (!have_tool("7z")) GTEST_SKIP() << "7z is not installed: a deflate64 zip is not tested";
  ScratchFolder scratch;
  write_file(scratch / "numbers.txt", sample_text(200000, 6));
  write_file(scratch / "plain.txt", "plain\n");
  std::string log;
  ASSERT_EQ(run_in(scratch.path, "7z a -bd -tzip -mm=Deflate64 a.zip numbers.txt && 7z a -bd -tzip a.zip plain.txt", &log), 0) << log;
  Contained x = run_contained(scratch, "x", scratch / "a.zip");
  if (x.run.exit_code == 0) {
    EXPECT_EQ(x.inside["numbers.txt"], describe_file(sample_text(200000, 6)));
  } else {
    EXPECT_NE(x.run.err.find("numbers.txt"), std::string::npos) << x.run.err;
    EXPECT_EQ(x.inside.count("numbers.txt"), 0u);
  }
  EXPECT_EQ(x.inside["plain.txt"], describe_file("plain\n"));
}

// A volume set with a part missing ends in a clear refusal.
TEST(ForeignHostile, VolumeSetWithAPartMissingIsRefused) {
  if (library_source().empty()) GTEST_SKIP() << "the decoding library's samples are missing";
  ScratchFolder scratch;
  ASSERT_EQ(decode_samples("test_read_format_rar5_multiarchive.part", scratch.path), 8);
  ASSERT_EQ(std::remove((scratch / "test_read_format_rar5_multiarchive.part03.rar").c_str()), 0);
  for (const char* command : {"t", "x"})
    EXPECT_EQ(run_contained(scratch, command, scratch / "test_read_format_rar5_multiarchive.part01.rar").run.exit_code, 1);
}

// Every sample archive in the decoding library's source, its crafted bad ones included.
class LibrarySamples : public testing::TestWithParam<int> {};

TEST_P(LibrarySamples, EveryOneRefusedOrReadWithinLimits) {
  if (library_source().empty()) GTEST_SKIP() << "the decoding library's source (VANTOR_LIBARCHIVE_SOURCE) is missing";
  ScratchFolder scratch;
  std::filesystem::create_directories(scratch / "samples");
  decode_samples("test_", scratch / "samples");
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(scratch / "samples")) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  ASSERT_GT(names.size(), 100u);
  for (size_t i = GetParam(); i < names.size(); i += 8)
    for (const char* command : {"t", "x"}) run_contained(scratch, command, scratch / ("samples/" + names[i]));
}

INSTANTIATE_TEST_SUITE_P(Foreign, LibrarySamples, testing::Range(0, 8));

// Compression layers stacked deeper than anyone sends (a gzip can decode to itself, layer after
// layer) are refused at once; three, as deep as a real archive goes, are still read.
TEST(ForeignHostile, CompressionStackedTooDeepIsRefused) {
  if (!have_tool("gzip")) GTEST_SKIP() << "gzip is missing: stacked layers are not tested";
  ScratchFolder scratch;
  write_file(scratch / "a.txt", "layered\n");
  ASSERT_EQ(run_in(scratch.path, "gzip -c a.txt >1 && gzip -c 1 >2 && gzip -c 2 >three.gz && gzip -c three.gz >four.gz && rm a.txt 1 2"), 0);
  Contained three = run_contained(scratch, "x", scratch / "three.gz");
  EXPECT_EQ(three.run.exit_code, 0) << three.run.err;
  EXPECT_EQ(three.inside["three"], describe_file("layered\n"));
  Contained four = run_contained(scratch, "t", scratch / "four.gz");
  EXPECT_EQ(four.run.exit_code, 1);
  EXPECT_NE(four.run.err.find("4 compression layers"), std::string::npos) << four.run.err;
}

// A failed write (a full disk; here the file size limit) ends the extraction with "cannot write"
// instead of decoding on: a stream without end would otherwise run forever.
TEST(ForeignHostile, ExtractionStopsAtTheFirstFailedWrite) {
  if (!have_tool("tar")) GTEST_SKIP() << "tar is missing: a failed write is not tested";
  ScratchFolder scratch;
  write_file(scratch / "in/big.txt", sample_text(3000000, 2));
  write_file(scratch / "in/small.txt", "small\n");
  ASSERT_EQ(run_in(scratch / "in", "tar cf ../a.tar big.txt small.txt"), 0);
  ToolRun run = run_tool("x " + shell_quoted(scratch / "a.tar") + " " + shell_quoted(scratch / "out"),
                         "ulimit -f 1000; trap '' XFSZ; timeout -s KILL 20 ");
  EXPECT_EQ(run.exit_code, 1) << run.err;
  EXPECT_NE(run.err.find("cannot write"), std::string::npos) << run.err;
  EXPECT_EQ(folder_contents(scratch / "out").count("small.txt"), 0u) << "went on after the failed write";
  EXPECT_EQ(run.err.find("changed"), std::string::npos) << run.err;
}

}  // namespace
