// Verify runs `vantor t` like any other archiver run: hidden, with the busy window's bar and
// Cancel past a second, and the result in one box.
#include <windows.h>

#include "operations/archiver_contract.h"
#include "operations/operation_texts.h"
#include "operations/password.h"
#include "operations/password_window.h"
#include "operations/verify.h"
#include "ui/note.h"
#include "ui/ui.h"

namespace {

constexpr const char* TITLE = "Verify";

// A file that is plainly no archive is not handed to the archiver: the line says why.
VerifyFindings test_archive(const std::string& program_folder, const std::string& archive_path,
                            float& seconds, bool foreign = false, const std::string& password = std::string()) {
  std::string not_archive = foreign ? std::string() : not_archive_reason(archive_path);
  if (!not_archive.empty()) return not_archive_findings(not_archive);
  RunView view;
  view.busy_what = "verifying";
  DWORD start = GetTickCount();
  ArchiverResult result = run_archiver(program_folder, verify_parameters(archive_path), view, OutputSink(), password);
  seconds = elapsed_seconds_between(start, GetTickCount());
  return verify_findings(result);
}

// An encrypted archive chosen on disk is tested with the password asked for it, or not at all.
VerifyFindings test_protected_or_plain(const std::string& program_folder, const std::string& archive_path,
                                       float& seconds) {
  if (archive_protection(archive_path) == Protection::none) return test_archive(program_folder, archive_path, seconds);
  std::string password;
  if (!ask_archive_password(0, archive_path, password)) {
    VerifyFindings skipped;
    skipped.started = true;
    skipped.failure = "no password was given";
    return skipped;
  }
  VerifyFindings f = test_archive(program_folder, archive_path, seconds, false, password);
  wipe_secret(password);
  return f;
}

}  // namespace

void verify_archive(const std::string& program_folder, const std::string& archive_path, bool foreign,
                    const std::string& password) {
  float seconds = 0;
  VerifyFindings f = test_archive(program_folder, archive_path, seconds, foreign, password);
  message_box(TITLE, verify_report_text(archive_path, f, seconds), f.intact ? NOTE_INFORMATION : NOTE_WARNING);
}

void verify_archives(const std::string& program_folder, const std::vector<std::string>& chosen) {
  std::vector<std::string> archives = verifiable_files(chosen);
  if (archives.empty()) {
    message_box("Note:", "Please select the archives to verify (.vnr, .zip, .7z, .tar and other archives, or self-extracting .exe "
                         "programs).",
                NOTE_WARNING);
    return;
  }
  constexpr size_t SHOWN = 20;  // lines in the box; the rest are counted
  std::vector<std::string> lines;
  bool all_intact = true;
  size_t i = 0;
  for (; i < archives.size(); ++i) {
    float seconds = 0;
    VerifyFindings f = test_protected_or_plain(program_folder, archives[i], seconds);
    all_intact = all_intact && f.intact;
    // Damaged archives come first so the box never hides one behind the count.
    if (f.intact) lines.push_back(verify_line(archives[i], f));
    else lines.insert(lines.begin(), verify_line(archives[i], f));
    if (f.cancelled) break;
  }
  std::string text;
  for (size_t k = 0; k < lines.size() && k < SHOWN; ++k) text += (k ? "\n" : "") + lines[k];
  if (lines.size() > SHOWN) text += "\nand " + std::to_string(lines.size() - SHOWN) + " more";
  if (i + 1 < archives.size()) text += "\nthe other " + std::to_string(archives.size() - i - 1) + " were not verified";
  message_box(TITLE, text, all_intact ? NOTE_INFORMATION : NOTE_WARNING);
}
