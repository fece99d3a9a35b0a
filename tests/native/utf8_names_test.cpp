// Names in every script: the UTF-8 helpers, the path rules that count characters, archives
// that record UTF-8 names and older ones written in code page 1252.
#include <gtest/gtest.h>

#include "archive/index_walk.h"
#include "engine.h"
#include "path_safety.h"
#include "runtime/text.h"
#include "tool_test_support.h"
#include "utf8_text.h"

namespace {

const std::string JAPANESE = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";  // three 3-byte characters
const std::string EMOJI = "\xF0\x9F\x98\x80";                          // one surrogate pair
const std::string E_COMBINING = "e\xCC\x81";                           // e + combining acute

std::string repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

TEST(Utf8Text, ValidityRejectsMalformedSequences) {
  for (const std::string& ok : {std::string("plain.txt"), JAPANESE, EMOJI, E_COMBINING, std::string("\xCE\xB1")})
    EXPECT_TRUE(utf8_valid(ok)) << ok;
  for (const char* bad : {"caf\xE9", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE6\x97",
                          "\x80", "\xF0\x9F\x98"})
    EXPECT_FALSE(utf8_valid(bad)) << bad;
}

TEST(Utf8Text, CutNeverSplitsACharacter) {
  std::string text = "a" + JAPANESE + EMOJI + E_COMBINING;
  for (size_t max = 0; max <= text.size() + 1; ++max) {
    size_t n = utf8_cut(text, max);
    EXPECT_LE(n, max);
    EXPECT_TRUE(utf8_valid(text.substr(0, n))) << max;
    EXPECT_GT(n + 4, std::min(max, text.size())) << max;  // loses less than one character
  }
  EXPECT_EQ(utf8_cut(std::string(10, '\x80'), 4), 4u);  // not UTF-8: cut where asked
}

TEST(Utf8Text, LengthInUtf16UnitsCountsSurrogatePairsTwice) {
  EXPECT_EQ(utf16_length(JAPANESE), 3u);
  EXPECT_EQ(utf16_length(EMOJI), 2u);
  EXPECT_EQ(utf16_length(E_COMBINING), 2u);
  EXPECT_EQ(utf16_length("caf\xE9"), 4u);
}

TEST(Utf8Text, Code1252BytesBecomeTheirCharacters) {
  EXPECT_EQ(utf8_from_1252("caf\xE9.txt"), "caf\xC3\xA9.txt");
  EXPECT_EQ(utf8_from_1252("\x80\x81\x9F\xFF"), "\xE2\x82\xAC\xC2\x81\xC5\xB8\xC3\xBF");
  EXPECT_EQ(name_for_system("caf\xE9", true), "caf\xC3\xA9");
  EXPECT_EQ(name_for_system("caf\xE9", false), "caf\xE9");    // a system in its own code page
  EXPECT_EQ(name_for_system(JAPANESE, true), JAPANESE);       // UTF-8 stays as it is
}

TEST(Utf8PathRules, NamesAreLimitedInCharactersNotBytes) {
  EXPECT_TRUE(check_member_path("", repeat(JAPANESE, 85)).ok);  // 255 characters, 765 bytes
  EXPECT_FALSE(check_member_path("", repeat(JAPANESE, 85) + "x").ok);
  EXPECT_FALSE(check_member_path("", repeat(EMOJI, 128)).ok);  // 256 UTF-16 units
  EXPECT_TRUE(check_member_path(JAPANESE + "/", EMOJI + E_COMBINING + ".txt").ok);
  EXPECT_TRUE(is_device_name("COM\xC2\xB9"));  // superscript one in UTF-8
  EXPECT_TRUE(is_device_name("lpt\xB3.txt"));  // and in code page 1252
  EXPECT_FALSE(is_device_name("COM\xC2\xB9x"));
}

TEST(Utf8PathRules, DriveLetterUpperCasedOtherFirstCharactersKept) {
  EXPECT_EQ(upper_first_letter("c:\\x\\"), "C:\\x\\");
  EXPECT_EQ(upper_first_letter("\xC3\xA9t\xC3\xA9\\"), "\xC3\xA9t\xC3\xA9\\");
  EXPECT_LT(compare_names("alpha", "Beta"), 0);
  EXPECT_EQ(compare_names("ABC", "abc"), 0);
  EXPECT_TRUE(same_name_ignoring_case("Docs", "dOCS"));
}

// The 1252 name an older archiver wrote, as a hand-made entry without the UTF-8 flag.
TEST(Utf8Archives, OldCode1252NameExtractsAsUtf8) {
  ScratchFolder dir;
  write_file(dir / "old.vnr", stored_entry("d\xE9j\xE0/", "caf\xE9.txt", "old bytes"));
  ReadJob job;
  job.archive_path = dir / "old.vnr";
  job.destination = dir / "out";
  RunResult r = read_archive(job);
  ASSERT_TRUE(r.ok) << (r.problems.empty() ? "" : r.problems[0]);
  EXPECT_EQ(read_file(dir / "out/d\xC3\xA9j\xC3\xA0/caf\xC3\xA9.txt"), "old bytes");

  // The front end's walk sees the same names, so its mirror paths match what is extracted.
  std::string raw = read_file(dir / "old.vnr");
  MemorySource source(std::vector<uint8_t>(raw.begin(), raw.end()));
  std::vector<IndexEntry> seen;
  index_walk(source, 0, [&](const IndexEntry& e) { seen.push_back(e); });
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].folder + seen[0].name, "d\xC3\xA9j\xC3\xA0\\caf\xC3\xA9.txt");
}

