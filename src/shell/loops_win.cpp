// The disk loop and the archive loop: one event per pass, dispatched through the tables of
// dispatch.cpp, then the memory text and the window size are refreshed.
#include <windows.h>
#include <shellapi.h>

#include <algorithm>

#include "archive/foreign_listing.h"
#include "archive/listing.h"
#include "archive/folder_scan.h"
#include "archive/open_archive.h"
#include "operations/add_members.h"
#include "operations/archiver_run.h"
#include "operations/busy_window.h"
#include "operations/compression_window.h"
#include "operations/delete_members.h"
#include "operations/drag_members.h"
#include "operations/extraction_window.h"
#include "operations/find_window.h"
#include "operations/foreign_members.h"
#include "operations/member_launch.h"
#include "operations/operation_texts.h"
#include "operations/password.h"
#include "operations/password_window.h"
#include "operations/verify.h"
#include "runtime/text.h"
#include "shell/browsing.h"
#include "shell/dispatch.h"
#include "shell/file_drop.h"
#include "shell/gadget_rows.h"
#include "shell/globals.h"
#include "shell/main_window_layout.h"
#include "shell/shell.h"
#include "shell/startup.h"
#include "ui/ui.h"

void destroy_list_icon_copy();
ArchiveSession open_archive_busy(const std::string& path);

