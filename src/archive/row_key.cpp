#include "archive/row_key.h"

#include <zlib.h>

#include <cstring>

namespace {

uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

void sha1_block(uint32_t h[5], const unsigned char* p) {
  uint32_t w[80];
  for (int i = 0; i < 16; ++i)
    w[i] = (uint32_t(p[4 * i]) << 24) | (uint32_t(p[4 * i + 1]) << 16) | (uint32_t(p[4 * i + 2]) << 8) | p[4 * i + 3];
  for (int i = 16; i < 80; ++i) w[i] = rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
  for (int i = 0; i < 80; ++i) {
    uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6;
    }
    uint32_t t = rotl(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = rotl(b, 30);
    b = a;
    a = t;
  }
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  h[4] += e;
}

}  // namespace

std::string sha1_hex(const std::string& bytes) {
  uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  size_t n = bytes.size();
  size_t whole = n / 64 * 64;
  for (size_t i = 0; i < whole; i += 64) sha1_block(h, reinterpret_cast<const unsigned char*>(bytes.data()) + i);
  unsigned char tail[128] = {};
  size_t rest = n - whole;
  std::memcpy(tail, bytes.data() + whole, rest);
  tail[rest] = 0x80;
  size_t tail_len = rest + 9 <= 64 ? 64 : 128;
  uint64_t bits = static_cast<uint64_t>(n) * 8;
  for (int i = 0; i < 8; ++i) tail[tail_len - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
  for (size_t i = 0; i < tail_len; i += 64) sha1_block(h, tail + i);
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(40);
  for (uint32_t word : h)
    for (int shift = 28; shift >= 0; shift -= 4) hex.push_back(digits[(word >> shift) & 0xF]);
  return hex;
}

int32_t row_key(const std::string& path) {
  std::string with_zero = path;
  with_zero.push_back('\0');
  std::string digest = sha1_hex(with_zero);
  digest.push_back('\0');
  uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(digest.data()), static_cast<uInt>(digest.size()));
  return static_cast<int32_t>(crc & 0x7FFFFF);
}
