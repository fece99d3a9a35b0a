// LZMA2 through liblzma, raw: the archive itself records what a stream needs besides its bytes
// (the filter in front of it and the dictionary). The decoder, then the level table, the memory
// fit and the encoder.
#include <lzma.h>

#include <algorithm>

#include "codec.h"

namespace {

constexpr size_t LZMA_OUT_CHUNK = 256 << 10;
constexpr uint32_t LZMA_DICTIONARY_FLOOR = 4096;  // liblzma's smallest

std::string lzma_problem(lzma_ret rc) {
  switch (rc) {
    case LZMA_MEM_ERROR: return "out of memory for LZMA2";
    case LZMA_MEMLIMIT_ERROR: return "out of memory for LZMA2";
    case LZMA_OPTIONS_ERROR: return "unsupported LZMA2 settings";
    case LZMA_BUF_ERROR: return "compressed data is truncated";
    case LZMA_DATA_ERROR: return "compressed data is damaged";
    default: return "LZMA2 failed (code " + std::to_string(static_cast<int>(rc)) + ")";
  }
}

// The filter chain of a stream: its content filter, if any, then LZMA2.
struct Chain {
  lzma_options_lzma lzma{};
  lzma_options_bcj bcj{};
  lzma_options_delta delta{};
  lzma_filter filters[3]{};

  void build(uint8_t filter, int distance) {
    int n = 0;
    if (filter == FILTER_X86 || filter == FILTER_ARM64) {
      filters[n++] = lzma_filter{filter == FILTER_X86 ? LZMA_FILTER_X86 : LZMA_FILTER_ARM64, &bcj};
    } else if (filter == FILTER_DELTA) {
      delta.type = LZMA_DELTA_TYPE_BYTE;
      delta.dist = static_cast<uint32_t>(distance);
      filters[n++] = lzma_filter{LZMA_FILTER_DELTA, &delta};
    }
    filters[n++] = lzma_filter{LZMA_FILTER_LZMA2, &lzma};
    filters[n] = lzma_filter{LZMA_VLI_UNKNOWN, nullptr};
  }
};

class LzmaDecoder : public Decoder {
 public:
  ~LzmaDecoder() override { lzma_end(&stream_); }
  // The dictionary need not pass the stream's own size: no match reaches further back than that.
  bool start(const EntryHeader& first, uint64_t stream_size, std::string& problem) override {
    ended_ = false;
    if (first.dictionary == 0 || first.dictionary > LZMA_DICTIONARY_MAX) {
      problem = "LZMA2 stream with a dictionary of " + std::to_string(first.dictionary) + " bytes";
      return false;
    }
    if (first.filter == FILTER_DELTA && (first.filter_distance < 1 || first.filter_distance > FILTER_DELTA_MAX)) {
      problem = "delta filter with a distance of " + std::to_string(first.filter_distance);
      return false;
    }
    chain_.lzma.dict_size = static_cast<uint32_t>(
        std::max<uint64_t>(std::min<uint64_t>(first.dictionary, stream_size), LZMA_DICTIONARY_FLOOR));
    chain_.build(first.filter, first.filter_distance);
    lzma_ret rc = lzma_raw_decoder(&stream_, chain_.filters);
    if (rc == LZMA_OK) return true;
    problem = lzma_problem(rc);
    return false;
  }
  bool decode(const uint8_t*& in, size_t& in_size, bool input_done, uint8_t* out, size_t room,
              const uint8_t*& data, size_t& produced, std::string& problem) override {
    stream_.next_in = in;
    stream_.avail_in = in_size;
    stream_.next_out = out;
    stream_.avail_out = room;
    lzma_ret rc = lzma_code(&stream_, LZMA_RUN);
    size_t used = in_size - stream_.avail_in;
    in += used;
    in_size = stream_.avail_in;
    data = out;
    produced = room - stream_.avail_out;
    if (rc == LZMA_STREAM_END) {
      ended_ = true;
      return true;
    }
    if (rc == LZMA_OK || rc == LZMA_BUF_ERROR) {
      if (used > 0 || produced > 0 || !input_done || in_size > 0) return true;
      problem = "compressed data is truncated";
      return false;
    }
    problem = lzma_problem(rc);
    return false;
  }
  bool ended(size_t, bool) const override { return ended_; }

 private:
  lzma_stream stream_ = LZMA_STREAM_INIT;
  Chain chain_;
  bool ended_ = false;
};

}  // namespace

std::unique_ptr<Decoder> lzma2_decoder(std::string&) { return std::make_unique<LzmaDecoder>(); }

bool lzma2_decode_buffer(const EntryHeader& first, const uint8_t* data, size_t size, size_t max_output,
                         std::vector<uint8_t>& out, std::string& problem) {
  LzmaDecoder decoder;
  if (!decoder.start(first, max_output, problem)) return false;
  std::vector<uint8_t> chunk(LZMA_OUT_CHUNK);
  while (!decoder.ended(size, true)) {
    const uint8_t* produced_at = nullptr;
    size_t produced = 0;
    if (!decoder.decode(data, size, true, chunk.data(), chunk.size(), produced_at, produced, problem)) return false;
    if (out.size() + produced > max_output) {
      problem = "data is longer than allowed";
      return false;
    }
    out.insert(out.end(), produced_at, produced_at + produced);
  }
  if (size > 0) {
    problem = "bytes after the end of the stream";
    return false;
  }
  return true;
}

