// Writing an archive: the public entry, which runs the stages of compress_stages.h in turn.
#include "archive_commit.h"
#include "compress_stages.h"

using namespace compression;

namespace {

// Held until the run is over: two runs that both start from the old archive would each drop
// the other's members. The old archive is read only under the lock.
bool lock_archive(const CompressJob& job, ArchiveLock& lock, RunResult& result) {
  ArchiveLock::Outcome locked = lock.take(job.archive_path, job.lock_wait_ms);
  if (locked == ArchiveLock::Outcome::TAKEN) return true;
  result.ok = false;
  result.problems.push_back(lock_problem(job.archive_path, locked, job.lock_wait_ms));
  return false;
}

// The files listed, and the members of the old archive that must be compressed again, in the
// order they are compressed in (by filter first, for a method that filters).
bool gather(const CompressJob& job, const EncodingMethod& method, std::vector<Source>& sources, Existing& existing,
            RunResult& result) {
  std::string problem;
  if (!collect_sources(job, sources, problem) || !plan_existing(job, sources, existing, problem)) {
    result.ok = false;
    result.problems.push_back(problem);
    return false;
  }
  sources.insert(sources.begin(), existing.unpacked.begin(), existing.unpacked.end());
  if (method.filters()) choose_filters(sources, method.packed() != nullptr, method.text() != nullptr);
  if (job.solid) order_for_solid(sources);
  return true;
}

}  // namespace

RunResult compress_archive(const CompressJob& job) {
  RunResult result;
  ForgetMemberOnExit forget{job.control};
  ArchiveLock lock;
  if (!lock_archive(job, lock, result)) return result;
  // Whatever a killed run left beside the archive is ours to remove now.
  remove_stale_temporaries(job.archive_path);
  std::vector<Source> sources;
  Existing existing;
  std::unique_ptr<EncodingMethod> method = encoding_method(job.deflate, job.zstd, job.lzma);
  if (!gather(job, *method, sources, existing, result)) return result;
  int threads = resolve_thread_count(job.threads);
  int64_t limit = job.address_space > 0 ? job.address_space : address_space_budget();
  std::string note = method->fit(threads, job.solid, limit);
  if (!note.empty()) result.notes.push_back(note);
  std::vector<Copy> copies;
  if (!find_copies(sources, copies, job.control)) {
    result.ok = false;
    result.cancelled = true;
    return result;
  }
  std::vector<Unit> units = plan_units(sources, *method, job.solid, threads);
  write_archive(job, sources, copies, existing, *method, units, threads, result);
  return result;
}
