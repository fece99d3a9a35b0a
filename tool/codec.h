// The archiver's codecs: one interface for every method on both sides (an encoder for the
// compressor, a decoder for the reader), chosen by a factory from the settings or the method byte;
// and the zstd side's own settings, memory estimates, encoder and decoder.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "format/archive_format.h"

struct DeflateSettings {
  int level = 6;        // 0 = store
  int window_bits = 15;
  int mem_level = 8;
};

// Maps the method (0..3), the ultra flag and the window position (0..7) to zlib settings.
DeflateSettings deflate_settings(int method, bool ultra, int window_position);

constexpr int ZSTD_WINDOW_LOG_MIN = 21;  // -k0: 2 MB
constexpr int ZSTD_WINDOW_LOG_MAX = 28;  // -k7: 256 MB; also the most a reader allocates

struct ZstdSettings {
  int level = 0;            // 0: zstd is not used
  int window_log = 0;       // the most the window may be; 0 = the level's own
  bool long_distance = false;
  int workers = 0;          // zstd's own threads for one stream (0 = none)
};

// The level tables: method 1..3, normal or ultra, window position 0..7 (2 to 256 MB), one
// table for members on their own and one for a solid stream.
ZstdSettings zstd_settings(int method, bool ultra, int window_position, bool solid);

// Bytes a stream with these settings and `encoders` encoders side by side is expected to take.
int64_t zstd_memory_estimate(const ZstdSettings& s, int encoders);

// Makes the settings fit `limit` bytes: first fewer zstd workers or encoders, then a smaller
// window. Returns a one-line note when something was reduced, else "".
std::string fit_zstd_memory(ZstdSettings& s, int& encoders, int64_t limit);

// LZMA2, for the strong solid tiers: a preset of liblzma's with its own dictionary.
constexpr uint32_t LZMA_DICTIONARY_MIN = 1u << 21;  // -k0: 2 MB
constexpr uint32_t LZMA_DICTIONARY_MAX = 1u << 28;  // -k7: 256 MB; also the most a reader allocates

// PPMd var. H, for the members of the strong solid tiers whose bytes are text.
constexpr uint32_t PPMD_MEMORY_MAX = 1u << 28;  // 256 MB: the most a reader allocates, which 32-bit ones can hold

struct PpmdSettings {
  int order = 0;        // 2..64; 0: PPMd is not used
  uint32_t memory = 0;  // the model's bytes
};

struct LzmaSettings {
  int preset = -1;          // 0..9; -1: LZMA2 is not used
  uint32_t dictionary = 0;  // bytes; 0 = the preset's
  PpmdSettings text;        // for members that are text, when its order is set
};

// The PPMd tier of the level table: order and model memory by method 1..3 (ultra and solid
// only; else order 0), the memory no more than the window of -k.
PpmdSettings ppmd_settings(int method, bool ultra, int window_position, bool solid);

// The LZMA2 tiers of the level table (method 1..3, normal or ultra, window position 0..7), for
// one stream or members on their own; preset -1 where zstd or deflate serves better.
LzmaSettings lzma_settings(int method, bool ultra, int window_position, bool solid);

// The filter a file's first bytes call for: FILTER_X86 or FILTER_ARM64 for programs, libraries
// and object code (PE, ELF, COFF, ar archives of them), FILTER_DELTA for PCM sound and
// uncompressed images (with the distance between samples in `distance`), else FILTER_NONE.
uint8_t filter_for_content(const uint8_t* head, size_t size, int& distance);
constexpr size_t FILTER_HEAD_BYTES = 4096;  // what filter_for_content looks at
// True when a file's first bytes name a format whose data is coded to the last bit already
// (archives of the strong coders, packages, JPEG, compressed sound and video): LZMA2 gains no
// more on it than fast zstd does. Deflate's data (gzip, zip, PNG) is not: LZMA2's bitwise
// literals still take about 3 % more out of it.
bool looks_packed(const uint8_t* head, size_t size);
// True when a file's first bytes are text: no zero byte and hardly any other control byte
// (any 8-bit or UTF-8 letters pass). PPMd codes such data well beyond LZMA2.
bool looks_text(const uint8_t* head, size_t size);

// The memory a setting may take: most of a 32-bit process's 2 GB, far more on 64-bit.
int64_t address_space_budget();
constexpr int64_t ADDRESS_SPACE_32_BIT = int64_t(1400) << 20;  // the program, its stacks and buffers need the rest

// ---- The codec interface ----

// Output of an encoder goes to `emit`, which returns false when it cannot take it.
using EmitBytes = std::function<bool(const uint8_t* data, size_t size)>;

