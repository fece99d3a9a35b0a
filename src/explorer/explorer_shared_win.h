// Process-wide data of the explorer views (list, location combo, folder tree): the system image
// lists, the folder icon, My Documents, the header titles and the file type cache with its lock.
// Set up once, on the main thread, and never freed.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>

struct SpecialFolder {
  std::string path;  // ends with "\"
  std::string name;  // display name
  int icon = 0;
  bool present = false;
};

struct ExplorerShared {
  HIMAGELIST small_images = nullptr;  // the system's; shared, never destroyed
  HIMAGELIST large_images = nullptr;
  int folder_icon = 0;
  SpecialFolder my_documents;
  std::string column_titles[9];  // by column kind; empty for custom columns
  bool default_colors_known = false;
  COLORREF default_text = 0;
  COLORREF default_background = 0;
};

// Sets the data up on first use.
ExplorerShared& explorer_shared();

// Display name and small icon the shell gives a file, folder or drive root.
bool shell_display_info(const std::string& path, std::string* name, int* icon);

// The drive requester of a list or a tree: a modeless dialog asking for a disk in a drive that is
// not ready, owned by the control's top-level window; the control is disabled while it is open.
struct DriveRequester {
  HWND dialog = nullptr;
  HWND control = nullptr;
  int drive = -1;
  HICON icon = nullptr;  // the drive icon it shows, destroyed with the dialog
};
void drive_requester_open(DriveRequester& r, HWND control, int drive);
void drive_requester_close(DriveRequester& r);

// Whether a drive (0 = A) is in a unit mask.
bool drive_in(int drive, DWORD units);

// Volume arrivals and removals, received by subclassing the top-level window of the first control
// that asks; every registered handler hears each one with the drives concerned.
using VolumeHandler = void (*)(bool arrived, DWORD units);
void watch_volume_changes(HWND control, VolumeHandler handler);

// Sets up the file type cache and starts the directory watcher, once for whichever of a list or a
// folder tree comes first.
void explorer_types_setup();

struct FileType {
  int icon = 0;
  const char* type_name = "";  // valid while the cache lock is held
};

// Holds the file type cache's lock for a whole file pass.
class FileTypeLock {
 public:
  FileTypeLock();
  ~FileTypeLock();
  FileTypeLock(const FileTypeLock&) = delete;
  FileTypeLock& operator=(const FileTypeLock&) = delete;
};

// Type name and icon of a file, from the cache or the shell. Call with a FileTypeLock held.
FileType file_type_of(const std::string& full_path);

// A file time as the list shows it: local short date and time without seconds, with the
// locale's system settings; "" when it cannot be converted.
std::string time_cell(const FILETIME& utc);
