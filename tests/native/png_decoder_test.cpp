#include "ui/png_decoder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <string>

#include "../png_fixture.h"

namespace {

std::string temp_file(const std::string& name) { return testing::TempDir() + "vantor_png_" + name; }

DecodedImage decode_bytes(const std::vector<uint8_t>& bytes, int flags = 0) {
  DecodedImage image;
  const std::string path = temp_file(testing::UnitTest::GetInstance()->current_test_info()->name());
  EXPECT_TRUE(write_bytes(path, bytes));
  EXPECT_TRUE(decode_image_file(path, image, flags));
  std::remove(path.c_str());
  return image;
}

const uint8_t* pixel(const DecodedImage& image, int x, int row) {
  return image.pixels.data() + row * image.stride + x * (image.depth / 8);
}

// The signature, an IHDR chunk and the start of an IDAT chunk (where header reading stops),
// for headers no encoder would write.
std::vector<uint8_t> header_png(uint32_t width, uint32_t height) {
  std::vector<uint8_t> out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13};
  std::vector<uint8_t> chunk{'I', 'H', 'D', 'R'};
  for (uint32_t v : {width, height})
    for (int shift = 24; shift >= 0; shift -= 8) chunk.push_back(static_cast<uint8_t>(v >> shift));
  chunk.insert(chunk.end(), {8, PNG_COLOR_TYPE_RGB, 0, 0, 0});
  const uint32_t crc = crc32(0, chunk.data(), static_cast<uInt>(chunk.size()));
  out.insert(out.end(), chunk.begin(), chunk.end());
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(crc >> shift));
  out.insert(out.end(), {0, 0, 0, 0, 'I', 'D', 'A', 'T'});
  return out;
}

TEST(PngDecoderCheck, RejectsWhatIsNotAPng) {
  DecodeContext context;
  const uint8_t bmp[] = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(decode_open_memory(context, bmp, sizeof bmp));
  auto png = encode_png(gradient_rgb_picture(4, 4));
  EXPECT_FALSE(decode_open_memory(context, png.data(), 7)) << "shorter than the signature";
  EXPECT_FALSE(decode_open_memory(context, png.data(), 20)) << "signature but a cut header";
  png[1] = 'p';
  EXPECT_FALSE(decode_open_memory(context, png.data(), png.size())) << "one signature byte differs";
}

TEST(PngDecoderCheck, MissingFileIsRefused) {
  DecodeContext context;
  EXPECT_FALSE(decode_open_file(context, temp_file("does_not_exist.png")));
  EXPECT_EQ(context.file, nullptr);
}

TEST(PngDecoderCheck, RefusesSizesTheImageTableCannotHold) {
  DecodeContext context;
  for (auto [w, h] : {std::pair<uint32_t, uint32_t>{100000, 1}, {1, MAX_IMAGE_SIDE + 1}, {MAX_IMAGE_SIDE, MAX_IMAGE_SIDE}}) {
    const auto bytes = header_png(w, h);
    EXPECT_FALSE(decode_open_memory(context, bytes.data(), bytes.size())) << w << " x " << h;
  }
  const auto fits = header_png(64, 64);
  ASSERT_TRUE(decode_open_memory(context, fits.data(), fits.size()));
  EXPECT_EQ(context.width, 64);
  decode_close(context);
}

TEST(PngDecoderFormats, PaletteWithTransparencyBecomes32BitWithAlpha) {
  PngPicture p;
  p.width = 4;
  p.height = 1;
  p.bit_depth = 4;
  p.colour_type = PNG_COLOR_TYPE_PALETTE;
  p.palette = {{255, 0, 0}, {0, 255, 0}, {10, 20, 30}};
  p.transparency = {0, 128};  // entry 2 has no alpha given: opaque
  p.rows = {{0x01, 0x20}};
  const DecodedImage image = decode_bytes(encode_png(p));
  EXPECT_EQ(image.depth, 32);
  EXPECT_EQ(image.source_depth, 4);
  EXPECT_TRUE(image.complete);
  const uint8_t* px = pixel(image, 0, 0);
  EXPECT_EQ(std::vector<int>(px, px + 16),
            (std::vector<int>{0, 0, 255, 0, 0, 255, 0, 128, 30, 20, 10, 255, 0, 0, 255, 0}));
}

TEST(PngDecoderFormats, PaletteWithoutTransparencyIs24Bit) {
  PngPicture p;
  p.width = 2;
  p.height = 1;
  p.colour_type = PNG_COLOR_TYPE_PALETTE;
  p.palette = {{1, 2, 3}, {4, 5, 6}};
  p.rows = {{1, 0}};
  const DecodedImage image = decode_bytes(encode_png(p));
  EXPECT_EQ(image.depth, 24);
  EXPECT_EQ(image.source_depth, 8);
  EXPECT_EQ(std::vector<int>(image.pixels.begin(), image.pixels.begin() + 6), (std::vector<int>{6, 5, 4, 3, 2, 1}));
}

TEST(PngDecoderFormats, GreyWithoutTransparencyIs24BitAndLowDepthsExpand) {
  PngPicture p;
  p.width = 3;
  p.height = 1;
  p.bit_depth = 2;
  p.colour_type = PNG_COLOR_TYPE_GRAY;
  p.rows = {{0b00011100}};  // levels 0, 1, 3
  const DecodedImage image = decode_bytes(encode_png(p));
  EXPECT_EQ(image.depth, 24);
  EXPECT_EQ(image.source_depth, 2);
  EXPECT_EQ(std::vector<int>(image.pixels.begin(), image.pixels.begin() + 9),
            (std::vector<int>{0, 0, 0, 85, 85, 85, 255, 255, 255}));
}

