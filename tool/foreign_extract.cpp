// Reading an archive of another program's: libarchive decodes (foreign_reader), and every
// member goes through the stages our own archives use: the plan (destination, letter-case
// renames, Mark of the Web) and the output (names checked, folders opened without following
// links, files created exclusively, a temporary renamed into place once the size checks out).
#include <algorithm>
#include <deque>
#include <memory>

#include "extract_stages.h"
#include "foreign_reader.h"

using namespace extraction;

namespace {

// Tar and cpio archives made from "." name their members "./a.txt" and the folder itself ".".
std::string relative_path(const std::string& path) {
  size_t start = 0;
  while (path.compare(start, 2, "./") == 0) {
    start += 2;
    while (start < path.size() && path[start] == '/') ++start;
  }
  return path.substr(start);
}

EntryHeader header_of(const MemberInfo& m) {
  EntryHeader h;
  std::string path = relative_path(m.path);
  size_t slash = path.rfind('/');
  h.folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  h.name = slash == std::string::npos ? path : path.substr(slash + 1);
  h.size = std::max<int64_t>(m.size, 0);
  h.compressed_size = static_cast<uint64_t>(std::max<int64_t>(m.packed, 0));
  h.mtime_ns = m.mtime_ns;
  h.attributes = m.attributes;
  h.unix_mode = m.unix_mode;
  return h;
}

// An encrypted member that cannot be opened: no password, or a format whose ciphers are not read.
bool refused(const MemberInfo& m) { return m.encrypted && !m.decryptable; }

bool selected(const ReadJob& job, const MemberInfo& m) { return !job.select || job.select(header_of(m)); }

// The first walk of an extraction: the files it will write, for the plan.
class Survey : public ForeignVisitor {
 public:
  Survey(const ReadJob& job, std::vector<Entry>& files) : job_(job), files_(files) {}
  bool entry(const MemberInfo& m) override {
    if (m.kind == 'f' && !refused(m)) files_.push_back(Entry{header_of(m), 0, 0, Entry::NO_SOURCE});
    return false;
  }
  bool data(const uint8_t*, size_t) override { return true; }
  void entry_end(const MemberInfo&, const std::string&) override {}
  bool position(int64_t consumed, int64_t total) override {
    if (job_.progress) job_.progress(consumed, total);
    return !cancelled(job_.control);
  }

 private:
  const ReadJob& job_;
  std::vector<Entry>& files_;
};

// The walk that lists, tests or extracts.
class Reading : public ForeignVisitor {
 public:
  Reading(Shared& shared, WorkerState& state, std::vector<Entry>& files)
      : shared_(shared), job_(shared.job), state_(state), files_(files) {}

  bool changed = false;  // the second walk met other entries than the first
  bool write_failed = false;  // a write failed: the walk stopped there

  void opened(const std::string& format) override {
    if (job_.on_format) job_.on_format(format);
  }

  bool entry(const MemberInfo& m) override {
    if (job_.mode == ReadMode::LIST) {
      if (job_.on_member) job_.on_member(m);
      state_.done(std::max<int64_t>(m.size, 0));
      return false;
    }
    bool extract = job_.mode == ReadMode::EXTRACT;
    // Files keep their place among the files of the first walk whether chosen or not.
    size_t index = m.kind == 'f' && !refused(m) ? next_file_++ : 0;
    if (!selected(job_, m)) return false;
    if (m.kind == 'l' || m.kind == 'o') {
      if (extract)
        state_.fail_member("refused " + m.path + ": " +
                           (m.kind == 'l' ? "a link is not extracted" : "a device, FIFO or socket is not extracted"));
      return false;
    }
    if (m.kind == 'd') {
      std::string problem;
      if (m.path == "." || relative_path(m.path).empty()) return false;  // the destination itself
      if (extract && !make_member_folder(shared_, header_of(m), problem)) state_.fail_member(problem);
      return false;
    }
    if (refused(m)) {
      // Not a damaged member: the line begins with its name, as the front end expects.
      state_.fail(m.path + (m.needs_password ? " is encrypted: not supported yet without a password (-pw)"
                                                 : " is encrypted: not supported yet"));
      return false;
    }
    written_ = 0;
    if (!extract) {
      names_.push_back(m.path);
      if (job_.control) job_.control->working_on(&names_.back());
      return true;
    }
    if (index >= files_.size() || files_[index].header.path() != header_of(m).path()) {
      changed = true;
      return false;
    }
    current_ = index;
    out_ = MemberOutput();
    size_ = m.size;
    // As with ours, with writer threads: a member a later one replaces is only checked, and a
    // small one is held in memory for the writers.
    if (shared_.writers && shared_.superseded[index]) return true;
    if (shared_.writers && m.size >= 0 && m.size <= static_cast<int64_t>(BATCH_BYTES)) {
      room(static_cast<size_t>(m.size));
      held_ = true;
      held_from_ = batch_.bytes.size();
      if (job_.control) job_.control->working_on(&files_[index].header.name);
      return true;
    }
    std::string refusal;
    open_output(shared_, index, out_, refusal);
    if (!refusal.empty()) {
      end_output(state_, index, out_, refusal, std::string());
      return false;
    }
    if (job_.control) job_.control->working_on(&files_[index].header.name);
    return true;
  }

  bool data(const uint8_t* bytes, size_t size) override {
    if (cancelled(job_.control)) return false;
    written_ += static_cast<int64_t>(size);
    if (out_.active && !out_.failed && !out_.file.write(bytes, size)) out_.failed = true;
    // A full disk or a size limit: the members after this one would fail the same way.
    if (out_.failed) {
      write_failed = true;
      return false;
    }
    // More than the archive says is a damaged member: found at its end, never held.
    if (held_ && written_ <= size_) batch_.bytes.insert(batch_.bytes.end(), bytes, bytes + size);
    if (job_.mode == ReadMode::EXTRACT) add_progress(job_.control, static_cast<int64_t>(size));
    if (job_.on_data) job_.on_data(bytes, size);
    return true;
  }

