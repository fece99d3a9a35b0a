// Foreign archives that peer tools write in the test, from one small tree: `vantor x` must give
// the tree back byte for byte and `vantor l -p` its names, sizes and times. A peer tool that is
// missing skips its case by name. Rar, which no Debian tool writes, comes from the decoding
// library's own samples.
#include <fcntl.h>
#include <sys/stat.h>

#include "foreign_test_support.h"

namespace {

// The tree; without its UTF-8 name (lha stores names in no stated character set); its top-level
// files only; big.txt only.
enum class Tree { whole, ascii, flat, single };

const long long kTreeTime = 1614834366;  // 2021-03-04 05:06:06 UTC, even for zip's 2 s steps

// path -> contents; "" marks a folder. The .exe has x86 calls for the branch filters.
std::map<std::string, std::string> tree_files(Tree tree) {
  std::string program = sample_text(65536, 9);
  for (size_t i = 0; i + 5 < program.size(); i += 37) program.replace(i, 5, std::string("\xE8\x10\x20\x00\x00", 5));
  std::map<std::string, std::string> all = {{"big.txt", sample_text(1 << 20, 3)},
                                            {"noise.bin", random_bytes(300 << 10, 77)},
                                            {"empty.txt", ""},
                                            {"Grüße-名前.txt", "UTF-8 name\n"},
                                            {"nested", ""},
                                            {"nested/tool.exe", program},
                                            {"nested/deeper", ""},
                                            {"nested/deeper/inner.txt", sample_text(5000, 5)}};
  if (tree == Tree::single) return {{"big.txt", all["big.txt"]}};
  if (tree == Tree::ascii) all.erase("Grüße-名前.txt");
  if (tree == Tree::flat)
    for (auto it = all.begin(); it != all.end();) it = it->first.find("nested") == 0 ? all.erase(it) : std::next(it);
  return all;
}

bool is_folder(const std::pair<const std::string, std::string>& e) { return e.second.empty() && e.first.find('.') == std::string::npos; }

void make_tree(const std::string& root, Tree tree) {
  for (const auto& e : tree_files(tree)) {
    if (is_folder(e)) std::filesystem::create_directories(root + "/" + e.first);
    else write_file(root + "/" + e.first, e.second);
  }
  for (const auto& e : tree_files(tree)) {
    timespec times[2] = {{kTreeTime, 0}, {kTreeTime, 0}};
    utimensat(AT_FDCWD, (root + "/" + e.first).c_str(), times, AT_SYMLINK_NOFOLLOW);
  }
}

std::map<std::string, std::string> expected_contents(Tree tree) {
  std::map<std::string, std::string> expected;
  for (const auto& e : tree_files(tree)) expected[e.first] = is_folder(e) ? "folder" : describe_file(e.second);
  return expected;
}

struct PeerCase {
  const char* name;
  const char* tools;    // every one must be installed, else the case is skipped
  const char* archive;  // written beside the tree by `command`, run inside the tree
  const char* command;
  Tree tree;
  const char* format;   // the listing's format name (letter case aside), "" for any
};

void PrintTo(const PeerCase& c, std::ostream* os) { *os << c.name; }

class PeerArchives : public testing::TestWithParam<PeerCase> {};

TEST_P(PeerArchives, ExtractByteForByteAndListNamesSizesAndTimes) {
  const PeerCase& c = GetParam();
  std::istringstream tools(c.tools);
  for (std::string tool; tools >> tool;)
    if (!have_tool(tool)) {
      GTEST_SKIP() << tool << " is not installed, so " << c.name << " archives are not tested";
    }
  ScratchFolder scratch;
  make_tree(scratch / "tree", c.tree);
  std::string log, archive = scratch / c.archive;
  ASSERT_EQ(run_in(scratch / "tree", c.command, &log), 0) << c.command << "\n" << log;

  ToolRun listed = run_tool("l -p " + shell_quoted(archive));
  ASSERT_EQ(listed.exit_code, 0) << listed.err;
  Listing listing = parse_listing(listed.out);
  ASSERT_EQ(listing.error, "");
  if (*c.format) {
    EXPECT_STRCASEEQ(listing.format.c_str(), c.format);
  }
  std::map<std::string, std::string> expected = tree_files(c.tree);
  for (const auto& [path, e] : listing.entries) {
    SCOPED_TRACE(path);
    if (path == "." && e.kind == 'd') continue;  // an image's root
    auto it = expected.find(path);
    ASSERT_NE(it, expected.end()) << "listed but not in the tree";
    EXPECT_EQ(e.kind, is_folder(*it) ? 'd' : 'f');
    if (e.kind == 'f' && !(c.tree == Tree::single && e.size == -1)) {
      EXPECT_EQ(e.size, static_cast<long long>(it->second.size()));
    }
    EXPECT_EQ(e.flags, "-");
    if (e.mtime_ns != 0 && c.tree != Tree::single) {
      EXPECT_EQ(e.mtime_ns / 1000000000, kTreeTime);
    }
  }
  for (const auto& e : expected) {
    if (!is_folder(e)) {
      EXPECT_EQ(listing.entries.count(e.first), 1u) << e.first << " not listed";
    }
  }

  ToolRun tested = run_tool("t " + shell_quoted(archive));
  EXPECT_EQ(tested.exit_code, 0) << tested.out << tested.err;
  ToolRun extracted = run_tool("x " + shell_quoted(archive) + " " + shell_quoted(scratch / "out"));
  EXPECT_EQ(extracted.exit_code, 0) << extracted.err;
  EXPECT_EQ(folder_contents(scratch / "out"), expected_contents(c.tree));
}

// Single compressed files: one member named after the file less its extension.
const char* const kSingle = "big.txt";

INSTANTIATE_TEST_SUITE_P(
    Foreign, PeerArchives,
    testing::Values(
        PeerCase{"zip_deflate", "zip", "a.zip", "zip -qr ../a.zip *", Tree::whole, "zip"},
        PeerCase{"zip_store", "zip", "a.zip", "zip -qr0 ../a.zip *", Tree::whole, "zip"},
        PeerCase{"zip_bzip2", "zip", "a.zip", "zip -qr -Z bzip2 ../a.zip *", Tree::whole, "zip"},
        PeerCase{"zip64", "zip", "a.zip", "zip -qr -fz ../a.zip *", Tree::whole, "zip"},
        PeerCase{"zip_streamed", "zip", "a.zip", "zip -qr - * | cat > ../a.zip", Tree::whole, "zip"},
        PeerCase{"zip_lzma", "7z", "a.zip", "7z a -bd -tzip -mm=LZMA ../a.zip *", Tree::whole, "zip"},
        PeerCase{"zip_xz", "7z", "a.zip", "7z a -bd -tzip -mm=XZ ../a.zip *", Tree::whole, "zip"},
        PeerCase{"zip_ppmd", "7z", "a.zip", "7z a -bd -tzip -mm=PPMd ../a.zip *", Tree::whole, "zip"},
        PeerCase{"zip_7z_deflate", "7z", "a.zip", "7z a -bd -tzip -mm=Deflate -mx9 ../a.zip *", Tree::whole, "zip"},
        PeerCase{"sevenzip_lzma", "7z", "a.7z", "7z a -bd -m0=LZMA ../a.7z *", Tree::whole, "7z"},
        PeerCase{"sevenzip_lzma2", "7z", "a.7z", "7z a -bd -m0=LZMA2 ../a.7z *", Tree::whole, "7z"},
        PeerCase{"sevenzip_lzma2_not_solid", "7z", "a.7z", "7z a -bd -m0=LZMA2 -ms=off -mhc=off ../a.7z *", Tree::whole, "7z"},
        PeerCase{"sevenzip_ppmd", "7z", "a.7z", "7z a -bd -m0=PPMd ../a.7z *", Tree::whole, "7z"},
        PeerCase{"sevenzip_bcj", "7z", "a.7z", "7z a -bd -m0=BCJ -m1=LZMA ../a.7z *", Tree::whole, "7z"},
        PeerCase{"sevenzip_bcj2", "7z", "a.7z", "7z a -bd -mf=BCJ2 ../a.7z *", Tree::whole, "7z"},
        PeerCase{"sevenzip_deflate", "7z", "a.7z", "7z a -bd -m0=Deflate ../a.7z *", Tree::whole, "7z"},
        PeerCase{"sevenzip_bzip2", "7z", "a.7z", "7z a -bd -m0=BZip2 ../a.7z *", Tree::whole, "7z"},
        PeerCase{"sevenzip_copy", "7z", "a.7z", "7z a -bd -m0=Copy ../a.7z *", Tree::whole, "7z"},
        PeerCase{"tar_gnu", "tar", "a.tar", "tar --format=gnu -cf ../a.tar *", Tree::whole, "tar"},
        PeerCase{"tar_pax", "tar", "a.tar", "tar --format=pax -cf ../a.tar *", Tree::whole, "tar"},
        PeerCase{"tar_ustar", "tar", "a.tar", "tar --format=ustar -cf ../a.tar *", Tree::whole, "tar"},
        PeerCase{"tar_gz", "tar gzip", "a.tgz", "tar -czf ../a.tgz *", Tree::whole, "tar.gz"},
        PeerCase{"tar_bz2", "tar bzip2", "a.tar.bz2", "tar -cjf ../a.tar.bz2 *", Tree::whole, "tar.bz2"},
        PeerCase{"tar_xz", "tar xz", "a.tar.xz", "tar -cJf ../a.tar.xz *", Tree::whole, "tar.xz"},
        PeerCase{"tar_zst", "tar zstd", "a.tar.zst", "tar --zstd -cf ../a.tar.zst *", Tree::whole, "tar.zst"},
        PeerCase{"tar_lz4", "tar lz4", "a.tar.lz4", "tar -I lz4 -cf ../a.tar.lz4 *", Tree::whole, "tar.lz4"},
        PeerCase{"tar_Z", "tar compress", "a.tar.Z", "tar -Z -cf ../a.tar.Z *", Tree::whole, "tar.Z"},
        PeerCase{"iso_rock_ridge_joliet", "xorriso", "a.iso", "xorriso -as mkisofs -quiet -R -J -o ../a.iso .", Tree::whole, ""},
        PeerCase{"iso_joliet", "genisoimage", "a.iso", "genisoimage -quiet -input-charset utf-8 -J -o ../a.iso .", Tree::whole, ""},
        PeerCase{"iso_rock_ridge", "genisoimage", "a.iso", "genisoimage -quiet -input-charset utf-8 -R -o ../a.iso .", Tree::whole, ""},
        PeerCase{"cab_mszip", "gcab", "a.cab", "gcab -cz ../a.cab $(find * -type f)", Tree::whole, ""},
        PeerCase{"cab_stored", "gcab", "a.cab", "gcab -c ../a.cab $(find * -type f)", Tree::whole, ""},
        PeerCase{"lha", "lha", "a.lzh", "lha a ../a.lzh *", Tree::ascii, ""},
        PeerCase{"cpio_newc", "cpio", "a.cpio", "find * | cpio --quiet -o -H newc > ../a.cpio", Tree::whole, ""},
        PeerCase{"cpio_odc", "cpio", "a.cpio", "find * | cpio --quiet -o -H odc > ../a.cpio", Tree::whole, ""},
        PeerCase{"ar", "ar", "a.a", "ar rcU ../a.a *", Tree::flat, ""},
        PeerCase{"single_gz", "gzip", "big.txt.gz", "gzip -c big.txt > ../big.txt.gz", Tree::single, ""},
        PeerCase{"single_bz2", "bzip2", "big.txt.bz2", "bzip2 -c big.txt > ../big.txt.bz2", Tree::single, ""},
        PeerCase{"single_xz", "xz", "big.txt.xz", "xz -c big.txt > ../big.txt.xz", Tree::single, ""},
        PeerCase{"single_zst", "zstd", "big.txt.zst", "zstd -qc big.txt > ../big.txt.zst", Tree::single, ""},
        PeerCase{"single_lz4", "lz4", "big.txt.lz4", "lz4 -qc big.txt > ../big.txt.lz4", Tree::single, ""},
        PeerCase{"single_Z", "compress", "big.txt.Z", "compress -c big.txt > ../big.txt.Z", Tree::single, ""}),
    [](const testing::TestParamInfo<PeerCase>& info) { return std::string(info.param.name); });

// Rar samples (all parts of a volume set decoded beside the first): `t` and `x` read every file
// the listing names at its listed size; links in a sample are refused by name, never created.
struct RarCase {
  const char* stem;   // the samples whose names start with this
  const char* first;  // the part that is opened
  const char* format;
};

void PrintTo(const RarCase& c, std::ostream* os) { *os << c.first; }

class RarSamples : public testing::TestWithParam<RarCase> {};

TEST_P(RarSamples, ListedFilesAllExtractAtTheirSizes) {
  const RarCase& c = GetParam();
  if (library_source().empty() || !have_tool("python3"))
    GTEST_SKIP() << "the decoding library's source (VANTOR_LIBARCHIVE_SOURCE) or python3 is missing: rar samples are not tested";
  ScratchFolder scratch;
  ASSERT_GE(decode_samples(c.stem, scratch.path), 1) << c.stem;
  std::string archive = scratch / c.first;
  ToolRun listed = run_tool("l -p " + shell_quoted(archive));
  ASSERT_EQ(listed.exit_code, 0) << listed.err;
  Listing listing = parse_listing(listed.out);
  ASSERT_EQ(listing.error, "");
  EXPECT_EQ(listing.format, c.format);
  std::map<std::string, std::string> expected;
  bool refused = false;
  size_t files = 0;
  for (const auto& [path, e] : listing.entries) {
    if (e.kind == 'l' || e.kind == 'o') refused = true;
    else if (e.kind == 'd') expected[path] = "folder";
    else ++files;
    for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) expected[path.substr(0, slash)] = "folder";
  }
  ASSERT_GT(files, 0u);
  ToolRun tested = run_tool("t " + shell_quoted(archive));
  EXPECT_EQ(tested.exit_code, 0) << tested.out << tested.err;
  ToolRun extracted = run_tool("x " + shell_quoted(archive) + " " + shell_quoted(scratch / "out"));
  EXPECT_EQ(extracted.exit_code, refused ? 1 : 0) << extracted.err;
  std::map<std::string, std::string> found = folder_contents(scratch / "out");
  for (const auto& [path, e] : listing.entries) {
    SCOPED_TRACE(path);
    if (e.kind == 'f') {
      struct stat st;
      ASSERT_EQ(lstat((scratch / "out/" + path).c_str(), &st), 0) << "not extracted";
      EXPECT_TRUE(S_ISREG(st.st_mode));
      EXPECT_EQ(st.st_size, e.size);
      expected[path] = found[path];
    } else if (e.kind != 'd') {
      EXPECT_EQ(found.count(path), 0u) << "a link or device was created";
      EXPECT_NE(extracted.err.find(path), std::string::npos) << "the refusal does not name it: " << extracted.err;
    }
  }
  EXPECT_EQ(found, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Foreign, RarSamples,
    testing::Values(RarCase{"test_read_format_rar.rar", "test_read_format_rar.rar", "rar"},
                    RarCase{"test_read_format_rar_compress_best", "test_read_format_rar_compress_best.rar", "rar"},
                    RarCase{"test_read_format_rar_ppmd_lzss_conversion", "test_read_format_rar_ppmd_lzss_conversion.rar", "rar"},
                    RarCase{"test_read_format_rar_filter", "test_read_format_rar_filter.rar", "rar"},
                    RarCase{"test_read_format_rar_unicode", "test_read_format_rar_unicode.rar", "rar"},
                    RarCase{"test_read_format_rar_multivolume.part", "test_read_format_rar_multivolume.part0001.rar", "rar"},
                    RarCase{"test_rar_multivolume_multiple_files.part", "test_rar_multivolume_multiple_files.part1.rar", "rar"},
                    RarCase{"test_read_format_rar5_stored.rar", "test_read_format_rar5_stored.rar", "rar5"},
                    RarCase{"test_read_format_rar5_compressed", "test_read_format_rar5_compressed.rar", "rar5"},
                    RarCase{"test_read_format_rar5_solid.rar", "test_read_format_rar5_solid.rar", "rar5"},
                    RarCase{"test_read_format_rar5_multiple_files_solid", "test_read_format_rar5_multiple_files_solid.rar", "rar5"},
                    RarCase{"test_read_format_rar5_arm.rar", "test_read_format_rar5_arm.rar", "rar5"},
                    RarCase{"test_read_format_rar5_blake2", "test_read_format_rar5_blake2.rar", "rar5"},
                    RarCase{"test_read_format_rar5_multiarchive.part", "test_read_format_rar5_multiarchive.part01.rar", "rar5"},
                    RarCase{"test_read_format_rar5_multiarchive_solid.part", "test_read_format_rar5_multiarchive_solid.part01.rar", "rar5"}),
    [](const testing::TestParamInfo<RarCase>& info) {
      std::string name = info.param.first;
      name = name.substr(name.find("rar"));
      for (char& ch : name)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

}  // namespace
