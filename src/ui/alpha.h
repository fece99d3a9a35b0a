// Per-pixel arithmetic of the drawing copies that image buttons blend onto their face.
// Pixels are 32-bit, bytes in memory order B, G, R, A.
#pragma once
#include <cstddef>
#include <cstdint>

// The normal copy: every pixel that is not opaque gets its colour scaled by its alpha,
// (value * A) >> 8, as the blend function expects premultiplied colour.
void premultiply_pixels(uint8_t* bgra, size_t pixel_count);

// The disabled copy: a weighted grey pulled toward the band 64..192, then scaled by alpha.
void grey_pixels(uint8_t* bgra, size_t pixel_count);

// The grey level of one pixel before alpha scaling (exposed for the tests).
int greyed_level(int blue, int green, int red);
