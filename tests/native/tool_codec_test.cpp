// The codec interface: every method's encoder and decoder meet only through the factories, fed
// in steps of odd sizes, whole members and pieces of a large file alike.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "format/archive_format.h"
#include "codec.h"
#include "tool_test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t* bytes_of(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// Encodes data[from, to) in `step`-sized feeds; a piece after the first is primed with the
// history its encoder asks for.
void encode(Encoder& e, const std::string& data, size_t from, size_t to, bool piece, Flush end, Bytes& out) {
  std::string problem;
  EmitBytes emit = [&](const uint8_t* p, size_t n) {
    out.insert(out.end(), p, p + n);
    return true;
  };
  size_t history = piece ? e.history(static_cast<int64_t>(from)) : 0;
  ASSERT_TRUE(piece ? e.begin_piece(static_cast<int64_t>(to - from), bytes_of(data) + from - history, history, problem)
                    : e.begin(static_cast<int64_t>(to - from), problem)) << problem;
  for (size_t at = from, step = 777; at < to; at += step, step = step * 3 % 70001 + 1)
    ASSERT_TRUE(e.feed(bytes_of(data) + at, std::min(step, to - at), Flush::NONE, emit, problem)) << problem;
  ASSERT_TRUE(e.feed(nullptr, 0, end, emit, problem)) << problem;
}

// Decodes `in` handed over 1000 bytes at a time into a 4097-byte buffer.
std::string decode(uint8_t method, const Bytes& in) {
  std::string problem, out;
  std::unique_ptr<Decoder> d = make_decoder(method, problem);
  EXPECT_TRUE(d) << problem;
  if (!d) return out;
  std::string why;
  EXPECT_TRUE(d->start(EntryHeader(), 0, why)) << why;
  Bytes room(4097);
  const uint8_t* p = in.data();
  size_t left = 0, given = 0;
  bool done = false;
  for (;;) {
    if (left == 0 && !done) {
      p = in.data() + given;
      left = std::min<size_t>(1000, in.size() - given);
      given += left;
      done = left == 0;
    }
    if (d->ended(left, done)) return out;
    const uint8_t* data = nullptr;
    size_t got = 0;
    if (!d->decode(p, left, done, room.data(), room.size(), data, got, problem)) return out + "<" + problem + ">";
    out.append(reinterpret_cast<const char*>(data), got);
  }
}

TEST(Codecs, EveryMethodRoundTripsWholeAndInPieces) {
  const std::string data = sample_text(300000, 7) + std::string(5000, '\0') + sample_text(90001, 8);
  const ZstdSettings zstd = zstd_settings(1, false, 0, false);
  const DeflateSettings deflate = deflate_settings(2, false, 7);
  struct Case {
    const char* name;
    std::unique_ptr<EncodingMethod> method;
    uint8_t byte;
  } cases[] = {{"store", encoding_method(deflate_settings(0, false, 7), ZstdSettings()), METHOD_STORE},
               {"deflate", encoding_method(deflate, ZstdSettings()), METHOD_DEFLATE},
               {"zstd", encoding_method(deflate, zstd), METHOD_ZSTD}};
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(c.method->method(), c.byte);
    EXPECT_EQ(c.method->compresses(), c.byte != METHOD_STORE);
    std::unique_ptr<Encoder> e = c.method->encoder();
    ASSERT_TRUE(e->ready());
    Bytes whole, pieces, all;
    encode(*e, data, 0, data.size(), false, Flush::FINISH, whole);
    EXPECT_EQ(decode(c.byte, whole), data);
    // Pieces in order read back as one member; the encoder is reused after a whole member.
    encode(*e, data, 0, 123457, true, Flush::PIECE, pieces);
    encode(*e, data, 123457, 300011, true, Flush::PIECE, pieces);
    encode(*e, data, 300011, data.size(), true, Flush::FINISH, pieces);
    EXPECT_EQ(decode(c.byte, pieces), data);
    std::string problem;
    ASSERT_TRUE(e->compress_all(bytes_of(data), 50000, all, problem)) << problem;
    EXPECT_EQ(decode(c.byte, all), data.substr(0, 50000));
  }
}

TEST(Codecs, DecoderFactoryRefusesAnUnknownMethod) {
  std::string problem;
  EXPECT_FALSE(make_decoder(99, problem));
  EXPECT_EQ(problem, "unknown compression method 99");
}

}  // namespace
