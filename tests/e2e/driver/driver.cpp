// vantor_e2e_driver: looks at and pokes the windows of a running WinVantor.exe from a second
// process under the same wineserver, the way an accessibility tool would. One command per run;
// it prints what it sees on stdout and exits 0 when the thing asked for was there, 1 when not.
//
// Windows are named by their title; "#box:<title>" names a message box ("#32770" dialog).
// Controls are named by their control id, which is the gadget number.
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A name that starts with "~" matches any text that contains the rest: the drives' shown names
// carry a volume label that differs between machines.
bool matches(const std::string& text, const std::string& name) {
  if (!name.empty() && name[0] == '~') return text.find(name.substr(1)) != std::string::npos;
  return text == name;
}

HWND find_top(const std::string& name) {
  if (name.rfind("#box:", 0) == 0) return FindWindowA("#32770", name.substr(5).c_str());
  HWND w = FindWindowA(nullptr, name.c_str());
  return (w && IsWindowVisible(w)) ? w : nullptr;
}

// Waits up to `ms` for a visible top-level window; every wait in the driver is bounded.
HWND wait_top(const std::string& name, int ms) {
  for (int waited = 0;; waited += 50) {
    if (HWND w = find_top(name)) return w;
    if (waited >= ms) return nullptr;
    Sleep(50);
  }
}

struct ControlSearch {
  int id;
  HWND found;
};

// Enumeration callbacks are stdcall: a plain lambda has the wrong convention on i686.
BOOL CALLBACK find_control(HWND child, LPARAM lp) {
  ControlSearch* s = reinterpret_cast<ControlSearch*>(lp);
  if (GetDlgCtrlID(child) != s->id || GetParent(child) == nullptr) return TRUE;
  s->found = child;
  return FALSE;
}

struct WindowSearch {
  std::string cls, part, title;
};

BOOL CALLBACK find_window(HWND w, LPARAM lp) {
  WindowSearch* s = reinterpret_cast<WindowSearch*>(lp);
  char cls[256] = "", title[1024] = "";
  GetClassNameA(w, cls, sizeof cls);
  GetWindowTextA(w, title, sizeof title);
  if (s->cls != cls || !std::strstr(title, s->part.c_str())) return TRUE;
  s->title = title;
  return FALSE;
}