namespace {

constexpr int MAIN_WINDOW = 0;

std::string list_folder() { return gadget_get_text(FILE_LIST); }

void warn(const std::string& text) { message_box("Note:", text, NOTE_WARNING); }

// An archive that cannot be opened leaves the one on view, if any, the current archive.
void open_archive_at(const std::string& path) {
  std::string previous = shell.operation.archive_path, previous_format = shell.operation.archive_format;
  shell.operation.archive_path = path;
  if (!browse_archive(path, previous)) {
    shell.operation.archive_path = previous;
    shell.operation.archive_format = previous_format;
  }
}

void open_archive_from_requester() {
  std::string chosen =
      open_file_requester("Select and open existing archive", shell.operation.program_folder,
                          archive_requester_pattern(), 0);
  if (chosen.empty())
    shell.operation.archive_path.clear();
  else
    open_archive_at(chosen);
}

void add_files(const Note& nothing_selected) {
  selection_scan();
  if (shell.selection.selection_count == 0)
    show_note(nothing_selected);
  else
    compression_window(operation_context());
}

// The entry the list reports as its state (its first selected entry), joined to the list's folder.
std::string activated_entry_path() {
  return list_folder() + gadget_get_item_text(FILE_LIST, gadget_get_state(FILE_LIST), 0);
}

void disk_list_event(int type) {
  if (type == EVENT_TYPE_LEFT_DOUBLE_CLICK) {
    shell.item_path = activated_entry_path();
    if (is_archive_name(shell.item_path)) {
      open_archive_at(shell.item_path);
    } else {
      shell_open(shell.item_path);
    }
  }
  clear_select_all(FILE_LIST);
}

// Extracts the first selected file of the archive view to the launch folder and opens it.
void launch_member() {
  shell.selection.selection_count = 0;
  int count = gadget_count_items(FILE_LIST);
  for (int i = 1; i < count; ++i) {
    if (gadget_get_item_state(FILE_LIST, i) == ROW_SELECTED_FILE) {
      shell.item_path = list_folder() + gadget_get_item_text(FILE_LIST, i, 0);
      selection_append(shell.selection, shell.item_path);
      break;
    }
  }
  bool program = file_extension(shell.item_path) == "exe";
  if (!prepare_member_launch(program, operation_context())) return;
  window_set_topmost(MAIN_WINDOW, 0);
  if (program)
    shell_open(shell.operation.launch_target, path_part(shell.operation.launch_target));
  else
    shell_open(shell.operation.launch_target);
}

// The names of the chosen rows of the folder on view, folders included.
std::vector<std::string> chosen_row_names() {
  std::vector<std::string> names;
  int count = gadget_count_items(FILE_LIST);
  for (int i = 1; i < count; ++i) {
    int state = gadget_get_item_state(FILE_LIST, i);
    if ((state & ROW_SELECTED) || shell.select_all_active == 1) names.push_back(gadget_get_item_text(FILE_LIST, i, 0));
  }
  return names;
}

// Members dragged out of the view to Explorer or the desktop are extracted only if dropped there.
void drag_members_from_view() {
  std::vector<std::string> names = chosen_row_names();
  if (names.empty() || shell.operation.archive_path.empty()) return;
  selection_scan();
  if (shell.selection.selection_count > 0) drag_members_out(operation_context(), list_folder(), names);
  release_selection();
}

void archive_list_event(int type) {
  if (type == EVENT_TYPE_LEFT_DOUBLE_CLICK) launch_member();
  if (type == EVENT_TYPE_DRAG_START) drag_members_from_view();
  clear_select_all(FILE_LIST);
}

void extract_from_archive() {
  selection_scan();
  if (!shell.operation.archive_path.empty() && shell.selection.selection_count > 0) {
    // Other programs' archives carry no marks: the window names the chosen members instead.
    if (!shell.operation.archive_format.empty() || marking_pass(shell.operation, shell.selection)) {
      extraction_window(shell.operation.archive_path, operation_context());
    } else {
      release_selection();  // as the window's closing steps would
    }
  } else if (shell.operation.archive_path.empty()) {
    show_note(NOTE_NO_ARCHIVE);
  } else {
    show_note(NOTE_NOTHING_TO_EXTRACT);
  }
}

// The chosen files as the selection scan found them, and the selection let go.
std::vector<std::string> take_selection() {
  selection_scan();
  std::vector<std::string> chosen(shell.selection.selection_list.begin() + 1,
                                  shell.selection.selection_list.begin() + 1 + shell.selection.selection_count);
  release_selection();
  return chosen;
}

void verify_on_disk() { verify_archives(shell.operation.program_folder, take_selection()); }

void verify_open_archive() {
  if (shell.operation.archive_path.empty())
    show_note(NOTE_NO_ARCHIVE);
  else
    verify_archive(shell.operation.program_folder, shell.operation.archive_path,
                   !shell.operation.archive_format.empty(), shell.operation.archive_password);
}

// Folders among the chosen rows: what the question before a removal counts besides members.
int chosen_folder_count() {
  int folders = 0, count = gadget_count_items(FILE_LIST);
  for (int i = 1; i < count; ++i) {
    int state = gadget_get_item_state(FILE_LIST, i);
    if (state == ROW_SELECTED_OTHER || (shell.select_all_active == 1 && state == ROW_OTHER)) ++folders;
  }
  return folders;
}

// The archive is opened anew after a removal or an addition; the list stays in its folder, or the
// nearest one above it that still has members. A cancelled opening has no view to go back to (the
// old mirror is gone and the archive has changed): the list shows the archive's folder on disk.
// False then.
bool reopen_after_change() {
  std::string folder = list_folder();
  reset_temp_folders();
  ArchiveSession session = open_archive_busy(shell.operation.archive_path);
  if (session.cancelled) {
    reset_temp_folders();
    shell.entries.entry_count = 0;
    gadget_set_text(FILE_LIST, path_part(shell.operation.archive_path));
    warn(removed_not_reread_text(shell.operation.archive_path));
    return false;
  }
  if (!session.opened) {
    gadget_set_text(FILE_LIST, shell.operation.temp_root);
    return true;
  }
  while (folder.size() > session.mirror_root.size() && GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES)
    folder = parent_path(folder);
  if (folder.size() < session.mirror_root.size()) folder = session.mirror_root;
  gadget_set_text(FILE_LIST, folder);
  listing_step();
  return true;
}

// False when the archive is no longer on view and the archive loop must end.
bool delete_from_archive() {
  if (shell.operation.archive_path.empty()) {
    show_note(NOTE_NO_ARCHIVE);
    return true;
  }
  if (!removal_possible(shell.operation.archive_path, shell.operation.archive_format)) {
    warn(read_only_archive_text(shell.operation.archive_path, shell.operation.archive_format));
    return true;
  }
  int folders = chosen_folder_count();
  selection_scan();
  bool removed = shell.selection.selection_count > 0 && delete_members(operation_context(), folders);
  if (shell.selection.selection_count == 0) show_note(NOTE_NOTHING_TO_EXTRACT);
  release_selection();
  return !removed || reopen_after_change();
}

// The dropped files, and every file below a dropped folder, as the selection scan chooses them.
void choose_dropped(const std::vector<DroppedItem>& items) {
  shell.selection.selection_count = 0;
  bool room = true;
  for (size_t i = 0; i < items.size() && room; ++i)
    room = items[i].kind == DroppedKind::FOLDER
               ? folder_scan(with_trailing_backslash(items[i].path), "*", "*", 0, shell.selection)
               : selection_append(shell.selection, items[i].path);
}

// Files dropped from another program: on disk they are chosen for the compression window, on an
// open archive added to it after a question; one archive alone is opened. False when the archive
// on view can no longer be shown and the archive loop must end.
bool files_dropped(bool in_archive) {
  std::vector<DroppedItem> items = take_dropped_items();
  // Members dragged out and dropped back on this window are our own temporary copies.
  const std::string& ours = shell.operation.drag_root;
  if (!items.empty() && std::all_of(items.begin(), items.end(), [&](const DroppedItem& item) {
        return item.path.compare(0, ours.size(), ours) == 0;
      }))
    return true;
  std::string archive = in_archive ? shell.operation.archive_path : std::string();
  DropPlan plan = plan_drop(items, archive, in_archive ? shell.operation.archive_format : std::string(),
                            is_archive_name);
  std::vector<std::string> paths;
  switch (plan.action) {
    case DropAction::REFUSE: warn(plan.message); return true;
    case DropAction::OPEN_ARCHIVE: open_archive_at(items[0].path); return true;
    case DropAction::CHOOSE_FOR_ADDING:
      if (in_archive) {
        show_note(NOTE_NO_ARCHIVE);
        return true;
      }
      choose_dropped(items);
      compression_window(operation_context());
      return true;
    case DropAction::ADD_TO_ARCHIVE:
      for (const DroppedItem& item : items) paths.push_back(item.path);
      return !add_to_open_archive(operation_context(), paths, plan.message) || reopen_after_change();
    default: return true;
  }
}

void go_to_parent() { gadget_set_text(FILE_LIST, parent_path(list_folder())); }

void go_to_location() { gadget_set_text(FILE_LIST, gadget_get_text(LOCATION_COMBO)); }

// Keeps the window answering during a walk: one pending event is taken and dropped.
bool drop_one_event(int64_t, int64_t, int) {
  wait_event(0);
  return true;
}

void close_main_window_in_archive() {
  destroy_list_icon_copy();
  end_program_now();
}

}  // namespace

