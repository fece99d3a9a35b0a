// PPMd var. H for text, through the coder of ppmd7/. A stream holds no end marker: it ends with
// the recorded size of its members, and its model (order and memory) is recorded on its first
// entry. The decoder, then the level table, the encoder and its method.
#include <algorithm>

#include "codec.h"
#include "ppmd7/ppmd7_coder.h"

namespace {

// A symbol never takes more than a few hundred bytes of range code (a few per context it escapes
// from, at most 65 contexts): input shorter than this waits for more before decoding goes on.
constexpr size_t PPMD_MARGIN = 2048;

std::string model_problem(const EntryHeader& first) {
  if (first.ppmd_order < VANTOR_PPMD7_MIN_ORDER || first.ppmd_order > VANTOR_PPMD7_MAX_ORDER)
    return "PPMd stream with a model order of " + std::to_string(first.ppmd_order) + " (2 to 64 can be read)";
  if (first.ppmd_memory > PPMD_MEMORY_MAX)
    return "PPMd stream asking for " + std::to_string((uint64_t(first.ppmd_memory) + (1 << 20) - 1) >> 20) +
           " MB of model memory, more than the " +
           std::to_string(PPMD_MEMORY_MAX >> 20) + " MB a 32-bit reader can give";
  if (first.ppmd_memory < VANTOR_PPMD7_MIN_MEMORY)
    return "PPMd stream with a model of " + std::to_string(first.ppmd_memory) + " bytes";
  return "";
}

class PpmdDecoder : public Decoder {
 public:
  ~PpmdDecoder() override { vantor_ppmd7_free(model_); }
  // The model is checked before anything is allocated; one of the same size is used again.
  bool start(const EntryHeader& first, uint64_t stream_size, std::string& problem) override {
    problem = model_problem(first);
    if (!problem.empty()) return false;
    if (!model_ || memory_ != first.ppmd_memory) {
      vantor_ppmd7_free(model_);
      memory_ = first.ppmd_memory;
      model_ = vantor_ppmd7_new(memory_);
      if (!model_) {
        problem = "out of memory for PPMd (" + std::to_string(memory_ >> 20) + " MB)";
        return false;
      }
    }
    order_ = first.ppmd_order;
    remaining_ = stream_size;
    started_ = ended_ = false;
    pending_.clear();
    return true;
  }
  // Input short of the margin waits in pending_ until more comes or the input is done; the
  // caller hands a solid stream over member by member, so such stretches are common.
  bool decode(const uint8_t*& in, size_t& in_size, bool input_done, uint8_t* out, size_t room,
              const uint8_t*& data, size_t& produced, std::string& problem) override {
    data = out;
    produced = 0;
    if (pending_.empty() && (in_size >= PPMD_MARGIN || input_done)) {
      const uint8_t* at = in;
      bool ok = run(at, in + in_size, input_done ? 0 : PPMD_MARGIN, out, room, produced, problem);
      in_size -= static_cast<size_t>(at - in);
      in = at;
      return ok;
    }
    size_t take = std::min(in_size, 2 * PPMD_MARGIN - std::min(pending_.size(), 2 * PPMD_MARGIN));
    pending_.insert(pending_.end(), in, in + take);
    in += take;
    in_size -= take;
    const bool all_in = input_done && in_size == 0;
    if (pending_.size() < PPMD_MARGIN && !all_in) return true;
    const uint8_t* at = pending_.data();
    bool ok = run(at, at + pending_.size(), all_in ? 0 : PPMD_MARGIN, out, room, produced, problem);
    pending_.erase(pending_.begin(), pending_.begin() + (at - pending_.data()));
    if (ok && ended_ && !pending_.empty()) {
      problem = "compressed data goes on past the end of the stream";
      return false;
    }
    return ok;
  }
  bool ended(size_t, bool) const override { return ended_; }

