// The marking pass on the open archive, and the two archiver runs that bring a single member
// into the launch folder.
#include <windows.h>

#include "operations/archiver_contract.h"
#include "operations/archiver_run.h"
#include "operations/foreign_members.h"
#include "operations/marking.h"
#include "operations/member_launch.h"
#include "format/archive_layout.h"
#include "ui/note.h"
#include "operations/operation_texts.h"
#include "ui/ui.h"

namespace {

void warn(const std::string& text) { message_box("Note:", text, NOTE_WARNING); }

bool file_exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string unopenable_reason(const std::string& path) {
  if (!file_exists(path)) return "The archive " + path + " no longer exists; nothing was extracted.";
  return "The archive " + path + " cannot be written (it is read-only or in use); nothing was extracted.";
}

// An archive of another program has no marks: the chosen member is named in a list file, and
// lands where its stand-in lies below the mirror root. False (with a message) when it cannot go.
bool extract_listed_member(const OperationContext& context, ArchiverResult& member) {
  OperationState& s = context.state;
  const std::string& chosen = context.selection.selection_list[1];
  std::vector<std::string> members;
  if (context.entries) members = foreign_member_paths(context.selection, *context.entries);
  if (members.empty() || chosen.compare(0, s.temp_root.size(), s.temp_root) != 0) {
    warn("The chosen file is not a member of the archive " + s.archive_path + ".");
    return false;
  }
  s.launch_target = s.launch_root + chosen.substr(s.temp_root.size());
  std::string list_file = write_temporary_list(s.archive_path, members, "launch");
  if (list_file.empty()) {
    warn("The list of members could not be written to the temporary folder; nothing was extracted.");
    return false;
  }
  s.destination_folder = s.launch_root;
  member = run_archiver(s.program_folder, extract_listed_parameters(s.task_count, list_file, s.destination_folder),
                        RunView(), OutputSink(), s.archive_password);
  DeleteFileA(list_file.c_str());
  return true;
}

}  // namespace

bool marking_pass(OperationState& s, const SelectionTable& selection) {
  std::unique_ptr<ByteSource> archive = open_file_source(s.archive_path, true);
  if (!archive) {
    warn(unopenable_reason(s.archive_path));
    return false;
  }
  std::vector<std::string> chosen(selection.selection_list.begin() + 1,
                                  selection.selection_list.begin() + 1 + selection.selection_count);
  MarkingResult result = mark_entries(*archive, index_start(s.archive_path), chosen, s.temp_root,
                                      s.launch_root, [] { wait_event(0); });
  if (!result.written) {
    warn("The archive " + s.archive_path + " could not be marked for extraction; nothing was extracted.");
    return false;
  }
  if (result.damaged_at >= 0) warn(damaged_index_text(s.archive_path, result.damaged_at));
  if (!result.launch_target.empty()) s.launch_target = result.launch_target;
  return true;
}

bool prepare_member_launch(bool program_member, const OperationContext& context) {
  OperationState& s = context.state;
  s.launch_target.clear();
  if (context.selection.selection_count == 0) return false;
  ArchiverResult member;
  if (!s.archive_format.empty()) {
    if (!extract_listed_member(context, member)) return false;
  } else {
    if (!marking_pass(s, context.selection)) return false;
    if (s.launch_target.empty()) {
      warn("The chosen file is not a member of the archive " + s.archive_path + ".");
      return false;
    }
    s.destination_folder = s.launch_root;
    member = run_archiver(s.program_folder,
                          extract_member_parameters(s.task_count, s.archive_path, s.destination_folder), RunView(),
                          OutputSink(), s.archive_password);
  }
  // A cancelled launch launches nothing, and the user knows why.
  if (member.cancelled) return false;
  if (!member.ok() || !file_exists(s.launch_target)) {
    warn(archiver_failure_text(s.launch_target + " could not be extracted", member));
    return false;
  }
  if (program_member) {
    s.destination_folder = s.launch_root;
    ArchiverResult all = run_archiver(s.program_folder,
                                      extract_all_parameters(s.task_count, s.archive_path, s.destination_folder),
                                      RunView(), OutputSink(), s.archive_password);
    if (all.cancelled) return false;
    // The program itself was extracted and checked above: a member that failed beside it (one
    // still held open by an earlier launch, say) is named, and the program is started anyway.
    if (!all.ok() && file_exists(s.launch_target)) warn(failed_beside_program_text(s.launch_target, all.problems));
    if (!file_exists(s.launch_target)) {
      warn(archiver_failure_text(s.launch_target + " could not be extracted", all));
      return false;
    }
  }
  return true;
}
