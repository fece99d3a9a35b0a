// The jobs of Explorer's menu. No main window: the busy window shows the run with its bar and
// Cancel from the start, a failure is told in one box, and the exit code is the archiver's
// (0 done, 1 a problem, 3 cancelled).
#include <windows.h>

#include "archive/foreign_listing.h"
#include "operations/archiver_contract.h"
#include "operations/archiver_run.h"
#include "operations/busy_window.h"
#include "operations/foreign_members.h"
#include "operations/job_join.h"
#include "operations/operation_texts.h"
#include "operations/password.h"
#include "operations/password_window.h"
#include "operations/placed_extraction.h"
#include "operations/shell_job.h"
#include "operations/smart_extract.h"
#include "operations/verify.h"
#include "runtime/folders.h"
#include "ui/note.h"
#include "ui/ui.h"

namespace {

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool is_folder(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string name_of(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int failed(const std::string& text) {
  message_box("Note:", text, NOTE_WARNING);
  return JOB_PROBLEM;
}

int code_of(const ArchiverResult& result) {
  return result.cancelled ? JOB_CANCELLED : result.ok() ? JOB_DONE : JOB_PROBLEM;
}

// The run in the busy window, shown at once: a job has no other window to show it in.
ArchiverResult run_shown(const std::string& program_folder, const std::string& parameters, const std::string& what,
                         const OutputSink& sink = OutputSink(), const std::string& password = std::string()) {
  RunView view = open_busy_window(what);
  ArchiverResult result = run_archiver(program_folder, parameters, view, sink, password);
  if (view.window >= 0) close_busy_window();
  return result;
}

// One archive from the items, into which an archive already there takes them (as `a` does).
int add_items(const std::string& program_folder, const AddTarget& target, const std::vector<std::string>& items) {
  std::string list_file = write_temporary_list(target.archive, items, "add");
  if (list_file.empty())
    return failed(target.archive + " was not written: the list of files could not be written to the temporary folder.");
  ArchiverResult result =
      run_shown(program_folder, job_add_parameters(target.base, list_file), "adding to " + name_of(target.archive));
  DeleteFileA(list_file.c_str());
  if (!result.ok() && !result.cancelled)
    failed(archiver_failure_text("The archive " + target.archive + " was not written", result));
  return code_of(result);
}

std::vector<bool> folders_among(const std::vector<std::string>& items) {
  std::vector<bool> out;
  for (const std::string& item : items) out.push_back(is_folder(item));
  return out;
}

int add_job(JobVerb verb, const std::vector<std::string>& items, const std::string& program_folder,
            const std::string& late_for) {
  AddTarget target = add_target(items, folders_among(items), verb == JobVerb::ADD_ZIP ? "zip" : "vnr");
  if (!target.problem.empty()) return failed(target.problem);
  if (!late_for.empty()) target.archive = late_for;
  publish_join_archive(target.archive);
  return add_items(program_folder, target, items);
}

// One archive per item, one after another; two items that would share a name ("a.txt", "a.doc")
// keep their extensions instead, so neither is added into the other's archive.
int each_job(const std::vector<std::string>& items, const std::string& program_folder) {
  std::vector<std::string> written;
  int code = JOB_DONE;
  for (const std::string& item : items) {
    AddTarget target = add_target({item}, {is_folder(item)}, "vnr");
    for (const std::string& w : written)
      if (lstrcmpiA(w.c_str(), target.archive.c_str()) == 0)
        target.archive = target.base + name_of(item_without_trailing_separator(item)) + ".vnr";
    if (!target.problem.empty()) {
      code = failed(target.problem);
      continue;
    }
    written.push_back(target.archive);
    int one = add_items(program_folder, target, {item});
    if (one == JOB_CANCELLED) return one;
    if (one != JOB_DONE) code = one;
  }
  return code;
}

// The archive's members as the archiver lists them (ours and other programs' alike). An encrypted
// archive of ours is asked its password first, and again while the archiver says it is wrong;
// members encrypted in another program's archive ask for it once the listing shows them. A
// password window cancelled ends the job as cancelled, before anything is written.
bool list_members(const std::string& program_folder, const std::string& archive, std::vector<SmartMember>& members,
                  std::string& password, int& code) {
  bool ours_protected = archive_protection(archive) != Protection::none;
  for (;;) {
    if (ours_protected && password.empty() && !ask_archive_password(0, archive, password)) {
      code = JOB_CANCELLED;
      return false;
    }
    ForeignListingReader reader;
    ArchiverResult result = run_shown(program_folder, list_parameters(archive), "reading " + name_of(archive),
                                      [&](const std::string& piece) { reader.feed(piece.data(), piece.size()); },
                                      password);
    ForeignListing listing = reader.finish();
    code = code_of(result);
    if (result.cancelled) return false;
    std::string wrong = wrong_password_line(result.problems);
    if (!wrong.empty()) {
      wipe_secret(password);
      message_box("Note:", wrong + "; nothing was extracted.", NOTE_WARNING);
      continue;
    }
    if (!result.ok()) {
      code = failed(archiver_failure_text(archive + " could not be read", result));
      return false;
    }
    if (!listing.sound) {
      code = failed(archive + " could not be read: " + listing.problem);
      return false;
    }
    bool encrypted = false;
    for (const ForeignMember& m : listing.members) {
      members.push_back({m.path, m.kind == 'd'});
      encrypted = encrypted || m.encrypted;
    }
    if (encrypted && password.empty() && !ask_archive_password(0, archive, password)) {
      code = JOB_CANCELLED;
      return false;
    }
    return true;
  }
}

int extract_job(JobVerb verb, const std::string& archive, const std::string& program_folder) {
  std::string parent = item_folder(archive);
  std::vector<SmartMember> members;
  std::string password;
  int code = JOB_DONE;
  // "Extract to" needs the listing only for a password: for an encrypted archive of ours, or for
  // a zip's encrypted members (the only ones of other programs the archiver decrypts). A tar.gz
  // is not read twice for nothing.
  bool listed = verb == JobVerb::HERE || archive_protection(archive) != Protection::none || is_zip_name(archive);
  if (listed && !list_members(program_folder, archive, members, password, code)) return code;
  SmartPlan plan = verb == JobVerb::HERE ? smart_plan(members, archive, name_taken_in(parent))
                                         : SmartPlan{false, "", false, free_name(archive_stem(archive), false,
                                                                                 name_taken_in(parent))};
  RunView view = open_busy_window("extracting " + name_of(archive));
  PlacedExtraction done = run_placed_extraction(
      program_folder, parent, archive_stem(archive), plan,
      [&](const std::string& into) { return extract_all_parameters(1, archive, into); }, view, password);
  wipe_secret(password);
  if (view.window >= 0) close_busy_window();
  if (!done.problem.empty()) return failed(done.problem);
  if (!done.result.ok() && !done.result.cancelled) {
    std::string where = done.placed.empty() ? parent : done.placed;
    failed(archiver_failure_text(archive + " was not fully extracted to " + where, done.result));
  }
  return code_of(done.result);
}

int verify_job(const std::vector<std::string>& archives, const std::string& program_folder) {
  std::string text;
  bool intact = true, cancelled = false;
  for (const std::string& archive : archives) {
    std::string not_archive = not_archive_reason(archive);
    VerifyFindings f;
    DWORD start = GetTickCount();
    std::string password;
    if (!not_archive.empty()) {
      f = not_archive_findings(not_archive);
    } else if (archive_protection(archive) != Protection::none && !ask_archive_password(0, archive, password)) {
      f.started = true;
      f.failure = "no password was given";
    } else {
      f = verify_findings(run_shown(program_folder, verify_parameters(archive), "verifying " + name_of(archive),
                                    OutputSink(), password));
      wipe_secret(password);
    }
    float seconds = elapsed_seconds_between(start, GetTickCount());
    intact = intact && f.intact;
    cancelled = f.cancelled;
    if (!text.empty()) text += "\n";
    text += archives.size() == 1 ? verify_report_text(archive, f, seconds) : verify_line(archive, f);
    if (cancelled) break;
  }
  message_box("Verify", text, intact ? NOTE_INFORMATION : NOTE_WARNING);
  return cancelled ? JOB_CANCELLED : intact ? JOB_DONE : JOB_PROBLEM;
}

int run_verb(JobVerb verb, const std::vector<std::string>& items, const std::string& program_folder,
             const std::string& late_for) {
  switch (verb) {
    case JobVerb::ADD_VNR:
    case JobVerb::ADD_ZIP: return add_job(verb, items, program_folder, late_for);
    case JobVerb::EACH: return each_job(items, program_folder);
    case JobVerb::VERIFY: return verify_job(items, program_folder);
    default: break;
  }
  int code = JOB_DONE;
  for (const std::string& archive : items) {
    int one = extract_job(verb, archive, program_folder);
    if (one == JOB_CANCELLED) return one;
    if (one != JOB_DONE) code = one;
  }
  return code;
}

}  // namespace

int run_job(JobVerb verb, const std::vector<std::string>& items, const std::string& program_folder) {
  if (items.empty()) return failed(job_usage_text());
  for (const std::string& item : items)
    if (!exists(item)) return failed(item + " was not found.");
  std::vector<std::string> all = items;
  std::string late_for;
  if (job_joins(verb)) {
    int code = JOB_DONE;
    if (!join_instances(verb, item_folder(items[0]), all, code, late_for)) return code;
  }
  int code = run_verb(verb, all, program_folder, late_for);
  if (job_joins(verb)) leave_join();
  return code;
}
