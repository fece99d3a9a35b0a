// The list file of a removal lives in the user's temporary folder, created new under a name
// of our own (the program folder may not be writable), and goes when the run has ended.
#include <windows.h>

#include "operations/archiver_contract.h"
#include "operations/archiver_run.h"
#include "operations/delete_members.h"
#include "operations/operation_texts.h"
#include "ui/note.h"
#include "ui/ui.h"

namespace {

constexpr const char* TITLE = "Delete";

std::string write_removal_list(const std::string& archive_path, const std::vector<std::string>& members) {
  char folder[MAX_PATH + 1];
  DWORD length = GetTempPathA(sizeof folder, folder);
  if (length == 0 || length > MAX_PATH) return std::string();
  std::vector<std::string> slots(1);
  slots.insert(slots.end(), members.begin(), members.end());
  std::string bytes = list_file_bytes(archive_path, slots, static_cast<int>(members.size()));
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string path = std::string(folder) + "vantor-delete-" + std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(GetTickCount() + attempt) + ".lis";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (file == INVALID_HANDLE_VALUE) continue;
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    CloseHandle(file);
    if (ok) return path;
    DeleteFileA(path.c_str());
    return std::string();
  }
  return std::string();
}

}  // namespace

bool delete_members(const OperationContext& context, int folders) {
  const OperationState& s = context.state;
  std::vector<std::string> members = member_paths(context.selection, s.temp_root);
  if (members.empty()) return false;
  int answer = message_box(TITLE, delete_question_text(s.archive_path, static_cast<int>(members.size()), folders),
                           MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
  if (answer != IDYES) return false;
  std::string list_file = write_removal_list(s.archive_path, members);
  if (list_file.empty()) {
    message_box("Note:", "Nothing was removed: the list of members could not be written to the temporary folder.",
                NOTE_WARNING);
    return false;
  }
  RunView view;
  view.busy_what = "deleting";
  ArchiverResult result = run_archiver(s.program_folder, delete_parameters(list_file), view);
  DeleteFileA(list_file.c_str());
  if (result.cancelled) {
    message_box("Note:", "Deleting from " + s.archive_path + " was cancelled; the archive is unchanged.", NOTE_WARNING);
  } else if (!result.ok()) {
    message_box("Note:", archiver_failure_text("Nothing was removed from " + s.archive_path, result), NOTE_WARNING);
  }
  return result.ok();
}
