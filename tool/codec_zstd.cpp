// zstd for the archiver. Sections: the library's memory, the level table, memory estimates
// and fitting, the encoder, the decoder, the codec interface.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <cstdlib>
#ifdef __linux__
#include <sys/mman.h>
#endif

#include "format/archive_format.h"
#include "codec.h"

namespace {

// ---- The library's memory ------------------------------------------------------------------

// A frame's window is tens of megabytes, each byte touched once: filled a 4 KB page at a time,
// the page faults cost more than the decoding itself. Linux maps such blocks with huge pages when
// asked. Every block carries its mapping's size before it (0: from malloc).
constexpr size_t BLOCK_HEADER = 64;  // keeps the alignment the library expects

#ifdef __linux__
constexpr size_t HUGE_PAGE = 2 << 20;

void* map_huge(size_t size) {
  size_t rounded = (size + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
  // Mapped a huge page longer, then trimmed to start on a huge-page boundary.
  char* mapped = static_cast<char*>(
      mmap(nullptr, rounded + HUGE_PAGE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  if (mapped == MAP_FAILED) return nullptr;
  char* start = reinterpret_cast<char*>((reinterpret_cast<uintptr_t>(mapped) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1));
  if (start > mapped) munmap(mapped, static_cast<size_t>(start - mapped));
  if (start + rounded < mapped + rounded + HUGE_PAGE)
    munmap(start + rounded, static_cast<size_t>(mapped + rounded + HUGE_PAGE - (start + rounded)));
  madvise(start, rounded, MADV_HUGEPAGE);
  *reinterpret_cast<size_t*>(start) = rounded;
  return start;
}
#endif

void* library_allocate(void*, size_t size) {
  if (size > SIZE_MAX / 2) return nullptr;  // never granted; keeps the sums below in range
  char* block = nullptr;
#ifdef __linux__
  if (size >= 2 * HUGE_PAGE) block = static_cast<char*>(map_huge(size + BLOCK_HEADER));
#endif
  if (!block) {
    block = static_cast<char*>(std::malloc(size + BLOCK_HEADER));
    if (!block) return nullptr;
    *reinterpret_cast<size_t*>(block) = 0;
  }
  return block + BLOCK_HEADER;
}

void library_free(void*, void* address) {
  if (!address) return;
  char* block = static_cast<char*>(address) - BLOCK_HEADER;
#ifdef __linux__
  if (size_t mapped = *reinterpret_cast<size_t*>(block)) {
    munmap(block, mapped);
    return;
  }
#endif
  std::free(block);
}

constexpr ZSTD_customMem LIBRARY_MEMORY{library_allocate, library_free, nullptr};

// Work a zstd worker takes at a time: the stream cut evenly among the workers within these
// bounds. The library's own choice for the strong levels is four windows, so a corpus smaller
// than that would go to one worker alone; more jobs than workers only cost ratio and the time
// each job spends loading the data before it.
constexpr int64_t ZSTD_JOB_MIN = 32 << 20;
constexpr int64_t ZSTD_JOB_MAX = 64 << 20;

int job_size(int64_t expected_size, int workers) {
  return static_cast<int>(std::clamp<int64_t>(expected_size / std::max(workers, 1) + (1 << 20), ZSTD_JOB_MIN, ZSTD_JOB_MAX));
}

ZSTD_CCtx* cctx(void* p) { return static_cast<ZSTD_CCtx*>(p); }
ZSTD_DCtx* dctx(void* p) { return static_cast<ZSTD_DCtx*>(p); }

bool failed(size_t rc, std::string& problem, const char* what) {
  if (!ZSTD_isError(rc)) return false;
  problem = std::string(what) + ": " + ZSTD_getErrorName(rc);
  return true;
}

// The smallest window log that holds `size` bytes (zstd's minimum is 10).
int window_log_for(int64_t size) {
  int log = 10;
  while (log < ZSTD_WINDOW_LOG_MAX && (int64_t(1) << log) < size) ++log;
  return log;
}

// The level's own window for inputs of this size, as the library would choose it.
int own_window_log(int level, int64_t size) {
  return static_cast<int>(ZSTD_getCParams(level, static_cast<unsigned long long>(std::max<int64_t>(size, 1)), 0).windowLog);
}

// Long-distance matching pays only where the window is wider than the level looks anyway.
bool apply(ZSTD_CCtx* c, const ZstdSettings& s, int64_t expected_size, std::string& problem) {
  int window = s.window_log > 0 ? std::min(s.window_log, window_log_for(expected_size)) : 0;
  bool ldm = s.long_distance && window > own_window_log(s.level, expected_size);
  return !failed(ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, s.level), problem, "zstd level") &&
         !failed(ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, window), problem, "zstd window") &&
         !failed(ZSTD_CCtx_setParameter(c, ZSTD_c_enableLongDistanceMatching, ldm ? 1 : 2), problem, "zstd ldm") &&
         !failed(ZSTD_CCtx_setParameter(c, ZSTD_c_nbWorkers, s.workers), problem, "zstd workers") &&
         (s.workers == 0 ||
          !failed(ZSTD_CCtx_setParameter(c, ZSTD_c_jobSize, job_size(expected_size, s.workers)), problem,
                  "zstd job size")) &&
         !failed(ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 0), problem, "zstd checksum") &&
         // A hint, not a promise: the tables are sized for the data, and a file that changes
         // size while it is read still compresses.
         !failed(ZSTD_CCtx_setParameter(c, ZSTD_c_srcSizeHint,
                                        static_cast<int>(std::min<int64_t>(expected_size, INT32_MAX))),
                 problem, "zstd size hint");
}

}  // namespace