// How a feed ends: not at all, at the end of a piece of a member (the next piece continues it),
// or at the end of the member or stream.
enum class Flush { NONE, PIECE, FINISH };

// One encoder per compressing thread, used for member after member.
class Encoder {
 public:
  virtual ~Encoder() = default;
  virtual bool ready() const = 0;  // false when its memory could not be had
  // Starts a member or a solid stream of about `expected_size` bytes.
  virtual bool begin(int64_t expected_size, std::string& problem) = 0;
  // Bytes of the data just before a piece at `offset` that the piece is primed with.
  virtual size_t history(int64_t offset) const {
    (void)offset;
    return 0;
  }
  // Starts a piece of `length` bytes of a large file, after `history` bytes of what precedes it.
  virtual bool begin_piece(int64_t length, const uint8_t* history, size_t history_size, std::string& problem) = 0;
  // Starts a block that continues a stream, after `history` bytes of what precedes it, with the
  // dictionary the stream's first block took from begin(reach) (a method that chains blocks).
  virtual bool begin_continued(int64_t reach, const uint8_t* history, size_t history_size,
                               std::string& problem) {
    (void)reach;
    (void)history;
    (void)history_size;
    problem = "this method cannot continue a stream";
    return false;
  }
  virtual bool feed(const uint8_t* data, size_t size, Flush flush, const EmitBytes& emit, std::string& problem) = 0;
  // One whole member of a buffer into `out`: by default a stream begun for it and fed at once.
  virtual bool compress_all(const uint8_t* data, size_t size, std::vector<uint8_t>& out, std::string& problem) {
    out.clear();
    if (!begin(static_cast<int64_t>(size), problem)) return false;
    return feed(data, size, Flush::FINISH, [&](const uint8_t* bytes, size_t n) {
      out.insert(out.end(), bytes, bytes + n);
      return true;
    }, problem);
  }
  // For a cancelled run about to end: lets go without waiting for work in flight.
  virtual void abandon() {}
  // The filter (FILTER_*) the next begin's stream passes through, for a method that filters.
  virtual void use_filter(uint8_t filter, int distance) {
    (void)filter;
    (void)distance;
  }
  // The history the decoder must keep, recorded on the stream's first entry; 0 when not needed.
  virtual uint32_t dictionary() const { return 0; }
  // The model a PPMd stream was coded with, recorded on its first entry; 0 for other methods.
  virtual uint8_t model_order() const { return 0; }
  virtual uint32_t model_memory() const { return 0; }
};

// A method as the compressor plans with it: the byte the index records, how the work is cut,
// what it asks of memory, and encoders for the threads.
class EncodingMethod {
 public:
  virtual ~EncodingMethod() = default;
  virtual uint8_t method() const = 0;
  virtual bool compresses() const { return true; }
  // True when a solid run is one stream, shared by the encoder's own workers; else solid blocks.
  virtual bool one_stream() const { return false; }
  // Files above twice this size are cut into pieces that threads compress side by side.
  virtual int64_t piece_size() const { return 1 << 20; }
  // True when the method takes a filter chosen by content (Encoder::use_filter).
  virtual bool filters() const { return false; }
  // True when a solid run's unfiltered blocks continue one another's stream, each primed with the
  // data before it (Encoder::begin_continued), so that matches reach across them.
  virtual bool chains() const { return false; }
  // Fits the settings to `threads` compressing threads (which it may lower) and `limit` bytes of
  // memory. Returns a one-line note when something was reduced, else "".
  virtual std::string fit(int& threads, bool solid, int64_t limit) {
    (void)threads;
    (void)solid;
    (void)limit;
    return "";
  }
  virtual std::unique_ptr<Encoder> encoder() const = 0;
  // The method for members that are compressed already (looks_packed), null when it is this one.
  virtual const EncodingMethod* packed() const { return nullptr; }
  // The method for members that are text (looks_text), null when it is this one.
  virtual const EncodingMethod* text() const { return nullptr; }
};

// LZMA2 when its preset is set, else zstd when its level is, else deflate when its level is,
// else store.
std::unique_ptr<EncodingMethod> encoding_method(const DeflateSettings& deflate, const ZstdSettings& zstd,
                                                const LzmaSettings& lzma = LzmaSettings());

// One decoder per reading thread, used for stream after stream of its method.
class Decoder {
 public:
  virtual ~Decoder() = default;
  // Starts a new stream (a member, or the members of one solid stream) whose first entry is
  // `first` and whose members hold `stream_size` bytes. False with a reason when it cannot.
  virtual bool start(const EntryHeader& first, uint64_t stream_size, std::string& problem) = 0;
  // Decodes from `in` (advanced past what was used; `input_done`: nothing follows it) into at
  // most `room` bytes. `data` points at the `produced` bytes: in `out`, or in `in` for a method
  // that copies. False with a reason on damaged data.
  virtual bool decode(const uint8_t*& in, size_t& in_size, bool input_done, uint8_t* out, size_t room,
                      const uint8_t*& data, size_t& produced, std::string& problem) = 0;
  // True when the stream can give no more: its end was seen, or its input ran out between frames.
  virtual bool ended(size_t in_size, bool input_done) const = 0;
};