HWND control(HWND top, int id) {
  ControlSearch search = {id, nullptr};
  EnumChildWindows(top, find_control, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string window_text(HWND w) {
  char buffer[4096] = "";
  SendMessageA(w, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

// Memory inside the program's process: list and tree messages carry pointers, which Windows does
// not carry across processes for these controls.
class Remote {
 public:
  Remote(HWND w, size_t size) : size_(size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_) base_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  ~Remote() {
    if (base_) VirtualFreeEx(process_, base_, 0, MEM_RELEASE);
    if (process_) CloseHandle(process_);
  }
  bool ok() const { return base_ != nullptr; }
  char* at(size_t offset) const { return static_cast<char*>(base_) + offset; }
  LPARAM param(size_t offset = 0) const { return reinterpret_cast<LPARAM>(at(offset)); }
  void put(size_t offset, const void* data, size_t n) const {
    WriteProcessMemory(process_, at(offset), data, n, nullptr);
  }
  void get(size_t offset, void* data, size_t n) const { ReadProcessMemory(process_, at(offset), data, n, nullptr); }

 private:
  HANDLE process_ = nullptr;
  void* base_ = nullptr;
  size_t size_;
};

constexpr size_t TEXT_AT = 512, TEXT_MAX = 1024;

std::string list_cell(HWND list, const Remote& r, int row, int column) {
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = r.at(TEXT_AT);
  item.cchTextMax = TEXT_MAX;
  r.put(0, &item, sizeof item);
  SendMessageA(list, LVM_GETITEMTEXTA, row, r.param());
  char text[TEXT_MAX] = "";
  r.get(TEXT_AT, text, sizeof text - 1);
  return text;
}

int list_rows(HWND list) { return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); }

int list_row_of(HWND list, const Remote& r, const std::string& name) {
  for (int row = 0, n = list_rows(list); row < n; ++row)
    if (matches(list_cell(list, r, row, 0), name)) return row;
  return -1;
}

void print_center(HWND w, RECT rect) {
  POINT center = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
  ClientToScreen(w, &center);
  std::printf("%ld %ld\n", center.x, center.y);
}

std::string tree_label(HWND tree, const Remote& r, HTREEITEM node) {
  TVITEMA item = {};
  item.mask = TVIF_TEXT;
  item.hItem = node;
  item.pszText = r.at(TEXT_AT);
  item.cchTextMax = TEXT_MAX;
  r.put(0, &item, sizeof item);
  SendMessageA(tree, TVM_GETITEMA, 0, r.param());
  char text[TEXT_MAX] = "";
  r.get(TEXT_AT, text, sizeof text - 1);
  return text;
}

HTREEITEM tree_next(HWND tree, HTREEITEM node, UINT how) {
  return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(node)));
}

void tree_dump(HWND tree, const Remote& r, HTREEITEM node, int depth, HTREEITEM selected) {
  for (; node; node = tree_next(tree, node, TVGN_NEXT)) {
    UINT state = static_cast<UINT>(SendMessageA(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(node), TVIS_EXPANDED));
    std::printf("%*s%s%s%s\n", depth * 2, "", node == selected ? "* " : "", tree_label(tree, r, node).c_str(),
                (state & TVIS_EXPANDED) ? " [open]" : "");
    if (state & TVIS_EXPANDED) tree_dump(tree, r, tree_next(tree, node, TVGN_CHILD), depth + 1, selected);
  }
}

// The node reached by following labels from the roots; only opened nodes are looked into.
HTREEITEM tree_find(HWND tree, const Remote& r, const std::vector<std::string>& labels) {
  HTREEITEM node = tree_next(tree, nullptr, TVGN_ROOT);
  HTREEITEM found = nullptr;
  for (const std::string& label : labels) {
    for (found = nullptr; node; node = tree_next(tree, node, TVGN_NEXT))
      if (matches(tree_label(tree, r, node), label)) {
        found = node;
        break;
      }
    if (!found) return nullptr;
    node = tree_next(tree, found, TVGN_CHILD);
  }
  return found;
}

int fail(const char* what, const std::string& detail) {
  std::printf("%s: %s\n", what, detail.c_str());
  return 1;
}

// Runs a static shell verb as Explorer does: the default value of the key's "command" with every
// "%1" replaced by the item's full path, started in the item's folder. Prints the command line and
// "exit <code>"; fails when there is no command or the process outlives `ms`.
int run_verb(const std::string& key, const std::string& path, int ms) {
  char value[4096];
  DWORD size = sizeof value;
  if (RegGetValueA(HKEY_CURRENT_USER, (key + "\\command").c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) !=
      ERROR_SUCCESS)
    return fail("no command under", key);
  std::string line = value;
  for (size_t at = line.find("%1"); at != std::string::npos; at = line.find("%1", at + path.size()))
    line.replace(at, 2, path);
  std::string folder = path.substr(0, path.find_last_of('\\'));
  std::vector<char> writable(line.begin(), line.end());
  writable.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup, &process))
    return fail("cannot start", line);
  CloseHandle(process.hThread);
  std::printf("%s\n", line.c_str());
  DWORD waited = WaitForSingleObject(process.hProcess, static_cast<DWORD>(ms));
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  if (waited != WAIT_OBJECT_0) return fail("still running after ms", std::to_string(ms));
  std::printf("exit %lu\n", static_cast<unsigned long>(code));
  return 0;
}

