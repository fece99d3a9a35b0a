// Extraction for a drop: the marks (ours) or a list file (other programs' archives) choose the
// members, as the extraction window does, and the destination is a folder no one has used.
#include <windows.h>

#include "operations/archiver_contract.h"
#include "operations/archiver_run.h"
#include "operations/drag_members.h"
#include "operations/foreign_members.h"
#include "operations/member_launch.h"
#include "runtime/folders.h"
#include "ui/drag_out.h"
#include "ui/note.h"
#include "ui/ui.h"

namespace {

void warn(const std::string& text) { message_box("Note:", text, NOTE_WARNING); }

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The archiver's parameters for the chosen members into `folder`; "" (after saying why) when
// there is nothing to hand over. A list file made for it is named in `list_file`.
std::string extraction_parameters(const OperationContext& context, const std::string& folder, std::string& list_file) {
  OperationState& s = context.state;
  if (s.archive_format.empty())
    return marking_pass(s, context.selection) ? extract_marked_parameters(s.task_count, s.archive_path, folder)
                                              : std::string();
  std::vector<std::string> members;
  if (context.entries) members = foreign_member_paths(context.selection, *context.entries);
  if (members.empty()) {
    warn("None of the dragged files is a member of " + s.archive_path + "; nothing was extracted.");
    return std::string();
  }
  list_file = write_temporary_list(s.archive_path, members, "drag");
  if (list_file.empty()) {
    warn("Nothing was extracted: the list of members could not be written to the temporary folder.");
    return std::string();
  }
  return extract_listed_parameters(s.task_count, list_file, folder);
}

}  // namespace

bool extract_for_drop(const OperationContext& context, const std::string& folder,
                      const std::vector<std::string>& paths) {
  OperationState& s = context.state;
  create_folder_chain(s.drag_root);
  // A folder already there is not ours to fill: whatever is in it could be taken for members.
  if (!CreateDirectoryA(folder.c_str(), nullptr)) {
    warn("Nothing was extracted: the folder " + folder + " for the drop could not be made.");
    return false;
  }
  std::string list_file;
  std::string parameters = extraction_parameters(context, folder, list_file);
  ArchiverResult result;
  if (!parameters.empty()) {
    RunView view;
    view.busy_what = "extracting";
    // The drag loop may still hold the mouse: the busy window's Cancel must be reachable.
    ReleaseCapture();
    result = run_archiver(s.program_folder, parameters, view, OutputSink(), s.archive_password);
  }
  if (!list_file.empty()) DeleteFileA(list_file.c_str());
  std::string missing;
  for (const std::string& path : paths)
    if (missing.empty() && !exists(path)) missing = path;
  bool whole = result.ok() && missing.empty();
  if (result.ok() && !missing.empty())
    warn("Nothing was dropped: " + missing + " was not extracted from " + s.archive_path + ".");
  else if (!parameters.empty() && !result.ok() && !result.cancelled)
    warn(archiver_failure_text("The dragged members of " + s.archive_path + " were not extracted", result));
  if (!whole) delete_folder_tree(folder);
  return whole;
}

void drag_members_out(const OperationContext& context, const std::string& list_folder,
                      const std::vector<std::string>& row_names) {
  static int drags = 0;
  std::string folder = drag_folder(context.state.drag_root, ++drags);
  std::vector<std::string> paths = dragged_member_paths(folder, list_folder, context.state.temp_root, row_names);
  if (paths.empty()) return;
  drag_files_out(paths, [&] { return extract_for_drop(context, folder, paths); });
}
