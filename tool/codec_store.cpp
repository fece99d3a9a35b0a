// Store: members as they are.
#include <algorithm>

#include "format/archive_format.h"
#include "codec.h"

namespace {

class StoreEncoder : public Encoder {
 public:
  bool ready() const override { return true; }
  bool begin(int64_t, std::string&) override { return true; }
  bool begin_piece(int64_t, const uint8_t*, size_t, std::string&) override { return true; }
  bool feed(const uint8_t* data, size_t size, Flush, const EmitBytes& emit, std::string& problem) override {
    if (size == 0 || emit(data, size)) return true;
    problem = "cannot write a temporary file beside the archive";
    return false;
  }
  bool compress_all(const uint8_t* data, size_t size, std::vector<uint8_t>& out, std::string&) override {
    out.assign(data, data + size);
    return true;
  }
};

class StoreEncoding : public EncodingMethod {
 public:
  uint8_t method() const override { return METHOD_STORE; }
  bool compresses() const override { return false; }
  std::unique_ptr<Encoder> encoder() const override { return std::make_unique<StoreEncoder>(); }
};

// The input is the output: handed back where it lies, never copied.
class StoreDecoder : public Decoder {
 public:
  bool start(const EntryHeader&, uint64_t, std::string&) override { return true; }
  bool decode(const uint8_t*& in, size_t& in_size, bool, uint8_t*, size_t room, const uint8_t*& data,
              size_t& produced, std::string&) override {
    produced = std::min(in_size, room);
    data = in;
    in += produced;
    in_size -= produced;
    return true;
  }
  bool ended(size_t in_size, bool input_done) const override { return in_size == 0 && input_done; }
};

}  // namespace

std::unique_ptr<EncodingMethod> store_encoding() { return std::make_unique<StoreEncoding>(); }

std::unique_ptr<Decoder> store_decoder() { return std::make_unique<StoreDecoder>(); }
