// Image decoders: a process-wide list of check/decode/finish handlers tried in registration order,
// and the one decode context they work on. Plain data only; the window side turns the pixels
// into a bitmap section.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The decoded buffer is bottom-up: the first image row goes into the last buffer row.
constexpr int DECODE_BOTTOM_UP = 2;

// Images larger than this are refused before any pixel memory is asked for: the image table
// keeps sizes in 16 bits and a crafted header must not make us allocate gigabytes.
constexpr uint32_t MAX_IMAGE_SIDE = 16384;
constexpr uint64_t MAX_IMAGE_PIXELS = 16u * 1024 * 1024;

struct ImageDecoder;

struct DecodeContext {
  FILE* file = nullptr;
  const uint8_t* memory = nullptr;  // memory source, used instead of a file when set
  size_t memory_size = 0;
  size_t memory_offset = 0;
  std::string file_name;
  const ImageDecoder* decoder = nullptr;
  int width = 0;
  int height = 0;
  int depth = 0;         // bits per pixel delivered by decode: 24 or 32
  int source_depth = 0;  // bits per pixel (or bit depth of grey and palette files) of the source
  void* state = nullptr;  // the decoder's own
};

struct ImageDecoder {
  // Reads the header from the start of the source; on success fills width, height, depth and
  // source depth. On failure it leaves no state behind.
  bool (*check)(DecodeContext& context);
  // Fills rows of `stride` bytes. Returns false when damaged data ended decoding early; the
  // rows decoded until then stay in the buffer.
  bool (*decode)(DecodeContext& context, uint8_t* pixels, size_t stride, int flags);
  // Frees the decoder's state.
  void (*finish)(DecodeContext& context);
};

// Adds a decoder to the list (the PNG decoder is always first); adding one twice does nothing.
void register_image_decoder(const ImageDecoder* decoder);

// Reads up to `size` bytes from the context's source; returns how many were read.
size_t decode_read(DecodeContext& context, void* buffer, size_t size);

// Opens a file for binary reading and asks each decoder in turn; true when one accepted it.
// On false the file is closed again.
bool decode_open_file(DecodeContext& context, const std::string& file_name);
bool decode_open_memory(DecodeContext& context, const void* data, size_t size);
// Lets the decoder finish and closes the file.
void decode_close(DecodeContext& context);

// Bytes per row of a buffer of this width and depth, padded to 4 bytes as bitmap sections are.
size_t decode_stride(int width, int depth);

// A whole image decoded into memory, for callers that need no bitmap section.
struct DecodedImage {
  int width = 0;
  int height = 0;
  int depth = 0;
  int source_depth = 0;
  size_t stride = 0;
  bool complete = false;  // false when damaged data cut decoding short
  std::vector<uint8_t> pixels;
};
bool decode_image_file(const std::string& file_name, DecodedImage& image, int flags);
