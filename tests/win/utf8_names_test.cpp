// File names in many scripts through the real main window and the real vantor.exe: listed and
// sorted, added, opened, extracted through the tree and launched, every byte as it was.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <zlib.h>

#include <algorithm>

#include "archive/index_walk.h"
#include "archive/open_archive.h"
#include "format/archive_format.h"
#include "format/utf8_text.h"
#include "operations/compression_window.h"
#include "shell/browsing.h"
#include "shell/globals.h"
#include "shell/shell.h"
#include "runtime/text.h"
#include "scripted_user.h"

namespace {

using namespace scripted;

const std::string JAPANESE = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt";
const std::string ALPHA = "\xCE\x91\xCE\xBB\xCF\x86\xCE\xB1.txt";  // capital: its bytes sort first
const std::string BETA = "\xCE\xB2\xCE\xAE\xCF\x84\xCE\xB1.txt";   // small: its bytes sort last
const std::string GAMMA = "\xCE\x93\xCE\xAC\xCE\xBC\xCE\xBC\xCE\xB1.txt";
const std::string CYRILLIC = "\xD0\xA0\xD1\x83\xD1\x81\xD1\x81\xD0\xBA\xD0\xB8\xD0\xB9";
const std::string CYRILLIC_FILE = "\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.txt";
const std::string ARABIC = "\xD8\xB9\xD8\xB1\xD8\xA8\xD9\x8A.txt";
const std::string EMOJI = "\xF0\x9F\x98\x80 smile.txt";
const std::string COMBINING = "e\xCC\x81te\xCC\x81.txt";

std::vector<std::string> rows() {
  std::vector<std::string> names;
  for (int i = 0; i < gadget_count_items(FILE_LIST); ++i) names.push_back(gadget_get_item_text(FILE_LIST, i, 0));
  return names;
}

class Utf8Names : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(open_main_window());
    std::string folder = shell.operation.program_folder.substr(0, shell.operation.program_folder.size() - 1);
    shell.operation.program_folder = folder.substr(0, folder.find_last_of('\\') + 1);
  }

  void SetUp() override {
    work_ = temp_folder("vantor_utf8_test");
    delete_tree(work_);
    data_ = work_ + "data\\";
    CreateDirectoryA(work_.c_str(), nullptr);
    CreateDirectoryA(data_.c_str(), nullptr);
    CreateDirectoryA((data_ + CYRILLIC).c_str(), nullptr);
    // Three-byte characters that bring the full path to 259 bytes, the most a path may take.
    std::string at_the_limit((259 - data_.size() - 4) % 3, 'x');
    while (at_the_limit.size() + data_.size() + 4 < 259) at_the_limit += "\xE8\xAA\x9E";
    files_ = {JAPANESE, ALPHA, BETA, GAMMA, CYRILLIC + "\\" + CYRILLIC_FILE, ARABIC, EMOJI, COMBINING,
              at_the_limit + ".txt"};
    for (const std::string& f : files_) write_file(data_ + f, "member " + f);
    shell.operation.archive_path.clear();
    shell.selection.selection_count = 0;
  }

  void TearDown() override {
    gadget_set_text(FILE_LIST, "");
    reset_temp_folders();
    delete_tree(work_);
  }

  std::string work_, data_;
  std::vector<std::string> files_;
};

// A name of ASCII alone gets its case key without asking the system: the key the system's table
// gives, seen where an "\xC3\xA9" after the same characters sends the name through the system.
TEST_F(Utf8Names, AsciiCaseKeysAreTheSystems) {
  std::string ascii;
  for (int c = 1; c < 0x80; ++c) ascii += static_cast<char>(c);
  std::string through_system = name_case_key(ascii + "\xC3\xA9");
  ASSERT_EQ(through_system.size(), (ascii.size() + 1) * sizeof(wchar_t));
  EXPECT_EQ(name_case_key(ascii), through_system.substr(0, ascii.size() * sizeof(wchar_t)));
  std::string key = "a longer key left from the name before";
  name_case_key_into("ab", key);
  EXPECT_EQ(key, name_case_key("AB"));
}

TEST_F(Utf8Names, ListedAndSortedWithoutRegardToCase) {
  EXPECT_EQ(GetACP(), static_cast<UINT>(CP_UTF8));
  ASSERT_EQ(data_.size() + files_.back().size(), 259u);
  gadget_set_text(FILE_LIST, data_);
  HWND header = reinterpret_cast<HWND>(SendMessageA(gadget_handle(FILE_LIST), LVM_GETHEADER, 0, 0));
  SendMessageA(header, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 5));  // the Name header
  SendMessageA(header, WM_LBUTTONUP, 0, MAKELPARAM(20, 5));
  std::vector<std::string> shown = rows(), expected = {"..", CYRILLIC};
  for (const std::string& f : files_)
    if (f.find('\\') == std::string::npos) expected.push_back(f);
  auto at = [&](const std::string& name) { return std::find(shown.begin(), shown.end(), name) - shown.begin(); };
  EXPECT_TRUE(std::is_permutation(shown.begin(), shown.end(), expected.begin(), expected.end()));
  EXPECT_EQ(at(CYRILLIC), 1);
  EXPECT_LT(at(ALPHA), at(BETA));
  EXPECT_LT(at(BETA), at(GAMMA));
}