#ifndef VANTOR_READING_ONLY

namespace {

// A large file's later pieces are primed with up to this much of the data before them.
constexpr int64_t LZMA_PIECE_HISTORY = int64_t(8) << 20;
constexpr uint32_t LZMA_DICTIONARY_KEPT = 64u << 20;

bool options_for(const LzmaSettings& s, lzma_options_lzma& o) {
  if (lzma_lzma_preset(&o, static_cast<uint32_t>(s.preset))) return false;
  if (s.dictionary) o.dict_size = s.dictionary;
  return true;
}

// Streams end on LZMA2's end marker, one zero byte, which is held back until the stream's end is
// known: a piece of a large file drops it, so that the next piece continues the same stream (its
// first chunk keeps the dictionary, which the piece was primed with).
class LzmaEncoder : public Encoder {
 public:
  explicit LzmaEncoder(const LzmaSettings& s) : out_(LZMA_OUT_CHUNK) { ready_ = options_for(s, full_); }
  ~LzmaEncoder() override { lzma_end(&stream_); }
  bool ready() const override { return ready_; }
  void use_filter(uint8_t filter, int distance) override {
    filter_ = filter;
    distance_ = distance;
  }
  uint32_t dictionary() const override { return chain_.lzma.dict_size; }
  size_t history(int64_t offset) const override {
    return static_cast<size_t>(std::min({offset, LZMA_PIECE_HISTORY, static_cast<int64_t>(full_.dict_size)}));
  }
  // A stream's dictionary is no larger than its data: the rest would be memory for nothing.
  bool begin(int64_t expected_size, std::string& problem) override {
    return start(fitted(expected_size), nullptr, 0, problem);
  }
  // Every block of a chained stream keeps the dictionary its first block recorded.
  bool begin_continued(int64_t reach, const uint8_t* history, size_t history_size, std::string& problem) override {
    use_filter(FILTER_NONE, 0);
    return start(fitted(reach), history, history_size, problem);
  }
  // Pieces keep the whole dictionary, which the member records once for all of them.
  bool begin_piece(int64_t, const uint8_t* history, size_t history_size, std::string& problem) override {
    use_filter(FILTER_NONE, 0);
    return start(full_.dict_size, history, history_size, problem);
  }
  bool feed(const uint8_t* data, size_t size, Flush flush, const EmitBytes& emit, std::string& problem) override {
    if (size == 0 && flush == Flush::NONE) return true;  // liblzma takes a call without progress as an error
    stream_.next_in = data;
    stream_.avail_in = size;
    lzma_action action = flush == Flush::NONE ? LZMA_RUN : LZMA_FINISH;
    for (;;) {
      stream_.next_out = out_.data();
      stream_.avail_out = out_.size();
      lzma_ret rc = lzma_code(&stream_, action);
      if (rc != LZMA_OK && rc != LZMA_STREAM_END) {
        problem = lzma_problem(rc);
        return false;
      }
      if (!pass(out_.data(), out_.size() - stream_.avail_out, emit, problem)) return false;
      if (rc == LZMA_STREAM_END) break;
      if (action == LZMA_RUN && stream_.avail_in == 0 && stream_.avail_out != 0) return true;
    }
    if (!holding_ || held_ != 0) {
      problem = "LZMA2 stream without its end marker";
      return false;
    }
    holding_ = false;
    return flush == Flush::PIECE || put(&held_, 1, emit, problem);
  }

 private:
  uint32_t fitted(int64_t expected_size) const {
    uint64_t wanted = std::max<uint64_t>(static_cast<uint64_t>(std::max<int64_t>(expected_size, 0)), LZMA_DICTIONARY_FLOOR);
    return static_cast<uint32_t>(std::min<uint64_t>(full_.dict_size, wanted));
  }
  bool start(uint32_t dictionary, const uint8_t* history, size_t history_size, std::string& problem) {
    chain_.lzma = full_;
    chain_.lzma.dict_size = dictionary;
    chain_.lzma.preset_dict = history_size > 0 ? history : nullptr;
    chain_.lzma.preset_dict_size = static_cast<uint32_t>(history_size);
    chain_.build(filter_, distance_);
    holding_ = false;
    lzma_ret rc = lzma_raw_encoder(&stream_, chain_.filters);
    if (rc == LZMA_OK) return true;
    problem = lzma_problem(rc);
    return false;
  }
  // Emits all but the last byte seen so far.
  bool pass(const uint8_t* data, size_t size, const EmitBytes& emit, std::string& problem) {
    if (size == 0) return true;
    if (holding_ && !put(&held_, 1, emit, problem)) return false;
    if (!put(data, size - 1, emit, problem)) return false;
    held_ = data[size - 1];
    holding_ = true;
    return true;
  }
  static bool put(const uint8_t* data, size_t size, const EmitBytes& emit, std::string& problem) {
    if (size == 0 || emit(data, size)) return true;
    problem = "cannot write a temporary file beside the archive";
    return false;
  }

