// The operations' fixture: the main window opened once with vantor.exe beside it, a fresh work
// folder of a few files for every test, and user's steps run while an operation window waits.
#pragma once
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <functional>
#include <vector>

#include "../tool_entries.h"
#include "archive/index_walk.h"
#include "runtime/folders.h"
#include "operations/compression_window.h"
#include "operations/busy_window.h"
#include "operations/extraction_window.h"
#include "shell/browsing.h"
#include "shell/dispatch.h"
#include "shell/globals.h"
#include "shell/shell.h"
#include "ui/ui.h"
#include "scripted_user.h"

namespace operations_fixture {

using namespace scripted;

inline void run_script(std::vector<std::function<void()>> steps, const std::function<void()>& start) {
  run(std::move(steps), start);
}

inline std::string to_upper(std::string text) {
  for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return text;
}

inline std::vector<std::string> members(const std::string& archive) {
  std::vector<std::string> names;
  index_walk_file(archive, [&](const IndexEntry& e) { names.push_back(e.folder + e.name); });
  return names;
}

class Operations : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(open_main_window());
    // vantor.exe stands in the build folder, one level above the test program.
    std::string folder = shell.operation.program_folder.substr(0, shell.operation.program_folder.size() - 1);
    shell.operation.program_folder = folder.substr(0, folder.find_last_of('\\') + 1);
    ASSERT_TRUE(exists(shell.operation.program_folder + "vantor.exe")) << shell.operation.program_folder;
  }

  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    work_ = std::string(temp) + "vantor_operations_test\\";
    delete_tree(work_);
    CreateDirectoryA(work_.c_str(), nullptr);
    CreateDirectoryA((work_ + "data").c_str(), nullptr);
    CreateDirectoryA((work_ + "data\\docs").c_str(), nullptr);
    CreateDirectoryA((work_ + "data\\docs\\sub").c_str(), nullptr);
    write_file(work_ + "data\\docs\\a.txt", "alpha\r\n");
    write_file(work_ + "data\\docs\\sub\\c.txt", std::string(70000, 'c'));
    write_file(work_ + "data\\b.txt", "bravo");
    shell.operation.archive_path.clear();
    shell.selection.selection_count = 0;
    shell.quit_requested = 0;
  }

  void TearDown() override {
    gadget_set_text(FILE_LIST, "");
    reset_temp_folders();
    delete_tree(work_);
  }

  void choose(std::initializer_list<const char*> files) {
    shell.selection.selection_count = 0;
    for (const char* f : files) selection_append(shell.selection, work_ + "data\\" + f);
  }

  // Compresses the chosen files into `archive` with the settings as they are; returns the box text.
  std::string compress_into(const std::string& archive, const char* box_title = "Added") {
    shell.operation.archive_path = archive;
    std::string box;
    run_script({[] { press(12, 1); }, answer_box(box_title, &box)}, [] { compression_window(operation_context()); });
    return box;
  }

  std::string work_;
};

}  // namespace operations_fixture
