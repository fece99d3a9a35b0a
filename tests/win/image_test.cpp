// The image table under Wine: bitmaps, icons and PNGs loaded from files the tests write.
#include "ui/image.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../png_fixture.h"

namespace {

std::string temp_path(const std::string& name) {
  char folder[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, folder);
  return std::string(folder) + "vantor_image_" + name;
}

std::string write_temp(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = temp_path(name);
  EXPECT_TRUE(write_bytes(path, bytes));
  return path;
}

void put16(std::vector<uint8_t>& out, unsigned v) { out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8)}); }
void put32(std::vector<uint8_t>& out, unsigned v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// A BITMAPINFOHEADER for a bottom-up image; `colours` entries of palette follow when given.
void put_info_header(std::vector<uint8_t>& out, int w, int h, int depth, unsigned colours) {
  put32(out, 40);
  put32(out, w);
  put32(out, h);
  put16(out, 1);
  put16(out, depth);
  put32(out, 0);
  put32(out, 0);
  put32(out, 0);
  put32(out, 0);
  put32(out, colours);
  put32(out, 0);
}

// A bitmap file of one colour (B, G, R, A) at 8, 24 or 32 bits per pixel.
std::vector<uint8_t> bmp_file(int w, int h, int depth, uint32_t bgra) {
  const unsigned colours = depth == 8 ? 1 : 0;
  const size_t stride = ((w * depth + 31) / 32) * 4;
  std::vector<uint8_t> pixels;
  for (int y = 0; y < h; ++y) {
    std::vector<uint8_t> row;
    for (int x = 0; x < w; ++x) {
      if (depth == 8) row.push_back(0);
      for (int i = 0; i < depth / 8 && depth != 8; ++i) row.push_back(uint8_t(bgra >> (8 * i)));
    }
    row.resize(stride, 0);
    pixels.insert(pixels.end(), row.begin(), row.end());
  }
  const unsigned offset = 14 + 40 + colours * 4;
  std::vector<uint8_t> out{'B', 'M'};
  put32(out, offset + static_cast<unsigned>(pixels.size()));
  put32(out, 0);
  put32(out, offset);
  put_info_header(out, w, h, depth, colours);
  if (colours) put32(out, bgra & 0xFFFFFF);
  out.insert(out.end(), pixels.begin(), pixels.end());
  return out;
}

// An icon file with one 32-bit image of one colour.
std::vector<uint8_t> ico_file(int size, uint32_t bgra) {
  std::vector<uint8_t> image;
  put_info_header(image, size, size * 2, 32, 0);
  for (int i = 0; i < size * size; ++i) put32(image, bgra);
  image.resize(image.size() + ((size + 31) / 32) * 4 * size, 0);  // AND mask: all shown
  std::vector<uint8_t> out;
  put16(out, 0);
  put16(out, 1);
  put16(out, 1);
  out.insert(out.end(), {uint8_t(size), uint8_t(size), 0, 0});
  put16(out, 1);
  put16(out, 32);
  put32(out, static_cast<unsigned>(image.size()));
  put32(out, 22);
  out.insert(out.end(), image.begin(), image.end());
  return out;
}

// Bytes of the stored section's pixel at (x, image row y); sections are bottom-up.
const uint8_t* section_pixel(HANDLE image, int x, int y) {
  DIBSECTION ds{};
  if (GetObjectA(image, sizeof ds, &ds) != sizeof ds) return nullptr;
  const auto* bits = static_cast<const uint8_t*>(ds.dsBm.bmBits);
  return bits + (ds.dsBm.bmHeight - 1 - y) * ds.dsBm.bmWidthBytes + x * (ds.dsBm.bmBitsPixel / 8);
}

class ImageTable : public testing::Test {
 protected:
  void TearDown() override {
    free_images();
    set_alpha_drawing_override(-1);
  }
};

TEST_F(ImageTable, PalettePngWithTransparencyLoadsAs32BitWithAlpha) {
  PngPicture p;
  p.width = 2;
  p.height = 2;
  p.bit_depth = 4;
  p.colour_type = PNG_COLOR_TYPE_PALETTE;
  p.palette = {{255, 0, 0}, {0, 0, 255}};
  p.transparency = {0};
  p.rows = {{0x01}, {0x10}};
  HANDLE image = load_image(0, write_temp("palette.png", encode_png(p)));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image_handle(0), image);
  EXPECT_EQ(image_depth(0), 32);
  EXPECT_EQ(image_source_depth(0), 4);
  EXPECT_EQ(image_width(0), 2);
  EXPECT_FALSE(image_is_icon(image));
  const uint8_t* first = section_pixel(image, 0, 0);
  EXPECT_EQ(first[3], 0) << "palette entry 0 is transparent";
  const uint8_t* blue = section_pixel(image, 1, 0);
  EXPECT_EQ(std::vector<int>(blue, blue + 4), (std::vector<int>{255, 0, 0, 255}));
  EXPECT_EQ(section_pixel(image, 0, 1)[0], 255) << "second image row in place";

  set_alpha_drawing_override(1);
  EXPECT_TRUE(image_has_alpha(image));
  set_alpha_drawing_override(0);
  EXPECT_FALSE(image_has_alpha(image)) << "no alpha without alpha drawing";
}