TEST(PngDecoderFormats, GreyWithTransparencyKeyOrAlphaIs32Bit) {
  PngPicture keyed;
  keyed.width = 2;
  keyed.height = 1;
  keyed.colour_type = PNG_COLOR_TYPE_GRAY;
  keyed.transparency = {1};
  keyed.transparent_key.gray = 40;
  keyed.rows = {{40, 41}};
  DecodedImage image = decode_bytes(encode_png(keyed));
  EXPECT_EQ(image.depth, 32);
  EXPECT_EQ(pixel(image, 0, 0)[3], 0);
  EXPECT_EQ(pixel(image, 1, 0)[3], 255);
  EXPECT_EQ(pixel(image, 1, 0)[0], 41);

  PngPicture grey_alpha;
  grey_alpha.width = 1;
  grey_alpha.height = 1;
  grey_alpha.colour_type = PNG_COLOR_TYPE_GRAY_ALPHA;
  grey_alpha.rows = {{200, 7}};
  image = decode_bytes(encode_png(grey_alpha));
  EXPECT_EQ(image.depth, 32);
  EXPECT_EQ(std::vector<int>(image.pixels.begin(), image.pixels.begin() + 4), (std::vector<int>{200, 200, 200, 7}));
}

TEST(PngDecoderFormats, SixteenBitChannelsAreStrippedToEight) {
  PngPicture rgb;
  rgb.width = 1;
  rgb.height = 1;
  rgb.bit_depth = 16;
  rgb.rows = {{0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc}};
  DecodedImage image = decode_bytes(encode_png(rgb));
  EXPECT_EQ(image.depth, 24);
  EXPECT_EQ(image.source_depth, 24);
  EXPECT_EQ(std::vector<int>(image.pixels.begin(), image.pixels.begin() + 3), (std::vector<int>{0x9a, 0x56, 0x12}));

  PngPicture rgba = rgb;
  rgba.colour_type = PNG_COLOR_TYPE_RGB_ALPHA;
  rgba.rows = {{0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0x80, 0x01}};
  image = decode_bytes(encode_png(rgba));
  EXPECT_EQ(image.depth, 32);
  EXPECT_EQ(image.source_depth, 32);
  EXPECT_EQ(std::vector<int>(image.pixels.begin(), image.pixels.begin() + 4),
            (std::vector<int>{0x9a, 0x56, 0x12, 0x80}));
}

TEST(PngDecoderRows, BottomUpFlagPutsTheFirstRowLast) {
  const auto bytes = encode_png(gradient_rgb_picture(5, 3));
  const DecodedImage top_down = decode_bytes(bytes, 0);
  const DecodedImage bottom_up = decode_bytes(bytes, DECODE_BOTTOM_UP);
  ASSERT_EQ(bottom_up.stride, 16u) << "rows are padded to 4 bytes";
  for (int y = 0; y < 3; ++y) {
    EXPECT_EQ(pixel(top_down, 0, y)[1], y);
    EXPECT_EQ(pixel(bottom_up, 0, 2 - y)[1], y);
    EXPECT_EQ(pixel(bottom_up, 4, 2 - y)[0], 4 ^ y);
  }
}

TEST(PngDecoderRows, InterlacedImageHasEveryRowInPlace) {
  PngPicture p = gradient_rgb_picture(13, 11);
  const DecodedImage plain = decode_bytes(encode_png(p), DECODE_BOTTOM_UP);
  p.interlaced = true;
  const DecodedImage interlaced = decode_bytes(encode_png(p), DECODE_BOTTOM_UP);
  EXPECT_TRUE(interlaced.complete);
  EXPECT_EQ(interlaced.pixels, plain.pixels);
  EXPECT_EQ(pixel(interlaced, 12, 0)[1], 10);
}

// A picture large enough that its pixel data spans several IDAT chunks, stored uncompressed so
// that a byte offset maps to a row.
PngPicture tall_picture() {
  PngPicture p = gradient_rgb_picture(200, 200);
  p.compression_level = 0;
  return p;
}

bool row_matches(const DecodedImage& image, int y) {
  for (int x = 0; x < image.width; ++x) {
    const uint8_t* px = pixel(image, x, y);
    if (px[2] != (x & 0xff) || px[1] != y || px[0] != ((x ^ y) & 0xff)) return false;
  }
  return true;
}

bool row_is_blank(const DecodedImage& image, int y) {
  for (size_t i = 0; i < image.stride; ++i)
    if (image.pixels[y * image.stride + i]) return false;
  return true;
}

TEST(PngDecoderDamage, TruncatedDataKeepsTheRowsDecoded) {
  auto bytes = encode_png(tall_picture());
  bytes.resize(bytes.size() / 2);
  const DecodedImage image = decode_bytes(bytes);
  EXPECT_FALSE(image.complete);
  EXPECT_EQ(image.height, 200);
  EXPECT_TRUE(row_matches(image, 0));
  EXPECT_TRUE(row_matches(image, 50));
  EXPECT_TRUE(row_is_blank(image, 199));
}

TEST(PngDecoderDamage, CorruptChunkEndsDecodingButKeepsEarlierRows) {
  auto bytes = encode_png(tall_picture());
  bytes[bytes.size() * 3 / 4] ^= 0xff;  // breaks that IDAT chunk's CRC
  const DecodedImage image = decode_bytes(bytes);
  EXPECT_FALSE(image.complete);
  EXPECT_TRUE(row_matches(image, 0));
  EXPECT_TRUE(row_matches(image, 100));
  EXPECT_TRUE(row_is_blank(image, 199));
}

}  // namespace
