// The Windows archiver driven exactly as the front end drives it: a copy of vantor.exe in a
// program folder, master.lis beside it, the four parameter strings through the runner; then the
// self-extracting archive run on its own.
#include <windows.h>

#include <gtest/gtest.h>


#include "operations/archiver_contract.h"
#include "process/process_runner.h"
#include "test_files.h"

namespace {

std::string windows_path(std::string unix_path) {
  for (char& c : unix_path)
    if (c == '/') c = '\\';
  return "Z:" + unix_path;
}

std::string fresh_folder(const std::string& name) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string folder = std::string(temp) + "vantor-tool-" + name + "-" + std::to_string(GetCurrentProcessId()) + "\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

uint32_t run_and_wait(const std::string& program, const std::string& parameters) {
  ProgramId p = run_program(program, parameters, "", PROGRAM_WAIT | PROGRAM_HIDE | PROGRAM_OPEN);
  EXPECT_GT(p, 1) << program;
  uint32_t code = program_exit_code(p);
  close_program(p);
  return code;
}

struct FrontEndSetup {
  std::string program_folder = fresh_folder("prog");
  std::string data = fresh_folder("data");
  std::vector<std::string> selection{""};
  FrontEndSetup() {
    CopyFileA(windows_path(VANTOR_TOOL_EXE).c_str(), archiver_program_path(program_folder).c_str(), FALSE);
    CreateDirectoryA((data + "docs").c_str(), nullptr);
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "row " + std::to_string(i % 97) + "\r\n";
    test_files::write_file(data + "docs\\a.txt", text);
    test_files::write_file(data + "b.txt", "bee");
    selection.push_back(data + "docs\\a.txt");
    selection.push_back(data + "b.txt");
  }
  uint32_t compress(const std::string& archive, const std::string& self_extraction) {
    test_files::write_file(program_folder + "\\master.lis", list_file_bytes(archive, selection, 2));
    std::string parameters = compress_parameters(self_extraction, " -r ", 16, 7, 2, "-s", "", 3, program_folder);
    uint32_t code = run_and_wait(archiver_program_path(program_folder), parameters);
    DeleteFileA((program_folder + "\\master.lis").c_str());
    return code;
  }
};

TEST(WindowsTool, CompressAndExtractAllThroughTheParameterStrings) {
  FrontEndSetup setup;
  std::string archive = setup.data + "Archive.vnr";
  ASSERT_EQ(setup.compress(archive, ""), 0u);
  std::string launch_root = fresh_folder("launch") + "inner\\";  // created by the tool
  ProgramId p = run_program(archiver_program_path(setup.program_folder), extract_all_parameters(2, archive, launch_root),
                            "", PROGRAM_HIDE | PROGRAM_OPEN | PROGRAM_READ);
  ASSERT_GT(p, 1);
  std::string output;
  while (program_running(p)) output += read_program_line(p) + "\n";
  EXPECT_EQ(program_exit_code(p), 0u) << output;
  close_program(p);
  EXPECT_EQ(test_files::read_file(launch_root + "docs\\a.txt"), test_files::read_file(setup.data + "docs\\a.txt"));
  EXPECT_EQ(test_files::read_file(launch_root + "b.txt"), "bee");
}

// The compression window offers the same archive name again: a second run adds to it.
TEST(WindowsTool, CompressingIntoAnExistingArchiveKeepsWhatItHeld) {
  FrontEndSetup setup;
  std::string archive = setup.data + "Twice.vnr";
  ASSERT_EQ(setup.compress(archive, ""), 0u);
  test_files::write_file(setup.data + "c.txt", "sea");
  test_files::write_file(setup.data + "b.txt", "new bee");
  setup.selection = {"", setup.data + "b.txt", setup.data + "c.txt"};
  ASSERT_EQ(setup.compress(archive, ""), 0u);
  std::string out = fresh_folder("twice");
  EXPECT_EQ(run_and_wait(archiver_program_path(setup.program_folder), extract_all_parameters(2, archive, out)), 0u);
  EXPECT_EQ(test_files::read_file(out + "docs\\a.txt"), test_files::read_file(setup.data + "docs\\a.txt"));
  EXPECT_EQ(test_files::read_file(out + "b.txt"), "new bee");
  EXPECT_EQ(test_files::read_file(out + "c.txt"), "sea");
}

TEST(WindowsTool, MarkedExtractionAndADamagedArchive) {
  FrontEndSetup setup;
  std::string archive = setup.data + "Marked.vnr";
  ASSERT_EQ(setup.compress(archive, ""), 0u);
  std::string bytes = test_files::read_file(archive);
  // Mark only b.txt: walk the chain by its lengths as the marking pass does.
  for (size_t pos = 0; pos < bytes.size();) {
    uint64_t length = 0;
    for (int i = 7; i >= 0; --i) length = (length << 8) | static_cast<uint8_t>(bytes[pos + i]);
    size_t n = static_cast<uint8_t>(bytes[pos + 10]) | static_cast<uint8_t>(bytes[pos + 11]) << 8;
    size_t m = static_cast<uint8_t>(bytes[pos + 12 + n]) | static_cast<uint8_t>(bytes[pos + 13 + n]) << 8;
    bytes[pos + 22 + n + m] = bytes.substr(pos + 12, n) == "b.txt" ? 1 : 0;
    pos += length;
  }
  test_files::write_file(archive, bytes);
  std::string destination = fresh_folder("marked");
  EXPECT_EQ(run_and_wait(archiver_program_path(setup.program_folder), extract_marked_parameters(1, archive, destination)), 0u);
  EXPECT_EQ(test_files::read_file(destination + "b.txt"), "bee");
  EXPECT_EQ(GetFileAttributesA((destination + "docs\\a.txt").c_str()), INVALID_FILE_ATTRIBUTES);

  bytes[bytes.size() / 3] ^= 0x55;
  test_files::write_file(archive, bytes);
  std::string damaged = fresh_folder("damaged");
  EXPECT_NE(run_and_wait(archiver_program_path(setup.program_folder), extract_all_parameters(1, archive, damaged)), 0u);
}

TEST(WindowsTool, SelfExtractingArchiveExtractsItself) {
  FrontEndSetup setup;
  ASSERT_EQ(setup.compress(setup.data + "Setup.vnr", " -e "), 0u);
  std::string program = setup.data + "Setup.exe";
  std::string bytes = test_files::read_file(program);
  ASSERT_GT(bytes.size(), 155648u);
  EXPECT_EQ(bytes.substr(0, 2), "MZ");
  test_files::write_file(program + ":Zone.Identifier", "[ZoneTransfer]\r\nZoneId=3\r\n");  // downloaded
  std::string destination = fresh_folder("sfx");
  EXPECT_EQ(run_and_wait(program, "/s \"" + destination), 0u);
  EXPECT_EQ(test_files::read_file(destination + "docs\\a.txt"), test_files::read_file(setup.data + "docs\\a.txt"));
  EXPECT_EQ(test_files::read_file(destination + "b.txt"), "bee");
  EXPECT_EQ(test_files::read_file(destination + "b.txt:Zone.Identifier"), "[ZoneTransfer]\r\nZoneId=3\r\n");
}

}  // namespace