TEST_F(ImageTable, GreyPngWithoutTransparencyLoadsAs24Bit) {
  PngPicture p;
  p.width = 3;
  p.height = 1;
  p.colour_type = PNG_COLOR_TYPE_GRAY;
  p.rows = {{10, 20, 30}};
  HANDLE image = load_image(1, write_temp("grey.png", encode_png(p)));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image_depth(1), 24);
  EXPECT_EQ(image_source_depth(1), 8);
  const uint8_t* px = section_pixel(image, 2, 0);
  EXPECT_EQ(std::vector<int>(px, px + 3), (std::vector<int>{30, 30, 30}));
  set_alpha_drawing_override(1);
  EXPECT_FALSE(image_has_alpha(image));
}

TEST_F(ImageTable, SixteenBitPngLoadsAsEightBitChannels) {
  PngPicture p;
  p.width = 1;
  p.height = 1;
  p.bit_depth = 16;
  p.colour_type = PNG_COLOR_TYPE_RGB_ALPHA;
  p.rows = {{0xA0, 0x01, 0xB0, 0x02, 0xC0, 0x03, 0xFF, 0xFF}};
  HANDLE image = load_image(2, write_temp("sixteen.png", encode_png(p)));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image_depth(2), 32);
  const uint8_t* px = section_pixel(image, 0, 0);
  EXPECT_EQ(std::vector<int>(px, px + 4), (std::vector<int>{0xC0, 0xB0, 0xA0, 0xFF}));
}

TEST_F(ImageTable, InterlacedPngHasEveryRowInPlace) {
  PngPicture p = gradient_rgb_picture(9, 17);
  p.interlaced = true;
  HANDLE image = load_image(3, write_temp("interlaced.png", encode_png(p)));
  ASSERT_NE(image, nullptr);
  for (int y = 0; y < 17; ++y)
    for (int x = 0; x < 9; ++x) {
      const uint8_t* px = section_pixel(image, x, y);
      ASSERT_EQ(px[2], x);
      ASSERT_EQ(px[1], y);
      ASSERT_EQ(px[0], x ^ y);
    }
}

TEST_F(ImageTable, DamagedPngKeepsTheRowsDecoded) {
  PngPicture p = gradient_rgb_picture(200, 200);
  p.compression_level = 0;
  auto bytes = encode_png(p);
  bytes.resize(bytes.size() / 2);
  HANDLE image = load_image(4, write_temp("damaged.png", bytes));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image_height(4), 200);
  EXPECT_EQ(section_pixel(image, 7, 40)[1], 40);
  EXPECT_EQ(section_pixel(image, 7, 40)[2], 7);
  const uint8_t* last = section_pixel(image, 7, 199);
  EXPECT_EQ(last[0] | last[1] | last[2], 0) << "rows never decoded stay blank";
}

