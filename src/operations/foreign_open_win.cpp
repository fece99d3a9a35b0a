// Opening an archive of another program: the archiver lists it, the listing becomes the mirror.
#include "archive/open_archive.h"
#include "operations/archiver_contract.h"
#include "operations/archiver_run.h"
#include "operations/busy_window.h"
#include "operations/foreign_members.h"

namespace {

std::string listing_failure(const ArchiverResult& run, const ForeignListing& listing) {
  if (!run.started) return run.reason;
  if (!run.problems.empty()) return run.problems.back();
  if (run.exit_code != 0) return "the archiver ended with code " + std::to_string(run.exit_code);
  return listing.problem;
}

}  // namespace

ArchiveSession open_foreign_archive_busy(const std::string& program_folder, const std::string& path,
                                         const std::string& mirror_root, EntryTable& table) {
  ForeignListingReader reader(TABLE_CAPACITY);
  RunView view;
  view.busy_what = "opening";
  ArchiverResult run = run_archiver(program_folder, list_parameters(path), view,
                                    [&](const std::string& piece) { reader.feed(piece.data(), piece.size()); });
  ForeignListing listing = reader.finish();
  ArchiveSession session;
  session.path = path;
  session.mirror_root = mirror_root;
  if (run.cancelled) {
    session.cancelled = true;
    return session;
  }
  if (!run.ok() || !listing.sound) {
    session.problem = listing_failure(run, listing);
    return session;
  }
  if (listing.format == "vnr") {  // one of ours under another name: the caller walks it
    session.format = listing.format;
    return session;
  }
  BusyWork busy("opening");
  return open_foreign_archive(path, listing, mirror_root, table,
                              [&](int64_t done, int64_t total, int members) {
                                return busy.poll(done, total, std::to_string(members) + " members read");
                              });
}