OperationContext operation_context() {
  return {shell.operation, shell.selection, release_selection, &shell.entries};
}

void listing_step() {
  GadgetRows rows(FILE_LIST);
  listing_step_rows(rows, shell.entries);
}

namespace {

ArchiveSession walk_busy(const std::string& path) {
  BusyWork busy("opening");
  return open_archive(path, shell.operation.temp_root, shell.entries,
                      [&](int64_t position, int64_t size, int members) {
                        return busy.poll(position, size, std::to_string(members) + " members read");
                      });
}

ArchiveSession list_busy(const std::string& path) {
  ArchiveSession session =
      open_foreign_archive_busy(shell.operation.program_folder, path, shell.operation.temp_root, shell.entries);
  // Encrypted members of another program's archive: asked once, for every run on it. Without
  // it the archive is still browsed, and the archiver says what it cannot read.
  if (session.opened && !session.cancelled && session.encrypted_members > 0 &&
      shell.operation.archive_password.empty())
    ask_archive_password(0, path, shell.operation.archive_password);
  return session;
}

}  // namespace

// Opens with the busy window past a second, whose Cancel stops the opening. Other programs'
// archives are listed by the archiver; one of ours under such a name is walked as ours.
ArchiveSession open_archive_busy(const std::string& path) {
  Protection protection = archive_protection(path);
  if (protection != Protection::none)
    return open_protected_archive_busy(shell.operation.program_folder, path, protection == Protection::sealed,
                                       shell.operation.temp_root, shell.entries, shell.operation.archive_password);
  if (is_foreign_archive_name(path)) {
    ArchiveSession session = list_busy(path);
    if (session.format != "vnr") return session;
  }
  ArchiveSession own = walk_busy(path);
  // Any other name (a program chosen in the open requester, say) whose index breaks may be a
  // self-extracting archive of another program, which the archiver reads; if it cannot, the
  // walk stands as it was.
  if (file_extension(path) == "vnr" || is_foreign_archive_name(path) || !own.opened || own.cancelled ||
      own.report.damage_position < 0)
    return own;
  reset_temp_folders();
  ArchiveSession other = list_busy(path);
  if (other.opened || other.cancelled) return other;
  reset_temp_folders();
  return walk_busy(path);
}

