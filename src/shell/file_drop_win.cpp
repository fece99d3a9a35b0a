// What each dropped name is on disk. A drop comes from another program: a name may be a link, a
// device or longer than the program's paths, and each is refused by name before anything runs.
#include <windows.h>

#include "format/path_safety.h"
#include "runtime/text.h"
#include "shell/file_drop.h"
#include "ui/ui.h"

namespace {

bool device_namespace(const std::string& path) {
  return path.rfind("\\\\.\\", 0) == 0 || path.rfind("\\\\?\\", 0) == 0 || path.rfind("\\??\\", 0) == 0;
}

// A plain file opens as a disk file; a console, pipe or serial port does not.
bool disk_file(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return true;  // the archiver says why it cannot read it
  DWORD type = GetFileType(h);
  CloseHandle(h);
  return type == FILE_TYPE_DISK;
}

DroppedKind kind_of(const DroppedName& name) {
  if (!name.exact) return DroppedKind::UNNAMEABLE;
  if (name.units > DROPPED_PATH_UNITS) return DroppedKind::TOO_LONG;
  if (device_namespace(name.path) || is_device_name(file_part(name.path))) return DroppedKind::DEVICE;
  DWORD attributes = GetFileAttributesA(name.path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return DroppedKind::MISSING;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return DroppedKind::LINK;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return DroppedKind::FOLDER;
  if ((attributes & FILE_ATTRIBUTE_DEVICE) || !disk_file(name.path)) return DroppedKind::DEVICE;
  return DroppedKind::FILE;
}

}  // namespace

std::vector<DroppedItem> take_dropped_items() {
  std::vector<DroppedItem> items;
  for (const DroppedName& name : take_dropped_files()) items.push_back({name.path, kind_of(name)});
  return items;
}
