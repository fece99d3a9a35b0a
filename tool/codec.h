// The zstd side of the archiver: what the options mean for it, how much memory a setting
// takes, and a streaming encoder and decoder the engines drive member by member.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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

// The memory a setting may take: most of a 32-bit process's 2 GB, far more on 64-bit.
int64_t address_space_budget();

// Streaming encoder; output goes to `emit`, which returns false when it cannot take it.
using EmitBytes = std::function<bool(const uint8_t* data, size_t size)>;

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

// False in a program built without the zstd decoder (the self-extracting stub).
bool zstd_available();

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