// Every opening asks for its own password; the archive on view keeps its own until this one
// is open.
bool browse_archive(const std::string& path, const std::string& outer) {
  std::string problem = archive_open_problem(path);
  std::string outer_password;
  outer_password.swap(shell.operation.archive_password);
  if (problem.empty()) {
    std::string shown = list_folder(), outer_format = shell.operation.archive_format;
    reset_temp_folders();
    ArchiveSession session = open_archive_busy(path);
    if (session.cancelled) {
      reset_temp_folders();
      wipe_secret(shell.operation.archive_password);
      if (outer.empty())
        shell.entries.entry_count = 0;
      else if (outer_format.empty())
        open_archive(outer, shell.operation.temp_root, shell.entries, drop_one_event);
      else
        open_foreign_archive_busy(shell.operation.program_folder, outer, shell.operation.temp_root, shell.entries,
                                  outer_format == "vnr" ? outer_password : std::string());
      shell.operation.archive_password.swap(outer_password);
      gadget_set_text(FILE_LIST, shown);
      return false;
    }
    problem = session.problem;
    if (session.opened) {
      shell.operation.archive_format = session.format;
      gadget_set_text(FILE_LIST, session.mirror_root);
      listing_step();
      std::string report = mirror_report_text(path, session.report);
      if (!report.empty()) warn(report);
      wipe_secret(outer_password);
      run_archive_loop(session);
      return true;
    }
  }
  wipe_secret(shell.operation.archive_password);
  shell.operation.archive_password.swap(outer_password);
  warn("The archive " + path + " cannot be opened: " + problem + ".");
  return false;
}

void shell_open(const std::string& path, const std::string& folder) {
  ShellExecuteA(nullptr, "open", path.c_str(), nullptr, folder.empty() ? nullptr : folder.c_str(), SW_SHOWNORMAL);
}

void refresh_memory_text() { gadget_set_text(MEMORY_TEXT, memory_text(free_physical_memory())); }

void follow_window_size() {
  int w = window_inner_width(MAIN_WINDOW), h = window_inner_height(MAIN_WINDOW);
  if (w == shell.inner_width && h == shell.inner_height) return;
  shell.inner_width = w;
  shell.inner_height = h;
  GadgetBox list = file_list_box(w, h), combo = location_combo_box(w), memory = memory_text_box(w, h);
  gadget_resize(FILE_LIST, list.x, list.y, list.w, list.h);
  gadget_resize(LOCATION_COMBO, combo.x, combo.y, combo.w, combo.h);
  gadget_resize(MEMORY_TEXT, memory.x, memory.y, memory.w, memory.h);
}

