// The compression window (window 1): names the archive, sets the options, writes master.lis and
// runs the archiver on the selection list.
#include <windows.h>

#include <fstream>

#include "archive/foreign_listing.h"
#include "format/archive_layout.h"
#include "operations/archiver_contract.h"
#include "operations/archiver_run.h"
#include "operations/compression_window.h"
#include "operations/mode_window.h"
#include "operations/operation_texts.h"
#include "operations/password.h"
#include "operations/password_window.h"
#include "runtime/text.h"
#include "ui/note.h"
#include "ui/ui.h"

namespace {

constexpr int WINDOW = 1;
constexpr int METHOD_LABEL = 7, METHOD_SLIDER = 8, ARCHIVE_NAME_LABEL = 9, ARCHIVE_NAME_FIELD = 10;
constexpr int SEARCH_BUTTON = 11, OK_BUTTON = 12, EXIT_BUTTON = 13, SOLID_CHECK = 14, ULTRA_CHECK = 15;
constexpr int TASK_LABEL = 16, TASK_SLIDER = 17, BUFFER_LABEL = 18, BUFFER_SLIDER = 19;
constexpr int RECURSIVE_CHECK = 20, SELF_EXTRACTION_CHECK = 21, OPTIONS_LABEL = 22;
constexpr int DICTIONARY_LABEL = 40, DICTIONARY_SLIDER = 41;
// A run's bar and its two status lines sit in the free room between the options and the buttons.
// Gadget numbers are shared by every window: these are free in the main window too.
constexpr int PROGRESS_BAR = 42, PROGRESS_STATUS = 43;
// The password button and what is set sit left of the OK button, where nothing else stands.
constexpr int PASSWORD_BUTTON = 55, PASSWORD_STATE = 56;
const RunView RUN_VIEW{WINDOW, EXIT_BUTTON, {PROGRESS_BAR, 10, 278, 380, 18}, {PROGRESS_STATUS, 10, 300, 380, 32}};

void create_gadgets(const OperationState& s) {
  text_gadget(ARCHIVE_NAME_LABEL, 10, 20, 380, 20, "Archive name: ");
  text_gadget(OPTIONS_LABEL, 10, 70, 380, 20, "Option selection: ");
  string_gadget(ARCHIVE_NAME_FIELD, 10, 40, 380, 20, "Archive.vnr");
  button_gadget(SEARCH_BUTTON, 340, 5, 50, 25, "Search..");
  button_gadget(OK_BUTTON, 280, 335, 50, 30, "OK");
  button_gadget(EXIT_BUTTON, 340, 335, 50, 30, "Retry");
  checkbox_gadget(SOLID_CHECK, 10, 90, 100, 20, "Solid archive");
  checkbox_gadget(ULTRA_CHECK, 10, 130, 100, 20, "Ultra compression");
  text_gadget(METHOD_LABEL, 120, 110, 260, 20, method_label(s.compression_method), TEXT_CENTER);
  trackbar_gadget(METHOD_SLIDER, 120, 90, 260, 20, 0, 3);
  text_gadget(TASK_LABEL, 120, 150, 260, 20, task_label(s.task_count), TEXT_CENTER);
  trackbar_gadget(TASK_SLIDER, 120, 130, 260, 20, 0, 8);
  text_gadget(BUFFER_LABEL, 120, 190, 260, 20, buffer_label(s.buffer_position), TEXT_CENTER);
  trackbar_gadget(BUFFER_SLIDER, 120, 170, 260, 20, 1, 256);
  text_gadget(DICTIONARY_LABEL, 120, 230, 260, 20, dictionary_label(s.dictionary_position), TEXT_CENTER);
  trackbar_gadget(DICTIONARY_SLIDER, 120, 210, 260, 20, 0, 7);
  checkbox_gadget(RECURSIVE_CHECK, 10, 170, 100, 20, "Recursive");
  checkbox_gadget(SELF_EXTRACTION_CHECK, 10, 210, 100, 20, "Self extraction");
  button_gadget(PASSWORD_BUTTON, 10, 335, 90, 30, "Password\u2026");
  text_gadget(PASSWORD_STATE, 108, 342, 170, 20, "");
}

std::string password_state_text(const NewPassword& secret) {
  if (secret.password.empty()) return std::string();
  return secret.encrypt_names ? "encrypted, names too" : "encrypted";
}

void choose_password(NewPassword& secret) {
  if (ask_new_password(WINDOW, secret)) gadget_set_text(PASSWORD_STATE, password_state_text(secret));
}

void set_up_gadgets(OperationState& s) {
  gadget_set_state(SOLID_CHECK, s.solid_switch == "-s" ? 1 : 0);
  gadget_set_state(ULTRA_CHECK, s.ultra_switch == "x" ? 1 : 0);
  gadget_set_state(METHOD_SLIDER, s.compression_method);
  gadget_set_state(TASK_SLIDER, s.task_count);
  gadget_set_state(BUFFER_SLIDER, s.buffer_position);
  gadget_set_state(DICTIONARY_SLIDER, s.dictionary_position);
  gadget_set_state(RECURSIVE_CHECK, 1);
  gadget_set_tooltip(SEARCH_BUTTON, "Search new archive name in drive");
  gadget_set_tooltip(OK_BUTTON, "Compress files and folders");
  gadget_set_tooltip(EXIT_BUTTON, "Exit");
  gadget_set_tooltip(PASSWORD_BUTTON, "Protect the archive with a password");
  if (s.archive_path.empty()) s.archive_path = s.program_folder + "Archive.vnr";
  gadget_set_text(ARCHIVE_NAME_FIELD, s.archive_path);
}

void search_archive_name(OperationState& s) {
  s.archive_path = open_file_requester("Please choose name of archive", s.program_folder, "", 0);
  if (s.archive_path.empty()) s.archive_path = s.program_folder + "Archive.vnr";
  gadget_set_text(ARCHIVE_NAME_FIELD, s.archive_path);
}

bool write_list_file(const std::string& path, const OperationState& s, const SelectionTable& selection) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  std::string bytes = list_file_bytes(s.archive_path, selection.selection_list, selection.selection_count);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// A zip is written for other programs to read: it cannot start itself. The window stays open so
// the choice can be changed. False then.
bool zip_choice_possible(const OperationState& s) {
  if (!is_zip_name(s.archive_path) || s.self_extraction_switch.empty()) return true;
  message_box("Note:", "A .zip archive cannot be self-extracting: clear \"Self extraction\" or name a .vnr archive.",
              NOTE_WARNING);
  return false;
}

void compress(OperationState& s, const SelectionTable& selection, const NewPassword& secret) {
  std::string list_file = s.program_folder + "\\master.lis";
  bool listed = write_list_file(list_file, s, selection);
  DWORD start = GetTickCount();
  std::string parameters = compress_parameters(s.self_extraction_switch, s.recursive_switch, 4 * s.buffer_position,
                                               s.dictionary_position, s.task_count, s.solid_switch,
                                               s.ultra_switch, s.compression_method, s.program_folder);
  if (!secret.password.empty() && secret.encrypt_names) parameters = with_switch(parameters, "-he");
  ArchiverResult result;
  // Only the exit button stays live during the run: it, or the close box, cancels it.
  begin_mode_run(EXIT_BUTTON, {ARCHIVE_NAME_FIELD, SEARCH_BUTTON, OK_BUTTON, SOLID_CHECK, ULTRA_CHECK, METHOD_SLIDER,
                               TASK_SLIDER, BUFFER_SLIDER, DICTIONARY_SLIDER, RECURSIVE_CHECK, SELF_EXTRACTION_CHECK,
                               PASSWORD_BUTTON});
  if (listed) result = run_archiver(s.program_folder, parameters, RUN_VIEW, OutputSink(), secret.password);
  end_mode_run(EXIT_BUTTON);
  DWORD end = GetTickCount();
  DeleteFileA(list_file.c_str());
  s.elapsed_seconds = elapsed_seconds_between(start, end);
  draw_text(10, 250, "compression stopped..", rgb(20, 20, 20));
  // A self-extracting archive is written as a program: report the name it really got.
  std::string written = s.self_extraction_switch.empty() ? s.archive_path : self_extracting_path(s.archive_path);
  if (!listed) {
    message_box("Note:", "The archive was not written: the list file " + list_file + " could not be created.",
                NOTE_WARNING);
  } else if (result.cancelled) {
    message_box("Note:", cancelled_compression_text(written, s.elapsed_seconds), NOTE_WARNING);
  } else if (!result.ok()) {
    message_box("Note:", archiver_failure_text("The archive " + written + " was not written", result),
                NOTE_WARNING);
  } else {
    message_box("Added", added_text(written, s.elapsed_seconds), MB_OK);
  }
}

// The archiver takes no password for a zip or a self-extracting program: said here, so the
// window stays open for the choice to change. False then.
bool password_choice_possible(const OperationState& s, const NewPassword& secret) {
  bool program = !s.self_extraction_switch.empty() || file_extension(s.archive_path) == "exe" ||
                 file_extension(s.archive_path) == "EXE";
  if (secret.password.empty() || (!program && !is_zip_name(s.archive_path))) return true;
  message_box("Note:", "A password cannot protect a .zip archive or a self-extracting program: name a .vnr archive "
                       "and clear \"Self extraction\", or leave with Retry to add without a password.", NOTE_WARNING);
  return false;
}

// Every gadget event, whatever its type.
bool handle_gadget(int gadget, const OperationContext& context, NewPassword& secret) {
  OperationState& s = context.state;
  switch (gadget) {
    case METHOD_SLIDER:
      s.compression_method = gadget_get_state(METHOD_SLIDER);
      gadget_set_text(METHOD_LABEL, method_label(s.compression_method));
      break;
    case DICTIONARY_SLIDER:
      s.dictionary_position = gadget_get_state(DICTIONARY_SLIDER);
      gadget_set_text(DICTIONARY_LABEL, dictionary_label(s.dictionary_position));
      break;
    case ARCHIVE_NAME_FIELD: s.archive_path = gadget_get_text(ARCHIVE_NAME_FIELD); break;
    case SEARCH_BUTTON: search_archive_name(s); break;
    case OK_BUTTON:
      if (!zip_choice_possible(s) || !password_choice_possible(s, secret)) return false;
      compress(s, context.selection, secret);
      return true;
    case PASSWORD_BUTTON: choose_password(secret); break;
    case EXIT_BUTTON: return true;
    case SOLID_CHECK: s.solid_switch = gadget_get_state(SOLID_CHECK) == 1 ? "-s" : ""; break;
    case ULTRA_CHECK: s.ultra_switch = gadget_get_state(ULTRA_CHECK) == 1 ? "x" : ""; break;
    case TASK_SLIDER:
      s.task_count = gadget_get_state(TASK_SLIDER);
      gadget_set_text(TASK_LABEL, task_label(s.task_count));
      break;
    case BUFFER_SLIDER:
      s.buffer_position = gadget_get_state(BUFFER_SLIDER);
      gadget_set_text(BUFFER_LABEL, buffer_label(s.buffer_position));
      break;
    case RECURSIVE_CHECK: s.recursive_switch = gadget_get_state(RECURSIVE_CHECK) == 1 ? " -r " : ""; break;
    case SELF_EXTRACTION_CHECK:
      s.self_extraction_switch = gadget_get_state(SELF_EXTRACTION_CHECK) == 1 ? " -e " : "";
      break;
    default: break;
  }
  return false;
}

}  // namespace

void compression_window(const OperationContext& context) {
  // A password serves one opening: the next archive is not encrypted unless asked again.
  NewPassword secret;
  begin_mode_window();
  context.state.recursive_switch = " -r ";
  context.state.self_extraction_switch.clear();
  if (window_open(WINDOW, 0, 0, 400, 400, "Vantor - compression Mode", 0x10C80001, window_handle(0))) {
    create_gadgets(context.state);
    set_up_gadgets(context.state);
    window_show(WINDOW, 1);
    start_drawing(window_output(WINDOW));
    run_mode_window(WINDOW, [&](int gadget, int) { return handle_gadget(gadget, context, secret); });
  }
  wipe_secret(secret.password);
  stop_drawing();
  end_mode_window(WINDOW, context.release_selection);
}
