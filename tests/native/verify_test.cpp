// Verify's report read from the real archiver's test runs: a wording change on either side
// shows here as a member no longer named, or a damage taken for a sound archive.
#include <gtest/gtest.h>

#include "operations/operation_texts.h"
#include "operations/verify.h"
#include "tool_test_support.h"

namespace {

ArchiverResult test_run(const std::string& archive) {
  ToolRun run = run_tool("t '" + archive + "'");
  ArchiverResult result;
  result.started = true;
  result.exit_code = run.exit_code;
  result.output = run.out;
  result.problems = problem_lines(run.err);
  if (!result.problems.empty()) result.reason = result.problems.back();
  return result;
}

std::string make_archive(const ScratchFolder& scratch, int files, const std::string& switches = "") {
  for (int i = 0; i < files; ++i)
    write_file(scratch / ("src/f" + std::to_string(100 + i) + ".txt"), sample_text(20000 + 97 * i, i));
  std::string archive = scratch / "a.vnr";
  EXPECT_EQ(run_tool("a -r -m0 " + switches + " '" + archive + "' '" + (scratch / "src") + "'").exit_code, 0);
  return archive;
}

void flip(const std::string& path, size_t offset) {
  std::string bytes = read_file(path);
  bytes[offset] = static_cast<char>(bytes[offset] ^ 0x5A);
  write_file(path, bytes);
}

}  // namespace

TEST(Verify, SoundDamagedAndBrokenArchives) {
  ScratchFolder scratch;
  std::string archive = make_archive(scratch, 3);
  VerifyFindings sound = verify_findings(test_run(archive));
  EXPECT_TRUE(sound.intact);
  EXPECT_EQ(sound.members, 3);
  EXPECT_GT(sound.bytes, 60000);
  EXPECT_NE(verify_report_text(archive, sound, 1.0f).find("All 3 members"), std::string::npos);

  // A byte in the middle member's stored data: that member, and only it, is named.
  std::string bytes = read_file(archive);
  flip(archive, bytes.find("line", bytes.find("f101.txt")) + 10);
  VerifyFindings damaged = verify_findings(test_run(archive));
  EXPECT_FALSE(damaged.intact);
  ASSERT_EQ(damaged.damaged.size(), 1u);
  EXPECT_NE(damaged.damaged[0].find("f101.txt"), std::string::npos) << damaged.damaged[0];
  EXPECT_LT(damaged.index_broken_at, 0);

  // An entry length that breaks the chain: the index is reported broken, with its offset.
  write_file(archive, bytes);
  flip(archive, 3);
  VerifyFindings broken = verify_findings(test_run(archive));
  EXPECT_FALSE(broken.intact);
  EXPECT_EQ(broken.index_broken_at, 0);
  EXPECT_NE(verify_report_text(archive, broken, 1.0f).find(": the archive is damaged at offset 0 ("), std::string::npos)
      << verify_report_text(archive, broken, 1.0f);
}

TEST(Verify, ReportNamesTwentyAndCountsTheRest) {
  ScratchFolder scratch;
  std::string archive = make_archive(scratch, 25);
  std::string bytes = read_file(archive);
  for (size_t at = bytes.find(".txt"); at != std::string::npos; at = bytes.find(".txt", at + 1))
    bytes[bytes.find("line", at) + 20] ^= 0x11;
  write_file(archive, bytes);
  VerifyFindings f = verify_findings(test_run(archive));
  ASSERT_EQ(f.damaged.size(), 25u);
  std::string text = verify_report_text(archive, f, 2.0f);
  EXPECT_NE(text.find("25 damaged members"), std::string::npos);
  EXPECT_NE(text.find("and 5 more."), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 21);
}

TEST(Verify, NotAnArchiveAndTheFilesToVerify) {
  ScratchFolder scratch;
  write_file(scratch / "plain.vnr", "this is no archive at all, only text");
  VerifyFindings f = verify_findings(test_run(scratch / "plain.vnr"));
  EXPECT_FALSE(f.intact);
  EXPECT_EQ(verify_line(scratch / "plain.vnr", f),
            "plain.vnr: the archive is damaged at offset 0 (archive ends inside an entry header)");
  // On disk such a file is not handed to the archiver at all.
  std::string reason = not_archive_reason(scratch / "plain.vnr");
  EXPECT_EQ(verify_line(scratch / "plain.vnr", not_archive_findings(reason)),
            "plain.vnr: skipped, not an archive (it does not begin with an archive entry)");
  EXPECT_EQ(verifiable_files({"C:\\a.vnr", "C:\\b.txt", "C:\\c.EXE", "C:\\vnr", "C:\\d.vnr.bak"}),
            (std::vector<std::string>{"C:\\a.vnr", "C:\\c.EXE"}));
}

// Regression: members named like the archiver's own lines were taken for them (a broken index, an
// archive that cannot be verified) and hid the real damage. `a` refuses colons: those go in by hand.
TEST(Verify, MemberNamesCannotPassForTheArchiversOwnLines) {
  ScratchFolder scratch;
  const std::vector<std::string> names = {"out of memory", "cannot open x.vnr",
                                          "archive is shorter than a self-extracting program",
                                          "damaged archive at offset 3: x", "damaged archive: x", "damaged member: x"};
  for (unsigned i = 0; i < 3; ++i) write_file(scratch / ("src/" + names[i]), sample_text(3000, i));
  std::string archive = scratch / "a.vnr";
  ASSERT_EQ(run_tool("a -m0 '" + archive + "' '" + (scratch / "src") + "'").exit_code, 0);
  std::string bytes = read_file(archive);
  for (unsigned i = 3; i < names.size(); ++i) bytes += stored_entry("", names[i], sample_text(2000, i));
  for (const std::string& name : names) bytes[bytes.find("line", bytes.find(name)) + 30] ^= 0x21;
  write_file(archive, bytes);
  VerifyFindings f = verify_findings(test_run(archive));
  EXPECT_EQ(f.index_problem + f.not_archive + f.failure, "");
  std::string text = verify_report_text(archive, f, 1.0f);
  EXPECT_EQ(text.rfind(archive + ": 6 damaged members:\n", 0), 0u) << text;
  for (const std::string& name : names) EXPECT_NE(text.find("\n" + name + ": "), std::string::npos) << name;
}
