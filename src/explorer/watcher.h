// Directory change watcher: one background thread for the process that waits on change
// notifications of the folders on view and posts WM_VANTOR_REFRESH to the list's parent.
// The thread never touches a window; all re-listing happens on the main thread.
#pragma once
#include <windows.h>

#include <string>

// Started once, by the first explorer list or folder tree.
void watcher_start();
// Watches folder (not its sub-folders) for the list, replacing the list's earlier watch; a folder
// that cannot be watched leaves the earlier watch in place.
void watch_folder(HWND list, const std::string& folder);
// Drops the list's watch: the list went to the drive level or is being destroyed.
void stop_watching(HWND list);
