// The Windows archiver driven exactly as the front end drives it: a copy of vantor.exe in a
// program folder, master.lis beside it, the four parameter strings through the runner; then the
// self-extracting archive run on its own.
#include <windows.h>

#include <gtest/gtest.h>


#include <fstream>

#include "../tool_entries.h"
#include "format/archive_format.h"
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
  // The same with other parameters, keeping what the archiver printed.
  uint32_t compress_with(const std::string& archive, const std::string& parameters, std::string& output);
};

// Runs the archiver and returns its exit code, with what it printed in `output`: its standard
// output, then its errors (a few lines, which the pipe holds until it ends).
uint32_t run_reading(const std::string& program, const std::string& parameters, std::string& output) {
  ProgramId p = run_program(program, parameters, "", PROGRAM_HIDE | PROGRAM_OPEN | PROGRAM_READ | PROGRAM_ERROR);
  EXPECT_GT(p, 1) << program;
  while (program_running(p)) output += read_program_line(p) + "\n";
  output += read_program_errors(p);
  uint32_t code = program_exit_code(p);
  close_program(p);
  return code;
}

uint32_t FrontEndSetup::compress_with(const std::string& archive, const std::string& parameters, std::string& output) {
  test_files::write_file(program_folder + "\\master.lis", list_file_bytes(archive, selection, 2));
  uint32_t code = run_reading(archiver_program_path(program_folder), parameters, output);
  DeleteFileA((program_folder + "\\master.lis").c_str());
  return code;
}

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

// Ultra + Solid with the largest dictionary and the most tasks the front end offers: LZMA2 at
// -k7 -t8, which the 32-bit program fits to its address space and says so, and PPMd for the text
// members, which are all there are here; it comes back whole.
TEST(WindowsTool, SolidUltraWithTheLargestSettingsRoundTrips) {
  FrontEndSetup setup;
  std::string archive = setup.data + "Ultra.vnr";
  std::string parameters = compress_parameters("", " -r ", 1024, 7, 8, "-s", "x", 3, setup.program_folder);
  ASSERT_NE(parameters.find(" -k7 -t8 -s  -mx3 "), std::string::npos) << parameters;
  std::string said;
  ASSERT_EQ(setup.compress_with(archive, parameters, said), 0u) << said;
  bool fitted = said.find("2 thread(s) and a 64 MB dictionary") != std::string::npos;
  EXPECT_EQ(fitted, sizeof(void*) == 4) << said;
  std::string listing;
  ASSERT_EQ(run_reading(archiver_program_path(setup.program_folder), " l \"" + archive, listing), 0u);
  EXPECT_NE(listing.find(" ppmd "), std::string::npos) << listing;
  std::string out = fresh_folder("ultra");
  said.clear();
  ASSERT_EQ(run_reading(archiver_program_path(setup.program_folder), extract_all_parameters(8, archive, out), said), 0u)
      << said;
  EXPECT_EQ(test_files::read_file(out + "docs\\a.txt"), test_files::read_file(setup.data + "docs\\a.txt"));
  EXPECT_EQ(test_files::read_file(out + "b.txt"), "bee");
}

// Streams that each declare 256 MB would hold 4 GB of dictionaries on sixteen threads: the 32-bit
// program tests them on as many threads as fit, five, and runs out of memory on none. Their data
// ends at once, so each fails as damaged just after its decoder took its dictionary, which the
// thread keeps while it decodes the deflate member after it (32 MB from 32 KB).
TEST(WindowsTool, ManyThreadsOverLargeDictionariesFitTheAddressSpace) {
  FrontEndSetup setup;
  std::string path = setup.data + "Large.vnr";
  std::ofstream archive(path, std::ios::binary);
  const std::string held = solid_entries({{"held", std::string(32 << 20, '\0')}});
  for (int i = 0; i < 16; ++i) {
    EntryHeader h;
    h.name = "m" + std::to_string(i);
    h.method = METHOD_LZMA2;
    h.size = int64_t(256) << 20;
    h.dictionary = 256u << 20;
    std::string data(1024, '\0');  // LZMA2's end marker, then bytes past it
    h.compressed_size = data.size();
    h.entry_length = header_size(h) + static_cast<int64_t>(data.size());
    std::vector<uint8_t> bytes = encode_header(h);
    archive << std::string(bytes.begin(), bytes.end()) << data << held;
  }
  archive.close();
  for (int threads : {16, 8}) {
    std::string said;
    EXPECT_EQ(run_reading(archiver_program_path(setup.program_folder), " t -t" + std::to_string(threads) + " \"" + path,
                          said), 1u);
    EXPECT_EQ(said.find("out of memory"), std::string::npos) << said;
    EXPECT_NE(said.find("m15: data is shorter than the recorded size"), std::string::npos) << said;
    bool fitted = said.find("5 thread(s) decode") != std::string::npos;
    EXPECT_EQ(fitted, sizeof(void*) == 4) << said;
  }
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

// Archives of other programs, written by the peer tools on the Unix side (win.foreign_setup): the
// Windows build decodes them through its own libarchive and writes the members itself.
TEST(WindowsTool, ExtractsAZipAndA7zOfOtherPrograms) {
  std::string samples = windows_path(VANTOR_WIN_FOREIGN) + "\\";
  for (const char* name : {"s.zip", "s.7z"}) {
    std::string destination = fresh_folder(std::string("foreign-") + (name[2] == 'z' ? "zip" : "7z"));
    uint32_t code = run_and_wait(windows_path(VANTOR_TOOL_EXE), "x \"" + samples + name + "\" \"" + destination + "\"");
    EXPECT_EQ(code, 0u) << name;
    EXPECT_EQ(test_files::read_file(destination + "a.txt"), "alpha") << name;
    EXPECT_EQ(test_files::read_file(destination + "sub\\b.bin"), test_files::read_file(samples + "src\\sub\\b.bin")) << name;
  }
}

}  // namespace
