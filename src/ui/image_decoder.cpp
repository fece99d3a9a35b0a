#include "ui/image_decoder.h"

#include <cstring>

#include "ui/png_decoder.h"

namespace {

std::vector<const ImageDecoder*>& decoder_list() {
  static std::vector<const ImageDecoder*> list{&png_decoder()};
  return list;
}

void rewind_source(DecodeContext& context) {
  if (context.file) std::rewind(context.file);
  context.memory_offset = 0;
}

bool find_decoder(DecodeContext& context) {
  for (const ImageDecoder* decoder : decoder_list()) {
    rewind_source(context);
    if (decoder->check(context)) {
      context.decoder = decoder;
      return true;
    }
  }
  return false;
}

}  // namespace

void register_image_decoder(const ImageDecoder* decoder) {
  auto& list = decoder_list();
  for (const ImageDecoder* known : list)
    if (known == decoder) return;
  list.push_back(decoder);
}

size_t decode_read(DecodeContext& context, void* buffer, size_t size) {
  if (context.file) return std::fread(buffer, 1, size, context.file);
  if (!context.memory) return 0;
  const size_t left = context.memory_size - context.memory_offset;
  if (size > left) size = left;
  std::memcpy(buffer, context.memory + context.memory_offset, size);
  context.memory_offset += size;
  return size;
}

bool decode_open_file(DecodeContext& context, const std::string& file_name) {
  context = DecodeContext{};
  context.file_name = file_name;
  context.file = std::fopen(file_name.c_str(), "rb");
  if (!context.file) return false;
  if (find_decoder(context)) return true;
  std::fclose(context.file);
  context.file = nullptr;
  return false;
}

bool decode_open_memory(DecodeContext& context, const void* data, size_t size) {
  context = DecodeContext{};
  context.memory = static_cast<const uint8_t*>(data);
  context.memory_size = size;
  return data && find_decoder(context);
}

void decode_close(DecodeContext& context) {
  if (context.decoder) context.decoder->finish(context);
  context.decoder = nullptr;
  if (context.file) std::fclose(context.file);
  context.file = nullptr;
}

size_t decode_stride(int width, int depth) {
  return ((static_cast<size_t>(width) * depth + 31) / 32) * 4;
}

bool decode_image_file(const std::string& file_name, DecodedImage& image, int flags) {
  image = DecodedImage{};
  DecodeContext context;
  if (!decode_open_file(context, file_name)) return false;
  image.width = context.width;
  image.height = context.height;
  image.depth = context.depth;
  image.source_depth = context.source_depth;
  image.stride = decode_stride(context.width, context.depth);
  image.pixels.assign(image.stride * context.height, 0);
  image.complete = context.decoder->decode(context, image.pixels.data(), image.stride, flags);
  decode_close(context);
  return true;
}
