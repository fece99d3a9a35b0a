// Files dropped from Explorer or another program onto one of our windows (WM_DROPFILES).
// The names arrive as UTF-16 and are turned into the program's code page as the "A" functions
// would; a name that does not survive the trip is marked, never used under a changed spelling.
#include "ui/ui.h"
#include "ui/ui_internal.h"

#include <shellapi.h>

namespace {

std::vector<DroppedName> dropped;

DroppedName program_text(const std::wstring& wide) {
  DroppedName name;
  name.units = wide.size();
  int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  if (n > 0) {
    name.path.resize(static_cast<size_t>(n));
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &name.path[0], n, nullptr, nullptr);
  }
  // Back through the same code page: a "?" or a best-fit letter in place of the real one shows.
  int back = MultiByteToWideChar(CP_ACP, 0, name.path.data(), static_cast<int>(name.path.size()), nullptr, 0);
  std::wstring again(static_cast<size_t>(back > 0 ? back : 0), L'\0');
  if (back > 0) MultiByteToWideChar(CP_ACP, 0, name.path.data(), static_cast<int>(name.path.size()), &again[0], back);
  name.exact = !wide.empty() && again == wide;
  return name;
}

std::vector<DroppedName> read_drop(HDROP drop) {
  std::vector<DroppedName> names;
  UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    UINT length = DragQueryFileW(drop, i, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length) + 1, L'\0');
    UINT got = DragQueryFileW(drop, i, &wide[0], length + 1);
    wide.resize(got);
    names.push_back(program_text(wide));
  }
  return names;
}

}  // namespace

void on_drop_files(HWND hwnd, int window, HDROP drop) {
  // A window kept still for a run takes no new work: the drop is refused, not kept for later.
  if (!IsWindowEnabled(hwnd)) {
    DragFinish(drop);
    MessageBeep(MB_ICONWARNING);
    return;
  }
  dropped = read_drop(drop);
  DragFinish(drop);
  queue_event(EVENT_FILES_DROPPED, 0, window, EVENT_TYPE_NONE, static_cast<intptr_t>(dropped.size()));
}

void window_accept_files(int number, int flag) {
  if (HWND hwnd = window_handle(number)) DragAcceptFiles(hwnd, flag ? TRUE : FALSE);
}

std::vector<DroppedName> take_dropped_files() {
  std::vector<DroppedName> names;
  names.swap(dropped);
  return names;
}