// ---- Level table -------------------------------------------------------------------------

// Chosen on the speed-size plane (bench/plane.py): per member, levels below 4 lose to deflate
// on small files; in one solid stream a level weaker than 3 is beaten by plain zstd -3, and
// since every member's header stays outside the stream (about 90 bytes each), the default must
// be well stronger than zstd -9 to be smaller. Solid Ultra stops at 17: what 18 and 19 gain
// (1 to 2.5 %) costs the speed that keeps it ahead of the archivers that are smaller still.
ZstdSettings zstd_settings(int method, bool ultra, int window_position, bool solid) {
  static const int plain[2][4] = {{0, 4, 5, 6}, {0, 9, 15, 19}};
  static const int stream[2][4] = {{0, 3, 12, 15}, {0, 16, 17, 17}};
  ZstdSettings s;
  method = std::clamp(method, 0, 3);
  s.level = (solid ? stream : plain)[ultra ? 1 : 0][method];
  s.window_log = ZSTD_WINDOW_LOG_MIN + std::clamp(window_position, 0, 7);
  s.long_distance = true;
  return s;
}

// ---- Memory ------------------------------------------------------------------------------

int64_t address_space_budget() {
  return sizeof(void*) == 4 ? ADDRESS_SPACE_32_BIT : int64_t(1) << 40;
}

int64_t zstd_memory_estimate(const ZstdSettings& s, int encoders) {
  ZSTD_CCtx_params* p = ZSTD_createCCtxParams();
  if (!p) return INT64_MAX;
  ZSTD_CCtxParams_init(p, s.level);
  int window = s.window_log > 0 ? s.window_log : own_window_log(s.level, int64_t(1) << 30);
  ZSTD_CCtxParams_setParameter(p, ZSTD_c_windowLog, window);
  // The library's estimate divides by zero with long-distance matching on (1.5.4), so its table
  // is added here: 8-byte entries, 2^(window - 7) of them, and room for its sequences.
  size_t one = ZSTD_estimateCStreamSize_usingCCtxParams(p);
  ZSTD_freeCCtxParams(p);
  if (ZSTD_isError(one)) return INT64_MAX;
  if (s.long_distance) one += (size_t(8) << (window - 7)) + (size_t(1) << 20);
  int64_t total = static_cast<int64_t>(one) * std::max(encoders, 1);
  if (s.workers > 0) {
    // Each worker holds its own tables, and the stream keeps the window plus a job in flight per
    // worker and two spare, each with room for its output.
    total = static_cast<int64_t>(one) * s.workers + (int64_t(1) << window) + (s.workers + 2) * 2 * ZSTD_JOB_MAX;
  }
  return total;
}

