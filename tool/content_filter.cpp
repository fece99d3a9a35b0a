// Which filter a file's data calls for, judged by its first bytes, never by its name: machine code
// gains from branch targets made absolute, sampled sound and pixels from differences; data that
// is compressed already gains nothing from a slow coder.
#include <cstring>

#include "codec.h"

namespace {

uint32_t le(const uint8_t* p, int width) {
  uint32_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

uint8_t filter_for_machine(uint32_t machine) {
  if (machine == 0x14c || machine == 0x8664) return FILTER_X86;  // COFF i386, AMD64
  if (machine == 0xaa64) return FILTER_ARM64;
  return FILTER_NONE;
}

uint8_t filter_for_elf(const uint8_t* head, size_t size) {
  if (size < 20 || head[5] != 1) return FILTER_NONE;  // little-endian only
  uint32_t machine = le(head + 18, 2);
  if (machine == 3 || machine == 62) return FILTER_X86;  // i386, x86-64
  if (machine == 183) return FILTER_ARM64;
  return FILTER_NONE;
}

uint8_t filter_for_pe(const uint8_t* head, size_t size) {
  if (size < 0x40) return FILTER_NONE;
  uint32_t pe = le(head + 0x3c, 4);
  if (pe > size - 6 || std::memcmp(head + pe, "PE\0\0", 4) != 0) return FILTER_NONE;
  return filter_for_machine(le(head + pe + 4, 2));
}

// An ar archive of object files (static and import libraries): the first member that is not a
// symbol or name table decides.
uint8_t filter_for_ar(const uint8_t* head, size_t size) {
  constexpr size_t MEMBER_HEADER = 60;
  for (size_t at = 8; at + MEMBER_HEADER + 20 <= size;) {
    const uint8_t* member = head + at;
    uint64_t length = 0;
    for (int i = 48; i < 58 && member[i] >= '0' && member[i] <= '9'; ++i) length = length * 10 + (member[i] - '0');
    const uint8_t* data = member + MEMBER_HEADER;
    if (member[0] != '/') {
      if (std::memcmp(data, "\x7f" "ELF", 4) == 0) return filter_for_elf(data, size - at - MEMBER_HEADER);
      return filter_for_machine(le(data, 2));
    }
    at += MEMBER_HEADER + length + (length & 1);
  }
  return FILTER_NONE;
}

uint8_t filter_for_wave(const uint8_t* head, size_t size, int& distance) {
  for (size_t at = 12; at + 24 <= size;) {
    uint32_t length = le(head + at + 4, 4);
    if (std::memcmp(head + at, "fmt ", 4) == 0) {
      uint32_t format = le(head + at + 8, 2), align = le(head + at + 20, 2), bits = le(head + at + 22, 2);
      bool pcm = format == 1 || format == 0xfffe;
      if (!pcm || bits % 8 != 0 || align == 0 || align > FILTER_DELTA_MAX) return FILTER_NONE;
      distance = static_cast<int>(align);
      return FILTER_DELTA;
    }
    if (length > size) return FILTER_NONE;
    at += 8 + length + (length & 1);
  }
  return FILTER_NONE;
}

uint8_t filter_for_bitmap(const uint8_t* head, size_t size, int& distance) {
  if (size < 34) return FILTER_NONE;
  uint32_t bits = le(head + 28, 2), compression = le(head + 30, 4);
  if ((bits != 24 && bits != 32) || (compression != 0 && compression != 3)) return FILTER_NONE;
  distance = static_cast<int>(bits / 8);
  return FILTER_DELTA;
}

}  // namespace

uint8_t filter_for_content(const uint8_t* head, size_t size, int& distance) {
  distance = 0;
  auto starts = [&](const char* magic, size_t n) { return size >= n && std::memcmp(head, magic, n) == 0; };
  if (starts("\x7f" "ELF", 4)) return filter_for_elf(head, size);
  if (starts("MZ", 2)) return filter_for_pe(head, size);
  if (starts("!<arch>\n", 8)) return filter_for_ar(head, size);
  if (starts("RIFF", 4) && size >= 12 && std::memcmp(head + 8, "WAVE", 4) == 0)
    return filter_for_wave(head, size, distance);
  if (starts("BM", 2)) return filter_for_bitmap(head, size, distance);
  return FILTER_NONE;
}

bool looks_packed(const uint8_t* head, size_t size) {
  auto at = [&](size_t offset, const char* magic, size_t n) {
    return size >= offset + n && std::memcmp(head + offset, magic, n) == 0;
  };
  return (at(0, "BZh", 3) && at(4, "1AY&SY", 6)) ||   // bzip2
         at(0, "\xfd" "7zXZ\0", 6) ||                        // xz
         at(0, "\x28\xb5\x2f\xfd", 4) ||                     // zstd
         at(0, "7z\xbc\xaf\x27\x1c", 6) ||                     // 7-Zip
         at(0, "Rar!\x1a\x07", 6) ||                          // RAR
         at(0, "!<arch>\ndebian-binary", 21) ||               // Debian package
         at(0, "\xff\xd8\xff", 3) ||                           // JPEG
         (at(0, "RIFF", 4) && at(8, "WEBP", 4)) ||           // WebP
         at(0, "OggS", 4) || at(0, "fLaC", 4) || at(0, "ID3", 3) ||  // Ogg, FLAC, MP3
         at(4, "ftyp", 4);                                   // MP4, QuickTime, HEIF
}

bool looks_text(const uint8_t* head, size_t size) {
  if (size == 0) return false;
  size_t controls = 0;
  for (size_t i = 0; i < size; ++i) {
    uint8_t c = head[i];
    if (c == 0) return false;
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v' && c != 0x1b) ++controls;
  }
  return controls * 64 <= size;
}