 private:
  bool run(const uint8_t*& at, const uint8_t* end, size_t margin, uint8_t* out, size_t room, size_t& produced,
           std::string& problem) {
    if (!started_) {
      if (static_cast<size_t>(end - at) < margin) return true;
      if (!vantor_ppmd7_decode_start(model_, order_, &at, end)) return damaged(problem);
      started_ = true;
    }
    size_t want = static_cast<size_t>(std::min<uint64_t>(room, remaining_));
    long got = vantor_ppmd7_decode(model_, &at, end, margin, out, want);
    if (got < 0) return damaged(problem);
    produced = static_cast<size_t>(got);
    remaining_ -= produced;
    if (remaining_ > 0) return true;
    if (!vantor_ppmd7_finished(model_)) {
      problem = "compressed data is damaged";
      return false;
    }
    ended_ = true;
    return true;
  }
  bool damaged(std::string& problem) const {
    problem = vantor_ppmd7_overran(model_) ? "compressed data is truncated" : "compressed data is damaged";
    return false;
  }

  VantorPpmd7* model_ = nullptr;
  uint32_t memory_ = 0;
  unsigned order_ = 0;
  uint64_t remaining_ = 0;
  bool started_ = false;
  bool ended_ = false;
  std::vector<uint8_t> pending_;
};

}  // namespace

std::unique_ptr<Decoder> ppmd_decoder(std::string&) { return std::make_unique<PpmdDecoder>(); }

bool ppmd_decode_buffer(const EntryHeader& first, uint64_t stream_size, const uint8_t* data, size_t size,
                        size_t stretch, std::vector<uint8_t>& out, std::string& problem) {
  PpmdDecoder decoder;
  if (!decoder.start(first, stream_size, problem)) return false;
  std::vector<uint8_t> chunk(64 << 10);
  stretch = std::max<size_t>(stretch, 1);
  const uint8_t* in = data;
  size_t in_size = 0, left = size;
  while (!decoder.ended(in_size, left == 0 && in_size == 0)) {
    if (in_size == 0 && left > 0) {
      in_size = std::min(stretch, left);
      left -= in_size;
    }
    const uint8_t* produced_at = nullptr;
    size_t produced = 0;
    bool done = left == 0;
    size_t in_before = in_size;
    if (!decoder.decode(in, in_size, done, chunk.data(), chunk.size(), produced_at, produced, problem)) return false;
    if (produced == 0 && in_size == in_before && (done || in_size > 0)) {
      problem = "the decoder made no progress";
      return false;
    }
    out.insert(out.end(), produced_at, produced_at + produced);
  }
  if (in_size > 0 || left > 0) {
    problem = "bytes after the end of the stream";
    return false;
  }
  return true;
}

#ifndef VANTOR_READING_ONLY

