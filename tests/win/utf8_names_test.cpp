// File names in many scripts through the real main window and the real vantor.exe: listed and
// sorted, added, opened, extracted through the tree and launched, every byte as it was.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <zlib.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "archive/index_walk.h"
#include "tool/archive_format.h"
#include "archive/open_archive.h"
#include "operations/compression_window.h"
#include "operations/extraction_window.h"
#include "shell/browsing.h"
#include "shell/dispatch.h"
#include "shell/globals.h"
#include "shell/shell.h"
#include "ui/ui.h"
#include "scripted_user.h"

namespace {

using namespace scripted;

const std::string JAPANESE = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt";
const std::string GREEK_UPPER = "\xCE\x91\xCE\xBB\xCF\x86\xCE\xB1.txt";  // Alpha
const std::string GREEK_LOWER = "\xCE\xB2\xCE\xAE\xCF\x84\xCE\xB1.txt";  // beta
const std::string GREEK_GAMMA = "\xCE\x93\xCE\xAC\xCE\xBC\xCE\xBC\xCE\xB1.txt";
const std::string CYRILLIC_FOLDER = "\xD0\xA0\xD1\x83\xD1\x81\xD1\x81\xD0\xBA\xD0\xB8\xD0\xB9";
const std::string CYRILLIC_FILE = "\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.txt";
const std::string ARABIC = "\xD8\xB9\xD8\xB1\xD8\xA8\xD9\x8A.txt";
const std::string EMOJI = "\xF0\x9F\x98\x80 smile.txt";
const std::string COMBINING = "e\xCC\x81te\xCC\x81.txt";

// A name of three-byte characters that brings its full path to 259 bytes, the most a path may
// take with its zero (the name itself stays within the 255 bytes Linux allows under Wine).
std::string name_at_the_limit(const std::string& folder) {
  size_t room = 259 - folder.size() - 4;
  std::string name(room % 3, 'x');
  for (size_t i = 0; i < room / 3; ++i) name += "\xE8\xAA\x9E";
  return name + ".txt";
}

std::function<void()> answer_box(const char* title, std::string* text) {
  return [title, text] {
    HWND box = FindWindowA("#32770", title);
    if (!box) return retry_step();
    char buffer[1024] = {};
    GetDlgItemTextA(box, 0xFFFF, buffer, sizeof(buffer));
    *text = buffer;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  };
}

void press(int gadget, int window) { queue_event(EVENT_GADGET, gadget, window, EVENT_TYPE_LEFT_CLICK); }

void click_name_header() {
  HWND header = reinterpret_cast<HWND>(SendMessageA(gadget_handle(FILE_LIST), LVM_GETHEADER, 0, 0));
  RECT r = {};
  SendMessageA(header, HDM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&r));
  LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  SendMessageA(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageA(header, WM_LBUTTONUP, 0, at);
}

std::vector<std::string> rows() {
  std::vector<std::string> names;
  for (int i = 0; i < gadget_count_items(FILE_LIST); ++i) names.push_back(gadget_get_item_text(FILE_LIST, i, 0));
  return names;
}

size_t position(const std::vector<std::string>& names, const std::string& name) {
  return static_cast<size_t>(std::find(names.begin(), names.end(), name) - names.begin());
}

class Utf8Names : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(open_main_window());
    std::string folder = shell.program_folder.substr(0, shell.program_folder.size() - 1);
    shell.program_folder = folder.substr(0, folder.find_last_of('\\') + 1);
  }

  void SetUp() override {
    work_ = temp_folder("vantor_utf8_test");
    delete_tree(work_);
    data_ = work_ + "data\\";
    CreateDirectoryA(work_.c_str(), nullptr);
    CreateDirectoryA(data_.c_str(), nullptr);
    CreateDirectoryA((data_ + CYRILLIC_FOLDER).c_str(), nullptr);
    files_ = {JAPANESE, GREEK_UPPER, GREEK_LOWER, GREEK_GAMMA, CYRILLIC_FOLDER + "\\" + CYRILLIC_FILE,
              ARABIC, EMOJI, COMBINING, name_at_the_limit(data_)};
    for (size_t i = 0; i < files_.size(); ++i) write_file(data_ + files_[i], "member " + files_[i] + "\r\n");
    shell.archive_path.clear();
    shell.selection_count = 0;
    shell.quit_requested = 0;
  }

  void TearDown() override {
    gadget_set_text(FILE_LIST, "");
    reset_temp_folders();
    delete_tree(work_);
  }

  std::string compress_all(const std::string& archive) {
    shell.selection_count = 0;
    for (const std::string& f : files_) selection_append(shell, data_ + f);
    shell.archive_path = archive;
    std::string box;
    run({[] { press(12, 1); }, answer_box("Added", &box)}, [] { compression_window(); });
    return box;
  }

  std::string work_, data_;
  std::vector<std::string> files_;
};

