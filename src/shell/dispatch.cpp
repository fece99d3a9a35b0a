#include "shell/dispatch.h"

#include "ui/events.h"

const Note NOTE_NOTHING_TO_ADD_MENU = {"Note:", "Please select one file or one folder", 0};
const Note NOTE_NOTHING_TO_ADD_BUTTON = {"Note:", "Please select one file or one folder", NOTE_WARNING};
const Note NOTE_NO_ARCHIVE = {"Note:", "Please select and open existing archive ", NOTE_WARNING};
const Note NOTE_NOTHING_TO_EXTRACT = {"Note:", "Please select file or folder ", NOTE_WARNING};
const Note NOTE_LEAVE_ARCHIVE_TO_ADD = {"Info:", "Please, add file or folder require exit from the archive",
                                        NOTE_WARNING};
const Note NOTE_DELETE_NEEDS_ARCHIVE = {
    "Note:", "Please open an archive first: Delete removes the chosen files and folders from the archive on view.",
    NOTE_WARNING};
const Note NOTE_ABOUT = {"INFO", "Win Vantor Version 1.1.3 - archive manager for Windows", NOTE_INFORMATION};

namespace {

bool location_choice(int type) { return type == EVENT_TYPE_LEFT_CLICK || type == EVENT_TYPE_LEFT_DOUBLE_CLICK; }

}  // namespace

Action disk_loop_action(int event_code, int number, int type) {
  if (event_code == EVENT_CLOSE_WINDOW) return Action::CLOSE_WINDOW;
  if (event_code == EVENT_FILES_DROPPED) return Action::FILES_DROPPED;
  if (event_code == EVENT_MENU) {
    switch (number) {
      case MENU_OPEN_ARCHIVE: return Action::OPEN_ARCHIVE;
      case MENU_ADD: return Action::ADD_FROM_MENU;
      case MENU_SELECT_ALL: return Action::SELECT_ALL;
      case MENU_EXIT: return Action::QUIT;
      case MENU_CONTENTS: return Action::OPEN_HELP;
      case MENU_DELETE: return Action::DELETE_MEMBERS;
      default: return Action::NONE;  // the "-----" items
    }
  }
  if (event_code != EVENT_GADGET) return Action::NONE;
  switch (number) {
    case FILE_LIST: return Action::LIST_EVENT;
    case ADD_BUTTON: return Action::ADD_FROM_BUTTON;
    case EXTRACT_BUTTON: return Action::EXTRACT_WITHOUT_ARCHIVE;
    case INFO_BUTTON: return Action::SHOW_ABOUT;
    case LOCATION_COMBO: return location_choice(type) ? Action::LOCATION_CHOSEN : Action::NONE;
    case PARENT_BUTTON: return Action::PARENT_FOLDER;
    case SELECT_ALL_BUTTON: return Action::SELECT_ALL;
    case VERIFY_BUTTON: return Action::VERIFY;
    case DELETE_BUTTON: return Action::DELETE_MEMBERS;
    case FIND_BUTTON: return Action::FIND_FILE;
    default: return Action::NONE;
  }
}

Action archive_loop_action(int event_code, int number, int type) {
  if (event_code == EVENT_CLOSE_WINDOW) return Action::CLOSE_WINDOW;
  if (event_code == EVENT_FILES_DROPPED) return Action::FILES_DROPPED;
  if (event_code == EVENT_MENU) {
    switch (number) {
      case MENU_OPEN_ARCHIVE: return Action::OPEN_ARCHIVE;
      case MENU_ADD: return Action::ADD_REFUSED;
      case MENU_SELECT_ALL: return Action::SELECT_ALL;
      case MENU_EXIT: return Action::LEAVE_ARCHIVE;
      case MENU_DELETE: return Action::DELETE_MEMBERS;
      default: return Action::NONE;  // no help while an archive is open
    }
  }
  if (event_code != EVENT_GADGET) return Action::NONE;
  switch (number) {
    case FILE_LIST: return Action::LIST_EVENT;
    case ADD_BUTTON: return Action::ADD_REFUSED;
    case EXTRACT_BUTTON: return Action::EXTRACT;
    case INFO_BUTTON: return Action::SHOW_ABOUT;
    case LOCATION_COMBO: return location_choice(type) ? Action::LOCATION_CHOSEN : Action::NONE;
    case PARENT_BUTTON: return Action::PARENT_FOLDER;
    case SELECT_ALL_BUTTON: return Action::SELECT_ALL;
    case VERIFY_BUTTON: return Action::VERIFY;
    case DELETE_BUTTON: return Action::DELETE_MEMBERS;
    case FIND_BUTTON: return Action::FIND_FILE;
    default: return Action::NONE;
  }
}
