// Adding to the open archive through the archiver's list form; the list file goes when the run
// has ended.
#include <windows.h>

#include "operations/add_members.h"
#include "operations/archiver_contract.h"
#include "operations/archiver_run.h"
#include "operations/foreign_members.h"
#include "operations/operation_texts.h"
#include "ui/note.h"
#include "ui/ui.h"

bool add_to_open_archive(const OperationContext& context, const std::vector<std::string>& paths,
                         const std::string& question) {
  OperationState& s = context.state;
  if (paths.empty()) return false;
  if (message_box("Add", question, MB_YESNO | MB_ICONQUESTION) != IDYES) return false;
  std::string list_file = write_temporary_list(s.archive_path, paths, "add");
  if (list_file.empty()) {
    message_box("Note:", "Nothing was added: the list of files could not be written to the temporary folder.",
                NOTE_WARNING);
    return false;
  }
  RunView view;
  view.busy_what = "adding";
  DWORD start = GetTickCount();
  ArchiverResult result = run_archiver(s.program_folder,
                                       add_listed_parameters(4 * s.buffer_position, s.dictionary_position,
                                                             s.task_count, s.solid_switch, s.ultra_switch,
                                                             s.compression_method, list_file),
                                       view, OutputSink(), s.archive_password);
  DeleteFileA(list_file.c_str());
  s.elapsed_seconds = elapsed_seconds_between(start, GetTickCount());
  if (result.cancelled)
    message_box("Note:", cancelled_compression_text(s.archive_path, s.elapsed_seconds), NOTE_WARNING);
  else if (!result.ok())
    message_box("Note:", archiver_failure_text("Nothing was added to " + s.archive_path, result), NOTE_WARNING);
  return result.ok();
}
