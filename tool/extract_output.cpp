// Reading an archive, the output: a member's folder opened safely, its file created, and once
// its data has ended and been checked, put in place (or removed) and its outcome reported.
#include <memory>

#include "extract_stages.h"
#include "format/archive_format.h"
#include "format/path_safety.h"

namespace extraction {
namespace {

std::string join_path(const std::string& base, const std::vector<std::string>& parts, size_t count) {
  std::string path = base;
  for (size_t i = 0; i < count; ++i) {
    if (!path.empty() && path.back() != '/' && path.back() != '\\') path += native_separator();
    path += parts[i];
  }
  return path;
}

// Opens the folder a member goes into: every component below the destination is opened
// relative to its parent's handle and refused when it is a link, at every member, so a folder
// swapped for a link between two members is caught.
bool open_member_folder(const Folder& root, const EntryHeader& h, const std::vector<std::string>& parts,
                        Folder& folder, std::string& problem) {
  // Mostly the folder is there already; walking is for creating it and saying what is wrong.
  if (parts.size() > 1 && root.open_existing(parts, parts.size() - 1, folder)) return true;
  const Folder* parent = &root;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    Folder child;
    switch (parent->open_child(parts[i], child)) {
      case FolderStatus::CREATED:
      case FolderStatus::EXISTS:
        break;
      case FolderStatus::LINK:
        problem = "refused " + h.path() + ": " + join_path(root.path(), parts, i + 1) + " is a link";
        return false;
      case FolderStatus::NOT_FOLDER:
        problem = "cannot create folder " + join_path(root.path(), parts, i + 1) + ": a file is in the way";
        return false;
      case FolderStatus::FAILED:
        problem = "cannot create folder " + join_path(root.path(), parts, i + 1) + ": " + last_error_text();
        return false;
      case FolderStatus::ALIAS:
        problem = "refused " + h.path() + ": " + join_path(root.path(), parts, i + 1) +
                  " is a second name of another folder";
        return false;
    }
    folder = std::move(child);
    parent = &folder;
  }
  return true;
}


// Puts a whole member in place and gives it the archive's Mark of the Web (`zone_mark`).
std::string finish_output(const EntryHeader& h, MemberOutput& out, const std::string& zone_mark) {
  out.file.set_metadata(h.mtime_ns, h.attributes);
  std::string target = join_path(out.folder->path(), {out.name}, 1);
  if (out.created == out.name) {
    if (!out.file.close()) return "cannot write " + target;
    write_zone_mark(target, zone_mark);
    return std::string();
  }
  // The file there is replaced only when it bears this name, not when the name is its short one.
  std::string other = out.folder->other_name(out.name);
  if (!other.empty()) {
    out.file.close();
    out.folder->remove(out.created);
    return "refused " + h.path() + ": " + target + " is a second name of " + other + ", left as it was";
  }
  // The rename replaces a file or a link itself, never what a link points to; a folder in
  // the way makes it fail.
  if (!out.folder->commit(out.file, out.created, out.name)) {
    out.file.close();
    out.folder->remove(out.created);
    return "cannot replace " + target;
  }
  write_zone_mark(target, zone_mark);
  return std::string();
}

// A file of this run that is not whole goes. Should it stay, that is said even after a cancel,
// whose other consequences go unreported: left silently, it would pass for the member.
void remove_partial(WorkerState& state, MemberOutput& out) {
  out.file.close();
  if (out.folder->remove(out.created)) return;
  state.result.ok = false;
  state.result.problems.push_back("cannot remove the partly written " + join_path(out.folder->path(), {out.created}, 1) +
                                  ": " + last_error_text());
}

// The outcome of one member: `refusal` (it cannot be written here) before `problem` (its data).
void report_member(WorkerState& state, size_t index, const std::string& refusal, const std::string& problem,
                   bool written) {
  const Shared& shared = state.shared;
  const EntryHeader& h = shared.entries[index].header;
  if (!refusal.empty()) state.fail_member(refusal);
  else if (!problem.empty()) state.fail_member(h.path() + ": " + problem);
  else state.done(h.size);
  if (written && problem.empty() && refusal.empty() && !shared.renamed[index].empty()) {
    state.result.renamed++;
    state.note(h.path() + " extracted as " + h.folder + shared.renamed[index] + ": its name differs from " +
               shared.entries[shared.clash[index]].header.path() + " only in letter case");
  }
}

// One member already decoded and checked goes to disk.
void write_member(WorkerState& state, size_t index, const uint8_t* bytes, size_t size) {
  if (cancelled(state.shared.job.control)) return;
  MemberOutput out;
  std::string refusal;
  open_output(state.shared, index, out, refusal);
  if (out.active && size > 0 && !out.file.write(bytes, size)) out.failed = true;
  end_output(state, index, out, refusal, std::string());
}

}  // namespace

