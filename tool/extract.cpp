// Reading an archive: the index is walked once on the calling thread, then blocks (a member,
// or the members of one solid stream) are decoded by worker threads, each with its own handle.
// Every member is written to a temporary file beside its target and renamed into place only
// after its size and CRC-32 have been checked.
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <unordered_map>
#include <string>

#include "codec.h"
#include "engine.h"
#include "file_io.h"
#include "format/archive_format.h"
#include "format/path_safety.h"
#include "format/utf8_text.h"

namespace {

constexpr size_t IN_CHUNK = 1 << 20;
constexpr size_t OUT_CHUNK = 1 << 20;
constexpr size_t FIRST_HEADER_READ = 512;
constexpr size_t WALK_WINDOW = 256 << 10;
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

bool walk_index(File& archive, int64_t start, std::vector<Entry>& entries, std::string& problem) {
  int64_t length = archive.length();
  if (length < 0) {
    problem = "cannot read the archive";
    return false;
  }
  if (length < start) {
    problem = "archive is shorter than a self-extracting program";
    return false;
  }
  // Headers are read from a window of the archive; after a small entry the next headers are
  // probably close, so the window is refilled generously, after a large one just enough.
  // Buffers are no larger than the archive: a small one is read often (the front end extracts
  // single members), and clearing megabytes for a few hundred bytes costs more than the read.
  std::vector<uint8_t> buffer(static_cast<size_t>(std::clamp<int64_t>(length - start, 1, WALK_WINDOW)));
  int64_t window_start = 0;
  size_t window_size = 0;
  bool small_entries = true;
  bool system_utf8 = system_text_is_utf8();
  for (int64_t pos = start; pos < length;) {
    size_t want = static_cast<size_t>(std::min<int64_t>(FIRST_HEADER_READ, length - pos));
    EntryHeader h;
    size_t needed = 0;
    std::string why;
    DecodeStatus status = DecodeStatus::NEED_MORE;
    while (status == DecodeStatus::NEED_MORE) {
      if (pos < window_start || pos + static_cast<int64_t>(want) > window_start + static_cast<int64_t>(window_size)) {
        size_t n = want;
        if (small_entries) n = std::max(n, static_cast<size_t>(std::min<int64_t>(WALK_WINDOW, length - pos)));
        if (buffer.size() < n) buffer.resize(n);
        window_size = 0;
        if (!archive.read_at(pos, buffer.data(), n)) {
          problem = "cannot read the archive";
          return false;
        }
        window_start = pos;
        window_size = n;
      }
      status = decode_header(buffer.data() + (pos - window_start), want, h, needed, why);
      if (status == DecodeStatus::NEED_MORE) {
        if (static_cast<int64_t>(needed) > length - pos) {
          why = "archive ends inside an entry header";
          status = DecodeStatus::BAD;
        }
        want = needed;
      }
    }
    if (status == DecodeStatus::BAD) {
      problem = "damaged archive at offset " + std::to_string(pos) + ": " + why;
      return false;
    }
    if (h.entry_length > length - pos) {
      problem = "damaged archive: member " + h.path() + " runs past the end of the file";
      return false;
    }
    small_entries = h.entry_length <= static_cast<int64_t>(WALK_WINDOW / 4);
    h.name = name_for_system(h.name, system_utf8);
    h.folder = name_for_system(h.folder, system_utf8);
    entries.push_back(Entry{h, pos + static_cast<int64_t>(needed), pos});
    pos += h.entry_length;
  }
  return true;
}

bool group_blocks(const std::vector<Entry>& entries, std::vector<Block>& blocks, std::string& problem) {
  for (size_t i = 0; i < entries.size(); ++i) {
    const EntryHeader& h = entries[i].header;
    if (h.flags & ENTRY_FLAG_SOLID_NEXT) {
      if (blocks.empty() || h.method == METHOD_STORE || entries[i - 1].header.method != h.method) {
        problem = "damaged archive: " + h.path() + " continues a stream that does not exist";
        return false;
      }
      blocks.back().count++;
    } else {
      blocks.push_back(Block{i, 1});
    }
  }
  return true;
}

std::string join_path(const std::string& base, const std::vector<std::string>& parts, size_t count) {
  std::string path = base;
  for (size_t i = 0; i < count; ++i) {
    if (!path.empty() && path.back() != '/' && path.back() != '\\') path += native_separator();
    path += parts[i];
  }
  return path;
}

// The destination as typed, without trailing separators ("C:\out\" -> "C:\out").
std::string destination_root(const std::string& destination) {
  std::string root = destination.empty() ? current_directory() : destination;
  while (root.size() > 1 && (root.back() == '/' || root.back() == '\\') &&
         !(root.size() == 3 && root[1] == ':'))
    root.pop_back();
  return root;
}

bool make_destination(const std::string& root) {
  for (size_t i = 1; i <= root.size(); ++i) {
    if (i == root.size() || root[i] == '/' || root[i] == '\\') {
      std::string prefix = root.substr(0, i);
      if (prefix.empty() || (prefix.size() == 2 && prefix[1] == ':')) continue;
      make_directory(prefix);
    }
  }
  FileInfo info = source_info(root);
  return info.exists && info.is_directory;
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

// Whether a run reads this member at all: only marked ones with -e, only chosen ones when adding.
bool wanted_by(const ReadJob& job, const EntryHeader& h, size_t index) {
  return (!job.marked_only || h.mark == 1) && (!job.select || job.select(h)) &&
         (!job.file_name || !job.file_name(index).empty());
}

// The path with one kind of separator, letters folded as the file system folds them: equal keys
// name one file where case is ignored.
std::string case_key(const std::string& path) {
  std::string key = path;
  for (char& c : key)
    if (c == '\\') c = '/';
  return name_case_key(key);
}

// "stem (n).ext" in the member's own folder.
std::string numbered_name(const std::string& name, int n) {
  size_t dot = name.rfind('.');
  if (dot == 0 || dot == std::string::npos) dot = name.size();
  return name.substr(0, dot) + " (" + std::to_string(n) + ")" + name.substr(dot);
}

// Where names differing only in letter case are one file, a later member would silently
// replace an earlier one: it gets the first numbered name free among the members and in the
// destination `root` (a user's "x (2).txt" is not replaced). `renamed[i]` is the new name of
// entry i (empty when it keeps its own) and `clash[i]` the entry it clashed with.
void plan_case_renames(const std::vector<Entry>& entries, const ReadJob& job, const std::string& root,
                       std::vector<std::string>& renamed, std::vector<size_t>& clash) {
  renamed.assign(entries.size(), std::string());
  clash.assign(entries.size(), 0);
  // Every member's own name is reserved first, so a member really called "a (2).h" keeps it.
  std::unordered_map<std::string, size_t> taken;
  for (size_t i = 0; i < entries.size(); ++i)
    if (wanted_by(job, entries[i].header, i)) taken.emplace(case_key(entries[i].header.path()), i);
  for (size_t i = 0; i < entries.size(); ++i) {
    const EntryHeader& h = entries[i].header;
    if (!wanted_by(job, h, i)) continue;
    size_t owner = taken[case_key(h.path())];
    if (owner == i || entries[owner].header.path() == h.path()) continue;
    for (int n = 2;; ++n) {
      std::string candidate = numbered_name(h.name, n);
      std::string on_disk = root + native_separator() + h.folder + candidate;
      for (char& c : on_disk)
        if (c == '/' || c == '\\') c = native_separator();
      if (!taken.count(case_key(h.folder + candidate)) && !file_info(on_disk).exists) {
        taken.emplace(case_key(h.folder + candidate), i);
        renamed[i] = candidate;
        clash[i] = owner;
        break;
      }
    }
  }
}

// With threads writing side by side, members whose target a later member takes are only
// checked, so the later one wins as it would on a single thread.
std::vector<char> plan_superseded(const std::vector<Entry>& entries, const ReadJob& job,
                                  const std::vector<std::string>& renamed) {
  std::vector<char> superseded(entries.size(), 0);
  std::unordered_map<std::string, size_t> last;
  for (size_t i = 0; i < entries.size(); ++i) {
    const EntryHeader& h = entries[i].header;
    if (!wanted_by(job, h, i)) continue;
    std::string target = h.folder + (renamed[i].empty() ? h.name : renamed[i]);
    auto placed = last.emplace(names_ignore_case() ? case_key(target) : target, i);
    if (!placed.second) {
      superseded[placed.first->second] = 1;
      placed.first->second = i;
    }
  }
  return superseded;
}

// One worker's view of the archive: stretches of up to a buffer's size, read once and handed
// out piece by piece, so a run of small members costs one read instead of one each. Reads never
// go past `limit` (the end of the worker's own blocks).
class ArchiveWindow {
 public:
  ArchiveWindow(File& file, std::vector<uint8_t>& buffer, int64_t limit)
      : file_(file), buffer_(buffer), limit_(limit) {}
  // Up to `want` bytes at `offset`, from the buffer; false on read error. The bytes stay valid
  // until the next call.
  bool get(int64_t offset, uint64_t want, const uint8_t*& data, size_t& size) {
    if (offset < start_ || offset >= start_ + static_cast<int64_t>(filled_)) {
      int64_t room = std::max<int64_t>(limit_ - offset, static_cast<int64_t>(std::min<uint64_t>(want, buffer_.size())));
      size_t n = static_cast<size_t>(std::min<int64_t>(room, static_cast<int64_t>(buffer_.size())));
      size_t needed = static_cast<size_t>(std::min<uint64_t>(want, buffer_.size()));
      filled_ = 0;
      // Should the archive have shrunk since its index was read, the bytes asked for decide.
      if (!file_.read_at(offset, buffer_.data(), n)) {
        if (n == needed || !file_.read_at(offset, buffer_.data(), needed)) return false;
        n = needed;
      }
      start_ = offset;
      filled_ = n;
    }
    size_t at = static_cast<size_t>(offset - start_);
    size = static_cast<size_t>(std::min<uint64_t>(want, filled_ - at));
    data = buffer_.data() + at;
    return true;
  }

 private:
  File& file_;
  std::vector<uint8_t>& buffer_;  // the worker's, reused for every block
  int64_t limit_;
  int64_t start_ = 0;
  size_t filled_ = 0;
};

// Reads a block's compressed bytes across its entries, skipping the headers in between.
class BlockInput {
 public:
  BlockInput(ArchiveWindow& window, const std::vector<Entry>& entries, Block block)
      : window_(window), entries_(entries), block_(block) {
    next_entry_ = block.first;
  }
  // Next stretch of compressed bytes; size 0 at the end of the block; false on read error.
  bool next(const uint8_t*& data, size_t& size) {
    while (left_ == 0 && next_entry_ < block_.first + block_.count) {
      const Entry& e = entries_[next_entry_++];
      offset_ = e.data_offset;
      left_ = e.header.compressed_size;
    }
    size = 0;
    data = nullptr;
    if (left_ == 0) return true;
    if (!window_.get(offset_, left_, data, size)) return false;
    offset_ += static_cast<int64_t>(size);
    left_ -= size;
    return true;
  }

 private:
  ArchiveWindow& window_;
  const std::vector<Entry>& entries_;
  Block block_;
  size_t next_entry_ = 0;
  int64_t offset_ = 0;
  uint64_t left_ = 0;
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

// The outcome of one member: `refusal` (it cannot be written here) before `problem` (its data).
void report_member(WorkerState& state, size_t index, const std::string& refusal, const std::string& problem,
                   bool written) {
  const Shared& shared = state.shared;
  const EntryHeader& h = shared.entries[index].header;
  if (!refusal.empty()) state.fail(refusal);
  else if (!problem.empty()) state.fail(h.path() + ": " + problem);
  else state.done(h.size);
  if (written && problem.empty() && refusal.empty() && !shared.renamed[index].empty()) {
    state.result.renamed++;
    state.note(h.path() + " extracted as " + h.folder + shared.renamed[index] + ": its name differs from " +
               shared.entries[shared.clash[index]].header.path() + " only in letter case");
  }
}

// A member's output once its data has ended: put in place when whole and written, else removed;
// then the outcome is reported.
void end_output(WorkerState& state, size_t index, MemberOutput& out, std::string refusal,
                const std::string& problem) {
  if (problem.empty() && refusal.empty() && out.active) {
    if (out.failed) refusal = "cannot write " + join_path(out.folder->path(), {out.name}, 1);
    else refusal = finish_output(state.shared.entries[index].header, out, state.shared.zone_mark);
  }
  if (out.active && (!problem.empty() || !refusal.empty())) {
    out.file.close();
    out.folder->remove(out.created);
  }
  report_member(state, index, refusal, problem, out.active);
}

// Members decoded into memory for the writers: their bytes one after another in one buffer.
struct HeldBatch {
  struct Member {
    size_t index = 0;
    size_t size = 0;
  };
  std::vector<Member> members;
  std::vector<uint8_t> bytes;
};

// A writer thread's part: a member already decoded and checked goes to disk.
void write_held(WorkerState& state, size_t index, const uint8_t* bytes, size_t size) {
  if (cancelled(state.shared.job.control)) return;
  MemberOutput out;
  std::string refusal;
  open_output(state.shared, index, out, refusal);
  if (out.active && size > 0 && !out.file.write(bytes, size)) out.failed = true;
  end_output(state, index, out, refusal, std::string());
}

class Decoder {
 public:
  explicit Decoder(WorkerState& state, size_t out_size)
      : shared_(state.shared), state_(state), out_(std::clamp<size_t>(out_size, 1, OUT_CHUNK)) {
    ready_ = inflateInit2(&z_, -15) == Z_OK;
  }
  ~Decoder() {
    flush_held();  // members decoded last still reach the writers
    if (ready_) inflateEnd(&z_);
  }

  void run(Block block, ArchiveWindow& archive) {
    bool wanted = false;
    for (size_t i = block.first; i < block.first + block.count; ++i)
      wanted = wanted || wanted_by(shared_.job, shared_.entries[i].header, i);
    if (!wanted) return;
    if (!ready_) {
      state_.fail("out of memory for the decompressor");
      return;
    }
    if (!sizes_possible(block)) return;
    inflateReset(&z_);
    z_.avail_in = 0;
    ended_ = false;
    input_done_ = false;
    zstd_in_size_ = 0;
    if (shared_.entries[block.first].header.method == METHOD_ZSTD && !start_zstd()) return;
    BlockInput input(archive, shared_.entries, block);
    std::string stream_problem;
    for (size_t i = block.first; i < block.first + block.count; ++i) {
      const EntryHeader& h = shared_.entries[i].header;
      bool last = i + 1 == block.first + block.count;
      if (!stream_problem.empty()) {
        if (wanted_by(shared_.job, h, i)) state_.fail("cannot extract " + h.path() + ": " + stream_problem);
        continue;
      }
      member(i, input, last, stream_problem);
      if (shared_.job.after_member) shared_.job.after_member(h);
    }
  }

 private:
  // A block whose recorded sizes its compressed bytes cannot hold would have a member written for
  // gigabytes before its data runs out: every wanted member of it is refused up front.
  bool sizes_possible(Block block) {
    uint64_t size = 0, compressed = 0;
    for (size_t i = block.first; i < block.first + block.count; ++i) {
      const EntryHeader& h = shared_.entries[i].header;
      size += static_cast<uint64_t>(h.size);
      compressed += h.compressed_size;
    }
    const EntryHeader& first = shared_.entries[block.first].header;
    uint64_t largest = largest_output(first.method, compressed);
    if (size <= largest && (first.method != METHOD_STORE || size == compressed)) return true;
    for (size_t i = block.first; i < block.first + block.count; ++i) {
      const EntryHeader& h = shared_.entries[i].header;
      if (!wanted_by(shared_.job, h, i)) continue;
      state_.fail("refused " + h.path() + ": its recorded size (" + std::to_string(h.size) + " bytes) is more than " +
                  std::to_string(compressed) + " compressed bytes can hold");
    }
    return false;
  }

  void flush_held() {
    if (batch_.members.empty()) return;
    // Every posted task runs once, and it frees the batch after giving its buffer back.
    auto* batch = new HeldBatch(std::move(batch_));
    batch_ = HeldBatch();
    Shared& shared = shared_;
    shared_.writers->post(batch->bytes.capacity(), [&shared, batch](int slot) {
      std::unique_ptr<HeldBatch> owned(batch);
      WorkerState state{shared, shared.writer_results[static_cast<size_t>(slot)]};
      const uint8_t* bytes = owned->bytes.data();
      for (const HeldBatch::Member& m : owned->members) {
        write_held(state, m.index, bytes, m.size);
        bytes += m.size;
      }
      shared.writers->give_back(std::move(owned->bytes));
    });
  }

  // Room for `size` more bytes in the batch, which is handed on first if they would take it
  // past its size. Buffers come from the writers, which give them back once written.
  std::vector<uint8_t>& batch_room(int64_t size) {
    if (batch_.bytes.size() + static_cast<size_t>(size) > BATCH_BYTES) flush_held();
    if (batch_.bytes.capacity() == 0) {
      batch_.bytes = shared_.writers->take_buffer();
      batch_.bytes.reserve(BATCH_BYTES);
    }
    return batch_.bytes;
  }

  void member(size_t index, BlockInput& input, bool last, std::string& stream_problem) {
    const EntryHeader& h = shared_.entries[index].header;
    if (stopped(stream_problem)) return;
    MemberOutput out;
    std::string refusal;  // a whole sentence: the member cannot be written here
    bool wanted = wanted_by(shared_.job, h, index);
    if (shared_.job.control && wanted) shared_.job.control->working_on(&h.name);
    size_t held_from = 0;  // where the member starts in the batch, when it is held
    if (wanted && shared_.job.mode == ReadMode::EXTRACT && !(shared_.writers && shared_.superseded[index])) {
      if (shared_.writers && h.size <= static_cast<int64_t>(BATCH_BYTES)) {
        out.memory = &batch_room(h.size);
        held_from = out.memory->size();
      } else {
        open_output(shared_, index, out, refusal);
      }
    }
    uint32_t crc = crc32(0, nullptr, 0);
    int64_t produced = 0;
    bool stream_ok = h.method == METHOD_STORE  ? copy_stored(input, out, crc, produced, stream_problem)
                     : h.method == METHOD_ZSTD ? zstd_member(h, input, last, out, crc, produced, stream_problem)
                                               : inflate_member(h, input, last, out, crc, produced, stream_problem);
    std::string problem;  // about the member's data
    if (!stream_ok) problem = stream_problem;
    else if (produced != h.size) problem = "data size differs from the recorded size";
    else if (crc != h.crc) problem = "CRC-32 mismatch, data is damaged";
    if (!wanted) return;
    if (out.memory) {
      if (!problem.empty()) {
        out.memory->resize(held_from);
      } else {
        batch_.members.push_back(HeldBatch::Member{index, out.memory->size() - held_from});
        if (batch_.members.size() >= BATCH_MEMBERS || batch_.bytes.size() >= BATCH_BYTES) flush_held();
        return;
      }
    }
    end_output(state_, index, out, refusal, problem);
  }

  // A cancel is seen between blocks: the member at hand ends as a damaged one would, removed.
  bool stopped(std::string& problem) {
    if (!cancelled(shared_.job.control)) return false;
    problem = CANCELLED_PROBLEM;
    return true;
  }

  void deliver(MemberOutput& out, const uint8_t* data, size_t size, uint32_t& crc, int64_t& produced) {
    add_progress(shared_.job.control, static_cast<int64_t>(size));
    if (shared_.job.on_data && size > 0) shared_.job.on_data(data, size);
    crc = crc32_z(crc, data, size);
    produced += static_cast<int64_t>(size);
    if (out.active && !out.failed && !out.file.write(data, size)) out.failed = true;
    if (out.memory) out.memory->insert(out.memory->end(), data, data + size);
  }

  bool copy_stored(BlockInput& input, MemberOutput& out, uint32_t& crc, int64_t& produced,
                   std::string& problem) {
    for (;;) {
      const uint8_t* data;
      size_t size;
      if (stopped(problem)) return false;
      if (!input.next(data, size)) {
        problem = "cannot read the archive";
        return false;
      }
      if (size == 0) return true;
      deliver(out, data, size, crc, produced);
    }
  }

  // Produces exactly h.size bytes from the block's stream; the last member must end it, and
  // nothing may follow the end.
  bool inflate_member(const EntryHeader& h, BlockInput& input, bool last, MemberOutput& out,
                      uint32_t& crc, int64_t& produced, std::string& problem) {
    for (;;) {
      uint64_t want = static_cast<uint64_t>(h.size - produced);
      if (ended_) {
        if (want > 0) {
          problem = "data is shorter than the recorded size";
          return false;
        }
        if (last && !input_exhausted(input)) {
          problem = "data is longer than the recorded size";
          return false;
        }
        return true;
      }
      if (want == 0 && !last) return true;
      if (stopped(problem)) return false;
      if (z_.avail_in == 0 && !input_done_) {
        const uint8_t* data;
        size_t size;
        if (!input.next(data, size)) {
          problem = "cannot read the archive";
          return false;
        }
        z_.next_in = const_cast<Bytef*>(data);
        z_.avail_in = static_cast<uInt>(size);
        input_done_ = size == 0;
      }
      // Inside a solid block the next member's bytes follow; after the last member one byte
      // of room past its size catches data longer than recorded.
      z_.next_out = out_.data();
      z_.avail_out = static_cast<uInt>(std::min<uint64_t>(out_.size(), last ? want + 1 : want));
      int rc = inflate(&z_, Z_NO_FLUSH);
      size_t got = static_cast<size_t>(z_.next_out - out_.data());
      if (got > want) {
        problem = "data is longer than the recorded size";
        return false;
      }
      deliver(out, out_.data(), got, crc, produced);
      if (rc == Z_STREAM_END) {
        ended_ = true;
      } else if (rc == Z_BUF_ERROR && z_.avail_in == 0 && input_done_) {
        problem = "data is shorter than the recorded size";
        return false;
      } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
        problem = "compressed data is damaged";
        return false;
      }
    }
  }

  bool start_zstd() {
    if (!zstd_available()) {
      state_.fail("cannot extract zstd members: this self-extracting program reads deflate only");
      return false;
    }
    if (!zstd_) zstd_ = std::make_unique<ZstdDecoder>();
    if (!zstd_->ready()) {
      state_.fail("out of memory for the decompressor");
      return false;
    }
    zstd_->reset();
    return true;
  }

  // Like inflate_member for a run of zstd frames: a member may span several frames (a large
  // file's pieces) and a frame several members (a solid stream).
  bool zstd_member(const EntryHeader& h, BlockInput& input, bool last, MemberOutput& out, uint32_t& crc,
                   int64_t& produced, std::string& problem) {
    for (;;) {
      uint64_t want = static_cast<uint64_t>(h.size - produced);
      if (want == 0 && !last) return true;
      if (stopped(problem)) return false;
      if (zstd_in_size_ == 0 && !input_done_) {
        if (!input.next(zstd_in_, zstd_in_size_)) {
          problem = "cannot read the archive";
          return false;
        }
        input_done_ = zstd_in_size_ == 0;
      }
      if (zstd_in_size_ == 0 && input_done_ && !zstd_->inside_frame()) {
        if (want == 0) return true;
        problem = "data is shorter than the recorded size";
        return false;
      }
      size_t room = static_cast<size_t>(std::min<uint64_t>(out_.size(), last ? want + 1 : want));
      size_t got = 0, before = zstd_in_size_;
      if (!zstd_->decode(zstd_in_, zstd_in_size_, out_.data(), room, got, problem)) return false;
      if (got > want) {
        problem = "data is longer than the recorded size";
        return false;
      }
      deliver(out, out_.data(), got, crc, produced);
      if (got == 0 && before == zstd_in_size_ && input_done_) {
        problem = "compressed data is truncated";
        return false;
      }
    }
  }

  bool input_exhausted(BlockInput& input) {
    if (z_.avail_in != 0) return false;
    const uint8_t* data;
    size_t size;
    return input.next(data, size) && size == 0;
  }

  Shared& shared_;
  WorkerState& state_;
  z_stream z_{};
  bool ready_ = false;
  bool ended_ = false;
  bool input_done_ = false;
  std::vector<uint8_t> out_;
  std::unique_ptr<ZstdDecoder> zstd_;
  HeldBatch batch_;  // decoded members not yet handed to the writers
  const uint8_t* zstd_in_ = nullptr;
  size_t zstd_in_size_ = 0;
};

void decode_worker(void* context, int index) {
  Shared& shared = *static_cast<Shared*>(context);
  WorkerState state{shared, shared.results[static_cast<size_t>(index)]};
  File archive;
  if (!archive.open_read(shared.job.archive_path)) {
    state.fail("cannot open " + shared.job.archive_path);
    return;
  }
  size_t first = shared.starts[static_cast<size_t>(index)];
  size_t end = shared.starts[static_cast<size_t>(index) + 1];
  if (first == end) return;
  const Block& last = shared.blocks[end - 1];
  const Entry& tail = shared.entries[last.first + last.count - 1];
  int64_t limit = tail.data_offset + static_cast<int64_t>(tail.header.compressed_size);
  int64_t span = limit - shared.entries[shared.blocks[first].first].offset;
  std::vector<uint8_t> buffer(static_cast<size_t>(std::clamp<int64_t>(span, 1, IN_CHUNK)));
  ArchiveWindow window(archive, buffer, limit);
  int64_t largest = 0;
  for (size_t b = first; b < end; ++b)
    for (size_t i = shared.blocks[b].first; i < shared.blocks[b].first + shared.blocks[b].count; ++i)
      largest = std::max(largest, shared.entries[i].header.size);
  Decoder decoder(state, static_cast<size_t>(std::min<int64_t>(largest + 1, OUT_CHUNK)));
  for (size_t b = first; b < end; ++b) {
    decoder.run(shared.blocks[b], window);
    shared.block_done(shared.blocks[b]);
  }
}

// Cuts the blocks into `parts` contiguous stretches of about equal compressed size.
std::vector<size_t> split_blocks(const std::vector<Entry>& entries, const std::vector<Block>& blocks, int parts) {
  std::vector<uint64_t> weight(blocks.size());
  uint64_t total = 0;
  for (size_t b = 0; b < blocks.size(); ++b) {
    for (size_t i = blocks[b].first; i < blocks[b].first + blocks[b].count; ++i)
      weight[b] += entries[i].header.compressed_size + 4096;  // a file costs more than its bytes
    total += weight[b];
  }
  std::vector<size_t> starts{0};
  uint64_t running = 0;
  for (size_t b = 0; b < blocks.size() && starts.size() < static_cast<size_t>(parts); ++b) {
    running += weight[b];
    if (running * static_cast<uint64_t>(parts) >= total * starts.size()) starts.push_back(b + 1);
  }
  while (starts.size() <= static_cast<size_t>(parts)) starts.push_back(blocks.size());
  starts.back() = blocks.size();
  return starts;
}

}  // namespace

bool read_index(const std::string& archive_path, int64_t index_start, std::vector<StoredEntry>& entries,
                std::string& problem) {
  File archive;
  if (!archive.open_read(archive_path)) {
    problem = "cannot open " + archive_path + ": " + last_error_text();
    return false;
  }
  std::vector<Block> blocks;
  return walk_index(archive, index_start, entries, problem) && group_blocks(entries, blocks, problem);
}

RunResult read_archive_with(const ReadJob& job, ParallelRunner runner, MemberWriters* writers) {
  RunResult result;
  ForgetMemberOnExit forget{job.control};
  File archive;
  if (!archive.open_read(job.archive_path)) {
    result.ok = false;
    result.problems.push_back("cannot open " + job.archive_path);
    return result;
  }
  int64_t start = job.index_start >= 0 ? job.index_start : index_start(job.archive_path);
  std::vector<Entry> entries;
  std::vector<Block> blocks;
  std::string problem;
  if (!walk_index(archive, start, entries, problem) || !group_blocks(entries, blocks, problem)) {
    result.ok = false;
    result.problems.push_back(problem);
    return result;
  }
  archive.close();
  if (job.mode == ReadMode::LIST) {
    for (const Entry& e : entries) {
      if (job.on_entry) job.on_entry(e.header);
      result.members++;
      result.bytes_in += e.header.size;
      result.bytes_out += static_cast<int64_t>(e.header.compressed_size);
    }
    return result;
  }
  Shared shared{job, Folder(), entries, blocks, {}, {}, {}, {}};
  shared.renamed.resize(entries.size());
  int64_t wanted_bytes = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    shared.progress_total += static_cast<int64_t>(entries[i].header.compressed_size);
    if (wanted_by(job, entries[i].header, i)) wanted_bytes += entries[i].header.size;
  }
  if (job.control) job.control->total.store(wanted_bytes);
  if (job.mode == ReadMode::EXTRACT) {
    std::string root = destination_root(job.destination);
    if (!make_destination(root) || !shared.root.open_root(root)) {
      result.ok = false;
      result.problems.push_back("cannot create the destination folder " + root);
      return result;
    }
    // Files from a downloaded archive are downloaded files: Windows warns before running them.
    if (!job.file_name) shared.zone_mark = read_zone_mark(job.archive_path);
    if (names_ignore_case() && !job.file_name) plan_case_renames(entries, job, root, shared.renamed, shared.clash);
    if (writers) {
      shared.writers = writers;
      shared.writer_results.resize(static_cast<size_t>(writers->count()));
      shared.superseded = job.file_name ? std::vector<char>(entries.size(), 0) : plan_superseded(entries, job, shared.renamed);
    }
  }
  int threads = runner ? std::min<int>(job.threads, static_cast<int>(blocks.size())) : 1;
  threads = std::max(threads, 1);
  shared.results.resize(static_cast<size_t>(threads));
  shared.starts = split_blocks(entries, blocks, threads);
  if (runner) runner(threads, decode_worker, &shared);
  else decode_worker(&shared, 0);
  if (shared.writers) shared.writers->drain();
  shared.results.insert(shared.results.end(), shared.writer_results.begin(), shared.writer_results.end());
  for (const RunResult& part : shared.results) {
    result.ok = result.ok && part.ok;
    result.problems.insert(result.problems.end(), part.problems.begin(), part.problems.end());
    result.members += part.members;
    result.bytes_in += part.bytes_in;
    result.renamed += part.renamed;
    result.notes.insert(result.notes.end(), part.notes.begin(), part.notes.end());
  }
  result.cancelled = cancelled(job.control);
  if (result.cancelled) result.ok = false;
  return result;
}
