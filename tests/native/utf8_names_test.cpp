// Names in every script: the UTF-8 helpers, the name limit in characters, and archives that
// record UTF-8 names beside older ones written in code page 1252.
#include <gtest/gtest.h>

#include "archive/index_walk.h"
#include "archive/mirror_tree.h"
#include "engine.h"
#include "format/path_safety.h"
#include "format/utf8_text.h"
#include "tool_test_support.h"

namespace {

const std::string JAPANESE = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";  // three 3-byte characters
const std::string EMOJI = "\xF0\x9F\x98\x80";                          // one surrogate pair
const std::string COMBINING = "e\xCC\x81";                             // e + combining acute

// É.txt and é.txt, one name on Windows, were two to the archiver and the mirror tree.
TEST(Utf8Text, CaseKeyFoldsLettersOutsideAscii) {
  EXPECT_EQ(name_case_key("\xD0\x96.txt"), name_case_key("\xD0\xB6.TXT"));  // Ж, ж
  EXPECT_EQ(name_case_key("caf\xE9"), "CAF\xE9");                          // not UTF-8: ASCII letters only
  // The opening reuses one key's storage from member to member: nothing of a longer one stays.
  std::string key = "a longer key left from the name before";
  name_case_key_into("ab\xC3\xA9", key);
  EXPECT_EQ(key, "AB\xC3\x89");
  name_case_key_into("ab", key);
  EXPECT_EQ(key, "AB");
  MirrorNames names;
  EXPECT_EQ(names.check("C:\\", "", "\xC3\x89.txt"), MirrorSkip::none);
  EXPECT_EQ(names.check("C:\\", "", "\xC3\xA9.txt"), MirrorSkip::clash);
}

TEST(Utf8Text, ValidityCutsLengthsAndCode1252) {
  for (const char* bad : {"caf\xE9", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF0\x9F\x98"})
    EXPECT_FALSE(utf8_valid(bad)) << bad;
  // ASCII is passed eight bytes at a time: a byte after any run of it is still looked at.
  for (size_t run = 0; run < 20; ++run) {
    std::string ascii(run, 'a');
    EXPECT_FALSE(utf8_valid(ascii + "\xE9" + std::string(9, 'b'))) << run;
    EXPECT_FALSE(utf8_valid(ascii + "\xC3")) << run;
    EXPECT_TRUE(utf8_valid(ascii + "\xC3\xA9" + std::string(run, 'b'))) << run;
  }
  std::string text = "a" + JAPANESE + EMOJI + COMBINING;
  EXPECT_TRUE(utf8_valid(text));
  for (size_t max = 0; max <= text.size(); ++max) {
    size_t n = utf8_cut(text, max);
    EXPECT_TRUE(n <= max && n + 4 > max && utf8_valid(text.substr(0, n))) << max;
  }
  EXPECT_EQ(utf16_length(text), 8u);  // a, three characters, a surrogate pair, e and its accent
  EXPECT_EQ(utf8_from_1252("caf\xE9\x80\x81"), "caf\xC3\xA9\xE2\x82\xAC\xC2\x81");
  EXPECT_EQ(name_for_system("caf\xE9", false), "caf\xE9");  // a system in its own code page
  EXPECT_EQ(name_for_system(JAPANESE, true), JAPANESE);
}

// 255 UTF-16 units whatever the bytes: three-byte characters pass where a surrogate pair counts
// twice, and the refusal says it counted characters, in the program's words too.
TEST(Utf8Text, NamesAreLimitedInCharactersNotBytes) {
  std::string longest;
  for (int i = 0; i < 85; ++i) longest += JAPANESE;  // 255 characters, 765 bytes
  EXPECT_TRUE(check_member_path(JAPANESE + "/", longest).ok);
  MemberPathCheck over = check_member_path("", longest + "x");
  EXPECT_FALSE(over.ok);
  EXPECT_EQ(over.reason, "path component longer than 255 characters");
  std::string pairs;
  for (int i = 0; i < 127; ++i) pairs += EMOJI;  // 254 units in 508 bytes
  EXPECT_TRUE(check_member_path("", pairs + "x").ok);
  EXPECT_EQ(check_member_path(pairs + EMOJI + "/", "x").reason, "path component longer than 255 characters");
  ScratchFolder dir;
  write_file(dir / "a.vnr", stored_entry("", longest + "x", "x"));
  ToolRun x = run_tool("x '" + (dir / "a.vnr") + "' '" + (dir / "out") + "'");
  EXPECT_EQ(x.exit_code, 1);
  EXPECT_NE(x.err.find("refused " + longest + "x: path component longer than 255 characters"), std::string::npos) << x.err;
  EXPECT_TRUE(is_device_name("COM\xC2\xB9"));  // superscript one, in UTF-8 and in 1252
  EXPECT_TRUE(is_device_name("lpt\xB3.txt"));
}

TEST(Utf8Archives, NamesRoundTripFlaggedOldOnesAsCode1252) {
  ScratchFolder dir;
  const std::vector<std::string> names = {JAPANESE + ".txt", EMOJI + COMBINING, "\xD0\xB4/\xD8\xB3.txt"};
  CompressJob add;
  add.archive_path = dir / "new.vnr";
  for (const std::string& name : names) {
    write_file(dir / ("src/" + name), name);
    add.sources.push_back(dir / ("src/" + name));
  }
  ASSERT_TRUE(compress_archive(add).ok);
  ReadJob read;
  read.mode = ReadMode::LIST;
  read.archive_path = add.archive_path;
  std::vector<uint8_t> flags;
  read.on_entry = [&](const EntryHeader& h) { flags.push_back(h.flags); };
  ASSERT_TRUE(read_archive(read).ok);
  EXPECT_EQ(flags, std::vector<uint8_t>(names.size(), ENTRY_FLAG_UTF8_NAMES));
  read.mode = ReadMode::EXTRACT;
  read.destination = dir / "out";
  ASSERT_TRUE(read_archive(read).ok);
  for (const std::string& name : names) EXPECT_EQ(read_file(dir / ("out/" + name)), name);

  // An older archiver's 1252 bytes come out as UTF-8, and the front end's walk sees the same.
  std::string old = stored_entry("d\xE9j\xE0/", "caf\xE9.txt", "old bytes");
  write_file(dir / "old.vnr", old);
  read.archive_path = dir / "old.vnr";
  ASSERT_TRUE(read_archive(read).ok);
  EXPECT_EQ(read_file(dir / "out/d\xC3\xA9j\xC3\xA0/caf\xC3\xA9.txt"), "old bytes");
  MemorySource source(std::vector<uint8_t>(old.begin(), old.end()));
  std::string walked;
  index_walk(source, 0, [&](const IndexEntry& e) { walked = e.folder + e.name; });
  EXPECT_EQ(walked, "d\xC3\xA9j\xC3\xA0\\caf\xC3\xA9.txt");

  // Unflagged names that are valid UTF-8 (an older writer on a UTF-8 system) keep their bytes.
  const std::string cyrillic = "\xD0\xB4\xD0\xB0\xCC\x81.txt";
  write_file(dir / "old_utf8.vnr", stored_entry(JAPANESE + "/", cyrillic, "utf-8 bytes"));
  read.archive_path = dir / "old_utf8.vnr";
  ASSERT_TRUE(read_archive(read).ok);
  EXPECT_EQ(read_file(dir / ("out/" + JAPANESE + "/" + cyrillic)), "utf-8 bytes");
  std::string old_utf8 = read_file(dir / "old_utf8.vnr");
  MemorySource unflagged(std::vector<uint8_t>(old_utf8.begin(), old_utf8.end()));
  index_walk(unflagged, 0, [&](const IndexEntry& e) { walked = e.folder + e.name; });
  EXPECT_EQ(walked, JAPANESE + "\\" + cyrillic);

  // A name flagged as UTF-8 that is not is a damaged entry, not a name to guess at.
  old[9] = static_cast<char>(ENTRY_FLAG_UTF8_NAMES);
  write_file(dir / "bad.vnr", old);
  read.archive_path = dir / "bad.vnr";
  RunResult r = read_archive(read);
  ASSERT_FALSE(r.ok || r.problems.empty());
  EXPECT_NE(r.problems[0].find("not UTF-8"), std::string::npos);
}

}  // namespace
