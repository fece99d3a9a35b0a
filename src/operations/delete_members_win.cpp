// Removal from an open archive through the archiver's list form; the list file goes when the
// run has ended.
#include <windows.h>

#include "operations/archiver_contract.h"
#include "operations/archiver_run.h"
#include "operations/delete_members.h"
#include "operations/foreign_members.h"
#include "operations/operation_texts.h"
#include "ui/note.h"
#include "ui/ui.h"

namespace {

constexpr const char* TITLE = "Delete";

}  // namespace

bool delete_members(const OperationContext& context, int folders) {
  const OperationState& s = context.state;
  if (!removal_possible(s.archive_path, s.archive_format)) {
    message_box("Note:", read_only_archive_text(s.archive_path, s.archive_format), NOTE_WARNING);
    return false;
  }
  std::vector<std::string> members = s.archive_format.empty() || !context.entries
                                         ? member_paths(context.selection, s.temp_root)
                                         : foreign_member_paths(context.selection, *context.entries);
  if (members.empty()) return false;
  int answer = message_box(TITLE, delete_question_text(s.archive_path, static_cast<int>(members.size()), folders),
                           MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
  if (answer != IDYES) return false;
  std::string list_file = write_temporary_list(s.archive_path, members, "delete");
  if (list_file.empty()) {
    message_box("Note:", "Nothing was removed: the list of members could not be written to the temporary folder.",
                NOTE_WARNING);
    return false;
  }
  RunView view;
  view.busy_what = "deleting";
  ArchiverResult result = run_archiver(s.program_folder, delete_parameters(list_file), view, OutputSink(), s.archive_password);
  DeleteFileA(list_file.c_str());
  if (result.cancelled) {
    message_box("Note:", "Deleting from " + s.archive_path + " was cancelled; the archive is unchanged.", NOTE_WARNING);
  } else if (!result.ok()) {
    message_box("Note:", archiver_failure_text("Nothing was removed from " + s.archive_path, result), NOTE_WARNING);
  }
  return result.ok();
}
