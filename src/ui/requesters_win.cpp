// Modal requesters: message boxes and the open-file dialog. While one is open every other window
// of the thread is disabled, so the program's own loops cannot be re-entered through them.
#include "format/utf8_text.h"
#include "ui/note.h"
#include "ui/requester_text.h"
#include "ui/ui.h"

#include <cderr.h>
#include <commdlg.h>

#include <vector>

namespace {

struct DisabledWindow {
  HWND hwnd;
  bool was_topmost;
};

BOOL CALLBACK collect_window(HWND hwnd, LPARAM lp) {
  auto* list = reinterpret_cast<std::vector<DisabledWindow>*>(lp);
  if (hwnd == GetForegroundWindow() || !IsWindowVisible(hwnd) || !IsWindowEnabled(hwnd)) return TRUE;
  bool topmost = (GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
  list->push_back({hwnd, topmost});
  return TRUE;
}

class ModalGuard {
 public:
  ModalGuard() {
    EnumThreadWindows(GetCurrentThreadId(), collect_window, reinterpret_cast<LPARAM>(&windows_));
    for (const DisabledWindow& w : windows_) {
      EnableWindow(w.hwnd, FALSE);
      if (w.was_topmost) SetWindowPos(w.hwnd, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
  }
  ~ModalGuard() {
    for (const DisabledWindow& w : windows_) {
      if (!IsWindow(w.hwnd)) continue;
      EnableWindow(w.hwnd, TRUE);
      if (w.was_topmost) SetWindowPos(w.hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
  }
  ModalGuard(const ModalGuard&) = delete;
  ModalGuard& operator=(const ModalGuard&) = delete;

 private:
  std::vector<DisabledWindow> windows_;
};

HWND requester_owner() {
  HWND foreground = GetForegroundWindow();
  DWORD pid = 0;
  if (foreground) GetWindowThreadProcessId(foreground, &pid);
  return pid == GetCurrentProcessId() ? foreground : nullptr;
}

int remembered_filter = 0;

}  // namespace

int message_box(const std::string& title, const std::string& text, unsigned flags) {
  HWND owner = requester_owner();
  ModalGuard guard;
  return MessageBoxA(owner, text.c_str(), title.c_str(), flags);
}

void show_note(const Note& note) { message_box(note.title, note.text, note.flags); }

std::string open_file_requester(const std::string& title, const std::string& default_path,
                                const std::string& pattern, int pattern_index) {
  RequesterStart start = split_requester_path(default_path);
  std::string filter = requester_filter(pattern);
  char result[260] = {};
  start.file_name.copy(result, utf8_cut(start.file_name, sizeof(result) - 1));

  OPENFILENAMEA ofn = {};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = requester_owner();
  ofn.lpstrFilter = filter.empty() ? nullptr : filter.c_str();
  ofn.nFilterIndex = static_cast<DWORD>(pattern_index + 1);
  ofn.lpstrFile = result;
  ofn.nMaxFile = sizeof(result);
  ofn.lpstrInitialDir = start.folder.empty() ? nullptr : start.folder.c_str();
  ofn.lpstrTitle = title.c_str();
  ofn.Flags = 0x8080C;  // explorer style, path must exist, keep the current directory, no read-only box
  ModalGuard guard;
  if (!GetOpenFileNameA(&ofn)) {
    if (CommDlgExtendedError() == FNERR_BUFFERTOOSMALL)
      message_box("Note:", "The chosen path is longer than 259 bytes (a letter outside English takes two to four); "
                  "it cannot be opened.", MB_ICONWARNING);
    return std::string();
  }
  remembered_filter = static_cast<int>(ofn.nFilterIndex) - 1;
  return result;
}