void open_output(Shared& shared, size_t index, MemberOutput& out, std::string& problem) {
  const EntryHeader& h = shared.entries[index].header;
  MemberPathCheck check = shared.job.file_name ? check_member_path("", shared.job.file_name(index))
                                               : check_member_path(h.folder, h.name);
  if (!check.ok) {
    problem = "refused " + h.path() + ": " + check.reason;
    return;
  }
  if (!open_member_folder(shared.root, h, check.components, out.own_folder, problem)) return;
  out.folder = check.components.size() > 1 ? &out.own_folder : &shared.root;
  out.name = shared.renamed[index].empty() ? check.components.back() : shared.renamed[index];
  // A name nobody holds is written in place, created exclusively (a link there is not nothing:
  // creating fails). What is there already is replaced only by a whole file, written under an
  // unpredictable temporary name, also created exclusively, so nothing planted can be followed.
  uint32_t mode = creation_mode(h.unix_mode, h.attributes);
  out.created = out.name;
  if (!out.folder->create_file(out.created, mode, out.file)) {
    // A free name was chosen for it: what holds that name now is somebody else's.
    if (!shared.renamed[index].empty()) {
      problem = "cannot extract " + h.path() + " as " + join_path(out.folder->path(), {out.name}, 1) +
                ": that name was taken meanwhile";
      return;
    }
    out.created = ".vantor-" + random_token() + ".part";
    if (!out.folder->create_file(out.created, mode, out.file)) {
      problem = "cannot create " + join_path(out.folder->path(), {out.name}, 1) + ": " + last_error_text();
      return;
    }
  }
  out.active = true;
}

bool make_member_folder(const Shared& shared, const EntryHeader& h, std::string& problem) {
  MemberPathCheck check = check_member_path(h.folder, h.name);
  if (!check.ok) {
    problem = "refused " + h.path() + ": " + check.reason;
    return false;
  }
  // The walk opens every component but the last, a file's name: the folder's own goes below it.
  check.components.emplace_back();
  Folder folder;
  return open_member_folder(shared.root, h, check.components, folder, problem);
}

void end_output(WorkerState& state, size_t index, MemberOutput& out, std::string refusal,
                const std::string& problem) {
  bool partial = out.active && (!problem.empty() || !refusal.empty() || out.failed);
  if (problem.empty() && refusal.empty() && out.active) {
    if (out.failed) refusal = "cannot write " + join_path(out.folder->path(), {out.name}, 1);
    else refusal = finish_output(state.shared.entries[index].header, out, state.shared.zone_mark);
  }
  if (partial) remove_partial(state, out);
  report_member(state, index, refusal, problem, out.active);
}

namespace {

// A writer thread's part: members already decoded and checked go to disk.
void write_held(Shared& shared, int slot, HeldBatch& batch) {
  WorkerState state{shared, shared.writer_results[static_cast<size_t>(slot)]};
  const uint8_t* bytes = batch.bytes.data();
  for (const HeldBatch::Member& m : batch.members) {
    write_member(state, m.index, bytes, m.size);
    bytes += m.size;
  }
  shared.writers->give_back(std::move(batch.bytes));
}

}  // namespace

void post_held(Shared& shared, HeldBatch& batch) {
  if (batch.members.empty()) return;
  // Every posted task runs once, and it frees the batch after giving its buffer back.
  auto* held = new HeldBatch(std::move(batch));
  batch = HeldBatch();
  shared.writers->post(held->bytes.capacity(), [&shared, held](int slot) {
    std::unique_ptr<HeldBatch> owned(held);
    write_held(shared, slot, *owned);
  });
}

}  // namespace extraction
