// Removing members: the index is read under the archive's lock, every named path is matched,
// and only when all of them name something is the archive written again without them.
#include "remove.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "archive_commit.h"
#include "format/archive_format.h"
#include "file_io.h"
#include "remove_stream.h"

namespace {

constexpr size_t UNMATCHED_SHOWN = 5;

// The stored path a member or folder name stands for: '\' read as '/', trailing separators
// dropped (a folder is named with or without one).
std::string removal_key(const std::string& path) {
  std::string key = path;
  std::replace(key.begin(), key.end(), '\\', '/');
  while (!key.empty() && key.back() == '/') key.pop_back();
  return key;
}

struct Plan {
  int64_t index_start = 0;
  std::vector<StoredEntry> entries;
  std::vector<char> removed;  // per entry
  std::vector<StreamSpan> streams;
  int64_t removed_count = 0;
  std::vector<CopyRewrite> rewrites;
  std::string copies_folder;  // the data of copies that become members; ours, removed whole
  ~Plan() {
    if (!copies_folder.empty()) remove_tree(copies_folder);
  }
};

// Marks the entries the job's paths name; says which paths named nothing.
void mark_removed(const RemoveJob& job, Plan& plan, std::vector<std::string>& unmatched) {
  std::unordered_map<std::string, bool> keys;  // key -> matched something
  for (const std::string& path : job.paths) keys.emplace(removal_key(path), false);
  plan.removed.assign(plan.entries.size(), 0);
  for (size_t i = 0; i < plan.entries.size(); ++i) {
    std::string member = plan.entries[i].header.path();
    std::replace(member.begin(), member.end(), '\\', '/');
    // The member itself, then every folder above it.
    for (size_t end = member.size(); end != std::string::npos && end > 0; end = member.rfind('/', end - 1)) {
      auto hit = keys.find(member.substr(0, end));
      if (hit == keys.end()) continue;
      hit->second = true;
      plan.removed[i] = 1;
    }
    plan.removed_count += plan.removed[i];
  }
  for (const std::string& path : job.paths) {
    auto hit = keys.find(removal_key(path));
    if (!hit->second) {
      unmatched.push_back(path);
      hit->second = true;  // named once however often it was given
    }
  }
}

void group_streams(Plan& plan) {
  for (size_t i = 0; i < plan.entries.size(); ++i) {
    if (plan.streams.empty() || !(plan.entries[i].header.flags & ENTRY_FLAG_SOLID_NEXT))
      plan.streams.push_back(StreamSpan{i, 0, 0});
    plan.streams.back().count++;
    plan.streams.back().kept += plan.removed[i] ? 0 : 1;
  }
}

bool fail(RemoveResult& result, const std::string& problem) {
  result.run.ok = false;
  result.run.problems.push_back(problem);
  return false;
}

bool take_lock(const RemoveJob& job, ArchiveLock& lock, RemoveResult& result) {
  ArchiveLock::Outcome locked = lock.take(job.archive_path, job.lock_wait_ms);
  if (locked == ArchiveLock::Outcome::TAKEN) return true;
  return fail(result, lock_problem(job.archive_path, locked, job.lock_wait_ms));
}

bool make_plan(const RemoveJob& job, Plan& plan, RemoveResult& result) {
  std::string problem;
  plan.index_start = index_start(job.archive_path);
  FileInfo info = file_info(job.archive_path);
  if (!info.exists) return fail(result, "cannot find " + job.archive_path + ": " + last_error_text());
  // Replacing would take the read-only mark off with the file: the user's protection wins.
  if (info.attributes & ATTRIBUTE_READONLY)
    return fail(result, job.archive_path + " is read-only; nothing was removed (clear its read-only mark first)");
  if (!read_index(job.archive_path, plan.index_start, plan.entries, problem))
    return fail(result, "cannot remove from " + job.archive_path + ", left as it was: " + problem);
  std::vector<std::string> unmatched;
  mark_removed(job, plan, unmatched);
  for (size_t i = 0; i < unmatched.size() && i < UNMATCHED_SHOWN; ++i)
    fail(result, unmatched[i] + ": no such member or folder in " + job.archive_path);
  if (unmatched.size() > UNMATCHED_SHOWN)
    fail(result, "and " + std::to_string(unmatched.size() - UNMATCHED_SHOWN) + " more paths not in " +
                     job.archive_path);
  if (!unmatched.empty()) return fail(result, "nothing was removed; " + job.archive_path + " is as it was");
  group_streams(plan);
  return true;
}

// Decodes, by place, the data of the copies that become members into a folder of our own.
bool unpack_heirs(const RemoveJob& job, Plan& plan, const std::unordered_set<size_t>& heirs, std::string& problem) {
  std::string folder = job.archive_path + ".vantor-" + random_token() + ".d";
  if (create_folder(folder) != FolderStatus::CREATED) {
    problem = "cannot create the temporary folder " + folder + ": " + last_error_text();
    return false;
  }
  plan.copies_folder = folder;
  ReadJob read;
  read.archive_path = job.archive_path;
  read.destination = folder;
  read.index_start = plan.index_start;
  read.file_name = [&heirs](size_t entry) {
    return heirs.count(entry) ? std::to_string(entry) : std::string();
  };
  RunResult result = read_archive_with(read, nullptr);
  if (!result.ok) problem = result.problems.empty() ? "cannot read the data of its copies" : result.problems.front();
  for (CopyRewrite& r : plan.rewrites)
    if (!r.data_path.empty()) r.data_path = folder + native_separator() + r.data_path;
  return result.ok;
}

// Kept copies of a removed member: the first becomes a stored member holding the data, the later
// ones name it.
bool plan_copies(const RemoveJob& job, Plan& plan, RemoveResult& result) {
  std::unordered_map<size_t, EntryHeader> heir_of;  // removed member -> the copy taking its place
  std::unordered_set<size_t> heirs;
  File old;
  std::string refused = "cannot remove from " + job.archive_path + ", left as it was: ";
  for (size_t i = 0; i < plan.entries.size(); ++i) {
    size_t source = plan.entries[i].source;
    if (plan.removed[i] || source == StoredEntry::NO_SOURCE || !plan.removed[source]) continue;
    EntryHeader h;
    if ((!old.is_open() && !old.open_read(job.archive_path)) || !read_stored_header(old, plan.entries[i], h))
      return fail(result, refused + "cannot read the header of " + plan.entries[i].header.path());
    CopyRewrite r{i, {}, {}, 0};
    auto heir = heir_of.find(source);
    if (heir == heir_of.end()) {
      h.copy_of.clear();
      h.copy_of_flags = 0;
      h.compressed_size = static_cast<uint64_t>(h.size);
      r.data_path = std::to_string(i);
      r.data_size = h.size;
      heir_of.emplace(source, h);
      heirs.insert(i);
    } else {
      h.copy_of = heir->second.path();
      h.copy_of_flags = heir->second.flags & ENTRY_FLAG_UTF8_NAMES;
    }
    h.entry_length = header_size(h) + static_cast<int64_t>(h.compressed_size);
    r.header = encode_header(h);
    plan.rewrites.push_back(std::move(r));
  }
  std::string problem;
  if (!heirs.empty() && !unpack_heirs(job, plan, heirs, problem)) return fail(result, refused + problem);
  return true;
}

// The self-extracting program in front of the index, byte for byte.
bool copy_stub(const RemoveJob& job, int64_t size, ArchiveOutput& out) {
  if (size == 0) return true;
  File old;
  std::vector<uint8_t> stub(static_cast<size_t>(size));
  return old.open_read(job.archive_path) && old.read_at(0, stub.data(), stub.size()) &&
         out.write(stub.data(), stub.size());
}

bool write_without(const RemoveJob& job, const Plan& plan, RemoveResult& result) {
  std::string token = random_token();
  Replacement replacement;
  if (!replacement.create(job.archive_path, token))
    return fail(result, "cannot create " + job.archive_path + ".vantor-" + token + ".tmp: " + last_error_text());
  ArchiveOutput out(replacement.file());
  KeptEntries kept{job.archive_path, plan.index_start, &plan.entries, &plan.removed, plan.streams,
                   job.deflate, job.zstd, job.lzma, job.control, job.progress, &plan.rewrites};
  std::string problem;
  bool cancelled_run = false;
  std::string refused = "cannot remove from " + job.archive_path + ", left as it was: ";
  if (!copy_stub(job, plan.index_start, out))
    return fail(result, refused + "cannot copy its program: " + last_error_text());
  if (!write_kept_entries(kept, out, problem, cancelled_run)) {
    result.run.cancelled = cancelled_run;
    result.run.ok = false;
    if (!cancelled_run) fail(result, refused + problem);
    return false;
  }
  if (!out.finish()) return fail(result, refused + write_problem());
  result.run.bytes_out = out.written();
  // The archive replaced keeps its Mark of the Web, as one added to does.
  std::string zone_mark = read_zone_mark(job.archive_path);
  if (!replacement.commit(problem)) return fail(result, problem);
  write_zone_mark(job.archive_path, zone_mark);
  return true;
}

}  // namespace

RemoveResult remove_members(const RemoveJob& job) {
  RemoveResult result;
  Plan plan;  // holds the member names the live figures point to: it outlives `forget`
  ForgetMemberOnExit forget{job.control};
  // Held until the new archive is in place: a run adding to it meanwhile would lose its members.
  ArchiveLock lock;
  if (!take_lock(job, lock, result)) return result;
  remove_stale_temporaries(job.archive_path);
  if (!make_plan(job, plan, result) || !plan_copies(job, plan, result)) return result;
  RemoveJob settings = job;
  int threads = resolve_thread_count(job.threads);
  settings.zstd.workers = threads > 1 ? threads : 0;
  int encoders = 1;
  std::string note = fit_zstd_memory(settings.zstd, encoders, address_space_budget());
  bool zstd_rewritten = false;
  for (const StreamSpan& span : plan.streams)
    zstd_rewritten |= span.kept > 0 && span.kept < span.count && plan.entries[span.first].header.method == METHOD_ZSTD;
  if (!note.empty() && zstd_rewritten) result.run.notes.push_back(note);
  if (!write_without(settings, plan, result)) return result;
  result.removed = plan.removed_count;
  result.run.members = static_cast<int64_t>(plan.entries.size()) - plan.removed_count;
  return result;
}
