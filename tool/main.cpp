// vantor: the command-line archiver that WinVantor runs. Parse, then run one command.
#include <archive.h>
#include <sodium.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>

#include "archive_commit.h"
#include "encrypted_run.h"
#include "engine.h"
#include "file_io.h"
#include "foreign_reader.h"
#include "format/path_safety.h"
#include "format/utf8_text.h"
#include "list_file.h"
#include "options.h"
#include "progress.h"
#include "remove.h"
#include "run_channel.h"
#include "sfx_image.h"
#include "zip_write.h"

namespace {

const char* method_name(uint8_t method) {
  switch (method) {
    case METHOD_STORE: return "store";
    case METHOD_DEFLATE: return "deflate";
    case METHOD_LZMA2: return "lzma2";
    case METHOD_PPMD: return "ppmd";
    default: return "zstd";
  }
}

std::string listing_line(const EntryHeader& h) {
  char when[32] = "";
  time_t seconds = static_cast<time_t>(h.mtime_ns / 1000000000);
  if (const struct tm* parts = std::gmtime(&seconds)) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M", parts);
  char line[160];
  std::snprintf(line, sizeof line, "%14lld %14llu %-7s %08x %-16s %c%c ",
                static_cast<long long>(h.size), static_cast<unsigned long long>(h.compressed_size),
                h.is_copy() ? "copy" : method_name(h.method), static_cast<unsigned>(h.crc), when,
                h.mark == 1 ? 'm' : '-', (h.flags & ENTRY_FLAG_SOLID_NEXT) ? 's' : '-');
  // A copy stores no data of its own: it names the member that holds it.
  if (h.is_copy())
    return line + printable(h.path()) + " = " + printable(name_for_system(h.copy_of, system_text_is_utf8()));
  return line + printable(h.path());
}

// Lines about one member start with `member_head` when one is given: a member's name, which may
// read like any line of ours, then never begins a line (test runs, read by the front end).
int report(const RunResult& result, const char* member_head = "") {
  for (const std::string& line : result.notes) std::printf("vantor: %s\n", printable(line).c_str());
  std::vector<bool> about_member(result.problems.size(), false);
  for (size_t i : result.member_problems)
    if (i < about_member.size()) about_member[i] = true;
  for (size_t i = 0; i < result.problems.size(); ++i)
    std::fprintf(stderr, "vantor: %s%s\n", about_member[i] ? member_head : "", printable(result.problems[i]).c_str());
  if (result.cancelled) {
    // After a cancel only what could not be undone is reported: then something was left.
    std::fprintf(stderr, "vantor: cancelled%s\n", result.problems.empty() ? "; nothing half-done was left behind" : "");
    return EXIT_CANCELLED;
  }
  return result.ok ? 0 : 1;
}

// Live progress and cancelling for a caller that asked for them (run_channel.h).
struct Watched {
  RunControl control;
  RunChannel channel;
  Watched() { channel.start(control); }
};

// Runs an engine job with the console's progress line and the caller's progress channel and
// cancel request attached.
template <typename Job, typename Run>
auto run_watched(Job& job, Run run) {
  ProgressLine progress;
  if (progress.active()) job.progress = [&](int64_t done, int64_t total) { progress.update(done, total); };
  Watched watched;
  job.control = &watched.control;
  auto result = run(job);
  watched.channel.stop();
  progress.clear();
  return result;
}

bool read_whole_file(const std::string& path, std::vector<uint8_t>& bytes) {
  File file;
  if (!file.open_read(path)) return false;
  int64_t length = file.length();
  if (length < 0 || length > (1LL << 31)) return false;
  bytes.resize(static_cast<size_t>(length));
  return length == 0 || file.read_at(0, bytes.data(), bytes.size());
}

// The archive and paths of the command line, or of its list file. 0, or the exit code.
int archive_and_paths(const Options& o, std::string& archive, std::vector<std::string>& paths) {
  archive = o.archive;
  paths = o.sources;
  if (o.list_file.empty()) return 0;
  std::vector<uint8_t> bytes;
  ListFile list;
  std::string problem;
  if (!read_whole_file(o.list_file, bytes)) {
    std::fprintf(stderr, "vantor: cannot read the list file %s\n", printable(o.list_file).c_str());
    return 1;
  }
  // A list that is refused leaves everything, an existing archive included, as it was.
  if (!parse_list_file(bytes, list, problem)) {
    std::fprintf(stderr, "vantor: refused the list file %s: %s\n", printable(o.list_file).c_str(),
                 printable(problem).c_str());
    return 2;
  }
  archive = list.archive_path;
  paths = list.paths;
  return 0;
}

// Whether `a` and `d` write a zip: a .zip name, unless the file is one of ours already (its index
// walks to the end, so `l`, `t`, `x` and the front end read it as ours), which stays ours.
bool writes_zip(const std::string& path) {
  if (!is_zip_path(path) || !file_info(path).exists) return is_zip_path(path);
  std::vector<StoredEntry> entries;
  std::string problem;
  return !read_index(path, index_start(path), entries, problem) || entries.empty();
}

// With VANTOR_KEY_TIMING set, how long the key took (the benchmark takes it out of its figures).
void report_key_time(const SealKey& key) {
  if (std::getenv("VANTOR_KEY_TIMING"))
    std::fprintf(stderr, "vantor: key derived in %.3f s (Argon2id, %u MB, %u passes)\n", key.seconds,
                 key.memory_kib >> 10, key.ops);
}

// The password of -pw, or false after saying why not.
bool password_of(const Options& o, bool twice, Secret& password) {
  std::string problem;
  if (read_password(o.password_fd, twice, password, problem)) return true;
  std::fprintf(stderr, "vantor: %s\n", printable(problem).c_str());
  return false;
}

int needs_password(const std::string& archive) {
  std::fprintf(stderr, "vantor: %s is encrypted: a password is needed\n", printable(archive).c_str());
  return 1;
}

int refuse(const std::string& text, int code = 1) {
  std::fprintf(stderr, "vantor: %s\n", printable(text).c_str());
  return code;
}

// The engine's messages name the plain copy; the user knows the archive.
void name_archive(RunResult& result, const std::string& plain, const std::string& archive) {
  for (std::string& line : result.problems) line = replace_all(line, plain, archive);
  for (std::string& line : result.notes) line = replace_all(line, plain, archive);
}

// Runs `change` on the plain form of an encrypted archive (or a new one) and seals the result
// into the archive, holding its lock throughout. Exit code 1 when it could not start.
template <typename Change>
int change_encrypted(const Options& o, const std::string& archive, bool exists, RunResult& result, Change change) {
  ArchiveLock lock;
  ArchiveLock::Outcome taken = lock.take(archive, 5000);
  if (taken != ArchiveLock::Outcome::TAKEN) return refuse(lock_problem(archive, taken, 5000));
  remove_stale_temporaries(archive);
  Secret password;
  if (!password_of(o, !exists, password)) return 1;
  PlainCopy plain;
  std::string problem;
  if (!plain.create(archive, problem)) return refuse(problem);
  if (exists ? !plain.unseal(archive, password, problem) : !new_key(password, plain.key, problem)) return refuse(problem);
  password.wipe();
  report_key_time(plain.key);
  bool whole_index = plain.whole_index || (o.command == Command::ADD && o.hide_names);
  result = change(plain.path());
  name_archive(result, plain.path(), archive);
  if (result.ok && !result.cancelled && !seal_into(plain.path(), archive, plain.key, whole_index, problem)) {
    result.ok = false;
    result.problems.push_back(problem);
  }
  return -1;
}

// A zip takes the deflate level of -m/-mx (-m0 stores); what belongs to our own format is not used.
int add_zip(const Options& o, CompressJob& job) {
  if (o.self_extracting) {
    std::fprintf(stderr, "vantor: -e cannot make a zip self-extracting; %s was not written (leave out -e, or name "
                 "a .vnr archive)\n", printable(job.archive_path).c_str());
    return 2;
  }
  job.keep_folders = o.keep_folders;
  job.names_below = o.names_below;
  job.deflate = deflate_settings(o.method, o.ultra, 7);
  RunResult result = run_watched(job, add_to_zip);
  if (o.solid) result.notes.insert(result.notes.begin(), "-s ignored: a zip has no solid streams");
  if (o.window_given) result.notes.insert(result.notes.begin(), "-k ignored: a zip's deflate window is fixed");
  if (result.ok)
    std::printf("vantor: %s: %lld member%s, %lld bytes into %lld (zip)\n", printable(job.archive_path).c_str(),
                static_cast<long long>(result.members), result.members == 1 ? "" : "s",
                static_cast<long long>(result.bytes_in),
                static_cast<long long>(result.bytes_out));
  return report(result);
}

int add(const Options& o) {
  CompressJob job;
  if (int code = archive_and_paths(o, job.archive_path, job.sources)) return code;
  bool exists = file_info(job.archive_path).exists;
  bool encrypted = exists && archive_is_encrypted(job.archive_path);
  if (encrypted && !o.password) return needs_password(job.archive_path);
  // The stub and the zip writer take no password; an .exe's index would be looked for after a stub.
  bool program = o.self_extracting || index_start(job.archive_path) > 0;
  if (o.password && (program || writes_zip(job.archive_path)))
    return refuse(std::string(program ? "a self-extracting program" : "a zip") + " cannot be written with a password; " +
                  job.archive_path + " was not written", 2);
  // An archive holds encrypted members or plain ones, never both.
  if (o.password && exists && !encrypted && file_info(job.archive_path).size > index_start(job.archive_path))
    return refuse(job.archive_path + " is not encrypted: encrypted members cannot join its plain ones (leave out -pw, "
                  "or name a new archive); nothing was changed");
  if (writes_zip(job.archive_path)) return add_zip(o, job);
  if (o.self_extracting) {
    job.archive_path = self_extracting_path(job.archive_path);
    job.stub = SFX_STUB_IMAGE;
    job.stub_size = SFX_STUB_IMAGE_SIZE;
  }
  job.self_extracting = o.self_extracting;
  job.keep_folders = o.keep_folders;
  job.names_below = o.names_below;
  job.solid = o.solid;
  // The self-extracting stub decodes deflate only, which keeps it well inside its slot, and there
  // -k keeps deflate's widest window.
  job.deflate = deflate_settings(o.method, o.ultra, 7);
  if (!o.self_extracting) {
    job.zstd = zstd_settings(o.method, o.ultra, o.window_position, o.solid);
    job.lzma = lzma_settings(o.method, o.ultra, o.window_position, o.solid);
  }
  job.threads = o.threads;
  job.memory_budget = static_cast<int64_t>(o.buffer_mb) << 20;
  RunResult result;
  if (o.password) {
    std::string archive = job.archive_path;
    int code = change_encrypted(o, archive, encrypted, result, [&](const std::string& plain) {
      job.archive_path = plain;
      job.named_archive_path = archive;
      return run_watched(job, compress_archive);
    });
    if (code >= 0) return code;
    job.archive_path = archive;
  } else {
    result = run_watched(job, compress_archive);
  }
  if (result.ok)
    std::printf("vantor: %s: %lld files, %lld bytes into %lld\n", printable(job.archive_path).c_str(),
                static_cast<long long>(result.members), static_cast<long long>(result.bytes_in),
                static_cast<long long>(result.bytes_out));
  return report(result);
}

int remove(const Options& o) {
  RemoveJob job;
  if (int code = archive_and_paths(o, job.archive_path, job.paths)) return code;
  // A stream compressed again keeps its method: -m0 does not make it stored.
  int method = std::max(o.method, 1);
  job.deflate = deflate_settings(method, o.ultra, 7);
  job.zstd = zstd_settings(method, o.ultra, o.window_position, true);
  job.lzma = lzma_settings(method, o.ultra, o.window_position, true);
  job.threads = o.threads;
  bool zip = writes_zip(job.archive_path);
  // A zip's members are all written again: -m0 stores them.
  if (zip) job.deflate = deflate_settings(o.method, o.ultra, 7);
  bool encrypted = !zip && archive_is_encrypted(job.archive_path);
  if (encrypted && !o.password) return needs_password(job.archive_path);
  RemoveResult result;
  if (encrypted) {
    std::string archive = job.archive_path;
    int code = change_encrypted(o, archive, true, result.run, [&](const std::string& plain) {
      job.archive_path = plain;
      result = run_watched(job, remove_members);
      return result.run;
    });
    if (code >= 0) return code;
    job.archive_path = archive;
  } else {
    result = run_watched(job, zip ? remove_from_zip : remove_members);
  }
  if (result.run.ok)
    std::printf("vantor: %s: %lld member%s removed, %lld remain%s\n", printable(job.archive_path).c_str(),
                static_cast<long long>(result.removed), result.removed == 1 ? "" : "s",
                static_cast<long long>(result.run.members), result.run.members == 1 ? "s" : "");
  return report(result.run);
}

// The machine listing of `l -p` (UTF-8, TAB between fields), one line per entry.
void print_member(const MemberInfo& m) {
  std::printf("%c\t%lld\t%lld\t%lld\t%x\t%c\t%s\n", m.kind, static_cast<long long>(m.size),
              static_cast<long long>(m.packed), static_cast<long long>(m.mtime_ns), static_cast<unsigned>(m.attributes),
              m.encrypted ? 'e' : '-', listing_path(m.path).c_str());
}

// Our member as the machine listing shows it; its folder may hold '\' as well as '/'.
MemberInfo member_info(const EntryHeader& h) {
  MemberInfo m;
  m.size = h.size;
  m.packed = static_cast<int64_t>(h.compressed_size);
  m.mtime_ns = h.mtime_ns;
  m.attributes = h.attributes;
  m.path = h.path();
  std::replace(m.path.begin(), m.path.end(), '\\', '/');
  return m;
}

std::string foreign_listing_line(const MemberInfo& m) {
  char when[32] = "";
  time_t seconds = static_cast<time_t>(m.mtime_ns / 1000000000);
  if (m.mtime_ns != 0)
    if (const struct tm* parts = std::gmtime(&seconds)) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M", parts);
  const char* kind = m.kind == 'f' ? "file" : m.kind == 'd' ? "folder" : m.kind == 'l' ? "link" : "other";
  char line[160];
  std::snprintf(line, sizeof line, "%14s %14s %-7s %8s %-16s %c- ",
                m.size < 0 ? "?" : std::to_string(m.size).c_str(), m.packed < 0 ? "-" : std::to_string(m.packed).c_str(),
                kind, "", when, m.encrypted ? 'e' : '-');
  return line + printable(m.path);
}

// A list file's member paths choose members: a path takes the member of that path and, as a
// folder, everything below it. `matched` says which paths chose anything.
struct Selection {
  std::vector<std::string> paths;
  std::vector<char> matched;
  // '\' separates as '/' does in our archives; "./" leads the paths of a tar made from ".".
  static std::string normal(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    while (path.compare(0, 2, "./") == 0) path.erase(0, 2);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
  }
  bool accepts(const EntryHeader& h) {
    std::string path = normal(h.path());
    bool any = false;
    for (size_t i = 0; i < paths.size(); ++i) {
      const std::string& p = paths[i];
      if (path == p || (path.size() > p.size() && path.compare(0, p.size(), p) == 0 && path[p.size()] == '/')) {
        matched[i] = 1;
        any = true;
      }
    }
    return any;
  }
};

int read(const Options& o, ReadMode mode) {
  ReadJob job;
  job.mode = mode;
  std::vector<std::string> paths;
  if (int code = archive_and_paths(o, job.archive_path, paths)) return code;
  auto selection = std::make_shared<Selection>();
  if (!o.list_file.empty()) {
    for (const std::string& p : paths) selection->paths.push_back(Selection::normal(p));
    selection->matched.assign(selection->paths.size(), 0);
    job.select = [selection](const EntryHeader& h) { return selection->accepts(h); };
  }
  job.destination = o.destination;
  job.marked_only = o.marked_only;
  job.threads = o.threads;
  bool machine = mode == ReadMode::LIST && o.machine_listing;
  int64_t listed = 0;
  if (machine) job.on_entry = [&listed](const EntryHeader& h) { print_member(member_info(h)), ++listed; };
  else job.on_entry = [](const EntryHeader& h) { std::printf("%s\n", listing_line(h).c_str()); };
  job.on_format = [machine, mode](const std::string& format) {
    if (machine) std::printf("vantor-listing\t1\t%s\n", format.c_str());
    else if (mode == ReadMode::LIST) std::printf("vantor: a %s archive, read only\n", format.c_str());
  };
  job.on_member = [machine, &listed](const MemberInfo& m) {
    if (machine) print_member(m), ++listed;
    else std::printf("%s\n", foreign_listing_line(m).c_str());
  };
  // An encrypted archive is read in place: its index checked first, each member's data decrypted
  // and checked as it is read, so nothing plain reaches the disk.
  std::string archive = job.archive_path;
  Secret password;
  bool encrypted = archive_is_encrypted(archive);
  if (encrypted) {
    if (!o.password) return needs_password(archive);
    std::string problem;
    if (!password_of(o, false, password)) return 1;
    SealKey key;
    std::shared_ptr<SealedLayout> layout;
    if (open_sealed(archive, password, key, layout, problem) != UnsealOutcome::OK) {
      // A test names the damaged member on a line of its own, as for a plain archive.
      std::string member = archive + ": member ";
      if (mode == ReadMode::TEST && problem.compare(0, member.size(), member) == 0)
        problem = "damaged member: " + problem.substr(member.size());
      return refuse(problem);
    }
    password.wipe();
    report_key_time(key);
    job.open_archive = [layout](bool for_index) { return sealed_source(layout, for_index); };
    job.source_memory = SEALED_SOURCE_MEMORY;
    job.index_start = 0;
  } else if (o.password && !password_of(o, false, password)) {
    return 1;
  }
  // Ours when our index walks to the file's end, else another program's when libarchive takes it;
  // when neither reads it, our own reason is the one given.
  std::vector<StoredEntry> own;
  std::string own_problem;
  bool ours = encrypted || read_index(job.archive_path, index_start(job.archive_path), own, own_problem);
  own.clear();
  RunResult result;
  bool recognised = false;
  if (!ours && file_info(job.archive_path).is_regular) {
    ForeignSource source;
    source.paths = archive_volumes(job.archive_path);
    source.name = job.archive_path;
    if (o.password) source.password = &password;
    result = run_watched(job, [&](ReadJob& j) { return read_foreign_archive(j, source, recognised); });
  }
  if (!recognised) {
    if (!ours) {
      result = RunResult();
      result.ok = false;
      result.problems.push_back(own_problem);
    } else {
      if (machine) std::printf("vantor-listing\t1\tvnr\n");
      result = run_watched(job, read_archive);
    }
  }
  for (size_t i = 0; i < selection->paths.size(); ++i)
    if (!selection->matched[i] && !result.cancelled && (ours || recognised)) {
      result.ok = false;
      result.problems.push_back("no member " + selection->paths[i] + " in " + archive);
    }
  if (machine && result.ok) std::printf("end\t%lld\n", static_cast<long long>(listed));
  int code = report(result, mode == ReadMode::TEST ? "damaged member: " : "");
  std::string renamed = result.renamed == 0 ? std::string()
                        : ", " + std::to_string(result.renamed) + " of them under a new name (names differing only in letter case)";
  if (result.ok && mode != ReadMode::LIST)
    std::printf("vantor: %lld files, %lld bytes %s%s\n", static_cast<long long>(result.members),
                static_cast<long long>(result.bytes_in), mode == ReadMode::TEST ? "tested, all correct" : "extracted",
                renamed.c_str());
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  console_text_utf8();
  std::vector<std::string> args = command_arguments(argc, argv);
  if (args.empty()) {
    std::fputs(usage_text(), stdout);
    // The versions the decoders of untrusted archives come from, for bug reports and audits.
    // bzip2 reports "1.0.8, 13-Jul-2019": the number is enough.
    std::string bzip2 = archive_bzlib_version() ? archive_bzlib_version() : "none";
    bzip2 = bzip2.substr(0, bzip2.find(','));
    std::printf("\nbuilt with zstd %s, zlib %s, bzip2 %s, %s and libsodium %s\n", ZSTD_versionString(), zlibVersion(),
                bzip2.c_str(), archive_version_string(), sodium_version_string());
    return 0;
  }
  Options options;
  std::string problem;
  if (!parse_options(args, options, problem)) {
    std::fprintf(stderr, "vantor: %s (run vantor without arguments for help)\n", problem.c_str());
    return 2;
  }
  switch (options.command) {
    case Command::ADD: return add(options);
    case Command::REMOVE: return remove(options);
    case Command::EXTRACT: return read(options, ReadMode::EXTRACT);
    case Command::LIST: return read(options, ReadMode::LIST);
    default: return read(options, ReadMode::TEST);
  }
}
