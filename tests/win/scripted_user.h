// Helpers for Windows tests that drive the program's own loops: a timer runs the user's steps one
// per tick while the loop under test waits for events, plus small file and list helpers.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "shell/dispatch.h"
#include "shell/globals.h"
#include "ui/ui.h"
#include "test_files.h"

namespace scripted {

inline std::vector<std::function<void()>> script;
inline size_t next_step = 0;

inline void CALLBACK run_next_step(HWND, UINT, UINT_PTR, DWORD) {
  if (next_step < script.size()) script[next_step++]();
}

// Runs `start` (which enters a loop) while the steps run one per tick; every step must have run.
inline void run(std::vector<std::function<void()>> steps, const std::function<void()>& start, UINT tick_ms = 80) {
  script = std::move(steps);
  next_step = 0;
  UINT_PTR timer = SetTimer(nullptr, 0, tick_ms, run_next_step);
  start();
  KillTimer(nullptr, timer);
  EXPECT_EQ(next_step, script.size()) << "the loops ended before the script did";
}

// Runs the current step again at the next tick (for steps that wait for a window).
inline void retry_step() { --next_step; }

// A step that waits, tick by tick for up to 20 seconds, until `reached` holds, then runs `then`
// (which checks the state again: reaching it is not assumed).
inline std::function<void()> when(std::function<bool()> reached, std::function<void()> then) {
  auto started = std::make_shared<DWORD>(0);
  return [=] {
    if (!*started) *started = GetTickCount();
    if (!reached() && GetTickCount() - *started < 20000) return retry_step();
    then();
  };
}

// A step in the extraction window: the click that opens it may first mark members for a while,
// keeping the main window live, so the window can open some ticks later.
inline std::function<void()> in_extraction_window(std::function<void()> then) {
  return when([] { return window_handle(2) != nullptr; }, std::move(then));
}

using test_files::exists;
using test_files::read_file;
using test_files::write_file;

inline void delete_tree(const std::string& folder) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        delete_tree(folder + name + "\\");
      else
        DeleteFileA((folder + name).c_str());
    } while (FindNextFileA(find, &data));
    FindClose(find);
  }
  RemoveDirectoryA(folder.c_str());
}

inline std::string temp_folder(const std::string& name) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  return std::string(temp) + name + "\\";
}

inline int row_of(const std::string& name) {
  for (int i = 0; i < gadget_count_items(FILE_LIST); ++i)
    if (gadget_get_item_text(FILE_LIST, i, 0) == name) return i;
  return -1;
}

// Selects exactly these rows of the file list, as clicks with Ctrl held would.
inline void select_rows(std::initializer_list<const char*> names) {
  LVITEMA none = {};
  none.stateMask = LVIS_SELECTED;
  SendMessageA(gadget_handle(FILE_LIST), LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
  for (const char* name : names) {
    LVITEMA item = {};
    item.state = item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(gadget_handle(FILE_LIST), LVM_SETITEMSTATE, static_cast<WPARAM>(row_of(name)),
                 reinterpret_cast<LPARAM>(&item));
  }
}

// Timer ticks also reach the index walk's event polling: steps meant for the archive loop wait
// until the list shows the mirror root.
inline bool archive_on_view() { return gadget_get_text(FILE_LIST) == shell.operation.temp_root; }

inline void exit_menu() { queue_event(EVENT_MENU, MENU_EXIT, 0, EVENT_TYPE_NONE); }

inline void press(int gadget, int window) { queue_event(EVENT_GADGET, gadget, window, EVENT_TYPE_LEFT_CLICK); }

// A step that waits for a message box with this title, keeps its text and presses OK.
inline std::function<void()> answer_box(const char* title, std::string* text) {
  return [title, text] {
    HWND box = FindWindowA("#32770", title);
    if (!box) return retry_step();
    char buffer[1024] = {};
    // The box can be found before its text is set: wait for the text.
    if (GetDlgItemTextA(box, 0xFFFF, buffer, sizeof(buffer)) == 0) return retry_step();
    *text = buffer;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  };
}

}  // namespace scripted
