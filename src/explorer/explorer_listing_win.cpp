// Listing, sorting and activation of the explorer list. Every listing deletes and re-inserts all
// items; critical errors (a drive that is not ready) fail silently while a folder is read.
#include <windows.h>
#include <commctrl.h>

#include "explorer/explorer_list_state.h"
#include "explorer/explorer_shared_win.h"
#include "explorer/watcher.h"
#include "runtime/find_entries_win.h"
#include "ui/events.h"

namespace {

// What the cells of one new item are made from.
struct ListedEntry {
  int kind = ENTRY_FILE;
  std::string name;
  int icon = 0;
  const WIN32_FIND_DATAW* found = nullptr;  // files and folders only
  const char* type_name = "";
};

bool is_time_column(int kind) {
  return kind == COLUMN_CREATED || kind == COLUMN_MODIFIED || kind == COLUMN_ACCESSED;
}

const FILETIME& column_time(const WIN32_FIND_DATAW& f, int column_kind) {
  if (column_kind == COLUMN_CREATED) return f.ftCreationTime;
  if (column_kind == COLUMN_ACCESSED) return f.ftLastAccessTime;
  return f.ftLastWriteTime;
}

std::string cell_for(int column_kind, const ListedEntry& e) {
  if (column_kind == COLUMN_NAME) return e.name;
  if (!e.found) return std::string();
  bool file = e.kind == ENTRY_FILE;
  switch (column_kind) {
    case COLUMN_SIZE:
      return file ? size_cell((static_cast<uint64_t>(e.found->nFileSizeHigh) << 32) | e.found->nFileSizeLow)
                  : std::string();
    case COLUMN_TYPE:
      return file ? std::string(e.type_name) : std::string();
    case COLUMN_ATTRIBUTES:
      return attribute_letters(e.found->dwFileAttributes);
    case COLUMN_CREATED:
    case COLUMN_MODIFIED:
    case COLUMN_ACCESSED:
      return time_cell(column_time(*e.found, column_kind));
    default:
      return std::string();
  }
}

void append_item(ExplorerList& l, int index, const ListedEntry& e) {
  std::string first = l.column_kinds.empty() ? e.name : cell_for(l.column_kinds[0], e);
  LVITEMA item = {};
  item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
  item.iItem = index;
  item.iImage = e.icon;
  item.lParam = static_cast<LPARAM>(item_value(index, e.kind));
  item.pszText = &first[0];
  int at = static_cast<int>(SendMessageA(l.list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
  if (at < 0) return;
  for (size_t column = 1; column < l.column_kinds.size(); ++column) {
    std::string text = cell_for(l.column_kinds[column], e);
    if (text.empty()) continue;
    LVITEMA cell = {};
    cell.iSubItem = static_cast<int>(column);
    cell.pszText = &text[0];
    SendMessageA(l.list, LVM_SETITEMTEXTA, at, reinterpret_cast<LPARAM>(&cell));
  }
}

void list_folder(ExplorerList& l, int& count) {
  const ExplorerShared& s = explorer_shared();
  ListedEntry e;
  if (!(l.flags & LIST_NO_PARENT)) {
    e.kind = parent_entry_kind(l.path, s.my_documents.path, s.my_documents.present, l.flags);
    e.name = "..";
    e.icon = s.folder_icon;
    append_item(l, count++, e);
  }
  if (!(l.flags & LIST_NO_FOLDERS)) {
    find_entries(l.path + "*.*", [&](const FoundEntry& f) {
      if (!f.is_folder() || f.is_dots()) return true;
      ListedEntry folder;
      folder.kind = ENTRY_FOLDER;
      folder.name = f.name;
      folder.icon = s.folder_icon;
      folder.found = &f.data;
      append_item(l, count++, folder);
      return true;
    });
  }
  if (l.flags & LIST_NO_FILES) return;
  FileTypeLock lock;
  for (const std::string& part : pattern_parts(l.pattern)) {
    find_entries(l.path + part, [&](const FoundEntry& f) {
      if (f.is_folder()) return true;
      FileType type = file_type_of(l.path + f.name);
      ListedEntry file;
      file.kind = ENTRY_FILE;
      file.name = f.name;
      file.icon = type.icon;
      file.type_name = type.type_name;
      file.found = &f.data;
      append_item(l, count++, file);
      return true;
    });
  }
}

void list_drives(ExplorerList& l, int& count) {
  if (l.flags & LIST_NO_FOLDERS) return;
  const ExplorerShared& s = explorer_shared();
  DWORD mask = GetLogicalDrives();
  for (int n = 0; n <= ENTRY_LAST_DRIVE; ++n) {
    if (!(mask & (1u << n))) continue;
    std::string root = std::string(1, static_cast<char>('A' + n)) + ":\\";
    ListedEntry drive;
    drive.kind = n;
    if (!shell_display_info(root, &drive.name, &drive.icon) || drive.name.empty()) drive.name = root;
    append_item(l, count++, drive);
  }
  if (s.my_documents.present && !(l.flags & LIST_NO_MY_DOCUMENTS)) {
    ListedEntry docs;
    docs.kind = ENTRY_MY_DOCUMENTS;
    docs.name = s.my_documents.name;
    docs.icon = s.my_documents.icon;
    append_item(l, count++, docs);
  }
}

void fill(ExplorerList& l) {
  SendMessageA(l.list, WM_SETREDRAW, FALSE, 0);
  SendMessageA(l.list, LVM_DELETEALLITEMS, 0, 0);
  int count = 0;
  if (l.path.empty()) {
    list_drives(l, count);
  } else {
    list_folder(l, count);
  }
  list_sort(l);
  SendMessageA(l.list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(l.list, nullptr, TRUE);
}

int find_column(const ExplorerList& l, int kind) {
  for (size_t i = 0; i < l.column_kinds.size(); ++i)
    if (l.column_kinds[i] == kind) return static_cast<int>(i);
  return -1;
}

std::string item_name(const ExplorerList& l, int item) {
  int column = find_column(l, COLUMN_NAME);
  return list_cell(l, item, column < 0 ? 0 : column);
}

// File time of the column's kind, read again from the disk.
uint64_t disk_time(const std::string& path, int column_kind) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  const FILETIME& t = column_kind == COLUMN_CREATED    ? data.ftCreationTime
                      : column_kind == COLUMN_ACCESSED ? data.ftLastAccessTime
                                                       : data.ftLastWriteTime;
  return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

struct SortContext {
  const std::vector<SortRecord>* records;
  int column_kind;
  int direction;
  bool drive_level;
};

int CALLBACK compare_items(LPARAM a, LPARAM b, LPARAM context) {
  const SortContext& c = *reinterpret_cast<const SortContext*>(context);
  const SortRecord& first = (*c.records)[static_cast<size_t>(item_value_ordinal(a))];
  const SortRecord& second = (*c.records)[static_cast<size_t>(item_value_ordinal(b))];
  return compare_sort_records(first, second, c.column_kind, c.direction, c.drive_level);
}

SortRecord sort_record(const ExplorerList& l, int item, int column, int column_kind) {
  SortRecord r;
  r.kind = list_item_kind(l, item);
  if (column_kind == COLUMN_SIZE) {
    r.value = size_sort_value(list_cell(l, item, column));
  } else if (is_time_column(column_kind)) {
    if (!l.path.empty() && !is_drive_entry(r.kind) && !is_parent_entry(r.kind))
      r.value = disk_time(l.path + item_name(l, item), column_kind);
  } else {
    r.text = list_cell(l, item, column);
  }
  return r;
}

}  // namespace

// Local short date and time without seconds, with the locale's system settings.
std::string time_cell(const FILETIME& utc) {
  FILETIME local;
  SYSTEMTIME st;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return std::string();
  char date[80] = "", time[80] = "";
  GetDateFormatA(LOCALE_USER_DEFAULT, LOCALE_NOUSEROVERRIDE | DATE_SHORTDATE, &st, nullptr, date, sizeof date);
  GetTimeFormatA(LOCALE_USER_DEFAULT, LOCALE_NOUSEROVERRIDE | TIME_NOSECONDS, &st, nullptr, time, sizeof time);
  return std::string(date) + " " + time;
}

int list_item_kind(const ExplorerList& l, int item) {
  long long value = list_item_value(l, item);
  return value < 0 ? -1 : item_value_kind(value);
}

long long list_item_value(const ExplorerList& l, int item) {
  LVITEMA it = {};
  it.mask = LVIF_PARAM;
  it.iItem = item;
  if (!SendMessageA(l.list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&it))) return -1;
  return it.lParam;
}

std::string list_cell(const ExplorerList& l, int item, int column) {
  char buffer[LIST_TEXT_BYTES] = "";
  LVITEMA it = {};
  it.iSubItem = column;
  it.pszText = buffer;
  it.cchTextMax = sizeof buffer;
  SendMessageA(l.list, LVM_GETITEMTEXTA, item, reinterpret_cast<LPARAM>(&it));
  return buffer;
}

void list_navigate(ExplorerList& l, const std::string& text) {
  UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS);
  if (split_location(text, &l.path, &l.pattern)) {
    if (l.path.empty()) {
      stop_watching(l.list);
    } else {
      watch_folder(l.list, l.path);
    }
    fill(l);
  }
  SetErrorMode(old_mode);
}

void list_sort(ExplorerList& l) {
  if (l.sort_direction == 0 || l.sort_column < 0 || l.sort_column >= static_cast<int>(l.column_kinds.size()))
    return;
  int column_kind = l.column_kinds[static_cast<size_t>(l.sort_column)];
  if (is_time_column(column_kind) && find_column(l, COLUMN_NAME) < 0) return;
  int count = static_cast<int>(SendMessageA(l.list, LVM_GETITEMCOUNT, 0, 0));
  std::vector<SortRecord> records(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    int ordinal = item_value_ordinal(list_item_value(l, i));
    if (ordinal < 0 || ordinal >= count) return;  // not one of our listings
    records[static_cast<size_t>(ordinal)] = sort_record(l, i, l.sort_column, column_kind);
  }
  SortContext context = {&records, column_kind, l.sort_direction, l.path.empty()};
  SendMessageA(l.list, LVM_SORTITEMS, reinterpret_cast<WPARAM>(&context), reinterpret_cast<LPARAM>(compare_items));
}

namespace {

void enter_drive(ExplorerList& l, int drive) {
  std::string root = std::string(1, static_cast<char>('A' + drive)) + ":\\";
  UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS);
  ULARGE_INTEGER available, total, free_bytes;
  bool ready = GetDiskFreeSpaceExA(root.c_str(), &available, &total, &free_bytes) ||
               GetLastError() != ERROR_NOT_READY;
  SetErrorMode(old_mode);
  if (ready || (l.flags & LIST_ENTER_UNREADY_DRIVES)) {
    list_navigate(l, root);
  } else {
    drive_requester_open(l.requester, l.list, drive);
  }
}

}  // namespace

int list_activate(ExplorerList& l) {
  if (l.flags & LIST_NO_NAVIGATION) return EVENT_TYPE_LEFT_DOUBLE_CLICK;
  int item = static_cast<int>(SendMessageA(l.list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  if (item < 0) return EVENT_TYPE_CHANGE;
  int kind = list_item_kind(l, item);
  switch (kind) {
    case ENTRY_FILE:
      return EVENT_TYPE_LEFT_DOUBLE_CLICK;
    case ENTRY_PARENT_TO_DRIVES:
      list_navigate(l, "");
      break;
    case ENTRY_PARENT:
      list_navigate(l, parent_of_path(l.path));
      break;
    case ENTRY_FOLDER:
      list_navigate(l, l.path + item_name(l, item) + "\\");
      break;
    case ENTRY_MY_DOCUMENTS:
      list_navigate(l, explorer_shared().my_documents.path);
      break;
    default:
      if (is_drive_entry(kind)) enter_drive(l, kind);
      break;
  }
  return EVENT_TYPE_CHANGE;
}
