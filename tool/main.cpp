// vantor: the command-line archiver that WinVantor runs. Parse, then run one command.
#include <archive.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "engine.h"
#include "file_io.h"
#include "format/path_safety.h"
#include "format/utf8_text.h"
#include "list_file.h"
#include "options.h"
#include "progress.h"
#include "remove.h"
#include "run_channel.h"
#include "sfx_image.h"

namespace {

const char* method_name(uint8_t method) {
  switch (method) {
    case METHOD_STORE: return "store";
    case METHOD_DEFLATE: return "deflate";
    case METHOD_LZMA2: return "lzma2";
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

int add(const Options& o) {
  CompressJob job;
  if (int code = archive_and_paths(o, job.archive_path, job.sources)) return code;
  if (o.self_extracting) {
    job.archive_path = self_extracting_path(job.archive_path);
    job.stub = SFX_STUB_IMAGE;
    job.stub_size = SFX_STUB_IMAGE_SIZE;
  }
  job.self_extracting = o.self_extracting;
  job.keep_folders = o.keep_folders;
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
  RunResult result = run_watched(job, compress_archive);
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
  RemoveResult result = run_watched(job, remove_members);
  if (result.run.ok)
    std::printf("vantor: %s: %lld member%s removed, %lld remain%s\n", printable(job.archive_path).c_str(),
                static_cast<long long>(result.removed), result.removed == 1 ? "" : "s",
                static_cast<long long>(result.run.members), result.run.members == 1 ? "s" : "");
  return report(result.run);
}

int read(const Options& o, ReadMode mode) {
  ReadJob job;
  job.mode = mode;
  job.archive_path = o.archive;
  job.destination = o.destination;
  job.marked_only = o.marked_only;
  job.threads = o.threads;
  job.on_entry = [](const EntryHeader& h) { std::printf("%s\n", listing_line(h).c_str()); };
  RunResult result = run_watched(job, read_archive);
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
    std::printf("\nbuilt with zstd %s, zlib %s, bzip2 %s and %s\n", ZSTD_versionString(), zlibVersion(),
                bzip2.c_str(), archive_version_string());
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
