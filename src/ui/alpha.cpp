#include "ui/alpha.h"

void premultiply_pixels(uint8_t* bgra, size_t pixel_count) {
  for (size_t i = 0; i < pixel_count; ++i, bgra += 4) {
    const unsigned a = bgra[3];
    if (a == 255) continue;
    bgra[0] = static_cast<uint8_t>((bgra[0] * a) >> 8);
    bgra[1] = static_cast<uint8_t>((bgra[1] * a) >> 8);
    bgra[2] = static_cast<uint8_t>((bgra[2] * a) >> 8);
  }
}

int greyed_level(int blue, int green, int red) {
  int grey = (blue + 6 * green + 3 * red) / 10;
  // C++ division truncates toward zero, so the dark side moves up and the light side down.
  if (grey < 64) grey = 64 + (grey - 64) * 7 / 10;
  else if (grey > 192) grey = 192 + (grey - 192) * 7 / 10;
  return grey;
}

void grey_pixels(uint8_t* bgra, size_t pixel_count) {
  for (size_t i = 0; i < pixel_count; ++i, bgra += 4) {
    const int a = bgra[3];
    // grey * (A / 255) truncated, computed exactly in integers: a float quotient could land
    // a hair under a whole number and lose one level.
    const auto level = static_cast<uint8_t>(greyed_level(bgra[0], bgra[1], bgra[2]) * a / 255);
    bgra[0] = bgra[1] = bgra[2] = level;
  }
}
