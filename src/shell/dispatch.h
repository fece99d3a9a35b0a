// What each menu item and gadget means in the two loops, as plain tables over event codes.
#pragma once
#include "ui/note.h"

enum class Action {
  NONE,
  OPEN_ARCHIVE,         // requester, then open the chosen archive
  ADD_FROM_MENU,        // selection scan, then the compression window (quiet note when empty)
  ADD_FROM_BUTTON,      // the same with the warning icon on the note
  ADD_REFUSED,          // inside an archive: adding needs leaving it first
  SELECT_ALL,
  QUIT,                 // disk loop: end the program
  LEAVE_ARCHIVE,        // archive loop: back to disk browsing
  OPEN_HELP,
  LIST_EVENT,           // any event of the file list (double-click handled first)
  EXTRACT_WITHOUT_ARCHIVE,
  EXTRACT,
  SHOW_ABOUT,
  LOCATION_CHOSEN,
  PARENT_FOLDER,
  CLOSE_WINDOW,
  VERIFY,               // test the open archive, or the archives chosen on disk
  DELETE_MEMBERS,       // remove the chosen members and folders from the open archive
  FIND_FILE,            // the Find window over the list's folder
  FILES_DROPPED,        // files or folders dropped on the main window from another program
};

// Gadget and menu numbers of the main window.
constexpr int FILE_LIST = 1;
constexpr int ADD_BUTTON = 2;
constexpr int EXTRACT_BUTTON = 3;
constexpr int VERIFY_BUTTON = 4;
constexpr int DELETE_BUTTON = 5;
constexpr int INFO_BUTTON = 6;
constexpr int FIND_BUTTON = 23;
constexpr int LOCATION_COMBO = 24;
constexpr int MEMORY_TEXT = 30;
constexpr int PARENT_BUTTON = 31;
constexpr int SELECT_ALL_BUTTON = 32;

constexpr int MENU_OPEN_ARCHIVE = 1;
constexpr int MENU_ADD = 2;
constexpr int MENU_DELETE = 3;
constexpr int MENU_SELECT_ALL = 4;
constexpr int MENU_EXIT = 8;
constexpr int MENU_CONTENTS = 9;

Action disk_loop_action(int event_code, int number, int type);
Action archive_loop_action(int event_code, int number, int type);

extern const Note NOTE_NOTHING_TO_ADD_MENU;
extern const Note NOTE_NOTHING_TO_ADD_BUTTON;
extern const Note NOTE_NO_ARCHIVE;
extern const Note NOTE_NOTHING_TO_EXTRACT;
extern const Note NOTE_LEAVE_ARCHIVE_TO_ADD;
extern const Note NOTE_ABOUT;
extern const Note NOTE_DELETE_NEEDS_ARCHIVE;
