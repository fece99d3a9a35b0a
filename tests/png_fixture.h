// Writes small PNG files for the image tests with libpng's writing interface, so that every
// test file is made in the test itself from known pixels.
#pragma once
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct PngPicture {
  int width = 0;
  int height = 0;
  int bit_depth = 8;
  int colour_type = PNG_COLOR_TYPE_RGB;
  bool interlaced = false;
  int compression_level = 6;
  std::vector<png_color> palette;
  std::vector<uint8_t> transparency;  // tRNS: alphas for a palette, or one key for grey/RGB
  png_color_16 transparent_key{};
  std::vector<std::vector<uint8_t>> rows;  // packed rows as PNG stores them (RGB order, big-endian)
};

namespace png_fixture_detail {
inline void append(png_structp png, png_bytep data, size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
inline void flush(png_structp) {}

inline bool write_into(png_structp png, png_infop info, const PngPicture& p, std::vector<png_bytep>& rows,
                       std::vector<uint8_t>* out) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, out, append, flush);
  png_set_compression_level(png, p.compression_level);
  png_set_IHDR(png, info, p.width, p.height, p.bit_depth, p.colour_type,
               p.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!p.palette.empty())
    png_set_PLTE(png, info, const_cast<png_colorp>(p.palette.data()), static_cast<int>(p.palette.size()));
  if (p.colour_type == PNG_COLOR_TYPE_PALETTE && !p.transparency.empty())
    png_set_tRNS(png, info, const_cast<png_bytep>(p.transparency.data()), static_cast<int>(p.transparency.size()),
                 nullptr);
  else if (!p.transparency.empty())
    png_set_tRNS(png, info, nullptr, 0, const_cast<png_color_16p>(&p.transparent_key));
  png_write_info(png, info);
  png_write_image(png, rows.data());
  png_write_end(png, info);
  return true;
}
}  // namespace png_fixture_detail

inline std::vector<uint8_t> encode_png(const PngPicture& picture) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::vector<png_bytep> rows;
  for (const auto& row : picture.rows) rows.push_back(const_cast<png_bytep>(row.data()));
  if (!png_fixture_detail::write_into(png, info, picture, rows, &out)) out.clear();
  png_destroy_write_struct(&png, &info);
  return out;
}

inline bool write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

// An 8-bit RGBA picture where every pixel is `rgba` (bytes R, G, B, A).
inline PngPicture solid_rgba_picture(int width, int height, uint32_t rgba) {
  PngPicture p;
  p.width = width;
  p.height = height;
  p.colour_type = PNG_COLOR_TYPE_RGB_ALPHA;
  for (int y = 0; y < height; ++y) {
    std::vector<uint8_t> row;
    for (int x = 0; x < width; ++x)
      for (int shift = 24; shift >= 0; shift -= 8) row.push_back(static_cast<uint8_t>(rgba >> shift));
    p.rows.push_back(row);
  }
  return p;
}

// An 8-bit RGB picture whose pixel (x, y) has red x, green y and blue x ^ y: every row differs.
inline PngPicture gradient_rgb_picture(int width, int height) {
  PngPicture p;
  p.width = width;
  p.height = height;
  for (int y = 0; y < height; ++y) {
    std::vector<uint8_t> row;
    for (int x = 0; x < width; ++x) {
      row.push_back(static_cast<uint8_t>(x));
      row.push_back(static_cast<uint8_t>(y));
      row.push_back(static_cast<uint8_t>(x ^ y));
    }
    p.rows.push_back(row);
  }
  return p;
}