TEST_F(Utf8Names, TheProgramsRunInUtf8AndListAndSortEveryName) {
  EXPECT_EQ(GetACP(), static_cast<UINT>(CP_UTF8));
  ASSERT_EQ(data_.size() + files_.back().size(), 259u);
  ASSERT_TRUE(exists(data_ + files_.back()));
  gadget_set_text(FILE_LIST, data_);
  std::vector<std::string> shown = rows();
  for (const std::string& f : files_) {
    std::string row = f.substr(f.find('\\') + 1);  // the Cyrillic folder's file is not on view
    EXPECT_EQ(position(shown, row) < shown.size(), row == f) << f;
  }
  EXPECT_LT(position(shown, CYRILLIC_FOLDER), shown.size());

  click_name_header();
  shown = rows();
  ASSERT_EQ(shown.size(), 10u);
  EXPECT_EQ(shown[0], "..");
  EXPECT_EQ(shown[1], CYRILLIC_FOLDER);
  // Without regard to case: alpha, beta, gamma although the bytes of beta sort last.
  EXPECT_LT(position(shown, GREEK_UPPER), position(shown, GREEK_LOWER));
  EXPECT_LT(position(shown, GREEK_LOWER), position(shown, GREEK_GAMMA));
}

TEST_F(Utf8Names, AddOpenExtractThroughTheTreeAndLaunchByteExact) {
  std::string archive = work_ + "\xE6\x97\xA5\xE6\x9C\xAC.vnr";
  std::string box = compress_all(archive);
  EXPECT_EQ(box.rfind("archive=" + archive + " in ", 0), 0u) << box;
  std::vector<std::string> stored;
  index_walk_file(archive, [&](const IndexEntry& e) { stored.push_back(e.folder + e.name); });
  std::vector<std::string> expected = files_;
  std::sort(stored.begin(), stored.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(stored, expected);

  std::string dest = work_ + "\xCE\xB5\xCE\xBE\xCE\xBF\xCE\xB4\xCE\xBF\xCF\x82\\";  // "exodos"
  CreateDirectoryA(dest.c_str(), nullptr);
  std::string size_cell, mirror_rows, notice;
  bool launched = false;
  run({[&] {
         if (!archive_on_view()) return retry_step();
         size_cell = gadget_get_item_text(FILE_LIST, row_of(files_.back()), 1);
         select_rows({CYRILLIC_FOLDER.c_str()});
       },
       [] { queue_event(EVENT_GADGET, EXTRACT_BUTTON, 0, EVENT_TYPE_LEFT_CLICK); },
       [&] {
         gadget_set_text(25, dest);  // the tree walks to the folder and selects it
         queue_event(EVENT_GADGET, 25, 2, EVENT_TYPE_LEFT_CLICK);
       },
       [] { press(12, 2); }, answer_box("Notice", &notice),
       [] { select_rows({EMOJI.c_str()}); },
       [] { queue_event(EVENT_GADGET, FILE_LIST, 0, EVENT_TYPE_LEFT_DOUBLE_CLICK); },
       [&] {
         launched = read_file(shell.launch_root + EMOJI) == "member " + EMOJI + "\r\n";
         if (HWND viewer = FindWindowA("Notepad", nullptr)) PostMessageA(viewer, WM_CLOSE, 0, 0);
         gadget_set_text(FILE_LIST, shell.temp_root + CYRILLIC_FOLDER + "\\");
       },
       [&] {
         for (const std::string& r : rows()) mirror_rows += r + "|";
         exit_menu();
       }},
      [&] {
        shell.archive_path = archive;
        open_archive(archive);
      });
  EXPECT_EQ(size_cell, "1 KB");
  EXPECT_EQ(notice.rfind("Archive =" + archive + " in ", 0), 0u) << notice;
  std::string chosen = CYRILLIC_FOLDER + "\\" + CYRILLIC_FILE;
  EXPECT_EQ(read_file(dest + chosen), "member " + chosen + "\r\n");
  EXPECT_FALSE(exists(dest + JAPANESE));  // only the chosen folder
  EXPECT_TRUE(launched);
  EXPECT_EQ(mirror_rows, "..|" + CYRILLIC_FILE + "|");
}

// An archive written before names were UTF-8: "cafe" with e-acute as the single 1252 byte.
TEST_F(Utf8Names, AnOldCode1252NameIsListedAndExtractedAsUtf8) {
  const std::string data = "old";
  EntryHeader h;
  h.flags = 0;
  h.name = "caf\xE9.txt";
  h.size = static_cast<int64_t>(data.size());
  h.method = METHOD_STORE;
  h.compressed_size = data.size();
  h.crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), 3));
  h.entry_length = header_size(h.name.size(), 0) + static_cast<int64_t>(data.size());
  std::vector<uint8_t> header = encode_header(h);
  std::string entry = std::string(header.begin(), header.end()) + data;
  std::string archive = work_ + "old.vnr";
  write_file(archive, entry);

  std::string dest = work_ + "out\\", notice;
  std::vector<std::string> shown;
  run({[&] {
         if (!archive_on_view()) return retry_step();
         shown = rows();
         select_rows({"caf\xC3\xA9.txt"});
       },
       [] { queue_event(EVENT_GADGET, EXTRACT_BUTTON, 0, EVENT_TYPE_LEFT_CLICK); },
       [&] {
         gadget_set_text(10, dest);
         queue_event(EVENT_GADGET, 10, 2, EVENT_TYPE_CHANGE);
         press(12, 2);
       },
       answer_box("Notice", &notice), [] { exit_menu(); }},
      [&] {
        shell.archive_path = archive;
        open_archive(archive);
      });
  EXPECT_EQ(shown, (std::vector<std::string>{"..", "caf\xC3\xA9.txt"}));
  EXPECT_EQ(read_file(dest + "caf\xC3\xA9.txt"), "old") << notice;
}

}  // namespace