TEST_F(ImageTable, MissingOrUnknownFileLeavesTheNumberFree) {
  ASSERT_NE(load_image(5, write_temp("fine.png", encode_png(gradient_rgb_picture(2, 2)))), nullptr);
  EXPECT_EQ(load_image(5, temp_path("no_such_file.png")), nullptr);
  EXPECT_EQ(image_handle(5), nullptr) << "the old image went before the failed load";
  EXPECT_EQ(image_width(5), 0);
  EXPECT_EQ(load_image(6, write_temp("text.png", {'h', 'e', 'l', 'l', 'o'})), nullptr);
  EXPECT_EQ(image_handle(6), nullptr);
  EXPECT_EQ(image_handle(-1), nullptr);
  EXPECT_EQ(load_image(-1, temp_path("fine.png")), nullptr);
}

TEST_F(ImageTable, TableGrowsBeyondItsFirstSixteen) {
  const std::string path = write_temp("grow.png", encode_png(gradient_rgb_picture(2, 2)));
  ASSERT_NE(load_image(40, path), nullptr);
  EXPECT_NE(image_handle(40), nullptr);
  EXPECT_EQ(image_handle(39), nullptr);
  free_images();
  EXPECT_EQ(image_handle(40), nullptr);
}

TEST_F(ImageTable, BitmapsOfFewBitsOr32BitsAreKeptAs24Bit) {
  struct Case {
    int depth;
    int stored;
  } cases[] = {{8, 24}, {24, 24}, {32, 24}};
  for (const Case& c : cases) {
    const std::string name = "depth" + std::to_string(c.depth) + ".bmp";
    HANDLE image = load_image(7, write_temp(name, bmp_file(5, 3, c.depth, 0x80112233)));
    ASSERT_NE(image, nullptr) << name;
    EXPECT_EQ(image_depth(7), c.stored) << name;
    EXPECT_EQ(image_source_depth(7), c.depth) << name;
    EXPECT_EQ(image_height(7), 3) << name;
    const uint8_t* px = section_pixel(image, 4, 2);
    EXPECT_EQ(std::vector<int>(px, px + 3), (std::vector<int>{0x33, 0x22, 0x11})) << name;
  }
}

TEST_F(ImageTable, IconFilesLoadAtTheirOwnSize) {
  HANDLE image = load_image(8, write_temp("small.ico", ico_file(20, 0xFF0000FF)));
  ASSERT_NE(image, nullptr);
  EXPECT_TRUE(image_is_icon(image));
  EXPECT_EQ(image_width(8), 20);
  EXPECT_EQ(image_height(8), 20);
  EXPECT_EQ(image_depth(8), 32);
  int w = 0, h = 0;
  EXPECT_TRUE(image_size(image, &w, &h));
  EXPECT_EQ(w, 20);
  set_alpha_drawing_override(1);
  EXPECT_FALSE(image_has_alpha(image)) << "icons draw themselves";
  EXPECT_EQ(image_alpha_copy(image, 0), nullptr);
}

TEST_F(ImageTable, AlphaCopiesArePremultipliedOrGreyed) {
  PngPicture p = solid_rgba_picture(2, 2, 0x1E140A80);  // R 30, G 20, B 10, A 128
  HANDLE image = load_image(9, write_temp("soft.png", encode_png(p)));
  ASSERT_NE(image, nullptr);
  set_alpha_drawing_override(0);
  EXPECT_EQ(image_alpha_copy(image, 0), nullptr) << "no copies without alpha drawing";

  set_alpha_drawing_override(1);
  HBITMAP normal = image_alpha_copy(image, 0);
  HBITMAP greyed = image_alpha_copy(image, 1);
  ASSERT_NE(normal, nullptr);
  ASSERT_NE(greyed, nullptr);
  const uint8_t* n = section_pixel(normal, 1, 1);
  EXPECT_EQ(std::vector<int>(n, n + 4), (std::vector<int>{5, 10, 15, 128}));
  const uint8_t* g = section_pixel(greyed, 1, 1);
  EXPECT_EQ(std::vector<int>(g, g + 4), (std::vector<int>{17, 17, 17, 128}));
  EXPECT_EQ(section_pixel(image, 1, 1)[0], 10) << "the image itself is untouched";
  DeleteObject(normal);
  DeleteObject(greyed);
}

}  // namespace