// The decoder for a method byte; null with a reason when the method is unknown, not built into
// this program or its memory could not be had.
std::unique_ptr<Decoder> make_decoder(uint8_t method, std::string& problem);
// About the most memory a decoder keeps for a stream whose first entry is `first` and whose
// members hold `stream_size` bytes: its history, which no match reaches beyond.
uint64_t decoding_memory(const EntryHeader& first, uint64_t stream_size);

// The implementations the factories choose from, one file each.
std::unique_ptr<EncodingMethod> store_encoding();
std::unique_ptr<EncodingMethod> deflate_encoding(const DeflateSettings& s);
std::unique_ptr<EncodingMethod> zstd_encoding(const ZstdSettings& s);
std::unique_ptr<EncodingMethod> lzma2_encoding(const LzmaSettings& s);
std::unique_ptr<EncodingMethod> ppmd_encoding(const PpmdSettings& s);
std::unique_ptr<Decoder> store_decoder();
std::unique_ptr<Decoder> deflate_decoder(std::string& problem);
std::unique_ptr<Decoder> zstd_decoder(std::string& problem);
std::unique_ptr<Decoder> lzma2_decoder(std::string& problem);
std::unique_ptr<Decoder> ppmd_decoder(std::string& problem);

// Decodes a whole LZMA2 stream of `first`'s settings, refusing more than `max_output` bytes:
// the entry point a fuzz target calls.
bool lzma2_decode_buffer(const EntryHeader& first, const uint8_t* data, size_t size, size_t max_output,
                         std::vector<uint8_t>& out, std::string& problem);
// The same for a PPMd stream of `first`'s model that holds `stream_size` bytes, fed to the
// decoder in stretches of `stretch` bytes as the reader hands out a solid stream's members.
bool ppmd_decode_buffer(const EntryHeader& first, uint64_t stream_size, const uint8_t* data, size_t size,
                        size_t stretch, std::vector<uint8_t>& out, std::string& problem);

// ---- zstd's own encoder and decoder ----

// Streaming encoder; output goes to `emit`.
class ZstdEncoder {
 public:
  explicit ZstdEncoder(const ZstdSettings& s);
  ~ZstdEncoder();
  ZstdEncoder(const ZstdEncoder&) = delete;
  ZstdEncoder& operator=(const ZstdEncoder&) = delete;
  bool ready() const { return context_ != nullptr; }
  // Starts a frame of about `expected_size` bytes: the window never exceeds what it needs.
  bool begin(int64_t expected_size, std::string& problem);
  // Feeds bytes; `end` finishes the frame.
  bool feed(const uint8_t* data, size_t size, bool end, const EmitBytes& emit, std::string& problem);
  // One whole frame of a buffer into `out`.
  bool compress_all(const uint8_t* data, size_t size, std::vector<uint8_t>& out, std::string& problem);
  // Lets go of the library's context without waiting for its workers' jobs: for a run that was
  // cancelled and is about to end, where that wait could take seconds.
  void abandon() { context_ = nullptr; }

 private:
  ZstdSettings settings_;
  void* context_ = nullptr;
  std::vector<uint8_t> out_;
};

// Streaming decoder for a run of frames; refuses windows above ZSTD_WINDOW_LOG_MAX.
class ZstdDecoder {
 public:
  ZstdDecoder();
  ~ZstdDecoder();
  ZstdDecoder(const ZstdDecoder&) = delete;
  ZstdDecoder& operator=(const ZstdDecoder&) = delete;
  bool ready() const { return context_ != nullptr; }
  void reset();
  // Decodes from `in` (advanced past what was used) into at most `room` bytes of `out`;
  // `produced` says how many. False with a reason on damaged data.
  bool decode(const uint8_t*& in, size_t& in_size, uint8_t* out, size_t room, size_t& produced,
              std::string& problem);
  // True while a frame has begun and not ended.
  bool inside_frame() const { return inside_frame_; }

 private:
  void* context_ = nullptr;
  bool inside_frame_ = false;
};

// Decodes a whole buffer of frames, refusing more than `max_output` bytes: the entry point a
// fuzz target calls.
bool zstd_decode_buffer(const uint8_t* data, size_t size, size_t max_output, std::vector<uint8_t>& out,
                        std::string& problem);