  lzma_options_lzma full_{};
  Chain chain_;
  lzma_stream stream_ = LZMA_STREAM_INIT;
  std::vector<uint8_t> out_;
  uint8_t filter_ = FILTER_NONE;
  int distance_ = 0;
  uint8_t held_ = 0;
  bool holding_ = false;
  bool ready_ = false;
};

int64_t encoder_memory(const LzmaSettings& s) {
  lzma_options_lzma o{};
  if (!options_for(s, o)) return INT64_MAX;
  lzma_filter chain[2] = {{LZMA_FILTER_LZMA2, &o}, {LZMA_VLI_UNKNOWN, nullptr}};
  uint64_t bytes = lzma_raw_encoder_memusage(chain);
  return bytes == UINT64_MAX ? INT64_MAX : static_cast<int64_t>(bytes);
}

// Members compressed already go to zstd at a middle level with long-distance matching over the
// same window: on packages and compressed documents it came within 0.1 % of LZMA2's size at 30
// times its speed, as its search finds the repeats there are and no more.
ZstdSettings packed_settings(uint32_t dictionary) {
  ZstdSettings z;
  z.level = 9;
  z.long_distance = true;
  z.window_log = ZSTD_WINDOW_LOG_MIN;
  while (z.window_log < 27 && (uint64_t(1) << z.window_log) < dictionary) ++z.window_log;
  return z;
}

// Every compressing thread has an encoder; a solid run is cut into two blocks per thread, which
// continue one stream where no filter runs, so large files are cut into pieces instead of taking
// a block alone. Files compressed already go to the zstd method of packed().
class LzmaEncoding : public EncodingMethod {
 public:
  explicit LzmaEncoding(const LzmaSettings& s) : settings_(s), packed_(zstd_encoding(packed_settings(s.dictionary))) {
    if (s.text.order > 0) text_ = ppmd_encoding(s.text);
  }
  uint8_t method() const override { return METHOD_LZMA2; }
  bool filters() const override { return true; }
  bool chains() const override { return true; }
  int64_t piece_size() const override { return int64_t(32) << 20; }
  std::string fit(int& threads, bool, int64_t limit) override {
    const int asked_threads = threads;
    const uint32_t asked = settings_.dictionary;
    if (settings_.dictionary == 0) {
      lzma_options_lzma o{};
      options_for(settings_, o);
      settings_.dictionary = o.dict_size;
    }
    // A dictionary beyond 64 MB gains less than a second thread does: it goes first.
    while (encoder_memory(settings_) * threads > limit) {
      if (settings_.dictionary > LZMA_DICTIONARY_KEPT) settings_.dictionary /= 2;
      else if (threads > 1) --threads;
      else if (settings_.dictionary > LZMA_DICTIONARY_MIN) settings_.dictionary /= 2;
      else break;
    }
    packed_ = zstd_encoding(packed_settings(settings_.dictionary));
    // A thread holds one encoder at a time: the PPMd model of text fits beside no LZMA2 encoder.
    std::string text_note = text_ ? text_->fit(threads, true, limit) : "";
    if (threads == asked_threads && (asked == 0 || settings_.dictionary == asked)) return text_note;
    return "note: to fit the 32-bit address space, " + std::to_string(threads) + " thread(s) and a " +
           std::to_string(settings_.dictionary >> 20) + " MB dictionary are used" +
           (text_note.empty() ? "" : "; " + text_note);
  }
  std::unique_ptr<Encoder> encoder() const override { return std::make_unique<LzmaEncoder>(settings_); }
  const EncodingMethod* packed() const override { return packed_.get(); }
  const EncodingMethod* text() const override { return text_.get(); }

 private:
  LzmaSettings settings_;
  std::unique_ptr<EncodingMethod> packed_;
  std::unique_ptr<EncodingMethod> text_;
};

}  // namespace

std::unique_ptr<EncodingMethod> lzma2_encoding(const LzmaSettings& s) { return std::make_unique<LzmaEncoding>(s); }

// Ultra in one stream: liblzma's presets 4, 5 and 6 (the binary-tree match finder, looking for
// matches of 16, 32 and 64 bytes) with the dictionary of -k. The presets above 6 differ only in
// their dictionary; the extreme variants gained about 0.1 % on programs for 10 % more time.
LzmaSettings lzma_settings(int method, bool ultra, int window_position, bool solid) {
  LzmaSettings s;
  if (!solid || !ultra || method < 1) return s;
  static const int presets[4] = {0, 4, 5, 6};
  s.preset = presets[std::clamp(method, 1, 3)];
  s.dictionary = LZMA_DICTIONARY_MIN << std::clamp(window_position, 0, 7);
  s.text = ppmd_settings(method, ultra, window_position, solid);
  return s;
}

#endif
