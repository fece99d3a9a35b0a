// Member names an archive may carry, checked against the ways out of a destination folder.
#include <gtest/gtest.h>

#include "format/path_safety.h"

namespace {

// The opening's quick form is asked beside every check: the two never disagree.
std::string refusal(const std::string& folder, const std::string& name) {
  MemberPathCheck c = check_member_path(folder, name);
  EXPECT_EQ(member_path_safe(folder, name), c.ok) << folder << name;
  return c.ok ? std::string() : c.reason;
}

TEST(MemberPath, OrdinaryNamesPass) {
  MemberPathCheck c = check_member_path("docs/sub/", "a.txt");
  ASSERT_TRUE(c.ok) << c.reason;
  EXPECT_EQ(c.components, (std::vector<std::string>{"docs", "sub", "a.txt"}));
  EXPECT_TRUE(check_member_path("", "b.txt").ok);
  EXPECT_TRUE(check_member_path("", ".hidden").ok);
  EXPECT_TRUE(check_member_path("a..b/", "x..y").ok);
  EXPECT_TRUE(check_member_path("", "CONSOLE.txt").ok);
  EXPECT_TRUE(check_member_path("", "COM10").ok);
}

TEST(MemberPath, ParentAndCurrentComponentsAreRefused) {
  for (auto [folder, name] : std::vector<std::pair<std::string, std::string>>{
           {"../", "x"}, {"a/../../", "x"}, {"", ".."}, {"a\\..\\..\\", "x"}, {"./", "x"}, {"a/", "."}})
    EXPECT_NE(refusal(folder, name), "") << folder << name;
}

TEST(MemberPath, AbsoluteDriveAndNetworkPathsAreRefused) {
  for (auto [folder, name] : std::vector<std::pair<std::string, std::string>>{
           {"/etc/", "passwd"}, {"\\Windows\\", "x.dll"}, {"C:/", "x"}, {"C:", "x"}, {"", "C:x"},
           {"\\\\server\\share\\", "x"}, {"//server/share/", "x"}, {"\\\\?\\C:\\", "x"}, {"\\\\.\\", "PhysicalDrive0"}})
    EXPECT_NE(refusal(folder, name), "") << folder << name;
}

TEST(MemberPath, AlternateStreamsAreRefused) {
  EXPECT_NE(refusal("", "a.txt:hidden"), "");
  EXPECT_NE(refusal("", "a.txt::$DATA"), "");
  EXPECT_NE(refusal("dir:stream/", "x"), "");
}

TEST(MemberPath, DeviceNamesAreRefusedWithExtensionOrBlanks) {
  for (const char* name : {"CON", "con", "PRN.txt", "aux.tar.gz", "NUL", "nul ", "COM1", "com9.log", "LPT1",
                           "lpt9", "COM0", "CONIN$", "conout$", "COM\xB9", "NUL .txt"})
    EXPECT_NE(refusal("", name), "") << name;
  EXPECT_NE(refusal("docs/CON/", "x"), "") << "as a folder too";
}

TEST(MemberPath, TrailingDotsAndBlanksAreRefused) {
  EXPECT_NE(refusal("", "name."), "");
  EXPECT_NE(refusal("", "name "), "");
  EXPECT_NE(refusal("dir./", "x"), "");
  EXPECT_NE(refusal("dir /", "x"), "");
  EXPECT_NE(refusal("", "..."), "");
}

TEST(MemberPath, ControlAndReservedCharactersAreRefused) {
  EXPECT_NE(refusal("", "a\nb"), "");
  EXPECT_NE(refusal("", "a\x1b"), "");
  EXPECT_NE(refusal("", "a\x7f"), "");
  EXPECT_NE(refusal("", std::string("a\0b", 3)), "");
  for (const char* name : {"a<b", "a>b", "a|b", "a?b", "a*b", "a\"b"}) EXPECT_NE(refusal("", name), "") << name;
}

TEST(MemberPath, EmptyAndSeparatorEndedNamesAreRefused) {
  EXPECT_NE(refusal("docs/", ""), "");
  EXPECT_NE(refusal("", "dir/"), "");
  EXPECT_NE(refusal("a//", "x"), "");
  EXPECT_NE(refusal("", std::string(256, 'n')), "");
}

TEST(PathWithin, ComparesWholeComponents) {
  EXPECT_TRUE(path_within("C:\\dest", "C:\\dest\\a\\b.txt"));
  EXPECT_TRUE(path_within("C:\\dest\\", "C:\\dest\\a"));
  EXPECT_TRUE(path_within("/tmp/out", "/tmp/out/x"));
  EXPECT_FALSE(path_within("C:\\dest", "C:\\dest2\\x")) << "a bare string prefix is not containment";
  EXPECT_FALSE(path_within("/tmp/out", "/tmp/outside/x"));
  EXPECT_FALSE(path_within("/tmp/out", "/tmp/out/../x"));
  EXPECT_FALSE(path_within("/tmp/out", "/tmp"));
}

}  // namespace

// Every pairing of awkward components, as folder and name, with either separator: the opening's
// quick answer is the full check's. Long parts sit on both sides of 255 bytes and 255 characters.
TEST(MemberPath, TheQuickAnswerAgreesWithTheFullCheckOnEveryPairing) {
  std::string e_acute = "\xC3\xA9";
  std::string wide255, wide256;
  for (int i = 0; i < 255; ++i) wide255 += e_acute;
  wide256 = wide255 + e_acute;
  const std::vector<std::string> parts = {
      "", ".", "..", "...", "a", "a.", "a ", " a", "CON", "con.txt", "Com1", "lpt\xB9", "LPT\xC2\xB3 ", "COM10",
      "PRN.", "auxiliary", "NUL .txt", "a:b", "C:", "a\x01", std::string("a\0b", 3), "a\x7f", "a?b", "a\"b", e_acute,
      "\xFF\xFE", std::string(255, 'n'), std::string(256, 'n'), wide255, wide256, std::string(300, '\xFF')};
  int agreed = 0;
  for (const char* sep : {"/", "\\"})
    for (const std::string& f : parts)
      for (const std::string& n : parts) {
        for (const std::string& folder : {std::string(), f + sep, std::string("_") + sep + f + sep, f})
          EXPECT_EQ(member_path_safe(folder, n), check_member_path(folder, n).ok) << folder << "|" << n;
        ++agreed;
      }
  EXPECT_EQ(agreed, 2 * 31 * 31);
}
