#include "ui/png_decoder.h"

#include <png.h>

#include <csetjmp>

// libpng reports errors by longjmp back to the setjmp in png_jmpbuf. Every function that
// calls setjmp below keeps no local that changes afterwards and owns nothing with a
// destructor; what must survive a jump lives in PngState on the heap.

namespace {

struct PngState {
  png_structp png = nullptr;
  png_infop info = nullptr;
  int passes = 1;
  int rows_done = 0;  // rows finished in the current pass
};

PngState* state_of(DecodeContext& context) { return static_cast<PngState*>(context.state); }

void png_fail(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void png_ignore_warning(png_structp, png_const_charp) {}

void png_read_source(png_structp png, png_bytep data, size_t length) {
  auto* context = static_cast<DecodeContext*>(png_get_io_ptr(png));
  if (decode_read(*context, data, length) != length) png_error(png, "unexpected end of file");
}

void release(DecodeContext& context) {
  PngState* state = state_of(context);
  if (!state) return;
  png_destroy_read_struct(&state->png, state->info ? &state->info : nullptr, nullptr);
  delete state;
  context.state = nullptr;
}

// Sets up every transformation, then takes width, height and depths from the updated header.
void read_header(DecodeContext& context, PngState* state) {
  png_structp png = state->png;
  png_infop info = state->info;
  png_set_read_fn(png, &context, png_read_source);
  png_set_sig_bytes(png, 8);
  png_set_user_limits(png, MAX_IMAGE_SIDE, MAX_IMAGE_SIDE);
  png_read_info(png, info);

  png_uint_32 width = 0, height = 0;
  int bit_depth = 0, colour_type = 0, interlace = 0;
  png_get_IHDR(png, info, &width, &height, &bit_depth, &colour_type, &interlace, nullptr, nullptr);
  const bool indexed_or_grey = colour_type == PNG_COLOR_TYPE_PALETTE || colour_type == PNG_COLOR_TYPE_GRAY ||
                               colour_type == PNG_COLOR_TYPE_GRAY_ALPHA;
  if (indexed_or_grey) {
    context.source_depth = bit_depth;
    png_set_expand(png);  // palette to RGB, low bit depths to 8, transparency chunk to alpha
    png_set_gray_to_rgb(png);
  }
  png_set_strip_16(png);
  png_set_bgr(png);
  state->passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);

  png_get_IHDR(png, info, &width, &height, &bit_depth, &colour_type, &interlace, nullptr, nullptr);
  context.width = static_cast<int>(width);
  context.height = static_cast<int>(height);
  context.depth = colour_type == PNG_COLOR_TYPE_RGB ? 24 : 32;
  if (!indexed_or_grey) context.source_depth = context.depth;
  if (static_cast<uint64_t>(width) * height > MAX_IMAGE_PIXELS ||
      png_get_rowbytes(png, info) != static_cast<size_t>(width) * (context.depth / 8))
    png_error(png, "unsupported image layout");
}

bool header_ok(DecodeContext& context, PngState* state) {
  if (setjmp(png_jmpbuf(state->png))) return false;
  read_header(context, state);
  return true;
}

bool png_check(DecodeContext& context) {
  png_byte signature[8];
  if (decode_read(context, signature, 8) != 8 || png_sig_cmp(signature, 0, 8) != 0) return false;
  auto* state = new PngState;
  context.state = state;
  state->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_fail, png_ignore_warning);
  if (state->png) state->info = png_create_info_struct(state->png);
  if (state->info && header_ok(context, state)) return true;
  release(context);
  return false;
}

void read_rows(DecodeContext& context, PngState* state, uint8_t* pixels, size_t stride, int flags) {
  const bool bottom_up = (flags & DECODE_BOTTOM_UP) != 0;
  for (int pass = 0; pass < state->passes; ++pass) {
    for (state->rows_done = 0; state->rows_done < context.height; ++state->rows_done) {
      const int y = bottom_up ? context.height - 1 - state->rows_done : state->rows_done;
      png_read_row(state->png, pixels + static_cast<size_t>(y) * stride, nullptr);
    }
  }
}

bool rows_ok(DecodeContext& context, PngState* state, uint8_t* pixels, size_t stride, int flags) {
  if (setjmp(png_jmpbuf(state->png))) return false;
  read_rows(context, state, pixels, stride, flags);
  return true;
}

bool png_decode(DecodeContext& context, uint8_t* pixels, size_t stride, int flags) {
  PngState* state = state_of(context);
  return state && rows_ok(context, state, pixels, stride, flags);
}

void png_finish(DecodeContext& context) { release(context); }

const ImageDecoder PNG_DECODER{png_check, png_decode, png_finish};

}  // namespace

const ImageDecoder& png_decoder() { return PNG_DECODER; }
