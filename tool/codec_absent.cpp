// The self-extracting stub's stand-ins for zstd, LZMA2 and PPMd: its slot has no room for their
// decoders, so the archiver writes self-extracting archives with deflate and refuses the others here.
#include "codec.h"

std::unique_ptr<Decoder> zstd_decoder(std::string& problem) {
  problem = "cannot extract zstd members: this self-extracting program reads deflate only";
  return nullptr;
}

std::unique_ptr<Decoder> lzma2_decoder(std::string& problem) {
  problem = "cannot extract LZMA2 members: this self-extracting program reads deflate only";
  return nullptr;
}

std::unique_ptr<Decoder> ppmd_decoder(std::string& problem) {
  problem = "cannot extract PPMd members: this self-extracting program reads deflate only";
  return nullptr;
}
