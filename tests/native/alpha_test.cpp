#include "ui/alpha.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int> premultiplied(std::vector<uint8_t> bgra) {
  premultiply_pixels(bgra.data(), bgra.size() / 4);
  return {bgra.begin(), bgra.end()};
}

std::vector<int> greyed(std::vector<uint8_t> bgra) {
  grey_pixels(bgra.data(), bgra.size() / 4);
  return {bgra.begin(), bgra.end()};
}

TEST(PremultipliedCopy, ScalesColourByAlphaShiftedByEight) {
  EXPECT_EQ(premultiplied({200, 100, 50, 128}), (std::vector<int>{100, 50, 25, 128}));
  EXPECT_EQ(premultiplied({255, 255, 255, 254}), (std::vector<int>{253, 253, 253, 254}));
  EXPECT_EQ(premultiplied({90, 80, 70, 0}), (std::vector<int>{0, 0, 0, 0}));
}

TEST(PremultipliedCopy, OpaquePixelsKeepTheirColour) {
  // (255 * 255) >> 8 would give 254: opaque pixels are skipped, not scaled.
  EXPECT_EQ(premultiplied({255, 1, 77, 255, 3, 4, 5, 1}), (std::vector<int>{255, 1, 77, 255, 0, 0, 0, 1}));
}

TEST(GreyedCopy, GreyLevelIsWeightedAndPulledIntoTheBand) {
  EXPECT_EQ(greyed_level(100, 100, 100), 100);
  EXPECT_EQ(greyed_level(64, 64, 64), 64);
  EXPECT_EQ(greyed_level(192, 192, 192), 192);
  EXPECT_EQ(greyed_level(10, 20, 30), 35);   // (10 + 120 + 90) / 10 = 22; 64 - 294 / 10
  EXPECT_EQ(greyed_level(0, 0, 0), 20);      // 64 - 448 / 10 truncates toward zero
  EXPECT_EQ(greyed_level(63, 63, 63), 64);   // -7 / 10 is 0, not -1
  EXPECT_EQ(greyed_level(255, 255, 255), 236);
  EXPECT_EQ(greyed_level(193, 193, 193), 192);
  EXPECT_EQ(greyed_level(0, 0, 255), 76);    // red weighs 3
  EXPECT_EQ(greyed_level(0, 255, 0), 153);   // green weighs 6
  EXPECT_EQ(greyed_level(255, 0, 0), 37);    // blue weighs 1: 25 pulled up to 64 - 273 / 10
}

TEST(GreyedCopy, ScalesGreyByAlphaAndKeepsAlpha) {
  EXPECT_EQ(greyed({10, 20, 30, 255}), (std::vector<int>{35, 35, 35, 255}));
  EXPECT_EQ(greyed({10, 20, 30, 128}), (std::vector<int>{17, 17, 17, 128}));  // 35 * 128 / 255 = 17.6
  EXPECT_EQ(greyed({100, 100, 100, 51}), (std::vector<int>{20, 20, 20, 51}));  // exactly 20, not 19
  EXPECT_EQ(greyed({255, 255, 255, 0}), (std::vector<int>{0, 0, 0, 0}));
}

}  // namespace