void run_disk_loop() {
  do {
    int code = wait_event(-1);
    int type = event_type();
    switch (disk_loop_action(code, event_gadget_number(), type)) {
      case Action::OPEN_ARCHIVE: open_archive_from_requester(); break;
      case Action::ADD_FROM_MENU: add_files(NOTE_NOTHING_TO_ADD_MENU); break;
      case Action::ADD_FROM_BUTTON: add_files(NOTE_NOTHING_TO_ADD_BUTTON); break;
      case Action::SELECT_ALL: select_all_entries(FILE_LIST); break;
      case Action::QUIT: shell.quit_requested = 1; break;
      case Action::OPEN_HELP: shell_open(shell.operation.program_folder + "data\\Help.chm"); break;
      case Action::LIST_EVENT: disk_list_event(type); break;
      case Action::EXTRACT_WITHOUT_ARCHIVE: show_note(NOTE_NO_ARCHIVE); break;
      case Action::SHOW_ABOUT: show_note(NOTE_ABOUT); break;
      case Action::LOCATION_CHOSEN: go_to_location(); break;
      case Action::PARENT_FOLDER: go_to_parent(); break;
      case Action::VERIFY: verify_on_disk(); break;
      case Action::DELETE_MEMBERS: show_note(NOTE_DELETE_NEEDS_ARCHIVE); break;
      case Action::FIND_FILE: find_command(FILE_LIST, type, nullptr); break;
      case Action::FILES_DROPPED: files_dropped(false); break;
      case Action::CLOSE_WINDOW:
        destroy_list_icon_copy();
        shell.quit_requested = 1;
        break;
      default: break;
    }
    refresh_memory_text();
    follow_window_size();
    if (is_archive_name(shell.startup_document)) {
      std::string document = shell.startup_document;
      shell.startup_document.clear();
      open_archive_at(document);
    }
  } while (shell.quit_requested != 1);
}

namespace {

void run_archive_action(Action action, int type, int& leave_archive) {
  switch (action) {
    case Action::OPEN_ARCHIVE: open_archive_from_requester(); break;
    case Action::ADD_REFUSED: show_note(NOTE_LEAVE_ARCHIVE_TO_ADD); break;
    case Action::SELECT_ALL: select_all_entries(FILE_LIST); break;
    case Action::LEAVE_ARCHIVE: leave_archive = 1; break;
    case Action::LIST_EVENT: archive_list_event(type); break;
    case Action::EXTRACT: extract_from_archive(); break;
    case Action::SHOW_ABOUT: show_note(NOTE_ABOUT); break;
    case Action::LOCATION_CHOSEN:
      gadget_hide(FILE_LIST, 1);
      reset_temp_folders();
      go_to_location();
      gadget_hide(FILE_LIST, 0);
      break;
    case Action::PARENT_FOLDER: go_to_parent(); break;
    case Action::VERIFY: verify_open_archive(); break;
    case Action::DELETE_MEMBERS:
      if (!delete_from_archive()) leave_archive = 1;
      break;
    case Action::FIND_FILE: find_command(FILE_LIST, type, &shell.entries, &shell.operation); break;
    case Action::FILES_DROPPED:
      if (!files_dropped(true)) leave_archive = 1;
      break;
    case Action::CLOSE_WINDOW: close_main_window_in_archive(); break;
    default: break;
  }
}

}  // namespace

// Menu commands and the close box act before the folder check, gadget commands after it.
void run_archive_loop(const ArchiveSession& session) {
  std::string shown_folder = list_folder();
  int leave_archive = 0;
  for (;;) {
    int code = wait_event(-1);
    int type = event_type();
    Action action = archive_loop_action(code, event_gadget_number(), type);
    if (code != EVENT_GADGET) run_archive_action(action, type, leave_archive);
    if (leave_archive == 1) break;  // the list may already show a folder on disk

    std::string folder = list_folder();
    if (folder.size() < session.mirror_root.size()) {
      gadget_set_text(FILE_LIST, parent_path(folder));
      break;
    }
    if (folder != shown_folder) {
      listing_step();
      shown_folder = list_folder();
    }
    if (code == EVENT_GADGET) run_archive_action(action, type, leave_archive);
    refresh_memory_text();
    follow_window_size();
    if (leave_archive == 1) break;
  }
  shell.operation.archive_path.clear();
  shell.operation.archive_format.clear();
  wipe_secret(shell.operation.archive_password);
  shell.selection.selection_count = 0;
  clear_select_all(FILE_LIST);
}