namespace {

constexpr size_t PPMD_OUT_CHUNK = 256 << 10;
constexpr size_t PPMD_FEED_CHUNK = 64 << 10;
constexpr uint32_t PPMD_MEMORY_FLOOR = 1u << 20;
constexpr uint32_t PPMD_MEMORY_KEPT = 16u << 20;  // what fitting a run to 32 bits leaves at least

// A model restarts from nothing when its memory is full, which costs order 16 several per cent
// even at 8 bytes of model a byte of text (17 MB of Python: 64 MB 3.2 % larger than 256 MB). A
// small stream gets the least power of two of 64 bytes a byte, as memory it would not use costs
// its reader all the same.
uint32_t fitted_memory(uint32_t memory, int64_t expected_size) {
  uint64_t wanted = PPMD_MEMORY_FLOOR;
  while (wanted < memory && wanted / 64 < static_cast<uint64_t>(std::max<int64_t>(expected_size, 0))) wanted *= 2;
  return static_cast<uint32_t>(std::min<uint64_t>(wanted, memory));
}

class PpmdEncoder : public Encoder {
 public:
  explicit PpmdEncoder(const PpmdSettings& s) : settings_(s) {
    memory_ = s.memory;
    model_ = vantor_ppmd7_new(memory_);
    out_.reserve(PPMD_OUT_CHUNK);
  }
  ~PpmdEncoder() override { vantor_ppmd7_free(model_); }
  bool ready() const override { return model_ != nullptr; }
  uint8_t model_order() const override { return static_cast<uint8_t>(settings_.order); }
  uint32_t model_memory() const override { return memory_; }
  bool begin(int64_t expected_size, std::string& problem) override {
    uint32_t memory = fitted_memory(settings_.memory, expected_size);
    if (!model_ || memory != memory_) {
      vantor_ppmd7_free(model_);
      memory_ = memory;
      model_ = vantor_ppmd7_new(memory_);
      if (!model_) {
        problem = "out of memory for PPMd (" + std::to_string(memory_ >> 20) + " MB)";
        return false;
      }
    }
    out_.clear();
    vantor_ppmd7_encode_start(model_, static_cast<unsigned>(settings_.order), put, this);
    return true;
  }
  // Text is never cut: a piece would start its model afresh.
  bool begin_piece(int64_t, const uint8_t*, size_t, std::string& problem) override {
    problem = "a PPMd stream cannot be cut into pieces";
    return false;
  }
  bool feed(const uint8_t* data, size_t size, Flush flush, const EmitBytes& emit, std::string& problem) override {
    if (flush == Flush::PIECE) {
      problem = "a PPMd stream cannot be cut into pieces";
      return false;
    }
    for (size_t at = 0; at < size;) {
      size_t n = std::min(size - at, PPMD_FEED_CHUNK);
      vantor_ppmd7_encode(model_, data + at, n);
      at += n;
      if (out_.size() >= PPMD_OUT_CHUNK && !pass(emit, problem)) return false;
    }
    if (flush == Flush::FINISH) vantor_ppmd7_encode_finish(model_);
    return out_.size() < PPMD_OUT_CHUNK && flush == Flush::NONE ? true : pass(emit, problem);
  }

 private:
  static void put(void* context, uint8_t byte) { static_cast<PpmdEncoder*>(context)->out_.push_back(byte); }
  bool pass(const EmitBytes& emit, std::string& problem) {
    bool ok = out_.empty() || emit(out_.data(), out_.size());
    out_.clear();
    if (!ok) problem = "cannot write a temporary file beside the archive";
    return ok;
  }

  PpmdSettings settings_;
  VantorPpmd7* model_ = nullptr;
  uint32_t memory_ = 0;
  std::vector<uint8_t> out_;
};

// Every compressing thread holds one model at a time; a run that would not fit gets smaller ones.
class PpmdEncoding : public EncodingMethod {
 public:
  explicit PpmdEncoding(const PpmdSettings& s) : settings_(s) {}
  uint8_t method() const override { return METHOD_PPMD; }
  int64_t piece_size() const override { return INT64_MAX / 4; }
  std::string fit(int& threads, bool, int64_t limit) override {
    const uint32_t asked = settings_.memory;
    while (static_cast<int64_t>(settings_.memory) * threads > limit && settings_.memory > PPMD_MEMORY_KEPT)
      settings_.memory /= 2;
    if (settings_.memory == asked) return "";
    return "note: to fit the 32-bit address space, PPMd models of " + std::to_string(settings_.memory >> 20) +
           " MB are used";
  }
  std::unique_ptr<Encoder> encoder() const override { return std::make_unique<PpmdEncoder>(settings_); }

 private:
  PpmdSettings settings_;
};

}  // namespace

std::unique_ptr<EncodingMethod> ppmd_encoding(const PpmdSettings& s) { return std::make_unique<PpmdEncoding>(s); }

// Order 16 was 12 % smaller than order 6 on 17 MB of Python and 7 % smaller than order 8, at
// half their speed; the model's memory counts as much (16 with 64 MB: 3 % larger than with 256).
PpmdSettings ppmd_settings(int method, bool ultra, int window_position, bool solid) {
  PpmdSettings s;
  if (!solid || !ultra || method < 1) return s;
  static const int orders[4] = {0, 8, 12, 16};
  static const uint32_t memories[4] = {0, 64u << 20, 128u << 20, 256u << 20};
  int m = std::clamp(method, 1, 3);
  s.order = orders[m];
  s.memory = std::min(memories[m], LZMA_DICTIONARY_MIN << std::clamp(window_position, 0, 7));
  return s;
}

#endif
