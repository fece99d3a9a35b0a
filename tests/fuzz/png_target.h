// One fuzz input through the image loader's PNG decoder, from memory. Shared by the libFuzzer
// harness and the native corpus replay.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "ui/image_decoder.h"

enum class PngOutcome {
  REFUSED,    // the header was not accepted
  DECODED,    // every row decoded
  CUT_SHORT,  // damaged data ended decoding early, as the decoder said
  BROKEN,     // an invariant failed
};

// Decodes twice, into a buffer of zeros and one of 0xFF: an accepted header lies within the size
// limits, both runs give the same answer, and a decode that says it is complete has written
// every pixel byte (the two buffers agree) without leaving the buffer.
inline PngOutcome png_fuzz_outcome(const uint8_t* data, size_t size) {
  bool complete[2] = {};
  std::vector<uint8_t> pixels[2];
  size_t stride = 0, row = 0;
  int height = 0;
  for (int run = 0; run < 2; ++run) {
    DecodeContext context;
    if (!decode_open_memory(context, data, size)) return run == 0 ? PngOutcome::REFUSED : PngOutcome::BROKEN;
    bool sane = context.width > 0 && context.height > 0 && context.width <= static_cast<int>(MAX_IMAGE_SIDE) &&
                context.height <= static_cast<int>(MAX_IMAGE_SIDE) &&
                static_cast<uint64_t>(context.width) * static_cast<uint64_t>(context.height) <= MAX_IMAGE_PIXELS &&
                (context.depth == 24 || context.depth == 32);
    if (!sane) {
      decode_close(context);
      return PngOutcome::BROKEN;
    }
    stride = decode_stride(context.width, context.depth);
    row = static_cast<size_t>(context.width) * static_cast<size_t>(context.depth / 8);
    height = context.height;
    pixels[run].assign(stride * static_cast<size_t>(height), run == 0 ? 0x00 : 0xFF);
    complete[run] = context.decoder->decode(context, pixels[run].data(), stride, (size & 1) ? DECODE_BOTTOM_UP : 0);
    decode_close(context);
  }
  if (complete[0] != complete[1]) return PngOutcome::BROKEN;
  if (!complete[0]) return PngOutcome::CUT_SHORT;
  for (int y = 0; y < height; ++y)
    if (std::memcmp(pixels[0].data() + y * stride, pixels[1].data() + y * stride, row) != 0) return PngOutcome::BROKEN;
  return PngOutcome::DECODED;
}

inline bool png_fuzz_one(const uint8_t* data, size_t size) { return png_fuzz_outcome(data, size) != PngOutcome::BROKEN; }
