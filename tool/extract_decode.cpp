// Reading an archive, the decoding: each worker reads its stretch of the archive through one
// buffer and decodes block after block with the codec of the block's method, checking every
// member's size and CRC-32 before its output is put in place.
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "format/archive_format.h"
#include "codec.h"
#include "extract_stages.h"

namespace extraction {
namespace {

constexpr size_t IN_CHUNK = 1 << 20;
constexpr size_t OUT_CHUNK = 1 << 20;

// One worker's view of the archive: stretches of up to a buffer's size, read once and handed
// out piece by piece, so a run of small members costs one read instead of one each. Reads never
// go past `limit` (the end of the worker's own blocks).
class ArchiveWindow {
 public:
  ArchiveWindow(ArchiveSource& file, std::vector<uint8_t>& buffer, int64_t limit)
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

  std::string read_problem() const { return file_.read_problem(); }

 private:
  ArchiveSource& file_;
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
  std::string read_problem() const { return window_.read_problem(); }

 private:
  ArchiveWindow& window_;
  const std::vector<Entry>& entries_;
  Block block_;
  size_t next_entry_ = 0;
  int64_t offset_ = 0;
  uint64_t left_ = 0;
};

// One place a member's data goes.
struct Output {
  size_t index = 0;
  MemberOutput out;
  std::string refusal;  // a whole sentence: it cannot be written here
  std::string problem;  // about its data
  size_t held_from = 0;  // where its bytes start in the batch, when held
  bool handed = false;   // held for the writers, who report it
};

class BlockDecoder {
 public:
  BlockDecoder(WorkerState& state, size_t out_size)
      : shared_(state.shared), state_(state), out_(std::clamp<size_t>(out_size, 1, OUT_CHUNK)) {}
  ~BlockDecoder() { flush_held(); }  // members decoded last still reach the writers

  void run(Block block, ArchiveWindow& archive) {
    if (copy_block(block)) return;
    bool wanted = false;
    for (size_t i = block.first; i < block.first + block.count && !wanted; ++i) {
      data_outputs(shared_, i, targets_);
      wanted = !targets_.empty();
    }
    if (!wanted || !sizes_possible(block)) return;
    const EntryHeader& first = shared_.entries[block.first].header;
    codec_ = codec_for(first.method);
    if (!codec_) return;
    std::string refused;
    if (!codec_->start(first, block_size(block), refused)) {
      for (size_t i = block.first; i < block.first + block.count; ++i) fail_outputs(i, "cannot extract ", refused);
      return;
    }
    in_size_ = 0;
    input_done_ = false;
    BlockInput input(archive, shared_.entries, block);
    std::string stream_problem;
    for (size_t i = block.first; i < block.first + block.count; ++i) {
      const EntryHeader& h = shared_.entries[i].header;
      bool last = i + 1 == block.first + block.count;
      if (!stream_problem.empty()) {
        fail_outputs(i, "cannot extract ", stream_problem);
        continue;
      }
      member(i, input, last, stream_problem);
      if (shared_.job.after_member) shared_.job.after_member(h);
    }
  }

 private:
  // A copy has no data: its source's block writes it. One whose source the index does not
  // hold before it is damaged; the others are not.
  bool copy_block(Block block) {
    const Entry& e = shared_.entries[block.first];
    if (!e.header.is_copy()) return false;
    if (e.source == Entry::NO_SOURCE && wanted_by(shared_.job, e.header, block.first))
      state_.fail_member("damaged archive: " + e.header.path() + " is a copy of a member that does not come before it");
    return true;
  }

  // Every wanted output of member `index` fails with `why`.
  void fail_outputs(size_t index, const std::string& what, const std::string& why) {
    data_outputs(shared_, index, targets_);
    for (size_t t : targets_) state_.fail_member(what + shared_.entries[t].header.path() + ": " + why);
  }

  // The worker's decoder for a method, made the first time a block needs it.
  Decoder* codec_for(uint8_t method) {
    for (auto& known : codecs_)
      if (known.first == method) return known.second.get();
    std::string problem;
    std::unique_ptr<Decoder> made = make_decoder(method, problem);
    if (!made) {
      state_.fail(problem);
      return nullptr;
    }
    codecs_.emplace_back(method, std::move(made));
    return codecs_.back().second.get();
  }

  uint64_t block_size(Block block) const {
    uint64_t size = 0;
    for (size_t i = block.first; i < block.first + block.count; ++i)
      size += static_cast<uint64_t>(shared_.entries[i].header.size);
    return size;
  }

