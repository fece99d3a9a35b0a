// The stages of reading an archive, one file each: the index is walked once on the calling
// thread (extract_index), the run is planned (extract_plan: which members, where, under which
// names), then blocks (a member, or the members of one solid stream) are decoded by worker
// threads, each with its own handle (extract_decode), and members are written (extract_output):
// every member to a temporary file beside its target, renamed into place only after its size
// and CRC-32 have been checked.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "archive_source.h"
#include "engine.h"
#include "file_io.h"

namespace extraction {

// Members up to a batch's size are decoded into memory and handed to the writer threads, in
// batches of up to so many members or bytes (one hand-off per member costs more than a file).
// Every batch buffer then has the same size and is reused; larger members are written by the
// thread that decodes them.
constexpr size_t BATCH_MEMBERS = 64;
constexpr size_t BATCH_BYTES = 1 << 20;

using Entry = StoredEntry;

struct Block {
  size_t first = 0;
  size_t count = 0;
};

struct Shared {
  const ReadJob& job;
  Folder root;
  const std::vector<Entry>& entries;
  const std::vector<Block>& blocks;
  // Worker i takes blocks [starts[i], starts[i+1]): contiguous stretches keep the workers in
  // different folders, where interleaved blocks would have them contend for the same one.
  std::vector<size_t> starts;
  std::vector<RunResult> results;  // one per worker, merged when all have finished
  std::vector<std::string> renamed;  // see plan_case_renames
  std::vector<size_t> clash;
  MemberWriters* writers = nullptr;
  std::vector<RunResult> writer_results{};  // one per writer thread
  std::vector<char> superseded{};  // see plan_superseded
  std::string zone_mark{};         // the archive's Mark of the Web, given to every file written
  // copies[i]: the copies that take their data from entry i (empty when the archive has none).
  std::vector<std::vector<size_t>> copies{};
  std::atomic<int64_t> progress_done{0};
  int64_t progress_total = 0;
  std::atomic_flag reporting = ATOMIC_FLAG_INIT;
  // A worker that finds another reporting skips its turn (no lock: the stub has no room for one).
  void block_done(const Block& b) {
    if (!job.progress) return;
    int64_t bytes = 0;
    for (size_t i = b.first; i < b.first + b.count; ++i) bytes += static_cast<int64_t>(entries[i].header.compressed_size);
    int64_t done = progress_done += bytes;
    if (reporting.test_and_set()) return;
    job.progress(done, progress_total);
    reporting.clear();
  }
};

// What one worker learns; nothing here is shared between threads.
struct WorkerState {
  Shared& shared;
  RunResult& result;
  // After a cancel, what fails is its consequence: the run reports the cancel alone.
  void fail(const std::string& line) {
    result.ok = false;
    if (!cancelled(shared.job.control)) result.problems.push_back(line);
  }
  // A problem of one member's (its line names it), kept apart from the archive's own.
  void fail_member(const std::string& line) {
    size_t before = result.problems.size();
    fail(line);
    if (result.problems.size() > before) result.member_problems.push_back(before);
  }
  void done(int64_t bytes) {
    result.members++;
    result.bytes_in += bytes;
  }
  void note(const std::string& line) { result.notes.push_back(line); }
};

// One member's output: a new file (or nothing, for a test or a skipped member).
struct MemberOutput {
  std::string name;         // within `folder`
  std::string created;      // the name the file was created under: `name` or a temporary one
  Folder own_folder;        // the member's folder, unless it is the destination itself
  const Folder* folder = nullptr;
  File file;
  bool active = false;
  bool failed = false;
  std::vector<uint8_t>* memory = nullptr;  // decoded bytes held for a writer thread
};

// Members decoded into memory for the writers: their bytes one after another in one buffer.
struct HeldBatch {
  struct Member {
    size_t index = 0;
    size_t size = 0;
  };
  std::vector<Member> members;
  std::vector<uint8_t> bytes;
};

// ---- Index ----
bool walk_index(ArchiveSource& archive, int64_t start, std::vector<Entry>& entries, std::string& problem);
bool group_blocks(const std::vector<Entry>& entries, std::vector<Block>& blocks, std::string& problem);

// ---- Plan ----
// Whether a run reads this member at all: only marked ones with -e, only chosen ones when adding.
bool wanted_by(const ReadJob& job, const EntryHeader& h, size_t index);
// The places a member's data goes to: the member itself when wanted, then its wanted copies.
void data_outputs(const Shared& shared, size_t index, std::vector<size_t>& out);
// Fills in what an extraction needs before any member is read: the destination, the names
// members are written under, the writers' part. False with a problem for the run.
bool plan_extraction(Shared& shared, MemberWriters* writers, std::string& problem);
// Cuts the blocks into `parts` contiguous stretches of about equal compressed size.
std::vector<size_t> split_blocks(const std::vector<Entry>& entries, const std::vector<Block>& blocks, int parts);

// ---- Decode ----
// Worker `index` decodes its stretch of blocks (see Shared::starts).
void decode_worker(void* context, int index);
// At most `workers` workers whose decoders fit the job's address space together, never fewer
// than one; `note` says so when they are fewer.
int fit_decoding_workers(const Shared& shared, int workers, std::string& note);

// ---- Output ----
void open_output(Shared& shared, size_t index, MemberOutput& out, std::string& problem);
// Creates a folder entry of another program's archive below the destination, by the same rules
// and walk as a member's folder. False with the problem.
bool make_member_folder(const Shared& shared, const EntryHeader& h, std::string& problem);
// A member's output once its data has ended: put in place when whole and written, else removed;
// then the outcome is reported.
void end_output(WorkerState& state, size_t index, MemberOutput& out, std::string refusal, const std::string& problem);
// Hands the members held in `batch` to a writer thread, which writes them to disk; `batch` is
// left empty for the next ones.
void post_held(Shared& shared, HeldBatch& batch);

}  // namespace extraction
