// The fuzz targets' invariants over their seed corpora (crash inputs included, once found) and
// deterministic mutations of them, so every native run replays what fuzzing learnt.
#include <dirent.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "../fuzz/archive_reader_target.h"
#include "../fuzz/entry_reader_target.h"
#include "../fuzz/foreign_reader_target.h"
#include "../fuzz/list_file_target.h"
#include "../fuzz/options_target.h"
#include "../fuzz/png_target.h"
#include "../fuzz/sealed_reader_target.h"
#include "../fuzz/lzma2_stream_target.h"
#include "../fuzz/ppmd_stream_target.h"
#include "../fuzz/zstd_frames_target.h"

namespace {

using Bytes = std::vector<uint8_t>;
using FuzzOne = bool (*)(const uint8_t*, size_t);

std::vector<Bytes> corpus(const std::string& target) {
  std::string dir = std::string(VANTOR_SOURCE_DIR) + "/tests/fuzz/corpus/" + target + "/";
  std::vector<Bytes> seeds;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* f = readdir(d)) {
      if (f->d_name[0] == '.') continue;
      std::ifstream in(dir + f->d_name, std::ios::binary);
      seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    closedir(d);
  }
  return seeds;
}

void replay(const std::string& target, FuzzOne one, int mutations) {
  std::vector<Bytes> seeds = corpus(target);
  ASSERT_GE(seeds.size(), 3u) << target;
  uint32_t x = 2463534242u;
  auto next = [&] { x ^= x << 13; x ^= x >> 17; x ^= x << 5; return x; };
  for (size_t s = 0; s < seeds.size(); ++s) {
    ASSERT_TRUE(one(seeds[s].data(), seeds[s].size())) << target << " seed " << s;
    for (int i = 0; i < mutations; ++i) {
      Bytes m = seeds[s];
      for (int k = 0, edits = 1 + static_cast<int>(next() % 4); k < edits && !m.empty(); ++k) {
        uint32_t r = next();
        switch (r % 3) {
          case 0: m[next() % m.size()] = static_cast<uint8_t>(next()); break;
          case 1: m.resize(next() % (m.size() + 1)); break;
          default: m.insert(m.begin() + static_cast<long>(next() % m.size()), static_cast<uint8_t>(r >> 8));
        }
      }
      // A copy of exactly its size: a read past the input then leaves the allocation, where the
      // address sanitizer sees it (a shrunk vector keeps its old capacity).
      const Bytes exact(m);
      ASSERT_TRUE(one(exact.data(), exact.size())) << target << " seed " << s << " mutation " << i << ": "
                                                   << std::string(m.begin(), m.end());
    }
  }
}

TEST(FuzzReplay, ArchiveReader) { replay("archive_reader", archive_reader_fuzz_one, 120); }
TEST(FuzzReplay, EntryReaderPoliciesAgree) { replay("entry_reader", entry_reader_fuzz_one, 300); }
TEST(FuzzReplay, SealedReader) { replay("sealed_reader", sealed_reader_fuzz_one, 150); }
TEST(FuzzReplay, ListFile) { replay("list_file", list_file_fuzz_one, 300); }
TEST(FuzzReplay, CommandLine) { replay("options", options_fuzz_one, 300); }
TEST(FuzzReplay, PngLoader) {
  replay("png", png_fuzz_one, 100);
  // The seeds are the program's own icons: each decodes whole, and a cut copy is reported short.
  for (const Bytes& seed : corpus("png")) {
    EXPECT_EQ(png_fuzz_outcome(seed.data(), seed.size()), PngOutcome::DECODED);
    const Bytes cut(seed.begin(), seed.begin() + static_cast<long>(seed.size() * 3 / 4));
    EXPECT_EQ(png_fuzz_outcome(cut.data(), cut.size()), PngOutcome::CUT_SHORT);
  }
}
TEST(FuzzReplay, ForeignReader) { replay("foreign_reader", foreign_reader_fuzz_one, 120); }
TEST(FuzzReplay, ZstdFrames) { replay("zstd_frames", zstd_frames_fuzz_one, 300); }
TEST(FuzzReplay, Lzma2Stream) { replay("lzma2_stream", lzma2_stream_fuzz_one, 300); }
// The stream decodes up to 64 KB an input: fewer mutations keep the replay as quick as the others.
TEST(FuzzReplay, PpmdStream) { replay("ppmd_stream", ppmd_stream_fuzz_one, 60); }

}  // namespace
