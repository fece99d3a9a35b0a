// Opening an archive through the archiver: another program's, listed and made the mirror, or an
// encrypted one of ours, whose password is tried before anything is shown.
#include "archive/open_archive.h"
#include "operations/archiver_contract.h"
#include "operations/archiver_run.h"
#include "operations/busy_window.h"
#include "operations/foreign_members.h"
#include "operations/password.h"
#include "operations/password_window.h"
#include "ui/note.h"
#include "ui/ui.h"

namespace {

std::string listing_failure(const ArchiverResult& run, const ForeignListing& listing) {
  if (!run.started) return run.reason;
  if (!run.problems.empty()) return run.problems.back();
  if (run.exit_code != 0) return "the archiver ended with code " + std::to_string(run.exit_code);
  return listing.problem;
}

OpenPoll busy_poll(BusyWork& busy) {
  return [&busy](int64_t done, int64_t total, int members) {
    return busy.poll(done, total, std::to_string(members) + " members read");
  };
}

// Bit 8 alone: the names are readable, so the index is walked as for any archive of ours once
// the archiver has taken the password (its listing is thrown away).
ArchiveSession try_password_then_walk(const std::string& program_folder, const std::string& path,
                                      const std::string& mirror_root, EntryTable& table,
                                      const std::string& password) {
  RunView view;
  view.busy_what = "opening";
  ArchiverResult run = run_archiver(program_folder, list_parameters(path), view, [](const std::string&) {}, password);
  ArchiveSession session;
  session.path = path;
  session.mirror_root = mirror_root;
  session.cancelled = run.cancelled;
  session.wrong_password = wrong_password_line(run.problems);
  if (run.cancelled || !session.wrong_password.empty()) return session;
  if (!run.ok()) {
    session.problem = listing_failure(run, ForeignListing());
    return session;
  }
  BusyWork busy("opening");
  return open_archive(path, mirror_root, table, busy_poll(busy));
}

}  // namespace

ArchiveSession open_foreign_archive_busy(const std::string& program_folder, const std::string& path,
                                         const std::string& mirror_root, EntryTable& table,
                                         const std::string& password) {
  ForeignListingReader reader(TABLE_CAPACITY);
  RunView view;
  view.busy_what = "opening";
  ArchiverResult run = run_archiver(program_folder, list_parameters(path), view,
                                    [&](const std::string& piece) { reader.feed(piece.data(), piece.size()); },
                                    password);
  ForeignListing listing = reader.finish();
  ArchiveSession session;
  session.path = path;
  session.mirror_root = mirror_root;
  if (run.cancelled) {
    session.cancelled = true;
    return session;
  }
  session.wrong_password = wrong_password_line(run.problems);
  if (!run.ok() || !listing.sound) {
    session.problem = listing_failure(run, listing);
    return session;
  }
  if (listing.format == "vnr" && password.empty()) {  // one of ours under another name: the caller walks it
    session.format = listing.format;
    return session;
  }
  BusyWork busy("opening");
  return open_foreign_archive(path, listing, mirror_root, table, busy_poll(busy));
}

ArchiveSession open_protected_archive_busy(const std::string& program_folder, const std::string& path,
                                           bool sealed, const std::string& mirror_root, EntryTable& table,
                                           std::string& password) {
  for (;;) {
    if (password.empty() && !ask_archive_password(0, path, password)) {
      ArchiveSession gave_up;
      gave_up.path = path;
      gave_up.mirror_root = mirror_root;
      gave_up.cancelled = true;
      return gave_up;
    }
    ArchiveSession session = sealed ? open_foreign_archive_busy(program_folder, path, mirror_root, table, password)
                                    : try_password_then_walk(program_folder, path, mirror_root, table, password);
    if (session.wrong_password.empty()) return session;
    wipe_secret(password);
    message_box("Note:", session.wrong_password + "; nothing was opened.", NOTE_WARNING);
  }
}
