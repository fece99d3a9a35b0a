// The extraction window (window 2): the destination is picked in the field or the folder tree,
// created, and the marked members are extracted into it.
#include <windows.h>

#include "explorer/folder_tree.h"
#include "operations/archiver_contract.h"
#include "operations/archiver_run.h"
#include "operations/extraction_window.h"
#include "operations/foreign_members.h"
#include "operations/mode_window.h"
#include "operations/operation_texts.h"
#include "operations/placed_extraction.h"
#include "operations/smart_extract.h"
#include "runtime/folders.h"
#include "ui/note.h"
#include "ui/ui.h"

namespace {

constexpr int WINDOW = 2;
constexpr int DESTINATION_LABEL = 9, DESTINATION_FIELD = 10, OK_BUTTON = 12, EXIT_BUTTON = 13;
constexpr int TASK_LABEL = 16, TASK_SLIDER = 17, OPTIONS_LABEL = 22, DESTINATION_TREE = 25;
// A run's bar and its two status lines sit above the buttons as in the compression window, over
// the task slider, which is hidden for the run. Gadget numbers are shared by every window: these
// are free in the main window too.
constexpr int PROGRESS_BAR = 42, PROGRESS_STATUS = 43;
// Below the buttons, so every other gadget keeps its place.
constexpr int SMART_CHECK = 55;
const RunView RUN_VIEW{WINDOW, EXIT_BUTTON, {PROGRESS_BAR, 10, 378, 480, 18}, {PROGRESS_STATUS, 10, 400, 480, 32}};

void create_gadgets(const OperationState& s) {
  text_gadget(DESTINATION_LABEL, 10, 20, 380, 20, "Destination folder: ");
  text_gadget(OPTIONS_LABEL, 10, 65, 380, 20, "Change destination folder: ");
  string_gadget(DESTINATION_FIELD, 10, 40, 480, 20, s.destination_folder);
  button_gadget(OK_BUTTON, 380, 435, 50, 30, "OK");
  button_gadget(EXIT_BUTTON, 440, 435, 50, 30, "Retry");
  text_gadget(TASK_LABEL, 50, 420, 230, 20, "use " + task_label(s.task_count), TEXT_CENTER);
  trackbar_gadget(TASK_SLIDER, 20, 400, 260, 20, 0, 8);
  folder_tree_create(DESTINATION_TREE, 5, 86, 490, 290, "C:\\", 1);
  gadget_set_state(TASK_SLIDER, s.task_count);
  gadget_set_tooltip(OK_BUTTON, "Start extraction ");
  gadget_set_tooltip(EXIT_BUTTON, "Exit");
  gadget_set_tooltip(TASK_SLIDER, "Select task active");
  checkbox_gadget(SMART_CHECK, 10, 472, 480, 20,
                  "Into a folder named after the archive, unless it has a single top folder");
  // Other programs' archives are often a heap of loose files; ours were made here, by choice.
  gadget_set_state(SMART_CHECK, s.archive_format.empty() ? 0 : 1);
}

// The chosen members' paths in the archive, for the smart plan.
std::vector<SmartMember> chosen_members(const OperationContext& context) {
  std::vector<SmartMember> members;
  const OperationState& s = context.state;
  if (!s.archive_format.empty()) {
    if (context.entries)
      for (const std::string& path : foreign_member_paths(context.selection, *context.entries))
        members.push_back({path, false});
    return members;
  }
  for (int i = 1; i <= context.selection.selection_count; ++i) {
    const std::string& mirror = context.selection.selection_list[static_cast<size_t>(i)];
    if (mirror.compare(0, s.temp_root.size(), s.temp_root) == 0)
      members.push_back({mirror.substr(s.temp_root.size()), false});
  }
  return members;
}

// An archive of another program has no marks: its chosen members go to the archiver in a list
// file. "" (after saying why) when there is nothing to hand over.
std::string listed_members_file(const std::string& archive_path, const OperationContext& context) {
  std::vector<std::string> members;
  if (context.entries) members = foreign_member_paths(context.selection, *context.entries);
  if (members.empty()) {
    message_box("Note:", "None of the chosen files is a member of " + archive_path + "; nothing was extracted.",
                NOTE_WARNING);
    return std::string();
  }
  std::string list_file = write_temporary_list(archive_path, members, "extract");
  if (list_file.empty())
    message_box("Note:", "Nothing was extracted: the list of members could not be written to the temporary folder.",
                NOTE_WARNING);
  return list_file;
}

void extract(const std::string& archive_path, const OperationContext& context) {
  OperationState& s = context.state;
  std::string list_file;
  if (!s.archive_format.empty() && (list_file = listed_members_file(archive_path, context)).empty()) return;
  std::string parameters = list_file.empty()
                               ? extract_marked_parameters(s.task_count, archive_path, s.destination_folder)
                               : extract_listed_parameters(s.task_count, list_file, s.destination_folder);
  create_folder_chain(s.destination_folder);
  wait_event(20);
  DWORD start = GetTickCount();
  // Only the exit button stays live during the run: it, or the close box, cancels it.
  begin_mode_run(EXIT_BUTTON, {DESTINATION_FIELD, OK_BUTTON, TASK_SLIDER, DESTINATION_TREE, SMART_CHECK});
  gadget_hide(TASK_SLIDER, 1);
  gadget_hide(TASK_LABEL, 1);
  ArchiverResult result;
  std::string problem;
  bool smart = gadget_get_state(SMART_CHECK) == 1;
  if (smart) {
    std::string parent = s.destination_folder;
    if (parent.empty() || parent.back() != '\\') parent += '\\';
    SmartPlan plan = smart_plan(chosen_members(context), archive_path, name_taken_in(parent));
    PlacedExtraction placed = run_placed_extraction(
        s.program_folder, parent, archive_stem(archive_path), plan,
        [&](const std::string& into) {
          return list_file.empty() ? extract_marked_parameters(s.task_count, archive_path, into)
                                   : extract_listed_parameters(s.task_count, list_file, into);
        },
        RUN_VIEW, s.archive_password);
    result = placed.result;
    problem = placed.problem;
  } else {
    result = run_archiver(s.program_folder, parameters, RUN_VIEW, OutputSink(), s.archive_password);
  }
  end_mode_run(EXIT_BUTTON);
  if (!list_file.empty()) DeleteFileA(list_file.c_str());
  DWORD end = GetTickCount();
  s.elapsed_seconds = elapsed_seconds_between(start, end);
  if (!problem.empty())
    message_box("Note:", problem, NOTE_WARNING);
  else if (result.cancelled)
    message_box("Note:",
                smart ? cancelled_placed_extraction_text(archive_path, s.destination_folder, s.elapsed_seconds)
                      : cancelled_extraction_text(archive_path, s.destination_folder, s.elapsed_seconds),
                NOTE_WARNING);
  else if (result.ok())
    message_box("Notice", notice_text(archive_path, s.elapsed_seconds), MB_OK);
  else
    message_box("Note:",
                archiver_failure_text("The chosen members of " + archive_path + " were not extracted to " +
                                          s.destination_folder,
                                      result),
                NOTE_WARNING);
}

bool handle_gadget(int gadget, int type, const std::string& archive_path, const OperationContext& context) {
  OperationState& s = context.state;
  switch (gadget) {
    case DESTINATION_TREE:
      if (type == EVENT_TYPE_LEFT_CLICK || type == EVENT_TYPE_LEFT_DOUBLE_CLICK) {
        std::string folder = gadget_get_text(DESTINATION_TREE);
        gadget_set_text(DESTINATION_FIELD, folder);
        s.destination_folder = folder;
      }
      break;
    case DESTINATION_FIELD: s.destination_folder = gadget_get_text(DESTINATION_FIELD); break;
    case OK_BUTTON: extract(archive_path, context); return true;
    case EXIT_BUTTON: return true;
    case TASK_SLIDER:
      s.task_count = gadget_get_state(TASK_SLIDER);
      gadget_set_text(TASK_LABEL, task_label(s.task_count));
      break;
    default: break;
  }
  return false;
}

}  // namespace

void extraction_window(const std::string& archive_path, const OperationContext& context) {
  OperationState& s = context.state;
  begin_mode_window();
  s.destination_folder = s.program_folder;
  if (window_open(WINDOW, 0, 0, 500, 500, "Vantor - extraction Mode", 0x10C80001, window_handle(0))) {
    create_gadgets(s);
    window_show(WINDOW, 1);
    run_mode_window(WINDOW, [&](int gadget, int type) { return handle_gadget(gadget, type, archive_path, context); });
  }
  end_mode_window(WINDOW, context.release_selection);
}