TEST_F(Utf8Names, AddedOpenedExtractedThroughTheTreeAndLaunchedByteExact) {
  for (const std::string& f : files_) selection_append(shell.selection, data_ + f);
  std::string archive = work_ + "\xE6\x97\xA5\xE6\x9C\xAC.vnr", added, notice, size_cell, folder_rows;
  shell.operation.archive_path = archive;
  run({[] { press(12, 1); }, answer_box("Added", &added)}, [] { compression_window(operation_context()); });
  std::vector<std::string> stored, expected = files_;
  index_walk_file(archive, [&](const IndexEntry& e) { stored.push_back(e.folder + e.name); });
  std::sort(stored.begin(), stored.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(stored, expected) << added;

  std::string dest = work_ + "\xCE\xAD\xCE\xBE\xCE\xBF\xCE\xB4\xCE\xBF\xCF\x82\\";  // Greek "exodos"
  CreateDirectoryA(dest.c_str(), nullptr);
  bool launched = false;
  std::string destination;
  int waits = 0;
  run({[&] {
         if (!archive_on_view()) return retry_step();
         size_cell = gadget_get_item_text(FILE_LIST, row_of(files_.back()), 1);
         select_rows({CYRILLIC.c_str()});
         queue_event(EVENT_GADGET, EXTRACT_BUTTON, 0, EVENT_TYPE_LEFT_CLICK);
       },
       in_extraction_window([&] {
         gadget_set_text(25, dest);  // the tree walks to the folder and selects it
         queue_event(EVENT_GADGET, 25, 2, EVENT_TYPE_LEFT_CLICK);
       }),
       [&] {
         destination = gadget_get_text(10);
         if (!same_name_ignoring_case(destination, dest) && ++waits < 100) return retry_step();
         press(12, 2);
       },
       answer_box("Notice", &notice), [] { select_rows({EMOJI.c_str()}); },
       [] { queue_event(EVENT_GADGET, FILE_LIST, 0, EVENT_TYPE_LEFT_DOUBLE_CLICK); },
       when([] { return read_file(shell.operation.launch_root + EMOJI) == "member " + EMOJI; },
            [&] {
              launched = read_file(shell.operation.launch_root + EMOJI) == "member " + EMOJI;
              if (HWND viewer = FindWindowA("Notepad", nullptr)) PostMessageA(viewer, WM_CLOSE, 0, 0);
              gadget_set_text(FILE_LIST, shell.operation.temp_root + CYRILLIC + "\\");
            }),
       [&] {
         for (const std::string& r : rows()) folder_rows += r + "|";
         exit_menu();
       }},
      [&] {
        shell.operation.archive_path = archive;
        browse_archive(archive);
      });
  EXPECT_EQ(size_cell, "1 KB");
  EXPECT_EQ(notice.rfind("Archive =" + archive + " in ", 0), 0u) << notice;
  EXPECT_TRUE(same_name_ignoring_case(destination, dest)) << destination;
  EXPECT_EQ(read_file(dest + files_[4]), "member " + files_[4]);
  EXPECT_FALSE(exists(dest + JAPANESE));  // only the chosen folder
  EXPECT_TRUE(launched);
  EXPECT_EQ(folder_rows, "..|" + CYRILLIC_FILE + "|");
}

// An archive written before names were UTF-8: "cafe" with e-acute as the single 1252 byte.
TEST_F(Utf8Names, AnOldCode1252NameIsListedAndExtractedAsUtf8) {
  EntryHeader h;
  h.name = "caf\xE9.txt";
  h.size = 3;
  h.method = METHOD_STORE;
  h.compressed_size = 3;
  h.crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>("old"), 3));
  h.entry_length = header_size(h.name.size(), 0) + 3;
  std::vector<uint8_t> header = encode_header(h);
  std::string archive = work_ + "old.vnr", dest = work_ + "out\\", notice;
  write_file(archive, std::string(header.begin(), header.end()) + "old");
  std::vector<std::string> shown;
  run({[&] {
         if (!archive_on_view()) return retry_step();
         shown = rows();
         select_rows({"caf\xC3\xA9.txt"});
         queue_event(EVENT_GADGET, EXTRACT_BUTTON, 0, EVENT_TYPE_LEFT_CLICK);
       },
       in_extraction_window([&] {
         gadget_set_text(10, dest);
         queue_event(EVENT_GADGET, 10, 2, EVENT_TYPE_CHANGE);
         press(12, 2);
       }),
       answer_box("Notice", &notice), [] { exit_menu(); }},
      [&] {
        shell.operation.archive_path = archive;
        browse_archive(archive);
      });
  EXPECT_EQ(shown, (std::vector<std::string>{"..", "caf\xC3\xA9.txt"}));
  EXPECT_EQ(read_file(dest + "caf\xC3\xA9.txt"), "old") << notice;
}

}  // namespace
