// The archiver's listing of another program's archive, as the front end reads it: every line may
// come from a hostile archive, and a cut or malformed listing must never open as a shorter one.
#include "archive/foreign_listing.h"

#include <gtest/gtest.h>

#include "operations/foreign_members.h"

namespace {

const std::string HEAD = "vantor-listing\t1\tzip\n";

TEST(ForeignListing, ReadsEveryKindAndUnescapesPathsWhateverThePieces) {
  std::string text = HEAD + "f\t12\t10\t1600000000000000000\t20\t-\tdocs/a\\x09b\\x5Cc.txt\r\n" +
                     "d\t-1\t-1\t0\t10\t-\tdocs/\n" + "l\t0\t0\t0\t0\t-\tlink\\x7F\n" + "f\t5\t7\t0\t0\te\tsecret\n" +
                     "o\t0\t0\t-5\t0\t-\tfifo\nend\t5\n";
  ForeignListing whole = read_foreign_listing(text);
  ASSERT_TRUE(whole.sound) << whole.problem;
  EXPECT_EQ(whole.format, "zip");
  ASSERT_EQ(whole.members.size(), 5u);
  EXPECT_EQ(whole.members[0].path, "docs/a\tb\\c.txt");
  EXPECT_EQ(whole.members[0].size, 12);
  EXPECT_EQ(whole.members[0].attributes, 0x20u);
  EXPECT_EQ(whole.members[1].kind, 'd');
  EXPECT_EQ(whole.members[2].path, "link\x7F");
  EXPECT_TRUE(whole.members[3].encrypted);
  EXPECT_EQ(whole.members[4].mtime_ns, -5);

  ForeignListingReader bytewise(2);  // only two kept, all counted
  for (char c : text) bytewise.feed(&c, 1);
  ForeignListing pieces = bytewise.finish();
  EXPECT_TRUE(pieces.sound);
  EXPECT_EQ(pieces.count, 5);
  EXPECT_EQ(pieces.members.size(), 2u);
  EXPECT_EQ(pieces.members[0].path, whole.members[0].path);
}

TEST(ForeignListing, ACutOrMalformedListingIsNeverSound) {
  const std::string one = "f\t1\t1\t0\t0\t-\ta\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {HEAD + one, "cut short"},                   // no end line
      {HEAD + one + "end\t2\n", "counts 2"},       // the count disagrees
      {HEAD + one + "end\t1\nf\t1\t1\t0\t0\t-\tb\n", "after the end"},
      {"", "listed nothing"},
      {"zip\t1\n" + one + "end\t1\n", "header"},
      {"vantor-listing\t2\tzip\nend\t0\n", "version 2"},
      {HEAD + "f\t1\t1\t0\t0\t-\ta\\x5\nend\t1\n", "malformed"},   // escape cut short
      {HEAD + "f\t1\t1\t0\t0\t-\ta\\y41\nend\t1\n", "malformed"},  // unknown escape
      {HEAD + "f\t1\t1\t0\t0\t-\ta\\xZZ\nend\t1\n", "malformed"},
      {HEAD + "f\t-2\t1\t0\t0\t-\ta\nend\t1\n", "malformed"},
      {HEAD + "x\t1\t1\t0\t0\t-\ta\nend\t1\n", "malformed"},
      {HEAD + "f\t1\t1\t0\t0\t-\t\nend\t1\n", "malformed"},  // an empty path
      {HEAD + "f\t1\t1\t0\t0\t-\ta\tb\nend\t1\n", "malformed"},
      {HEAD + "f\t1\t1\t0\t100000000\t-\ta\nend\t1\n", "malformed"},
      {HEAD + "f\t1\t1\t0\t0\t-\t" + std::string(70000, 'a') + "\nend\t1\n", "64 KB"},
  };
  for (const auto& [text, why] : cases) {
    ForeignListing l = read_foreign_listing(text);
    EXPECT_FALSE(l.sound) << text.substr(0, 80);
    EXPECT_NE(l.problem.find(why), std::string::npos) << l.problem;
  }
}

TEST(ForeignListing, ArchiveKindsGoByTheirNameAndOursStaysExact) {
  for (const char* name : {"a.zip", "A.ZIP", "x.7z", "s.tar.gz", "s.TGZ", "d.iso", "old.Z", "pkg.deb", "c.cab"})
    EXPECT_TRUE(is_foreign_archive_name(name)) << name;
  for (const char* name : {"a.vnr", "a.VNR", "setup.exe", "notes.txt", "zip", "C:\\a.zip\\b"})
    EXPECT_FALSE(is_foreign_archive_name(name)) << name;
  EXPECT_TRUE(is_zip_name("C:\\out\\Shared.Zip"));
  EXPECT_FALSE(is_zip_name("C:\\out\\a.zip.vnr"));
  EXPECT_EQ(archive_requester_pattern().rfind("Archives|*.vnr;*.zip;", 0), 0u);
}

TEST(ForeignListing, MirrorPlacesDropDotsButKeepWhatTheMirrorMustRefuse) {
  auto place = [](char kind, const std::string& path) {
    ForeignMember m;
    m.kind = kind;
    m.path = path;
    MirrorPlace p = foreign_mirror_place(m);
    return p.folder + "|" + p.name;
  };
  EXPECT_EQ(place('f', "./src//a/./b.c"), "src\\a\\|b.c");
  EXPECT_EQ(place('d', "src/a/"), "src\\a\\|");
  EXPECT_EQ(place('d', "./"), "|");
  EXPECT_EQ(place('f', "/etc/passwd"), "\\etc\\|passwd");
  EXPECT_EQ(place('f', "../up.txt"), "..\\|up.txt");
  EXPECT_EQ(place('f', "C:/x.txt"), "C:\\|x.txt");
  EXPECT_EQ(place('f', "a\\b.txt"), "a\\|b.txt");
}

TEST(ForeignMembers, ChosenStandInsGoByTheirListedPathsOnceEach) {
  EntryTable entries;
  allocate_entry_table(entries);
  entries.entry_members.assign(1, std::string());
  for (auto [mirror, member] : {std::pair{"T\\a.txt", "a.txt"}, {"T\\d\\b.txt", "./d/b.txt"}, {"T\\a.txt", "A/../a.txt"}}) {
    entry_append(entries, mirror, 1);
    entries.entry_members.push_back(member);
  }
  SelectionTable chosen;
  allocate_selection_table(chosen);
  for (const char* path : {"T\\d\\b.txt", "T\\a.txt", "T\\gone.txt", "T\\a.txt"}) selection_append(chosen, path);
  EXPECT_EQ(foreign_member_paths(chosen, entries), (std::vector<std::string>{"./d/b.txt", "A/../a.txt"}));
  EXPECT_TRUE(removal_possible("C:\\a.vnr", ""));
  EXPECT_TRUE(removal_possible("C:\\a.ZIP", "zip"));
  EXPECT_FALSE(removal_possible("C:\\a.zip", "7z"));  // a 7z named .zip is not rewritten as a zip
  EXPECT_FALSE(removal_possible("C:\\a.7z", "7z"));
}

}  // namespace
