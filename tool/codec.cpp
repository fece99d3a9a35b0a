// The codec factories: a new method is an implementation file and a line in each.
#include <algorithm>

#include "format/archive_format.h"
#include "codec.h"

std::unique_ptr<Decoder> make_decoder(uint8_t method, std::string& problem) {
  switch (method) {
    case METHOD_STORE: return store_decoder();
    case METHOD_DEFLATE: return deflate_decoder(problem);
    case METHOD_ZSTD: return zstd_decoder(problem);
    case METHOD_LZMA2: return lzma2_decoder(problem);
    case METHOD_PPMD: return ppmd_decoder(problem);
    default: break;
  }
  problem = "unknown compression method " + std::to_string(method);
  return nullptr;
}

uint64_t decoding_memory(const EntryHeader& first, uint64_t stream_size) {
  switch (first.method) {
    case METHOD_DEFLATE: return 64 << 10;
    case METHOD_ZSTD: return std::min<uint64_t>(stream_size, uint64_t(1) << ZSTD_WINDOW_LOG_MAX) + (512 << 10);
    case METHOD_LZMA2:
      return std::min<uint64_t>({first.dictionary, stream_size, uint64_t(LZMA_DICTIONARY_MAX)}) + (64 << 10);
    case METHOD_PPMD: return std::min<uint64_t>(first.ppmd_memory, PPMD_MEMORY_MAX) + (64 << 10);
    default: return 0;
  }
}

// The self-extracting stub reads only.
#ifndef VANTOR_READING_ONLY
std::unique_ptr<EncodingMethod> encoding_method(const DeflateSettings& deflate, const ZstdSettings& zstd,
                                                const LzmaSettings& lzma) {
  if (lzma.preset >= 0) return lzma2_encoding(lzma);
  if (zstd.level > 0) return zstd_encoding(zstd);
  if (deflate.level > 0) return deflate_encoding(deflate);
  return store_encoding();
}
#endif