  void entry_end(const MemberInfo& m, const std::string& damage) override {
    // Stopped by a failed write: the output says "cannot write".
    std::string problem = damage != "stopped" ? damage : write_failed ? std::string() : std::string(CANCELLED_PROBLEM);
    if (problem.empty() && !write_failed && m.size >= 0 && written_ != m.size)
      problem = "decoded " + std::to_string(written_) + " bytes where the archive says " + std::to_string(m.size);
    if (job_.mode != ReadMode::EXTRACT) {
      if (problem.empty()) state_.done(written_);
      else if (problem.rfind(MEMORY_REFUSAL, 0) == 0) state_.fail(m.path + ": not read: " + problem);  // not damage
      else state_.fail_member(m.path + ": " + problem);
      return;
    }
    if (m.size < 0) files_[current_].header.size = written_;
    if (held_) {
      held_ = false;
      if (problem.empty()) {
        batch_.members.push_back(HeldBatch::Member{current_, static_cast<size_t>(written_)});
        if (batch_.members.size() >= BATCH_MEMBERS || batch_.bytes.size() >= BATCH_BYTES) flush();
        return;
      }
      batch_.bytes.resize(held_from_);
    }
    end_output(state_, current_, out_, std::string(), problem);
    out_ = MemberOutput();
  }

  // The members held so far go to the writers.
  void flush() {
    post_held(shared_, batch_);
  }

  // An extraction counts the bytes of the members it writes, whose sum the plan knows; a test
  // or a listing, which has no plan, counts the archive's bytes read.
  bool position(int64_t consumed, int64_t total) override {
    if (job_.progress) job_.progress(consumed, total);
    if (job_.control && job_.mode != ReadMode::EXTRACT) {
      job_.control->total.store(total);
      job_.control->done.store(consumed);
    }
    return !cancelled(job_.control);
  }

 private:
  // Room for `size` more bytes in the batch, handed on first when they would not fit.
  void room(size_t size) {
    if (batch_.bytes.size() + size > BATCH_BYTES) flush();
    if (batch_.bytes.capacity() == 0) {
      batch_.bytes = shared_.writers->take_buffer();
      batch_.bytes.reserve(BATCH_BYTES);
    }
  }

  Shared& shared_;
  const ReadJob& job_;
  WorkerState& state_;
  std::vector<Entry>& files_;
  size_t next_file_ = 0;
  size_t current_ = 0;
  int64_t written_ = 0;
  MemberOutput out_;
  int64_t size_ = 0;         // the member's size as the archive says
  bool held_ = false;        // its bytes go to the batch
  size_t held_from_ = 0;
  HeldBatch batch_;
  std::deque<std::string> names_;  // a test's members, which the progress channel may point to
};

RunResult refused(const std::string& problem) {
  RunResult result;
  result.ok = false;
  result.problems.push_back(problem);
  return result;
}

}  // namespace

RunResult read_foreign_archive(const ReadJob& job, const ForeignSource& source, bool& recognised) {
  ForgetMemberOnExit forget{job.control};
  recognised = false;
  std::vector<Entry> files;
  std::vector<Block> no_blocks;
  if (job.mode == ReadMode::EXTRACT) {
    Survey survey(job, files);
    ForeignWalk first = walk_foreign(source, survey);
    recognised = first.recognised;
    if (!first.recognised) return refused(first.problem);
    if (first.stopped) {
      RunResult result;
      result.ok = false;
      result.cancelled = true;
      return result;
    }
  }
  // Files are created, written and renamed by writer threads as for ours (-t2 and more).
  std::unique_ptr<MemberWriters> writers;
  int threads = resolve_thread_count(job.threads);
  if (job.mode == ReadMode::EXTRACT && threads >= 2 && !job.after_member) writers = start_member_writers(threads);
  Shared shared{job, Folder(), files, no_blocks, {}, {}, {}, {}};
  std::string problem;
  if (!plan_extraction(shared, writers.get(), problem)) return refused(problem);
  RunResult result;
  WorkerState state{shared, result};
  Reading reading(shared, state, files);
  ForeignWalk walk = walk_foreign(source, reading);
  if (shared.writers) {
    if (!cancelled(job.control)) reading.flush();
    shared.writers->drain();
    for (const RunResult& part : shared.writer_results) {
      result.ok = result.ok && part.ok;
      for (size_t k : part.member_problems) result.member_problems.push_back(result.problems.size() + k);
      result.problems.insert(result.problems.end(), part.problems.begin(), part.problems.end());
      result.notes.insert(result.notes.end(), part.notes.begin(), part.notes.end());
      result.members += part.members;
      result.bytes_in += part.bytes_in;
      result.renamed += part.renamed;
    }
  }
  recognised = walk.recognised;
  if (!walk.recognised) return refused(walk.problem);
  for (const std::string& damage : walk.damaged) state.fail("damaged entry: " + damage);
  if (walk.names_encrypted) state.fail("the names in this archive are encrypted: not supported yet");
  else if (walk.memory_refused) state.fail(walk.format + " archive: " + walk.problem);
  else if (!walk.problem.empty()) state.fail("damaged " + walk.format + " archive: " + walk.problem);
  if (reading.changed) state.fail("the archive changed while it was read: stopped");
  result.cancelled = cancelled(job.control);
  if (result.cancelled) result.ok = false;
  return result;
}
