// Writing a zip: the sources (files, and folders kept as members), the members an existing zip
// keeps, each member's data with its choice of deflate or store, and the two engines.
#include "zip_write.h"

#include <zlib.h>

#include <algorithm>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "archive_commit.h"
#include "compress_stages.h"
#include "format/path_safety.h"
#include "format/utf8_text.h"
#include "member_names.h"

using compression::BufferedWriter;

namespace {

constexpr size_t CHUNK = 1 << 18;       // read at a time; also what decides deflate or store
constexpr size_t UNMATCHED_SHOWN = 5;

// One member of the new zip and where its bytes come from.
struct NewMember {
  ZipMember member;
  std::string source;   // the file read; "" for a folder
};

// ---- Sources ----

std::string absolute(const std::string& path) {
  return is_absolute_path(path) ? path : current_directory() + native_separator() + path;
}


std::vector<std::string> unique_absolute(const std::vector<std::string>& paths) {
  std::unordered_set<std::string> seen;
  std::vector<std::string> out;
  for (const std::string& p : paths)
    if (seen.insert(absolute(p)).second) out.push_back(absolute(p));
  return out;
}

std::string joined(const std::vector<std::string>& parts, size_t from) {
  std::string path;
  for (size_t i = from; i < parts.size(); ++i) path += (path.empty() ? "" : "/") + parts[i];
  return path;
}

// Folder members, each with the folder it was walked from ("" when none was): every folder
// above a stored file, and each folder walked that lies below the folder the stored names
// start from (so empty folders are kept too).
std::map<std::string, std::string> folder_members(const std::vector<std::string>& files,
                                                  const std::vector<StoredName>& names,
                                                  const std::vector<std::string>& folders) {
  std::map<std::string, std::string> out;
  for (const StoredName& n : names)
    for (size_t end = n.folder.find('/'); end != std::string::npos; end = n.folder.find('/', end + 1))
      out.emplace(n.folder.substr(0, end), "");
  if (files.empty()) return out;
  std::vector<std::string> root = storage_components(files[0]);
  size_t depth = static_cast<size_t>(std::count(names[0].folder.begin(), names[0].folder.end(), '/'));
  root.resize(root.size() - 1 - depth);
  for (const std::string& f : folders) {
    std::vector<std::string> parts = storage_components(f);
    if (parts.size() > root.size() && std::equal(root.begin(), root.end(), parts.begin())) {
      for (size_t end = root.size() + 1; end < parts.size(); ++end)
        out.emplace(joined(std::vector<std::string>(parts.begin(), parts.begin() + static_cast<std::ptrdiff_t>(end)),
                           root.size()),
                    "");
      out[joined(parts, root.size())] = f;
    }
  }
  return out;
}

bool checked_name(const std::string& path, const std::string& source, std::string& problem) {
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  MemberPathCheck check = check_member_path(folder, name);
  if (!check.ok) problem = "cannot store " + source + ": " + check.reason;
  // A zip names its members in UTF-8 for every reader; other bytes would read differently in each.
  else if (!utf8_valid(path)) problem = "cannot store " + source + " in a zip: its name is not UTF-8 text";
  else if (path.size() > 0xFFFF - 1) problem = "path too long to store in a zip: " + source;
  return check.ok && problem.empty();
}

ZipMember member_from(const FileInfo& info, ZipKind kind, const std::string& path) {
  ZipMember m;
  m.kind = kind;
  m.path = path;
  m.size = kind == ZipKind::FILE ? info.size : 0;
  m.mtime_ns = info.mtime_ns;
  m.has_mtime = true;
  uint32_t mode = info.unix_mode & 0777;
  m.read_only = kind == ZipKind::FILE && ((info.attributes & ATTRIBUTE_READONLY) || (mode && !(mode & 0222)));
  m.mode = mode ? mode : kind == ZipKind::FOLDER ? 0755 : 0644;
  if (m.read_only) m.mode &= ~0222u;
  return m;
}

// Walked folders that hold no file at any depth, without a trailing separator.
std::vector<std::string> folders_without_files(const std::vector<std::string>& folders,
                                               const std::vector<std::string>& files) {
  std::unordered_set<std::string> holding;
  for (const std::string& f : files)
    for (size_t end = f.find_last_of("/\\"); end != std::string::npos && end > 0; end = f.find_last_of("/\\", end - 1))
      if (!holding.insert(f.substr(0, end)).second) break;
  std::vector<std::string> out;
  for (std::string f : folders) {
    while (f.size() > 1 && (f.back() == '/' || f.back() == '\\')) f.pop_back();
    if (!holding.count(f)) out.push_back(f);
  }
  return out;
}

bool collect(const CompressJob& job, std::vector<NewMember>& out, std::string& problem) {
  compression::OwnFiles own(job.archive_path);
  std::vector<std::string> files, folders;
  for (const std::string& source : job.sources)
    if (!compression::expand_source(source, own, files, problem, &folders)) return false;
  std::vector<std::string> full = unique_absolute(files);
  std::vector<std::string> walked = unique_absolute(folders);
  // A folder without files is named as a file inside it would be, so that the names start
  // from a folder holding it as well (and an empty folder named on the command line is kept).
  std::vector<std::string> named = full;
  if (job.keep_folders)
    for (const std::string& f : folders_without_files(walked, full)) named.push_back(f + native_separator() + "x");
  std::vector<StoredName> names;
  std::string below = job.names_below.empty() ? std::string() : absolute(job.names_below);
  if (!stored_names(named, job.keep_folders, names, problem, below)) return false;
  for (size_t i = 0; i < full.size(); ++i) {
    std::string path = names[i].folder + names[i].name;
    if (!checked_name(path, full[i], problem)) return false;
    out.push_back(NewMember{member_from(source_info(full[i]), ZipKind::FILE, path), full[i]});
  }
  if (!job.keep_folders) return true;
  std::map<std::string, std::string> kept = folder_members(named, names, walked);
  // A folder named only by the files below it has no time of its own: it gets the run's.
  FileInfo unwalked;
  unwalked.mtime_ns = static_cast<int64_t>(std::time(nullptr)) * 1000000000;
  for (const auto& [path, source] : kept) {
    if (!checked_name(path, path, problem)) return false;
    out.push_back(NewMember{member_from(source.empty() ? unwalked : source_info(source), ZipKind::FOLDER, path), ""});
  }
  // Folders first within their parent, so a reader meets a folder before what it holds.
  std::stable_sort(out.begin(), out.end(),
                   [](const NewMember& a, const NewMember& b) { return a.member.path < b.member.path; });
  return true;
}

// ---- Member data ----

// Whether deflate shrinks these bytes at `level`; what does not shrink is stored.
bool shrinks(const uint8_t* data, size_t size, int level) {
  if (level <= 0 || size == 0) return false;
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return true;
  std::vector<uint8_t> out(deflateBound(&z, static_cast<uLong>(size)));
  z.next_in = const_cast<uint8_t*>(data);
  z.avail_in = static_cast<uInt>(size);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  int status = deflate(&z, Z_FINISH);
  size_t packed = z.total_out;
  deflateEnd(&z);
  return status == Z_STREAM_END && packed < size;
}

// What a member's writing needs from the run.
struct Feed {
  ZipWriter& zip;
  int level;
  RunControl* control;
  std::function<void(int64_t)> advance;   // counts bytes done
  std::vector<uint8_t> buffer = std::vector<uint8_t>(CHUNK);
};

enum class Outcome { DONE, FAILED, CANCELLED };

// Writes one member whose bytes `read` hands out (0 at the end, -1 on a problem); the first
// chunk decides between deflate and store. A file must end at the length it was said to have.
Outcome write_member(Feed& feed, const ZipMember& m, const std::function<int64_t(uint8_t*, size_t)>& read,
                     std::string& problem) {
  size_t first = 0;
  int64_t total = 0;
  while (m.kind == ZipKind::FILE && first < feed.buffer.size()) {
    int64_t n = read(feed.buffer.data() + first, feed.buffer.size() - first);
    if (n < 0) return Outcome::FAILED;
    if (n == 0) break;
    first += static_cast<size_t>(n);
  }
  if (!feed.zip.begin(m, !shrinks(feed.buffer.data(), first, feed.level))) return Outcome::FAILED;
  for (size_t n = first; n > 0;) {
    if (cancelled(feed.control)) return Outcome::CANCELLED;
    if (m.kind == ZipKind::FILE && m.size >= 0 && total + static_cast<int64_t>(n) > m.size) break;
    if (!feed.zip.write(feed.buffer.data(), n)) return Outcome::FAILED;
    total += static_cast<int64_t>(n);
    feed.advance(static_cast<int64_t>(n));
    int64_t got = first < feed.buffer.size() ? 0 : read(feed.buffer.data(), feed.buffer.size());
    if (got < 0) return Outcome::FAILED;
    n = static_cast<size_t>(got);
  }
  if (m.kind == ZipKind::FILE && m.size >= 0 && total != m.size) {
    problem = m.path + " changed while it was read: it no longer holds the " + std::to_string(m.size) +
              " bytes it had";
    return Outcome::FAILED;
  }
  return feed.zip.end() ? Outcome::DONE : Outcome::FAILED;
}

Outcome write_source(Feed& feed, const NewMember& n, std::string& problem) {
  if (n.member.kind != ZipKind::FILE) return write_member(feed, n.member, nullptr, problem);
  File file;
  std::string why;
  if (!file.open_source(n.source, why)) {
    problem = "cannot read " + n.source + ": " + why;
    return Outcome::FAILED;
  }
  auto read = [&](uint8_t* to, size_t room) {
    int64_t got = file.read(to, room);
    if (got < 0) problem = "cannot read " + n.source + ": " + last_error_text();
    return got;
  };
  return write_member(feed, n.member, read, problem);
}

// ---- The run ----

// The lock, the replacement and the writer of one zip being written.
struct ZipRun {
  ZipRun(const std::string& path, RunResult& run_result) : archive_path(path), result(run_result) {}
  const std::string& archive_path;
  RunResult& result;
  ArchiveLock lock;
  Replacement replacement;
  std::unique_ptr<BufferedWriter> out;
  std::unique_ptr<ZipWriter> zip;

