// The self-extracting stub's stand-in for zstd: its slot has no room for the decoder, so the
// archiver writes self-extracting archives with deflate and a zstd member is refused here.
#include "codec.h"

std::unique_ptr<Decoder> zstd_decoder(std::string& problem) {
  problem = "cannot extract zstd members: this self-extracting program reads deflate only";
  return nullptr;
}
