#include "archive/row_key.h"

#include <zlib.h>

#include <cstring>

namespace {

uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// One round group: 20 rounds of one function and constant, the schedule kept in 16 words.
// Unrolled, the schedule's indices and the test for the first 16 rounds fold away (the opening
// hashes every member's path).
#define SHA1_ROUNDS(first, f, k)                                                \
  _Pragma("GCC unroll 20")                                                     \
  for (int i = first; i < first + 20; ++i) {                                   \
    if (i >= 16) w[i & 15] = rotl(w[(i - 3) & 15] ^ w[(i - 8) & 15] ^ w[(i - 14) & 15] ^ w[i & 15], 1); \
    uint32_t t = rotl(a, 5) + (f) + e + (k) + w[i & 15];                       \
    e = d;                                                                     \
    d = c;                                                                     \
    c = rotl(b, 30);                                                           \
    b = a;                                                                     \
    a = t;                                                                     \
  }

void sha1_block(uint32_t h[5], const unsigned char* p) {
  uint32_t w[16];
  for (int i = 0; i < 16; ++i)
    w[i] = (uint32_t(p[4 * i]) << 24) | (uint32_t(p[4 * i + 1]) << 16) | (uint32_t(p[4 * i + 2]) << 8) | p[4 * i + 3];
  uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
  SHA1_ROUNDS(0, (b & c) | (~b & d), 0x5A827999u)
  SHA1_ROUNDS(20, b ^ c ^ d, 0x6ED9EBA1u)
  SHA1_ROUNDS(40, (b & c) | (b & d) | (c & d), 0x8F1BBCDCu)
  SHA1_ROUNDS(60, b ^ c ^ d, 0xCA62C1D6u)
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  h[4] += e;
}

#undef SHA1_ROUNDS

// SHA-1 of the bytes, with one zero byte after them when `zero_after`, straight from the string.
void sha1_words(const std::string& bytes, bool zero_after, uint32_t h[5]) {
  h[0] = 0x67452301;
  h[1] = 0xEFCDAB89;
  h[2] = 0x98BADCFE;
  h[3] = 0x10325476;
  h[4] = 0xC3D2E1F0;
  size_t n = bytes.size();
  size_t whole = n / 64 * 64;
  for (size_t i = 0; i < whole; i += 64) sha1_block(h, reinterpret_cast<const unsigned char*>(bytes.data()) + i);
  unsigned char tail[128] = {};
  size_t rest = n - whole;
  std::memcpy(tail, bytes.data() + whole, rest);
  if (zero_after) tail[rest++] = 0;
  tail[rest] = 0x80;
  size_t tail_len = rest + 9 <= 64 ? 64 : 128;
  uint64_t bits = static_cast<uint64_t>(n + (zero_after ? 1 : 0)) * 8;
  for (int i = 0; i < 8; ++i) tail[tail_len - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
  for (size_t i = 0; i < tail_len; i += 64) sha1_block(h, tail + i);
}

// The 40 lower-case digits of the words, and a zero byte after them.
void hex_digits(const uint32_t h[5], char out[41]) {
  static const char digits[] = "0123456789abcdef";
  for (int w = 0; w < 5; ++w)
    for (int d = 0; d < 8; ++d) out[w * 8 + d] = digits[(h[w] >> (28 - 4 * d)) & 0xF];
  out[40] = 0;
}

}  // namespace

std::string sha1_hex(const std::string& bytes) {
  uint32_t h[5];
  sha1_words(bytes, false, h);
  char hex[41];
  hex_digits(h, hex);
  return std::string(hex, 40);
}

// Every member of an opened archive gets one: no copies of the path or the digest.
int32_t row_key(const std::string& path) {
  uint32_t h[5];
  sha1_words(path, true, h);
  char digest[41];
  hex_digits(h, digest);
  uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(digest), 41);
  return static_cast<int32_t>(crc & 0x7FFFFF);
}