  // A block whose recorded sizes its compressed bytes cannot hold would have a member written for
  // gigabytes before its data runs out: every wanted member of it is refused up front.
  bool sizes_possible(Block block) {
    uint64_t size = block_size(block), compressed = 0;
    for (size_t i = block.first; i < block.first + block.count; ++i)
      compressed += shared_.entries[i].header.compressed_size;
    const EntryHeader& first = shared_.entries[block.first].header;
    uint64_t largest = largest_output(first.method, compressed);
    if (size <= largest && (first.method != METHOD_STORE || size == compressed)) return true;
    for (size_t i = block.first; i < block.first + block.count; ++i) {
      const EntryHeader& h = shared_.entries[i].header;
      fail_outputs(i, "refused ", "its recorded size (" + std::to_string(h.size) + " bytes) is more than " +
                                      std::to_string(compressed) + " compressed bytes can hold");
    }
    return false;
  }

  void flush_held() {
    post_held(shared_, batch_);
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

  // Decodes member `index` into every output its data goes to (see data_outputs). Members up to
  // a batch's size are held for the writers, larger ones written here.
  void member(size_t index, BlockInput& input, bool last, std::string& stream_problem) {
    const EntryHeader& h = shared_.entries[index].header;
    if (stopped(stream_problem)) return;
    data_outputs(shared_, index, targets_);
    if (shared_.job.control && !targets_.empty()) shared_.job.control->working_on(&h.name);
    bool held = shared_.writers && h.size <= static_cast<int64_t>(BATCH_BYTES);
    outputs_.clear();
    for (size_t t : targets_) {
      outputs_.push_back(std::make_unique<Output>());
      Output& o = *outputs_.back();
      o.index = t;
      if (shared_.job.mode != ReadMode::EXTRACT || (shared_.writers && shared_.superseded[t])) continue;
      if (!held) open_output(shared_, t, o.out, o.refusal);
      else if (holder_ == nullptr) hold(o, h.size);
    }
    uint32_t crc = crc32(0, nullptr, 0);
    int64_t produced = 0;
    bool stream_ok = decode_member(h, input, last, crc, produced, stream_problem);
    for (auto& o : outputs_) {
      const EntryHeader& own = shared_.entries[o->index].header;
      std::string problem;  // about the member's data, checked against each output's own record
      if (!stream_ok) problem = stream_problem;
      else if (produced != own.size) problem = "data size differs from the recorded size";
      else if (crc != own.crc) problem = "CRC-32 mismatch, data is damaged";
      o->problem = problem;
      if (o->index != index && problem.empty()) add_progress(shared_.job.control, produced);
    }
    if (holder_) hand_held();
    for (auto& o : outputs_)
      if (!o->handed) end_output(state_, o->index, o->out, o->refusal, o->problem);
    holder_ = nullptr;
  }

  void hold(Output& o, int64_t size) {
    o.out.memory = &batch_room(size);
    o.held_from = o.out.memory->size();
    holder_ = &o;
  }

  // The decoded bytes go to the writers once for every output they are right for; the others
  // end as damaged or skipped members do.
  void hand_held() {
    size_t from = holder_->held_from;
    if (outputs_.size() == 1) {
      if (!holder_->problem.empty()) {
        batch_.bytes.resize(from);
        return;
      }
      push_held(*holder_, from);
      return;
    }
    std::vector<uint8_t> data(batch_.bytes.begin() + static_cast<std::ptrdiff_t>(from), batch_.bytes.end());
    batch_.bytes.resize(from);
    for (auto& o : outputs_) {
      if (!o->problem.empty() || shared_.superseded[o->index]) continue;
      std::vector<uint8_t>& room = batch_room(static_cast<int64_t>(data.size()));
      size_t at = room.size();
      room.insert(room.end(), data.begin(), data.end());
      push_held(*o, at);
    }
  }

  void push_held(Output& o, size_t from) {
    o.handed = true;
    batch_.members.push_back(HeldBatch::Member{o.index, batch_.bytes.size() - from});
    if (batch_.members.size() >= BATCH_MEMBERS || batch_.bytes.size() >= BATCH_BYTES) flush_held();
  }

  // A cancel is seen between blocks: the member at hand ends as a damaged one would, removed.
  bool stopped(std::string& problem) {
    if (!cancelled(shared_.job.control)) return false;
    problem = CANCELLED_PROBLEM;
    return true;
  }

  void deliver(const uint8_t* data, size_t size, uint32_t& crc, int64_t& produced) {
    add_progress(shared_.job.control, static_cast<int64_t>(size));
    if (shared_.job.on_data && size > 0) shared_.job.on_data(data, size);
    crc = crc32_z(crc, data, size);
    produced += static_cast<int64_t>(size);
    for (auto& o : outputs_) {
      MemberOutput& out = o->out;
      if (out.active && !out.failed && !out.file.write(data, size)) out.failed = true;
      if (out.memory) out.memory->insert(out.memory->end(), data, data + size);
    }
  }

  // Produces exactly h.size bytes from the block's stream; the last member must end it, and
  // nothing may follow the end. Inside a solid block the next member's bytes follow; after the
  // last member one byte of room past its size catches data longer than recorded.
  bool decode_member(const EntryHeader& h, BlockInput& input, bool last, uint32_t& crc, int64_t& produced,
                     std::string& problem) {
    for (;;) {
      uint64_t want = static_cast<uint64_t>(h.size - produced);
      if (want == 0 && !last) return true;
      if (stopped(problem)) return false;
      if (in_size_ == 0 && !input_done_) {
        if (!input.next(in_, in_size_)) {
          problem = input.read_problem();
          return false;
        }
        input_done_ = in_size_ == 0;
      }
      if (codec_->ended(in_size_, input_done_)) return ended_whole(want, last, problem);
      size_t room = static_cast<size_t>(std::min<uint64_t>(out_.size(), last ? want + 1 : want));
      const uint8_t* data = nullptr;
      size_t got = 0;
      if (!codec_->decode(in_, in_size_, input_done_, out_.data(), room, data, got, problem)) return false;
      if (got > want) {
        problem = "data is longer than the recorded size";
        return false;
      }
      deliver(data, got, crc, produced);
    }
  }

  // The stream has ended: the member must be whole, and after the last one no input may be left.
  bool ended_whole(uint64_t want, bool last, std::string& problem) const {
    if (want > 0) {
      problem = "data is shorter than the recorded size";
      return false;
    }
    if (last && in_size_ > 0) {
      problem = "data is longer than the recorded size";
      return false;
    }
    return true;
  }

  Shared& shared_;
  WorkerState& state_;
  std::vector<uint8_t> out_;
  std::vector<std::pair<uint8_t, std::unique_ptr<Decoder>>> codecs_;
  Decoder* codec_ = nullptr;  // the current block's
  const uint8_t* in_ = nullptr;  // compressed bytes not yet taken by the codec
  size_t in_size_ = 0;
  bool input_done_ = false;
  HeldBatch batch_;  // decoded members not yet handed to the writers
  std::vector<size_t> targets_;  // see data_outputs
  std::vector<std::unique_ptr<Output>> outputs_;  // the current member's (outputs point into themselves)
  Output* holder_ = nullptr;  // the output whose bytes are held for the writers
};

}  // namespace

// Each worker keeps a decoder for each method it meets, with the history of its stream: what the
// largest stream of each method needs, and its buffers.
int fit_decoding_workers(const Shared& shared, int workers, std::string& note) {
  if (shared.job.address_space <= 0) return workers;
  std::vector<std::pair<uint8_t, uint64_t>> largest;  // by method
  for (const Block& block : shared.blocks) {
    const EntryHeader& first = shared.entries[block.first].header;
    uint64_t size = 0;
    for (size_t i = block.first; i < block.first + block.count; ++i)
      size = std::min<uint64_t>(size + static_cast<uint64_t>(shared.entries[i].header.size), uint64_t(1) << 40);
    uint64_t need = decoding_memory(first, size);
    auto known = std::find_if(largest.begin(), largest.end(), [&](const auto& m) { return m.first == first.method; });
    if (known == largest.end()) largest.emplace_back(first.method, need);
    else known->second = std::max(known->second, need);
  }
  uint64_t each = IN_CHUNK + OUT_CHUNK + (2 << 20) +  // and a thread's stack
                  static_cast<uint64_t>(std::max<int64_t>(shared.job.source_memory, 0));
  for (const auto& m : largest) each += m.second;
  int fitted = static_cast<int>(std::clamp<uint64_t>(static_cast<uint64_t>(shared.job.address_space) / each, 1,
                                                     static_cast<uint64_t>(workers)));
  if (fitted < workers)
    note = "note: to fit the 32-bit address space, " + std::to_string(fitted) + " thread(s) decode";
  return fitted;
}

void decode_worker(void* context, int index) {
  Shared& shared = *static_cast<Shared*>(context);
  WorkerState state{shared, shared.results[static_cast<size_t>(index)]};
  std::unique_ptr<ArchiveSource> archive = open_job_archive(shared.job, false);
  if (!archive) {
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
  ArchiveWindow window(*archive, buffer, limit);
  int64_t largest = 0;
  for (size_t b = first; b < end; ++b)
    for (size_t i = shared.blocks[b].first; i < shared.blocks[b].first + shared.blocks[b].count; ++i)
      largest = std::max(largest, shared.entries[i].header.size);
  BlockDecoder decoder(state, static_cast<size_t>(std::min<int64_t>(largest + 1, OUT_CHUNK)));
  for (size_t b = first; b < end; ++b) {
    decoder.run(shared.blocks[b], window);
    shared.block_done(shared.blocks[b]);
  }
}

}  // namespace extraction