std::string fit_zstd_memory(ZstdSettings& s, int& encoders, int64_t limit) {
  const ZstdSettings asked = s;
  const int asked_encoders = encoders;
  while (zstd_memory_estimate(s, encoders) > limit) {
    if (s.workers > 1) --s.workers;
    else if (encoders > 1) --encoders;
    else if (s.window_log > ZSTD_WINDOW_LOG_MIN) --s.window_log;
    else break;
  }
  if (s.workers == asked.workers && encoders == asked_encoders && s.window_log == asked.window_log) return "";
  return "note: to fit the 32-bit address space, " + std::to_string(std::max({s.workers, encoders, 1})) +
         " thread(s) and a " + std::to_string((int64_t(1) << s.window_log) >> 20) + " MB window are used";
}

// ---- Encoder -----------------------------------------------------------------------------

ZstdEncoder::ZstdEncoder(const ZstdSettings& s) : settings_(s), context_(ZSTD_createCCtx_advanced(LIBRARY_MEMORY)) {
  out_.resize(ZSTD_CStreamOutSize());
}

ZstdEncoder::~ZstdEncoder() { ZSTD_freeCCtx(cctx(context_)); }

bool ZstdEncoder::begin(int64_t expected_size, std::string& problem) {
  ZSTD_CCtx_reset(cctx(context_), ZSTD_reset_session_only);
  return apply(cctx(context_), settings_, expected_size, problem);
}

bool ZstdEncoder::feed(const uint8_t* data, size_t size, bool end, const EmitBytes& emit, std::string& problem) {
  // Called without input, the library's workers take it as a wish to see output and block until
  // the oldest job yields some: a solid stream's jobs would run one after another.
  if (size == 0 && !end) return true;
  ZSTD_inBuffer in{data, size, 0};
  ZSTD_EndDirective mode = end ? ZSTD_e_end : ZSTD_e_continue;
  for (;;) {
    ZSTD_outBuffer out{out_.data(), out_.size(), 0};
    size_t left = ZSTD_compressStream2(cctx(context_), &out, &in, mode);
    if (failed(left, problem, "compression failed")) return false;
    if (out.pos && !emit(out_.data(), out.pos)) {
      problem = "cannot write a temporary file beside the archive";
      return false;
    }
    if (end ? left == 0 : in.pos == in.size) return true;
  }
}

bool ZstdEncoder::compress_all(const uint8_t* data, size_t size, std::vector<uint8_t>& out, std::string& problem) {
  if (!begin(static_cast<int64_t>(size), problem)) return false;
  out.resize(ZSTD_compressBound(size));
  size_t n = ZSTD_compress2(cctx(context_), out.data(), out.size(), data, size);
  if (failed(n, problem, "compression failed")) return false;
  out.resize(n);
  return true;
}

// ---- Decoder -----------------------------------------------------------------------------

ZstdDecoder::ZstdDecoder() : context_(ZSTD_createDCtx_advanced(LIBRARY_MEMORY)) {
  if (context_) ZSTD_DCtx_setParameter(dctx(context_), ZSTD_d_windowLogMax, ZSTD_WINDOW_LOG_MAX);
}

ZstdDecoder::~ZstdDecoder() { ZSTD_freeDCtx(dctx(context_)); }

void ZstdDecoder::reset() {
  ZSTD_DCtx_reset(dctx(context_), ZSTD_reset_session_only);
  inside_frame_ = false;
}

bool ZstdDecoder::decode(const uint8_t*& in, size_t& in_size, uint8_t* out, size_t room, size_t& produced,
                         std::string& problem) {
  ZSTD_inBuffer input{in, in_size, 0};
  ZSTD_outBuffer output{out, room, 0};
  size_t rc = ZSTD_decompressStream(dctx(context_), &output, &input);
  in += input.pos;
  in_size -= input.pos;
  produced = output.pos;
  if (ZSTD_isError(rc)) {
    switch (ZSTD_getErrorCode(rc)) {
      case ZSTD_error_frameParameter_windowTooLarge:
        problem = "compressed data asks for a window larger than 256 MB";
        break;
      case ZSTD_error_memory_allocation:
        problem = "out of memory for the decompressor";
        break;
      default:
        problem = "compressed data is damaged";
    }
    return false;
  }
  inside_frame_ = rc != 0;
  return true;
}

