// The self-extracting stub's stand-in for zstd: its slot has no room for the decoder, so the
// archiver writes self-extracting archives with deflate and a zstd member is refused here.
#include "codec.h"

bool zstd_available() { return false; }

ZstdDecoder::ZstdDecoder() {}
ZstdDecoder::~ZstdDecoder() {}
void ZstdDecoder::reset() {}
bool ZstdDecoder::decode(const uint8_t*&, size_t&, uint8_t*, size_t, size_t& produced, std::string& problem) {
  produced = 0;
  problem = "this program cannot read zstd data";
  return false;
}