TEST(Utf8Archives, NamesRoundTripAndCarryTheFlag) {
  ScratchFolder dir;
  const std::vector<std::string> names = {JAPANESE + ".txt", "\xCE\xB1\xCE\xB2.txt", EMOJI + ".txt",
                                          E_COMBINING + ".txt", "\xD0\xB4/\xD8\xB3.txt"};
  CompressJob job;
  job.archive_path = dir / "new.vnr";
  for (size_t i = 0; i < names.size(); ++i) {
    write_file(dir / ("src/" + names[i]), "member " + std::to_string(i));
    job.sources.push_back(dir / ("src/" + names[i]));
  }
  ASSERT_TRUE(compress_archive(job).ok);
  std::string raw = read_file(job.archive_path);
  size_t count = 0;
  for (size_t pos = 0; pos < raw.size(); ++count) {
    EntryHeader h;
    size_t needed = 0;
    std::string problem;
    ASSERT_EQ(decode_header(reinterpret_cast<const uint8_t*>(raw.data()) + pos, raw.size() - pos, h, needed, problem),
              DecodeStatus::OK);
    EXPECT_TRUE(h.flags & ENTRY_FLAG_UTF8_NAMES) << h.path();
    pos += static_cast<size_t>(h.entry_length);
  }
  EXPECT_EQ(count, names.size());
  ReadJob read;
  read.archive_path = job.archive_path;
  read.destination = dir / "out";
  ASSERT_TRUE(read_archive(read).ok);
  for (size_t i = 0; i < names.size(); ++i)
    EXPECT_EQ(read_file(dir / ("out/" + names[i])), "member " + std::to_string(i)) << names[i];

  // A name flagged as UTF-8 that is not is a damaged entry, not a name to guess at.
  std::string flagged_bad = stored_entry("", "caf\xE9", "x");
  flagged_bad[9] = static_cast<char>(ENTRY_FLAG_UTF8_NAMES);
  write_file(dir / "bad.vnr", flagged_bad);
  read.archive_path = dir / "bad.vnr";
  RunResult r = read_archive(read);
  EXPECT_FALSE(r.ok);
  ASSERT_FALSE(r.problems.empty());
  EXPECT_NE(r.problems[0].find("not UTF-8"), std::string::npos);
}

}  // namespace