bool zstd_decode_buffer(const uint8_t* data, size_t size, size_t max_output, std::vector<uint8_t>& out,
                        std::string& problem) {
  ZstdDecoder decoder;
  if (!decoder.ready()) {
    problem = "out of memory for the decompressor";
    return false;
  }
  std::vector<uint8_t> chunk(1 << 16);
  out.clear();
  while (size > 0 || decoder.inside_frame()) {
    size_t before = size, produced = 0;
    if (!decoder.decode(data, size, chunk.data(), chunk.size(), produced, problem)) return false;
    if (produced > max_output - out.size()) {
      problem = "data is longer than allowed";
      return false;
    }
    out.insert(out.end(), chunk.data(), chunk.data() + produced);
    if (produced == 0 && size == before) {
      problem = "compressed data is truncated";
      return false;
    }
  }
  return true;
}

// ---- The codec interface -----------------------------------------------------------------

namespace {

// A piece is a frame of its own; a member's frames follow one another.
class ZstdCodecEncoder : public Encoder {
 public:
  explicit ZstdCodecEncoder(const ZstdSettings& s) : encoder_(s) {}
  bool ready() const override { return encoder_.ready(); }
  bool begin(int64_t expected_size, std::string& problem) override { return encoder_.begin(expected_size, problem); }
  bool begin_piece(int64_t length, const uint8_t*, size_t, std::string& problem) override {
    return encoder_.begin(length, problem);
  }
  bool feed(const uint8_t* data, size_t size, Flush flush, const EmitBytes& emit, std::string& problem) override {
    return encoder_.feed(data, size, flush != Flush::NONE, emit, problem);
  }
  bool compress_all(const uint8_t* data, size_t size, std::vector<uint8_t>& out, std::string& problem) override {
    return encoder_.compress_all(data, size, out, problem);
  }
  void abandon() override { encoder_.abandon(); }

 private:
  ZstdEncoder encoder_;
};

// A solid run is one stream on zstd's own workers, which share the whole window; otherwise each
// compressing thread has an encoder. A piece starts a fresh frame, so pieces are larger than
// deflate's primed ones.
class ZstdEncoding : public EncodingMethod {
 public:
  explicit ZstdEncoding(const ZstdSettings& s) : settings_(s) {}
  uint8_t method() const override { return METHOD_ZSTD; }
  bool one_stream() const override { return true; }
  int64_t piece_size() const override { return int64_t(8) << 20; }
  std::string fit(int& threads, bool solid, int64_t limit) override {
    int encoders = solid ? 1 : threads;
    settings_.workers = solid && threads > 1 ? threads : 0;
    std::string note = fit_zstd_memory(settings_, encoders, limit);
    if (!solid) threads = encoders;
    return note;
  }
  std::unique_ptr<Encoder> encoder() const override { return std::make_unique<ZstdCodecEncoder>(settings_); }

 private:
  ZstdSettings settings_;
};

// A member may span several frames (a large file's pieces) and a frame several members (a solid
// stream).
class ZstdCodecDecoder : public Decoder {
 public:
  bool ready() const { return decoder_.ready(); }
  bool start(const EntryHeader&, uint64_t, std::string&) override {
    decoder_.reset();
    return true;
  }
  bool decode(const uint8_t*& in, size_t& in_size, bool input_done, uint8_t* out, size_t room,
              const uint8_t*& data, size_t& produced, std::string& problem) override {
    size_t before = in_size;
    data = out;
    if (!decoder_.decode(in, in_size, out, room, produced, problem)) return false;
    if (produced == 0 && before == in_size && input_done) {
      problem = "compressed data is truncated";
      return false;
    }
    return true;
  }
  bool ended(size_t in_size, bool input_done) const override {
    return in_size == 0 && input_done && !decoder_.inside_frame();
  }

 private:
  ZstdDecoder decoder_;
};

}  // namespace

std::unique_ptr<EncodingMethod> zstd_encoding(const ZstdSettings& s) { return std::make_unique<ZstdEncoding>(s); }

std::unique_ptr<Decoder> zstd_decoder(std::string& problem) {
  auto decoder = std::make_unique<ZstdCodecDecoder>();
  if (decoder->ready()) return decoder;
  problem = "out of memory for the decompressor";
  return nullptr;
}
