// The marking pass on the open archive, and the two archiver runs that bring a single member
// into the launch folder.
#include <windows.h>

#include "operations/archiver_contract.h"
#include "operations/archiver_run.h"
#include "operations/marking.h"
#include "operations/member_launch.h"
#include "shell/dispatch.h"
#include "shell/globals.h"
#include "ui/ui.h"

namespace {

void warn(const std::string& text) { message_box("Note:", text, NOTE_WARNING); }

bool file_exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string unopenable_reason(const std::string& path) {
  if (!file_exists(path)) return "The archive " + path + " no longer exists; nothing was extracted.";
  return "The archive " + path + " cannot be written (it is read-only or in use); nothing was extracted.";
}

}  // namespace

bool marking_pass() {
  std::unique_ptr<ByteSource> archive = open_file_source(shell.archive_path, true);
  if (!archive) {
    warn(unopenable_reason(shell.archive_path));
    return false;
  }
  std::vector<std::string> chosen(shell.selection_list.begin() + 1,
                                  shell.selection_list.begin() + 1 + shell.selection_count);
  MarkingResult result = mark_entries(*archive, index_start(shell.archive_path), chosen, shell.temp_root,
                                      shell.launch_root, [] { wait_event(0); });
  if (result.damaged) {
    warn("The archive " + shell.archive_path + " is damaged; it was left unchanged and nothing was extracted.");
    return false;
  }
  if (!result.written) {
    warn("The archive " + shell.archive_path + " could not be marked for extraction; nothing was extracted.");
    return false;
  }
  if (!result.launch_target.empty()) shell.launch_target = result.launch_target;
  return true;
}

bool prepare_member_launch(bool program_member) {
  shell.launch_target.clear();
  if (shell.selection_count == 0 || !marking_pass()) return false;
  if (shell.launch_target.empty()) {
    warn("The chosen file is not a member of the archive " + shell.archive_path + ".");
    return false;
  }
  shell.destination_folder = shell.launch_root;
  ArchiverResult member = run_archiver(extract_member_parameters(shell.task_count, shell.archive_path,
                                                                 shell.destination_folder));
  if (!member.ok() || !file_exists(shell.launch_target)) {
    warn(archiver_failure_text(shell.launch_target + " could not be extracted", member));
    return false;
  }
  if (program_member) {
    shell.destination_folder = shell.launch_root;
    ArchiverResult all = run_archiver(extract_all_parameters(shell.task_count, shell.archive_path,
                                                             shell.destination_folder));
    if (!all.ok()) {
      warn(archiver_failure_text("The archive beside the program " + shell.launch_target + " could not be extracted",
                                 all));
      return false;
    }
  }
  return true;
}
