// One fuzz input through the image loader's PNG decoder, from memory. Shared by the libFuzzer
// harness and the native corpus replay.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ui/image_decoder.h"

// True when every invariant held: an accepted header lies within the size limits and decoding
// fills (part of) a buffer of exactly that size without leaving it.
inline bool png_fuzz_one(const uint8_t* data, size_t size) {
  DecodeContext context;
  if (!decode_open_memory(context, data, size)) return true;
  bool sane = context.width > 0 && context.height > 0 && context.width <= static_cast<int>(MAX_IMAGE_SIDE) &&
              context.height <= static_cast<int>(MAX_IMAGE_SIDE) &&
              static_cast<uint64_t>(context.width) * static_cast<uint64_t>(context.height) <= MAX_IMAGE_PIXELS &&
              (context.depth == 24 || context.depth == 32);
  if (sane) {
    size_t stride = decode_stride(context.width, context.depth);
    std::vector<uint8_t> pixels(stride * static_cast<size_t>(context.height));
    context.decoder->decode(context, pixels.data(), stride, (size & 1) ? DECODE_BOTTOM_UP : 0);
  }
  decode_close(context);
  return sane;
}
