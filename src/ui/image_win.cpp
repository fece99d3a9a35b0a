#include "ui/image.h"

#include <shlwapi.h>

#include <cstring>
#include <vector>

#include "ui/alpha.h"
#include "ui/image_decoder.h"

namespace {

struct ImageRecord {
  HANDLE handle = nullptr;
  bool icon = false;
  uint16_t width = 0;
  uint16_t height = 0;
  uint8_t depth = 0;
  uint8_t source_depth = 0;
};

std::vector<ImageRecord>& image_table() {
  static std::vector<ImageRecord> table(16);
  return table;
}

ImageRecord* record_of(int number) {
  auto& table = image_table();
  if (number < 0 || number >= static_cast<int>(table.size()) || !table[number].handle) return nullptr;
  return &table[number];
}

BITMAPINFO section_info(int width, int height, int depth) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // positive: bottom-up
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = static_cast<WORD>(depth);
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

HBITMAP new_section(int width, int height, int depth, void** bits) {
  BITMAPINFO info = section_info(width, height, depth);
  HBITMAP section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, bits, nullptr, 0);
  if (!section) return nullptr;
  std::memset(*bits, 0, decode_stride(width, depth) * height);
  return section;
}

// Copies any bitmap's pixels into a buffer laid out as a bottom-up section of `depth` bits.
bool read_pixels(HBITMAP bitmap, int width, int height, int depth, void* bits) {
  BITMAPINFO info = section_info(width, height, depth);
  HDC screen = GetDC(nullptr);
  const int rows = GetDIBits(screen, bitmap, 0, height, bits, &info, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  return rows == height;
}

bool fits_record(int width, int height) { return width > 0 && height > 0 && width <= 0xFFFF && height <= 0xFFFF; }

// Bitmaps of 16 bits or fewer, and 32-bit ones, are kept as 24-bit sections.
bool load_bitmap(const std::string& file_name, ImageRecord& r) {
  auto bitmap = static_cast<HBITMAP>(
      LoadImageA(nullptr, file_name.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
  if (!bitmap) return false;
  DIBSECTION ds{};
  GetObjectA(bitmap, sizeof ds, &ds);
  const int width = ds.dsBm.bmWidth, height = ds.dsBm.bmHeight, depth = ds.dsBm.bmBitsPixel;
  if (!fits_record(width, height)) {
    DeleteObject(bitmap);
    return false;
  }
  r.source_depth = static_cast<uint8_t>(depth);
  r.depth = static_cast<uint8_t>(depth);
  if (depth <= 16 || depth == 32) {
    void* bits = nullptr;
    HBITMAP converted = new_section(width, height, 24, &bits);
    if (converted && !read_pixels(bitmap, width, height, 24, bits)) {
      DeleteObject(converted);
      converted = nullptr;
    }
    DeleteObject(bitmap);
    if (!converted) return false;
    bitmap = converted;
    r.depth = 24;
  }
  r.handle = bitmap;
  r.width = static_cast<uint16_t>(width);
  r.height = static_cast<uint16_t>(height);
  return true;
}

bool load_icon(const std::string& file_name, ImageRecord& r) {
  auto icon = static_cast<HICON>(LoadImageA(nullptr, file_name.c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE));
  if (!icon) return false;
  ICONINFO ii{};
  BITMAP bm{};
  if (GetIconInfo(icon, &ii)) {
    GetObjectA(ii.hbmColor ? ii.hbmColor : ii.hbmMask, sizeof bm, &bm);
    if (!ii.hbmColor) bm.bmHeight /= 2;  // a monochrome icon stacks its AND and XOR masks
    if (ii.hbmColor) DeleteObject(ii.hbmColor);
    if (ii.hbmMask) DeleteObject(ii.hbmMask);
  }
  if (!fits_record(bm.bmWidth, bm.bmHeight)) {
    DestroyIcon(icon);
    return false;
  }
  r.handle = icon;
  r.icon = true;
  r.width = static_cast<uint16_t>(bm.bmWidth);
  r.height = static_cast<uint16_t>(bm.bmHeight);
  r.depth = r.source_depth = static_cast<uint8_t>(bm.bmBitsPixel);
  return true;
}

bool load_decoded(const std::string& file_name, ImageRecord& r) {
  DecodeContext context;
  if (!decode_open_file(context, file_name)) return false;
  void* bits = nullptr;
  HBITMAP section = new_section(context.width, context.height, context.depth, &bits);
  if (section) {
    GdiFlush();
    context.decoder->decode(context, static_cast<uint8_t*>(bits), decode_stride(context.width, context.depth),
                            DECODE_BOTTOM_UP);
    r.handle = section;
    r.width = static_cast<uint16_t>(context.width);
    r.height = static_cast<uint16_t>(context.height);
    r.depth = static_cast<uint8_t>(context.depth);
    r.source_depth = static_cast<uint8_t>(context.source_depth);
  }
  decode_close(context);
  return section != nullptr;
}

void release(ImageRecord& r) {
  if (r.handle) {
    if (r.icon) DestroyIcon(static_cast<HICON>(r.handle));
    else DeleteObject(r.handle);
  }
  r = ImageRecord{};
}

using AlphaBlendFunction = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int, int, int, BLENDFUNCTION);
using IsAppThemedFunction = BOOL(WINAPI*)();

struct AlphaSupport {
  bool settled = false;
  bool system_on = false;
  bool xp_or_later = false;
  bool themed = false;
  int override_mode = -1;
  AlphaBlendFunction blend = nullptr;
};

AlphaSupport& alpha_support() {
  static AlphaSupport support;
  return support;
}

template <typename F>
F library_function(const char* library, const char* name) {
  HMODULE module = LoadLibraryA(library);
  return module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

bool system_xp_or_later() {
  // GetVersionEx reports the version the program is manifested for, which is all this test needs.
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT) return false;
  return version.dwMajorVersion > 5 || (version.dwMajorVersion == 5 && version.dwMinorVersion >= 1);
}

bool common_controls_6() {
  auto get_version = library_function<DLLGETVERSIONPROC>("COMCTL32.DLL", "DllGetVersion");
  DLLVERSIONINFO info{};
  info.cbSize = sizeof info;
  return get_version && SUCCEEDED(get_version(&info)) && info.dwMajorVersion >= 6;
}

void settle_alpha_support() {
  AlphaSupport& s = alpha_support();
  if (s.settled) return;
  s.settled = true;
  s.blend = library_function<AlphaBlendFunction>("msimg32.dll", "AlphaBlend");
  auto is_app_themed = library_function<IsAppThemedFunction>("uxtheme.dll", "IsAppThemed");
  s.xp_or_later = system_xp_or_later();
  s.themed = s.xp_or_later && is_app_themed && is_app_themed() && common_controls_6();
  s.system_on = s.blend && s.themed;
}

}  // namespace

HANDLE load_image(int number, const std::string& file_name) {
  if (number < 0) return nullptr;
  free_image(number);
  ImageRecord r;
  if (!load_bitmap(file_name, r) && !load_icon(file_name, r) && !load_decoded(file_name, r)) return nullptr;
  auto& table = image_table();
  if (number >= static_cast<int>(table.size())) table.resize(number + 1);
  table[number] = r;
  return r.handle;
}

HANDLE image_handle(int number) {
  const ImageRecord* r = record_of(number);
  return r ? r->handle : nullptr;
}

void free_image(int number) {
  if (ImageRecord* r = record_of(number)) release(*r);
}

void free_images() {
  for (ImageRecord& r : image_table()) release(r);
}

int image_width(int number) { return record_of(number) ? record_of(number)->width : 0; }
int image_height(int number) { return record_of(number) ? record_of(number)->height : 0; }
int image_depth(int number) { return record_of(number) ? record_of(number)->depth : 0; }
int image_source_depth(int number) { return record_of(number) ? record_of(number)->source_depth : 0; }

bool alpha_drawing_available() {
  settle_alpha_support();
  const AlphaSupport& s = alpha_support();
  if (!s.blend) return false;
  return s.override_mode < 0 ? s.system_on : s.override_mode != 0;
}

void set_alpha_drawing_override(int mode) {
  settle_alpha_support();
  alpha_support().override_mode = mode;
}

bool visual_styles_active() {
  settle_alpha_support();
  return alpha_support().themed;
}

bool windows_xp_or_later() {
  settle_alpha_support();
  return alpha_support().xp_or_later;
}

bool image_is_icon(HANDLE image) {
  ICONINFO ii{};
  if (!image || GetObjectType(image) != 0 || !GetIconInfo(static_cast<HICON>(image), &ii)) return false;
  if (ii.hbmColor) DeleteObject(ii.hbmColor);
  if (ii.hbmMask) DeleteObject(ii.hbmMask);
  return true;
}

bool image_size(HANDLE image, int* width, int* height) {
  BITMAP bm{};
  if (image && GetObjectType(image) == OBJ_BITMAP) {
    GetObjectA(image, sizeof bm, &bm);
  } else {
    ICONINFO ii{};
    if (!image || !GetIconInfo(static_cast<HICON>(image), &ii)) return false;
    GetObjectA(ii.hbmColor ? ii.hbmColor : ii.hbmMask, sizeof bm, &bm);
    if (!ii.hbmColor) bm.bmHeight /= 2;
    if (ii.hbmColor) DeleteObject(ii.hbmColor);
    if (ii.hbmMask) DeleteObject(ii.hbmMask);
  }
  *width = bm.bmWidth;
  *height = bm.bmHeight;
  return true;
}

bool image_has_alpha(HANDLE image) {
  if (!alpha_drawing_available() || !image || GetObjectType(image) != OBJ_BITMAP) return false;
  DIBSECTION ds{};
  if (GetObjectA(image, sizeof ds, &ds) == sizeof ds) return ds.dsBm.bmBitsPixel == 32;
  if (ds.dsBm.bmBitsPixel != 32) return false;
  // A device-dependent 32-bit bitmap has alpha when any pixel uses its top byte.
  const int width = ds.dsBm.bmWidth, height = ds.dsBm.bmHeight;
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
  if (!read_pixels(static_cast<HBITMAP>(image), width, height, 32, pixels.data())) return false;
  for (uint32_t p : pixels)
    if (p >> 24) return true;
  return false;
}

HBITMAP image_alpha_copy(HANDLE image, int greyed) {
  if (!alpha_drawing_available() || !image || GetObjectType(image) != OBJ_BITMAP) return nullptr;
  BITMAP bm{};
  GetObjectA(image, sizeof bm, &bm);
  void* bits = nullptr;
  HBITMAP copy = new_section(bm.bmWidth, bm.bmHeight, 32, &bits);
  if (!copy) return nullptr;
  if (!read_pixels(static_cast<HBITMAP>(image), bm.bmWidth, bm.bmHeight, 32, bits)) {
    DeleteObject(copy);
    return nullptr;
  }
  auto* bytes = static_cast<uint8_t*>(bits);
  const size_t count = static_cast<size_t>(bm.bmWidth) * bm.bmHeight;
  if (bm.bmBitsPixel != 32)  // widened pixels come with alpha 0; they were opaque
    for (size_t i = 0; i < count; ++i) bytes[i * 4 + 3] = 255;
  if (greyed) grey_pixels(bytes, count);
  else premultiply_pixels(bytes, count);
  return copy;
}

bool draw_alpha_copy(HDC dc, int x, int y, HBITMAP copy) {
  const AlphaSupport& s = alpha_support();
  BITMAP bm{};
  if (!s.blend || !copy || !GetObjectA(copy, sizeof bm, &bm)) return false;
  HDC source = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(source, copy);
  const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  const BOOL ok = s.blend(dc, x, y, bm.bmWidth, bm.bmHeight, source, 0, 0, bm.bmWidth, bm.bmHeight, blend);
  SelectObject(source, old);
  DeleteDC(source);
  return ok != FALSE;
}