int run(const std::vector<std::string>& a) {
  const std::string& command = a[0];
  auto arg = [&](size_t i) -> std::string { return i < a.size() ? a[i] : std::string(); };
  auto number = [&](size_t i, int fallback) { return i < a.size() ? std::atoi(a[i].c_str()) : fallback; };

  if (command == "temp") {  // the user's temporary folder as the program sees it
    char temp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, temp);
    char longer[MAX_PATH] = "";
    GetLongPathNameA(temp, longer, MAX_PATH);
    std::printf("%s\n", longer[0] ? longer : temp);
    return 0;
  }
  if (command == "wait") {  // wait <window> [ms]
    return wait_top(arg(1), number(2, 10000)) ? 0 : fail("no window", arg(1));
  }
  if (command == "gone") {  // gone <window> [ms]: waits until the window has closed
    for (int waited = 0, ms = number(2, 10000); find_top(arg(1)); waited += 50) {
      if (waited >= ms) return fail("still open", arg(1));
      Sleep(50);
    }
    return 0;
  }
  if (command == "find") {  // find <class> <title part> [ms]: a top-level window of another program
    for (int waited = 0, ms = number(3, 10000);; waited += 100) {
      WindowSearch search = {arg(1), arg(2), ""};
      EnumWindows(find_window, reinterpret_cast<LPARAM>(&search));
      if (!search.title.empty()) {
        std::printf("%s\n", search.title.c_str());
        return 0;
      }
      if (waited >= ms) return fail("no window of class", arg(1) + " titled *" + arg(2) + "*");
      Sleep(100);
    }
  }
  if (command == "process") {  // process <exe name>: succeeds while a process of that name runs
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry))
      found = lstrcmpiA(entry.szExeFile, arg(1).c_str()) == 0;
    CloseHandle(snapshot);
    return found ? 0 : fail("no process", arg(1));
  }
  if (command == "verb") {  // verb <key under HKCU> <path> [ms]: runs a registered verb on the path
    return run_verb(arg(1), arg(2), number(3, 60000));
  }
  if (command == "close") {  // close <class> <title>
    HWND w = FindWindowA(arg(1).c_str(), arg(2).c_str());
    if (!w) return fail("no window", arg(2));
    PostMessageA(w, WM_CLOSE, 0, 0);
    return 0;
  }

  HWND top = wait_top(arg(1), 10000);
  if (!top) return fail("no window", arg(1));

  if (command == "box") {  // box <#box:title>: the one line of text a message box shows
    std::printf("%s\n", window_text(control(top, 0xFFFF)).c_str());
    return 0;
  }
  if (command == "ok") {  // ok <#box:title>: presses the box's OK button
    PostMessageA(top, WM_COMMAND, IDOK, 0);
    return 0;
  }
  if (command == "menu") {  // menu <window> <item>
    PostMessageA(top, WM_COMMAND, MAKEWPARAM(number(2, 0), 0), 0);
    return 0;
  }
  if (command == "foreground") {  // foreground <window> [ms]: waits until it is the active window
    for (int waited = 0, ms = number(2, 10000); GetForegroundWindow() != top; waited += 50) {
      if (waited >= ms) return fail("not in the foreground", arg(1));
      Sleep(50);
    }
    return 0;
  }
  if (command == "answers") {  // answers <window>: milliseconds the window took to answer a message
    DWORD start = GetTickCount();
    DWORD_PTR reply = 0;
    if (!SendMessageTimeoutA(top, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &reply)) return fail("no answer", arg(1));
    std::printf("%lu\n", static_cast<unsigned long>(GetTickCount() - start));
    return 0;
  }
  if (command == "enabled") {  // enabled <window>: 1 or 0
    std::printf("%d\n", IsWindowEnabled(top) ? 1 : 0);
    return 0;
  }

  HWND c = control(top, number(2, -1));
  if (!c) return fail("no control", arg(1) + " #" + arg(2));

  if (command == "text") {  // text <window> <id>
    std::printf("%s\n", window_text(c).c_str());
    return 0;
  }
  if (command == "set-text") {  // set-text <window> <id> <text>: typed into a field at once
    SendMessageA(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(arg(3).c_str()));
    // Posted: a notice sent from another thread arrives outside the program's own dispatch.
    PostMessageA(top, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(c), EN_CHANGE), reinterpret_cast<LPARAM>(c));
    return 0;
  }
  if (command == "checked") {  // checked <window> <id>: 1 or 0
    std::printf("%d\n", static_cast<int>(SendMessageA(c, BM_GETCHECK, 0, 0)));
    return 0;
  }
  if (command == "position") {  // position <window> <id>: a slider's position
    std::printf("%d\n", static_cast<int>(SendMessageA(c, TBM_GETPOS, 0, 0)));
    return 0;
  }
  if (command == "bar") {  // bar <window> <id>: a progress bar's position
    std::printf("%d\n", static_cast<int>(SendMessageA(c, PBM_GETPOS, 0, 0)));
    return 0;
  }
  if (command == "press") {  // press <window> <id>: a button pressed without the mouse
    PostMessageA(c, BM_CLICK, 0, 0);
    return 0;
  }
  if (command == "center") {  // center <window> <id>: screen point in the middle of a control
    RECT r;
    GetClientRect(c, &r);
    print_center(c, r);
    return 0;
  }

  Remote remote(c, TEXT_AT + TEXT_MAX);
  if (!remote.ok()) return fail("cannot reach the program's memory", arg(1));

  if (command == "rows") {  // rows <window> <id>: index, selected and the first three cells of every row
    for (int row = 0, n = list_rows(c); row < n; ++row) {
      bool selected = SendMessageA(c, LVM_GETITEMSTATE, row, LVIS_SELECTED) & LVIS_SELECTED;
      std::printf("%d\t%d\t%s\t%s\t%s\n", row, selected ? 1 : 0, list_cell(c, remote, row, 0).c_str(),
                  list_cell(c, remote, row, 1).c_str(), list_cell(c, remote, row, 2).c_str());
    }
    return 0;
  }
  if (command == "wait-row") {  // wait-row <window> <id> <name> [ms]: waits for a row to be listed
    for (int waited = 0, ms = number(4, 10000); list_row_of(c, remote, arg(3)) < 0; waited += 100) {
      if (waited >= ms) return fail("no row", arg(3));
      Sleep(100);
    }
    return 0;
  }
  if (command == "row-center") {  // row-center <window> <id> <name>: screen point on a row's name
    int row = list_row_of(c, remote, arg(3));
    if (row < 0) return fail("no row", arg(3));
    SendMessageA(c, LVM_ENSUREVISIBLE, row, FALSE);
    RECT rect = {};
    rect.left = LVIR_LABEL;
    remote.put(0, &rect, sizeof rect);
    SendMessageA(c, LVM_GETITEMRECT, row, remote.param());
    remote.get(0, &rect, sizeof rect);
    rect.right = rect.left + 20;  // near the start of the name, clear of the next column
    print_center(c, rect);
    return 0;
  }
  if (command == "tree") {  // tree <window> <id>: the opened part of a tree, "*" at the selection
    HTREEITEM selected = tree_next(c, nullptr, TVGN_CARET);
    tree_dump(c, remote, tree_next(c, nullptr, TVGN_ROOT), 0, selected);
    return 0;
  }
  if (command == "node-center") {  // node-center <window> <id> <label>...: screen point on a node
    HTREEITEM node = tree_find(c, remote, std::vector<std::string>(a.begin() + 3, a.end()));
    if (!node) return fail("no node", arg(a.size() - 1));
    SendMessageA(c, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(node));
    RECT rect = {};
    remote.put(0, &node, sizeof node);
    SendMessageA(c, TVM_GETITEMRECT, TRUE, remote.param());
    remote.get(0, &rect, sizeof rect);
    print_center(c, rect);
    return 0;
  }
  std::fprintf(stderr, "unknown command %s\n", command.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: vantor_e2e_driver <command> [window] [id] [args]\n");
    return 2;
  }
  _setmode(_fileno(stdout), _O_BINARY);  // plain "\n" line ends for the shell that reads us
  std::vector<std::string> args(argv + 1, argv + argc);
  int code = run(args);
  std::fflush(stdout);
  return code;
}
