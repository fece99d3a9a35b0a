// The front end's side of passwords: -pw (and -he) slipped into every parameter string so the
// archiver's own parser still reads the rest as before, what a typed password must be, and the
// protection read from an archive's first entry.
#include <gtest/gtest.h>

#include <cstdio>

#include "format/archive_format.h"
#include "operations/archiver_contract.h"
#include "operations/password.h"
#include "options.h"

namespace {

Options parsed(const std::string& parameters) {
  Options o;
  std::string problem;
  EXPECT_TRUE(parse_options(split_parameters(parameters), o, problem)) << parameters << ": " << problem;
  return o;
}

TEST(PasswordSwitch, EveryRunOnAnEncryptedArchiveReachesTheToolWithItsOwnArgumentsIntact) {
  const std::string archive = "C:\\my files\\a.vnr", out = "D:\\new folder\\";
  Options o = parsed(with_switch(extract_marked_parameters(3, archive, out), "-pw"));
  EXPECT_TRUE(o.password && o.marked_only);
  EXPECT_EQ(o.archive, archive);
  EXPECT_EQ(o.destination, out);  // the unclosed last quote still keeps the trailing backslash
  o = parsed(with_switch(extract_all_parameters(1, archive, out), "-pw"));
  EXPECT_TRUE(o.password && !o.marked_only);
  o = parsed(with_switch(extract_listed_parameters(2, "C:\\T\\x.lis", out), "-pw"));
  EXPECT_TRUE(o.password);
  EXPECT_EQ(o.list_file, "C:\\T\\x.lis");
  EXPECT_TRUE(parsed(with_switch(list_parameters(archive), "-pw")).machine_listing);
  EXPECT_TRUE(parsed(with_switch(verify_parameters(archive), "-pw")).password);
  EXPECT_TRUE(parsed(with_switch(delete_parameters("C:\\T\\d.lis"), "-pw")).password);
}

TEST(PasswordSwitch, CompressionWithNamesSealedKeepsEveryOtherSwitch) {
  std::string plain = compress_parameters(" -e ", " -r ", 64, 5, 2, "-s", "x", 2, "C:\\Vantor\\");
  Options o = parsed(with_switch(with_switch(plain, "-he"), "-pw"));
  EXPECT_TRUE(o.password && o.hide_names);
  EXPECT_TRUE(o.self_extracting && o.keep_folders && o.solid && o.ultra);
  EXPECT_EQ(o.method, 2);
  EXPECT_EQ(o.list_file, "C:\\Vantor\\\\master.lis");
  EXPECT_EQ(with_switch(" t \"C:\\a.vnr", "-pw"), " t -pw \"C:\\a.vnr");
}

TEST(TypedPassword, EmptyMismatchedAndTooLongAreRefusedWithAReason) {
  EXPECT_EQ(new_password_problem("s3cret", "s3cret"), "");
  EXPECT_NE(new_password_problem("", ""), "");
  EXPECT_NE(new_password_problem("s3cret", "s3creT").find("differ"), std::string::npos);
  EXPECT_NE(new_password_problem("s3cret", ""), "");
  std::string longest(PASSWORD_MOST_BYTES, 'p');
  EXPECT_EQ(asked_password_problem(longest), "");
  EXPECT_NE(asked_password_problem(longest + "p"), "");  // the archiver would cut it short
  EXPECT_NE(asked_password_problem(""), "");
}

TEST(WrongPassword, OnlyTheArchiversOwnLineCounts) {
  EXPECT_EQ(wrong_password_line({"cannot open x", "wrong password for C:\\a.vnr"}), "wrong password for C:\\a.vnr");
  EXPECT_EQ(wrong_password_line({"C:\\a.vnr is encrypted: a password is needed"}), "");
  EXPECT_EQ(wrong_password_line({"member wrong password for.txt: CRC error"}), "");
}

TEST(ArchiveProtection, ReadFromTheFirstEntryOfOurOwnArchivesOnly) {
  EXPECT_EQ(protection_of(ENTRY_SIGNATURE, 0), Protection::none);
  EXPECT_EQ(protection_of(ENTRY_SIGNATURE, ENTRY_FLAG_ENCRYPTED | ENTRY_FLAG_UTF8_NAMES), Protection::encrypted);
  EXPECT_EQ(protection_of(ENTRY_SIGNATURE, ENTRY_FLAG_ENCRYPTED | ENTRY_FLAG_SEALED_INDEX), Protection::sealed);
  EXPECT_EQ(protection_of(ENTRY_SIGNATURE, ENTRY_FLAG_SEALED_INDEX), Protection::none);  // sealed needs encrypted
  EXPECT_EQ(protection_of(0, ENTRY_FLAG_ENCRYPTED | ENTRY_FLAG_SEALED_INDEX), Protection::none);  // another writer's

  std::string path = testing::TempDir() + "protection_test.vnr";
  auto write = [&](const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  };
  write({});
  EXPECT_EQ(archive_protection(path), Protection::none);  // no entry at all
  write({1, 0, 0, 0, 0, 0, 0, 0, ENTRY_SIGNATURE, ENTRY_FLAG_ENCRYPTED | ENTRY_FLAG_SEALED_INDEX});
  EXPECT_EQ(archive_protection(path), Protection::sealed);
  std::remove(path.c_str());
  EXPECT_EQ(archive_protection(path), Protection::none);  // gone
}

}  // namespace
