// The four parameter strings and the list file, byte for byte, and read back by the archiver's
// own parser exactly as the Windows command line delivers them.
#include <gtest/gtest.h>

#include "list_file.h"
#include "operations/archiver_contract.h"
#include "options.h"

namespace {

const std::string FOLDER = "C:\\Vantor\\";
const std::string DQ = "\"";

TEST(ArchiverProgramPath, JoinsWithASecondBackslash) {
  EXPECT_EQ(archiver_program_path(FOLDER), "C:\\Vantor\\\\vantor.exe");
}

TEST(CompressParameters, StartUpSettingsPieceByPiece) {
  std::string s = compress_parameters("", " -r ", 16, 7, 1, "", "", 3, FOLDER);
  EXPECT_EQ(s, " a -y   -r  -b16 -k7 -t1   -m3 x " + DQ + "C:\\Vantor\\\\master.lis");
}

TEST(CompressParameters, EveryCheckBoxTicked) {
  std::string s = compress_parameters(" -e ", " -r ", 16, 7, 1, "-s", "x", 3, FOLDER);
  EXPECT_EQ(s, " a -y  -e   -r  -b16 -k7 -t1 -s  -mx3 x " + DQ + "C:\\Vantor\\\\master.lis");
}

TEST(CompressParameters, SliderExtremes) {
  EXPECT_NE(compress_parameters("", "", 4, 0, 0, "", "", 0, FOLDER).find(" -b4 -k0 -t0 "), std::string::npos);
  EXPECT_NE(compress_parameters("", "", 1024, 7, 8, "", "", 3, FOLDER).find(" -b1024 -k7 -t8 "), std::string::npos);
}

TEST(ExtractParameters, ThreeStringsLeaveTheLastQuoteOpen) {
  EXPECT_EQ(extract_marked_parameters(2, "C:\\a b\\x.vnr", "D:\\out\\"),
            " x -t2  -e " + DQ + "C:\\a b\\x.vnr" + DQ + " " + DQ + "D:\\out\\");
  EXPECT_EQ(extract_member_parameters(1, "C:\\x.vnr", "C:\\T\\launchvantor\\"),
            " x -e -t1 " + DQ + "C:\\x.vnr" + DQ + " " + DQ + "C:\\T\\launchvantor\\");
  EXPECT_EQ(extract_all_parameters(0, "C:\\x.exe", "C:\\T\\launchvantor\\"),
            " x  -t0 " + DQ + "C:\\x.exe" + DQ + " " + DQ + "C:\\T\\launchvantor\\");
}

TEST(ParameterStringsReachTheTool, CompressWithEverySwitch) {
  Options o;
  std::string problem;
  std::string s = compress_parameters(" -e ", " -r ", 64, 5, 2, "-s", "x", 2, FOLDER);
  ASSERT_TRUE(parse_options(split_parameters(s), o, problem)) << problem;
  EXPECT_EQ(o.command, Command::ADD);
  EXPECT_TRUE(o.self_extracting);
  EXPECT_TRUE(o.keep_folders);
  EXPECT_TRUE(o.solid);
  EXPECT_TRUE(o.ultra);
  EXPECT_EQ(o.method, 2);
  EXPECT_EQ(o.buffer_mb, 64);
  EXPECT_EQ(o.window_position, 5);
  EXPECT_EQ(o.threads, 2);
  EXPECT_EQ(o.list_file, "C:\\Vantor\\\\master.lis");
}

TEST(ParameterStringsReachTheTool, StartUpCompressHasNoOptionalSwitches) {
  Options o;
  std::string problem;
  ASSERT_TRUE(parse_options(split_parameters(compress_parameters("", "", 16, 7, 1, "", "", 3, FOLDER)), o, problem));
  EXPECT_FALSE(o.self_extracting || o.keep_folders || o.solid || o.ultra);
  EXPECT_EQ(o.method, 3);
}

TEST(ParameterStringsReachTheTool, ExtractionsKeepBlanksAndTrailingBackslash) {
  Options o;
  std::string problem;
  ASSERT_TRUE(parse_options(split_parameters(extract_marked_parameters(3, "C:\\my files\\a.vnr", "D:\\new folder\\")),
                            o, problem));
  EXPECT_EQ(o.command, Command::EXTRACT);
  EXPECT_TRUE(o.marked_only);
  EXPECT_FALSE(o.self_extracting);
  EXPECT_EQ(o.threads, 3);
  EXPECT_EQ(o.archive, "C:\\my files\\a.vnr");
  EXPECT_EQ(o.destination, "D:\\new folder\\");

  ASSERT_TRUE(parse_options(split_parameters(extract_member_parameters(1, "C:\\a.vnr", "C:\\T\\l\\")), o, problem));
  EXPECT_TRUE(o.marked_only);
  EXPECT_EQ(o.destination, "C:\\T\\l\\");

  ASSERT_TRUE(parse_options(split_parameters(extract_all_parameters(1, "C:\\a.vnr", "C:\\T\\l\\")), o, problem));
  EXPECT_FALSE(o.marked_only);
  EXPECT_EQ(o.destination, "C:\\T\\l\\");
}

// Files dropped on an open archive: the compression settings, folders kept, the list file's
// path with its blanks and no closing quote.
TEST(ParameterStringsReachTheTool, AddingListedFilesKeepsFoldersAndTheSettings) {
  std::string s = add_listed_parameters(32, 4, 2, "-s", "", 1, "C:\my temp\vantor-add-1.lis");
  EXPECT_EQ(s, " a -y  -r  -b32 -k4 -t2 -s  -m1 x " + DQ + "C:\my temp\vantor-add-1.lis");
  Options o;
  std::string problem;
  ASSERT_TRUE(parse_options(split_parameters(s), o, problem)) << problem;
  EXPECT_EQ(o.command, Command::ADD);
  EXPECT_TRUE(o.keep_folders && o.solid);
  EXPECT_FALSE(o.self_extracting || o.ultra);
  EXPECT_EQ(o.method, 1);
  EXPECT_EQ(o.list_file, "C:\my temp\vantor-add-1.lis");
}

// Other programs' archives: the listing and the extraction by list file, as the tool reads them.
TEST(ParameterStringsReachTheTool, ForeignListingAndListedExtraction) {
  EXPECT_EQ(list_parameters("C:\\a b.zip"), " l -p \"C:\\a b.zip");
  EXPECT_EQ(extract_listed_parameters(2, "C:\\T\\x.lis", "D:\\out\\"), " x -t2 x \"C:\\T\\x.lis\" \"D:\\out\\");
  Options o;
  std::string problem;
  ASSERT_TRUE(parse_options(split_parameters(list_parameters("C:\\my files\\a.7z")), o, problem)) << problem;
  EXPECT_TRUE(o.machine_listing);
  EXPECT_EQ(o.archive, "C:\\my files\\a.7z");
  ASSERT_TRUE(parse_options(split_parameters(extract_listed_parameters(3, "C:\\T\\x.lis", "D:\\new folder\\")),
                            o, problem)) << problem;
  EXPECT_EQ(o.command, Command::EXTRACT);
  EXPECT_EQ(o.list_file, "C:\\T\\x.lis");
  EXPECT_EQ(o.destination, "D:\\new folder\\");
  EXPECT_EQ(o.threads, 3);
  EXPECT_FALSE(o.marked_only);
}

TEST(ListFileBytes, LayoutByteForByte) {
  std::vector<std::string> selection = {"", "C:\\d\\a.txt", ""};
  std::string bytes = list_file_bytes("C:\\x.vnr", selection, 2);
  std::string expected;
  expected += std::string("\x02\0\0\0\0\0\0\0", 8) + std::string("\x02\0\0\0\0\0\0\0", 8);
  expected += std::string("\x08\0\0\0", 4) + "C:\\x.vnr";
  expected += std::string("\x02\0\0\0", 4);
  expected += std::string("\x0a\0\0\0", 4) + "C:\\d\\a.txt";
  expected += std::string("\0\0\0\0", 4);  // an empty text is its length alone
  EXPECT_EQ(bytes, expected);
}

TEST(ListFileBytes, ReadBackByTheTool) {
  std::vector<std::string> selection = {"", "C:\\d\\a.txt", "C:\\d\\sub\\b.bin"};
  std::string bytes = list_file_bytes("C:\\out\\Archive.vnr", selection, 2);
  ListFile list;
  std::string problem;
  ASSERT_TRUE(parse_list_file(std::vector<uint8_t>(bytes.begin(), bytes.end()), list, problem)) << problem;
  EXPECT_EQ(list.archive_path, "C:\\out\\Archive.vnr");
  EXPECT_EQ(list.paths, std::vector<std::string>(selection.begin() + 1, selection.end()));
}

TEST(ListFileBytes, CountBeyondTheTableIsCutToTheSlotsPresent) {
  std::vector<std::string> selection = {"", "a"};
  std::string bytes = list_file_bytes("x", selection, 5);
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes.size(), 8u + 8 + 4 + 1 + 4 + 4 + 1);
}

}  // namespace
