// Raw deflate through zlib: the decoder, then the level table and the encoder.
#include <zlib.h>

#include <algorithm>

#include "format/archive_format.h"
#include "codec.h"

namespace {

class DeflateDecoder : public Decoder {
 public:
  DeflateDecoder() { ready_ = inflateInit2(&z_, -15) == Z_OK; }
  ~DeflateDecoder() override {
    if (ready_) inflateEnd(&z_);
  }
  bool ready() const { return ready_; }
  bool start(const EntryHeader&, uint64_t, std::string&) override {
    inflateReset(&z_);
    ended_ = false;
    return true;
  }
  bool decode(const uint8_t*& in, size_t& in_size, bool input_done, uint8_t* out, size_t room,
              const uint8_t*& data, size_t& produced, std::string& problem) override {
    z_.next_in = const_cast<Bytef*>(in);
    z_.avail_in = static_cast<uInt>(in_size);
    z_.next_out = out;
    z_.avail_out = static_cast<uInt>(room);
    int rc = inflate(&z_, Z_NO_FLUSH);
    in += in_size - z_.avail_in;
    in_size = z_.avail_in;
    data = out;
    produced = room - z_.avail_out;
    if (rc == Z_STREAM_END) {
      ended_ = true;
    } else if (rc == Z_BUF_ERROR && in_size == 0 && input_done) {
      problem = "data is shorter than the recorded size";
      return false;
    } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
      problem = "compressed data is damaged";
      return false;
    }
    return true;
  }
  bool ended(size_t, bool) const override { return ended_; }

 private:
  z_stream z_{};
  bool ready_ = false;
  bool ended_ = false;
};

}  // namespace

std::unique_ptr<Decoder> deflate_decoder(std::string& problem) {
  auto decoder = std::make_unique<DeflateDecoder>();
  if (decoder->ready()) return decoder;
  problem = "out of memory for the decompressor";
  return nullptr;
}

// The self-extracting stub reads only: zlib's compressor stays out of its slot.
#ifndef VANTOR_READING_ONLY

namespace {

constexpr size_t DEFLATE_CHUNK = 256 << 10;

int zlib_flush(Flush flush) {
  return flush == Flush::NONE ? Z_NO_FLUSH : flush == Flush::PIECE ? Z_SYNC_FLUSH : Z_FINISH;
}

// A piece is primed with the window of data before it and ends on a sync flush (the last on the
// stream's end), so the pieces in order form one ordinary deflate stream.
class DeflateEncoder : public Encoder {
 public:
  explicit DeflateEncoder(const DeflateSettings& s) : settings_(s), out_(DEFLATE_CHUNK) {
    ready_ = deflateInit2(&z_, s.level, Z_DEFLATED, -s.window_bits, s.mem_level, Z_DEFAULT_STRATEGY) == Z_OK;
  }
  ~DeflateEncoder() override {
    if (ready_) deflateEnd(&z_);
  }
  bool ready() const override { return ready_; }
  bool begin(int64_t, std::string&) override {
    deflateReset(&z_);
    return true;
  }
  size_t history(int64_t offset) const override {
    return static_cast<size_t>(std::min<int64_t>(int64_t(1) << settings_.window_bits, std::max<int64_t>(offset, 0)));
  }
  bool begin_piece(int64_t, const uint8_t* history, size_t history_size, std::string& problem) override {
    deflateReset(&z_);
    if (history_size == 0 || deflateSetDictionary(&z_, history, static_cast<uInt>(history_size)) == Z_OK) return true;
    problem = "compression failed";
    return false;
  }

  bool feed(const uint8_t* data, size_t size, Flush flush, const EmitBytes& emit, std::string& problem) override {
    int mode = zlib_flush(flush);
    z_.next_in = const_cast<Bytef*>(data);
    z_.avail_in = static_cast<uInt>(size);
    for (;;) {
      z_.next_out = out_.data();
      z_.avail_out = static_cast<uInt>(out_.size());
      int rc = deflate(&z_, mode);
      if (rc == Z_STREAM_ERROR) {
        problem = "compression failed";
        return false;
      }
      size_t produced = out_.size() - z_.avail_out;
      if (produced && !emit(out_.data(), produced)) {
        problem = "cannot write a temporary file beside the archive";
        return false;
      }
      if (mode == Z_FINISH ? rc == Z_STREAM_END : (z_.avail_in == 0 && z_.avail_out != 0)) return true;
    }
  }

  bool compress_all(const uint8_t* data, size_t size, std::vector<uint8_t>& out, std::string& problem) override {
    deflateReset(&z_);
    out.resize(deflateBound(&z_, static_cast<uLong>(size)));
    z_.next_in = const_cast<Bytef*>(data);
    z_.avail_in = static_cast<uInt>(size);
    z_.next_out = out.data();
    z_.avail_out = static_cast<uInt>(out.size());
    if (deflate(&z_, Z_FINISH) != Z_STREAM_END) {
      problem = "compression failed";
      return false;
    }
    out.resize(out.size() - z_.avail_out);
    return true;
  }

 private:
  DeflateSettings settings_;
  z_stream z_{};
  bool ready_ = false;
  std::vector<uint8_t> out_;
};

class DeflateEncoding : public EncodingMethod {
 public:
  explicit DeflateEncoding(const DeflateSettings& s) : settings_(s) {}
  uint8_t method() const override { return METHOD_DEFLATE; }
  std::unique_ptr<Encoder> encoder() const override { return std::make_unique<DeflateEncoder>(settings_); }

 private:
  DeflateSettings settings_;
};

}  // namespace

DeflateSettings deflate_settings(int method, bool ultra, int window_position) {
  static const int normal[] = {0, 1, 4, 6};
  static const int strong[] = {0, 5, 8, 9};
  DeflateSettings s;
  method = std::clamp(method, 0, 3);
  s.level = ultra ? strong[method] : normal[method];
  s.window_bits = std::clamp(window_position + 8, 9, 15);
  s.mem_level = ultra ? 9 : 8;
  return s;
}

std::unique_ptr<EncodingMethod> deflate_encoding(const DeflateSettings& s) {
  return std::make_unique<DeflateEncoding>(s);
}

#endif
