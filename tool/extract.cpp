// Reading an archive (extract, test, list): the public entries, which run the stages of
// extract_stages.h in turn.
#include <algorithm>

#include "format/archive_format.h"
#include "extract_stages.h"

using namespace extraction;

namespace {

RunResult refused(const std::string& problem) {
  RunResult result;
  result.ok = false;
  result.problems.push_back(problem);
  return result;
}

// LIST: every entry's header, nothing decoded.
RunResult list_entries(const ReadJob& job, const std::vector<Entry>& entries) {
  RunResult result;
  for (const Entry& e : entries) {
    if (job.on_entry) job.on_entry(e.header);
    result.members++;
    result.bytes_in += e.header.size;
    result.bytes_out += static_cast<int64_t>(e.header.compressed_size);
  }
  return result;
}

// Decodes on `runner`'s threads (or this one) and merges what the workers and writers found.
RunResult decode_all(Shared& shared, ParallelRunner runner) {
  int threads = runner ? std::min<int>(shared.job.threads, static_cast<int>(shared.blocks.size())) : 1;
  threads = std::max(threads, 1);
  std::string note;
  if (runner) threads = fit_decoding_workers(shared, threads, note);
  shared.results.resize(static_cast<size_t>(threads));
  shared.starts = split_blocks(shared.entries, shared.blocks, threads);
  if (runner) runner(threads, decode_worker, &shared);
  else decode_worker(&shared, 0);
  if (shared.writers) shared.writers->drain();
  shared.results.insert(shared.results.end(), shared.writer_results.begin(), shared.writer_results.end());
  RunResult result;
  for (const RunResult& part : shared.results) {
    result.ok = result.ok && part.ok;
    for (size_t k : part.member_problems) result.member_problems.push_back(result.problems.size() + k);
    result.problems.insert(result.problems.end(), part.problems.begin(), part.problems.end());
    result.members += part.members;
    result.bytes_in += part.bytes_in;
    result.renamed += part.renamed;
    result.notes.insert(result.notes.end(), part.notes.begin(), part.notes.end());
  }
  if (!note.empty()) result.notes.push_back(note);
  result.cancelled = cancelled(shared.job.control);
  if (result.cancelled) result.ok = false;
  return result;
}

}  // namespace

std::unique_ptr<ArchiveSource> open_job_archive(const ReadJob& job, bool for_index) {
  if (job.open_archive) return job.open_archive(for_index);
  auto file = std::make_unique<FileSource>();
  if (!file->open(job.archive_path)) return nullptr;
  return file;
}

bool read_index(const std::string& archive_path, int64_t index_start, std::vector<StoredEntry>& entries,
                std::string& problem) {
  FileSource archive;
  if (!archive.open(archive_path)) {
    problem = "cannot open " + archive_path + ": " + last_error_text();
    return false;
  }
  std::vector<Block> blocks;
  return walk_index(archive, index_start, entries, problem) && group_blocks(entries, blocks, problem);
}

RunResult read_archive_with(const ReadJob& job, ParallelRunner runner, MemberWriters* writers) {
  ForgetMemberOnExit forget{job.control};
  std::unique_ptr<ArchiveSource> archive = open_job_archive(job, true);
  if (!archive) return refused("cannot open " + job.archive_path);
  int64_t start = job.index_start >= 0 ? job.index_start : index_start(job.archive_path);
  std::vector<Entry> entries;
  std::vector<Block> blocks;
  std::string problem;
  if (!walk_index(*archive, start, entries, problem) || !group_blocks(entries, blocks, problem)) return refused(problem);
  archive.reset();
  if (job.mode == ReadMode::LIST) return list_entries(job, entries);
  Shared shared{job, Folder(), entries, blocks, {}, {}, {}, {}};
  if (!plan_extraction(shared, writers, problem)) return refused(problem);
  return decode_all(shared, runner);
}

RunResult read_archive(const ReadJob& job) {
  ReadJob resolved = job;
  resolved.threads = resolve_thread_count(job.threads);
  if (resolved.address_space <= 0) resolved.address_space = address_space_budget();
  // One thread keeps the work in order on itself; a test that acts between members needs each
  // member on disk when it is told the member is done.
  if (resolved.mode != ReadMode::EXTRACT || resolved.threads < 2 || job.after_member)
    return read_archive_with(resolved, run_on_threads);
  std::unique_ptr<MemberWriters> writers = start_member_writers(resolved.threads);
  return read_archive_with(resolved, run_on_threads, writers.get());
}
