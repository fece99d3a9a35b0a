#include "explorer/explorer_shared_win.h"

#include <shlobj.h>
#include <shellapi.h>

#include "explorer/list_cells.h"
#include "explorer/watcher.h"

namespace {

const char* const MY_DOCUMENTS_CLASS = "::{450d8fba-ad25-11d0-98a8-0800361b1103}";

// Header titles in the shell's own string table, so they follow the system's language.
const struct {
  int kind;
  UINT string_id;
} TITLE_IDS[] = {{COLUMN_NAME, 8976},     {COLUMN_SIZE, 8978},    {COLUMN_TYPE, 8979},
                 {COLUMN_ATTRIBUTES, 8987}, {COLUMN_CREATED, 8996}, {COLUMN_MODIFIED, 8980},
                 {COLUMN_ACCESSED, 8997}};

CRITICAL_SECTION type_lock;
FileTypeCache* type_cache = nullptr;

void load_titles(ExplorerShared& s) {
  HMODULE shell32 = GetModuleHandleA("shell32.dll");
  for (const auto& t : TITLE_IDS) {
    char buffer[LIST_TEXT_LIMIT] = "";
    if (shell32 && LoadStringA(shell32, t.string_id, buffer, sizeof buffer) > 0) {
      s.column_titles[t.kind] = buffer;
    } else {
      s.column_titles[t.kind] = column_fallback_title(t.kind);
    }
  }
}

// Icon and name by the folder's item identifier, then its class identifier, then its path.
bool item_info(LPCSTR item, UINT extra, SHFILEINFOA* info, UINT what) {
  return SHGetFileInfoA(item, 0, info, sizeof *info, what | extra) != 0;
}

void load_my_documents(SpecialFolder& folder) {
  LPITEMIDLIST pidl = nullptr;
  char path[MAX_PATH] = "";
  if (SHGetSpecialFolderLocation(nullptr, CSIDL_PERSONAL, &pidl) != S_OK) pidl = nullptr;
  if (pidl && SHGetPathFromIDListA(pidl, path) && path[0]) folder.path = path;
  if (!folder.path.empty() && folder.path.back() != '\\') folder.path += '\\';
  folder.name = "My Documents";
  bool have_icon = false, have_name = false;
  LPCSTR sources[3] = {reinterpret_cast<LPCSTR>(pidl), MY_DOCUMENTS_CLASS, path};
  UINT extras[3] = {SHGFI_PIDL, 0, 0};
  for (int i = 0; i < 3 && (!have_icon || !have_name); ++i) {
    if (!sources[i] || (i == 2 && !path[0])) continue;
    SHFILEINFOA info = {};
    if (!have_icon && item_info(sources[i], extras[i], &info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON)) {
      folder.icon = info.iIcon;
      have_icon = true;
    }
    if (!have_name && item_info(sources[i], extras[i], &info, SHGFI_DISPLAYNAME) && info.szDisplayName[0]) {
      folder.name = info.szDisplayName;
      have_name = true;
    }
  }
  folder.present = (have_icon || have_name) && !folder.path.empty();
  if (pidl) CoTaskMemFree(pidl);
}

ExplorerShared* setup_shared() {
  ExplorerShared* s = new ExplorerShared;
  char windows_dir[MAX_PATH] = "C:\\Windows";
  GetWindowsDirectoryA(windows_dir, sizeof windows_dir);
  SHFILEINFOA info = {};
  s->small_images = reinterpret_cast<HIMAGELIST>(
      SHGetFileInfoA(windows_dir, 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
  s->folder_icon = info.iIcon;
  s->large_images = reinterpret_cast<HIMAGELIST>(
      SHGetFileInfoA(windows_dir, 0, &info, sizeof info, SHGFI_SYSICONINDEX | SHGFI_LARGEICON));
  load_my_documents(s->my_documents);
  load_titles(*s);
  return s;
}

}  // namespace

ExplorerShared& explorer_shared() {
  static ExplorerShared* shared = setup_shared();
  return *shared;
}

bool shell_display_info(const std::string& path, std::string* name, int* icon) {
  SHFILEINFOA info = {};
  if (!SHGetFileInfoA(path.c_str(), 0, &info, sizeof info,
                      SHGFI_DISPLAYNAME | SHGFI_SYSICONINDEX | SHGFI_SMALLICON))
    return false;
  *name = info.szDisplayName;
  *icon = info.iIcon;
  return true;
}

void explorer_types_setup() {
  if (type_cache) return;
  InitializeCriticalSection(&type_lock);
  type_cache = new FileTypeCache;
  watcher_start();
}

FileTypeLock::FileTypeLock() { EnterCriticalSection(&type_lock); }
FileTypeLock::~FileTypeLock() { LeaveCriticalSection(&type_lock); }

FileType file_type_of(const std::string& full_path) {
  static std::string uncached_name;
  SHFILEINFOA info = {};
  std::string key;
  FileType type;
  if (!file_type_key(full_path, &key)) {
    SHGetFileInfoA(full_path.c_str(), 0, &info, sizeof info,
                   SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_TYPENAME);
    uncached_name = info.szTypeName;
    type.icon = info.iIcon;
    type.type_name = uncached_name.c_str();
    return type;
  }
  const FileTypeRecord* record = type_cache->find(key);
  if (!record) {
    SHGetFileInfoA(full_path.c_str(), 0, &info, sizeof info,
                   SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_TYPENAME);
    record = &type_cache->add(key, info.szTypeName, info.iIcon);
  }
  type.icon = record->icon;
  type.type_name = type_cache->type_name(*record);
  return type;
}