  bool fail(const std::string& problem) {
    result.ok = false;
    if (!problem.empty()) result.problems.push_back(problem);
    return false;
  }
  // Held until the new zip is in place; the leftovers of killed runs go first.
  bool take_lock(int wait_ms) {
    ArchiveLock::Outcome locked = lock.take(archive_path, wait_ms);
    if (locked != ArchiveLock::Outcome::TAKEN) return fail(lock_problem(archive_path, locked, wait_ms));
    remove_stale_temporaries(archive_path);
    return true;
  }
  bool start(int level) {
    std::string token = random_token();
    if (!replacement.create(archive_path, token))
      return fail("cannot create " + archive_path + ".vantor-" + token + ".tmp: " + last_error_text());
    out = std::make_unique<BufferedWriter>(replacement.file());
    zip = std::make_unique<ZipWriter>(*out);
    return zip->open(level) || fail("cannot write " + archive_path + ": " + zip->problem());
  }
  // Ends the zip and puts it in the archive's place, its Mark of the Web kept.
  bool commit() {
    if (!zip->close()) return fail("cannot write " + archive_path + ": " + zip->problem());
    if (!out->finish()) return fail("cannot write " + archive_path + ": " + last_error_text());
    result.bytes_out = out->written();
    std::string zone_mark = read_zone_mark(archive_path);
    std::string problem;
    if (!replacement.commit(problem)) return fail(problem);
    write_zone_mark(archive_path, zone_mark);
    return true;
  }
  bool member_failed(Outcome outcome, const std::string& problem, const std::string& refused) {
    if (outcome == Outcome::CANCELLED) {
      result.cancelled = true;
      return fail("");
    }
    return fail(refused + (problem.empty() ? zip->problem() : problem));
  }
};

// The members of an existing zip, read once without their data: what is there, and whether
// every member can be copied (encrypted ones cannot).
bool list_zip(const std::string& path, std::vector<ZipMember>& members, std::string& problem) {
  ZipReader reader;
  ZipMember m;
  if (!reader.open(path)) {
    problem = reader.problem();
    return false;
  }
  while (reader.next(m)) members.push_back(m);
  problem = reader.problem();
  return problem.empty();
}

// Copies the old zip's members that `keep` accepts, in their order, into the run's zip.
bool copy_kept(ZipRun& run, Feed& feed, const std::vector<char>& keep, std::vector<std::string>& names,
               const std::string& refused) {
  ZipReader reader;
  ZipMember m;
  if (!reader.open(run.archive_path)) return run.fail(refused + reader.problem());
  for (size_t i = 0; reader.next(m); ++i) {
    if (i >= keep.size()) return run.fail(refused + "it changed while it was read");
    if (!keep[i]) continue;
    if (feed.control) feed.control->working_on(&names[i]);
    std::string problem;
    auto read = [&](uint8_t* to, size_t room) {
      int64_t got = reader.read(to, room);
      if (got < 0) problem = m.path + ": " + reader.problem();
      return got;
    };
    Outcome outcome = write_member(feed, m, read, problem);
    if (outcome != Outcome::DONE) return run.member_failed(outcome, problem, refused);
  }
  return reader.problem().empty() || run.fail(refused + reader.problem());
}

std::function<void(int64_t)> counter(RunControl* control, const std::function<void(int64_t, int64_t)>& progress,
                                     int64_t total) {
  if (control) control->total.store(total);
  auto done = std::make_shared<int64_t>(0);
  return [=](int64_t bytes) {
    *done += bytes;
    add_progress(control, bytes);
    if (progress) progress(*done, total);
  };
}

int64_t data_total(const std::vector<ZipMember>& members, const std::vector<char>& keep) {
  int64_t total = 0;
  for (size_t i = 0; i < members.size(); ++i)
    if (keep[i] && members[i].size > 0) total += members[i].size;
  return total;
}

// The removal key of a member or folder named on the command line, as `d` on our own archives.
std::string removal_key(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  while (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

RunResult add_to_zip(const CompressJob& job) {
  RunResult result;
  std::vector<NewMember> added;
  std::vector<ZipMember> old;
  std::vector<std::string> names;        // what the live figures point to; outlives `forget`
  ForgetMemberOnExit forget{job.control};
  ZipRun run{job.archive_path, result};
  std::string problem;
  std::string refused = "cannot add to " + job.archive_path + ", left as it was: ";
  if (!run.take_lock(job.lock_wait_ms)) return result;
  if (!collect(job, added, problem)) return run.fail(problem), result;
  bool existing = file_info(job.archive_path).exists && !is_empty_zip(job.archive_path);
  if (existing && !list_zip(job.archive_path, old, problem)) return run.fail(refused + problem), result;
  // An added file or folder takes the place of the member of its name.
  std::unordered_set<std::string> replaced;
  for (const NewMember& n : added) replaced.insert(n.member.path);
  std::vector<char> keep(old.size());
  for (size_t i = 0; i < old.size(); ++i) keep[i] = !replaced.count(old[i].path);
  int64_t total = data_total(old, keep);
  for (const NewMember& n : added) total += n.member.size;
  for (const ZipMember& m : old) names.push_back(m.path);
  for (const NewMember& n : added) names.push_back(n.member.path);
  if (!run.start(job.deflate.level)) return result;
  Feed feed{*run.zip, job.deflate.level, job.control, counter(job.control, job.progress, total)};
  if (existing && !copy_kept(run, feed, keep, names, refused)) return result;
  for (size_t i = 0; i < added.size(); ++i) {
    if (job.control) job.control->working_on(&names[old.size() + i]);
    Outcome outcome = write_source(feed, added[i], problem);
    if (outcome != Outcome::DONE) return run.member_failed(outcome, problem, "nothing was written: "), result;
    if (added[i].member.kind == ZipKind::FILE) result.bytes_in += added[i].member.size;
  }
  if (!run.commit()) return result;
  result.members = static_cast<int64_t>(added.size()) + std::count(keep.begin(), keep.end(), 1);
  return result;
}

RemoveResult remove_from_zip(const RemoveJob& job) {
  RemoveResult removal;
  RunResult& result = removal.run;
  std::vector<ZipMember> old;
  std::vector<std::string> names;        // what the live figures point to; outlives `forget`
  ForgetMemberOnExit forget{job.control};
  ZipRun run{job.archive_path, result};
  std::string problem;
  std::string refused = "cannot remove from " + job.archive_path + ", left as it was: ";
  if (!run.take_lock(job.lock_wait_ms)) return removal;
  FileInfo info = file_info(job.archive_path);
  if (!info.exists) return run.fail("cannot find " + job.archive_path + ": " + last_error_text()), removal;
  // Replacing would take the read-only mark off with the file: the user's protection wins.
  if (info.attributes & ATTRIBUTE_READONLY)
    return run.fail(job.archive_path + " is read-only; nothing was removed (clear its read-only mark first)"), removal;
  if (!is_empty_zip(job.archive_path) && !list_zip(job.archive_path, old, problem))
    return run.fail(refused + problem), removal;
  std::unordered_map<std::string, bool> keys;  // key -> matched something
  for (const std::string& path : job.paths) keys.emplace(removal_key(path), false);
  std::vector<char> keep(old.size(), 1);
  for (size_t i = 0; i < old.size(); ++i) {
    const std::string& member = old[i].path;
    // The member itself, then every folder above it.
    for (size_t end = member.size(); end != std::string::npos && end > 0; end = member.rfind('/', end - 1)) {
      auto hit = keys.find(member.substr(0, end));
      if (hit == keys.end()) continue;
      hit->second = true;
      keep[i] = 0;
    }
  }
  size_t unmatched = 0;
  for (const std::string& path : job.paths) {
    auto hit = keys.find(removal_key(path));
    if (hit->second) continue;
    hit->second = true;  // named once however often it was given
    if (++unmatched <= UNMATCHED_SHOWN) run.fail(path + ": no such member or folder in " + job.archive_path);
  }
  if (unmatched > UNMATCHED_SHOWN)
    run.fail("and " + std::to_string(unmatched - UNMATCHED_SHOWN) + " more paths not in " + job.archive_path);
  if (unmatched) return run.fail("nothing was removed; " + job.archive_path + " is as it was"), removal;
  for (const ZipMember& m : old) names.push_back(m.path);
  if (!run.start(job.deflate.level)) return removal;
  Feed feed{*run.zip, job.deflate.level, job.control, counter(job.control, job.progress, data_total(old, keep))};
  if ((!old.empty() && !copy_kept(run, feed, keep, names, refused)) || !run.commit()) return removal;
  result.members = std::count(keep.begin(), keep.end(), 1);
  removal.removed = static_cast<int64_t>(old.size()) - result.members;
  return removal;
}
