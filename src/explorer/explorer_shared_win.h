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

// The drive requester of the list and the tree: a modeless dialog asking for a disk in drive,
// owned by control's top-level window, with proc as its procedure and control as its parameter.
// *icon receives the drive icon it shows; the caller destroys it when the dialog goes.
HWND drive_requester_dialog(HWND control, int drive, DLGPROC proc, HICON* icon);

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
