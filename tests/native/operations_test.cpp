// The compression and extraction windows' texts and figures, and the marking pass over a
// hand-made index.
#include <gtest/gtest.h>

#include <cstring>

#include "operations/marking.h"
#include "operations/operation_texts.h"

TEST(OperationTexts, SliderLabelsAtTheirEnds) {
  EXPECT_EQ(method_label(0), "method 0");
  EXPECT_EQ(task_label(8), "task 8");
  EXPECT_EQ(buffer_label(1), "buffer 4 MB");
  EXPECT_EQ(buffer_label(256), "buffer 1024 MB");
  EXPECT_EQ(dictionary_label(0), "Dictionary size 2");
  EXPECT_EQ(dictionary_label(7), "Dictionary size 256");
}

TEST(OperationTexts, ElapsedSecondsRoundHalvesToEven) {
  EXPECT_FLOAT_EQ(elapsed_seconds_between(1000, 3500), 2.5f);
  EXPECT_EQ(whole_seconds(2.5f), 2);
  EXPECT_EQ(whole_seconds(3.5f), 4);
  EXPECT_EQ(whole_seconds(0.4f), 0);
  EXPECT_EQ(whole_seconds(0.6f), 1);
  // A tick count that wraps during the run still gives the true duration.
  EXPECT_FLOAT_EQ(elapsed_seconds_between(0xFFFFFC18u, 1000), 2.0f);
  EXPECT_FLOAT_EQ(elapsed_seconds_between(0x7FFFFFFFu, 0x80000001u), 0.002f);
}

TEST(OperationTexts, ResultMessages) {
  EXPECT_EQ(added_text("C:\\a\\Archive.vnr", 2.5f), "archive=C:\\a\\Archive.vnr in 2 sec.");
  EXPECT_EQ(notice_text("C:\\a\\x.vnr", 0.2f), "Archive =C:\\a\\x.vnr in 0 sec.");
}

TEST(OperationTexts, ComplaintsBesideAProgramAreNamedOnOneLine) {
  std::vector<std::string> lines =
      problem_lines("vantor: cannot extract docs/a.txt: in use\r\n\nvantor: b.txt: CRC mismatch\nplain\n");
  EXPECT_EQ(lines, (std::vector<std::string>{"cannot extract docs/a.txt: in use", "b.txt: CRC mismatch", "plain"}));
  EXPECT_EQ(failed_beside_program_text("C:\\L\\run.exe", lines),
            "C:\\L\\run.exe is started, but other members of the archive were not extracted beside it: cannot "
            "extract docs/a.txt: in use; b.txt: CRC mismatch; plain.");
  std::vector<std::string> many(7, "x");
  std::string text = failed_beside_program_text("r.exe", many);
  EXPECT_EQ(text.substr(text.size() - 17), "x; x; and 2 more.");
  EXPECT_EQ(text.find('\n'), std::string::npos);
}

namespace {

void put(std::vector<uint8_t>& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// One entry of the index, padded to `length` bytes with 0xEE, its mark set to `mark`.
std::vector<uint8_t> entry(const std::string& name, const std::string& folder, int64_t size, int length,
                           uint8_t mark = 0xAA) {
  std::vector<uint8_t> e;
  put(e, static_cast<uint64_t>(length), 8);
  e.push_back(0x11);
  e.push_back(0x22);
  put(e, name.size(), 2);
  e.insert(e.end(), name.begin(), name.end());
  put(e, folder.size(), 2);
  e.insert(e.end(), folder.begin(), folder.end());
  put(e, static_cast<uint64_t>(size), 8);
  e.push_back(mark);
  e.resize(static_cast<size_t>(length), 0xEE);
  return e;
}

std::vector<uint8_t> archive(std::initializer_list<std::vector<uint8_t>> entries) {
  std::vector<uint8_t> all;
  for (const auto& e : entries) all.insert(all.end(), e.begin(), e.end());
  return all;
}

const std::string ROOT = "C:\\T\\tempvantor\\";
const std::string LAUNCH = "C:\\T\\launchvantor\\";

}  // namespace

TEST(MarkingPass, MarksChosenMembersAndNamesTheLaunchTarget) {
  MemorySource source(archive({entry("a.txt", "docs/", 5000, 100), entry("b.txt", "", 7, 60)}));
  std::vector<uint8_t> before = source.bytes();
  MarkingResult r = mark_entries(source, 0, {ROOT + "docs\\a.txt"}, ROOT, LAUNCH);
  EXPECT_TRUE(r.written);
  EXPECT_EQ(r.marked, 1);
  EXPECT_EQ(r.launch_target, LAUNCH + "docs\\a.txt");
  size_t first_mark = 22 + 5 + 5, second_mark = 100 + 22 + 5;
  EXPECT_EQ(source.bytes()[first_mark], 1);
  EXPECT_EQ(source.bytes()[second_mark], 0);
  // Nothing but the mark bytes changed.
  for (size_t i = 0; i < before.size(); ++i) {
    if (i != first_mark && i != second_mark) {
      ASSERT_EQ(source.bytes()[i], before[i]) << i;
    }
  }

  // A second pass with nothing chosen clears every mark and names no target.
  MarkingResult cleared = mark_entries(source, 0, {}, ROOT, LAUNCH);
  EXPECT_TRUE(cleared.written);
  EXPECT_EQ(cleared.launch_target, "");
  EXPECT_EQ(source.bytes()[first_mark], 0);
}

TEST(MarkingPass, PathsDifferingOnlyInCaseDoNotMatch) {
  MemorySource source(archive({entry("a.txt", "docs/", 1, 50)}));
  MarkingResult r = mark_entries(source, 0, {ROOT + "Docs\\a.txt", ROOT + "docs\\A.txt"}, ROOT, LAUNCH);
  EXPECT_TRUE(r.written);
  EXPECT_EQ(r.marked, 0);
}

TEST(MarkingPass, ADamagedChainMarksWhatItReachesAndSaysWhereItBreaks) {
  std::vector<uint8_t> bytes = archive({entry("a.txt", "", 1, 50), entry("b.txt", "", 1, 50)});
  bytes[50] = 0;  // the second entry's length becomes zero: the chain cannot go on
  for (int i = 51; i < 58; ++i) bytes[i] = 0;
  MemorySource source(bytes);
  MarkingResult r = mark_entries(source, 0, {ROOT + "a.txt"}, ROOT, LAUNCH);
  EXPECT_EQ(r.damaged_at, 50);
  EXPECT_TRUE(r.written);
  EXPECT_EQ(r.entries, 1);
  EXPECT_EQ(r.launch_target, LAUNCH + "a.txt");
  bytes[22 + 5] = 1;
  EXPECT_EQ(source.bytes(), bytes);
}

TEST(MarkingPass, SelfExtractingArchivesStartAfterTheStub) {
  std::vector<uint8_t> bytes(155648, 0x4D);
  std::vector<uint8_t> e = entry("run.exe", "", 10, 40);
  bytes.insert(bytes.end(), e.begin(), e.end());
  MemorySource source(bytes);
  MarkingResult r = mark_entries(source, index_start("C:\\x\\setup.EXE"), {ROOT + "run.exe"}, ROOT, LAUNCH);
  EXPECT_TRUE(r.written);
  EXPECT_EQ(source.bytes()[155648 + 22 + 7], 1);
  EXPECT_EQ(index_start("C:\\x\\setup.Exe"), 0);
}
