// Files and folders dropped on the main window: what they are on disk decides whether anything is
// taken, and the view on show decides what is done with them. Portable: plain data in, a plan out.
#pragma once
#include <string>
#include <vector>

enum class DroppedKind { FILE, FOLDER, LINK, DEVICE, MISSING, UNNAMEABLE, TOO_LONG };

struct DroppedItem {
  std::string path;
  DroppedKind kind = DroppedKind::FILE;
};

enum class DropAction {
  NOTHING,             // an empty drop
  REFUSE,              // something dropped cannot be taken: the message says what and why
  CHOOSE_FOR_ADDING,   // on disk: the compression window with these chosen
  ADD_TO_ARCHIVE,      // into the archive on view, after a question
  OPEN_ARCHIVE,        // one archive dropped alone
};

struct DropPlan {
  DropAction action = DropAction::NOTHING;
  std::string message;   // REFUSE: the warning; ADD_TO_ARCHIVE: the question
};

// The longest path the program takes, in UTF-16 units (the system's MAX_PATH less its zero).
constexpr size_t DROPPED_PATH_UNITS = 259;

// `archive_path` is empty on disk; `archive_format` is "" for our own archives, else the
// archiver's name for the open archive's kind. `opens_as_archive` tells one path's name opens.
DropPlan plan_drop(const std::vector<DroppedItem>& items, const std::string& archive_path,
                   const std::string& archive_format, bool (*opens_as_archive)(const std::string&));

// "Add 3 items to C:\x\a.vnr?", with how they are stored.
std::string add_question_text(const std::string& archive_path, int files, int folders);

// The newest drop on the main window, each name looked at on disk without following links.
std::vector<DroppedItem> take_dropped_items();
