// The image table: images loaded from files under numbers the program chooses, and the
// premultiplied copies that image buttons blend onto their face.
#pragma once
#include <windows.h>

#include <string>

// Loads a Windows bitmap, an icon, or a file one of the decoders accepts (PNG), under `number`.
// An image already held under that number is freed first, so after a failure the number is free.
// Returns the handle (a bitmap section or an icon), or nullptr.
HANDLE load_image(int number, const std::string& file_name);
HANDLE image_handle(int number);  // nullptr for a free number
void free_image(int number);
void free_images();  // at program end: bitmaps deleted, icons destroyed

// What the table recorded for a number; 0 for a free one.
int image_width(int number);
int image_height(int number);
int image_depth(int number);         // bits per pixel of the stored bitmap
int image_source_depth(int number);  // bits per pixel (or PNG bit depth) of the file

// Whether the image is drawn with per-pixel alpha: a 32-bit bitmap while alpha drawing is on.
bool image_has_alpha(HANDLE image);
// A new 32-bit section holding the image premultiplied by its alpha, or its greyed form when
// `greyed` is nonzero. nullptr when alpha drawing is off or the handle is not a bitmap.
HBITMAP image_alpha_copy(HANDLE image, int greyed);

// Per-pixel alpha drawing needs the blend function of msimg32, Windows XP or later, visual
// styles and common controls 6. Settled on first use.
bool alpha_drawing_available();
// Tests force the alpha path on (1) or off (0), or give the answer back to the system (-1).
void set_alpha_drawing_override(int mode);
// Visual styles drawn for this program (uxtheme's IsAppThemed with common controls 6).
bool visual_styles_active();
bool windows_xp_or_later();
// Draws a premultiplied copy with its per-pixel alpha at full constant opacity.
bool draw_alpha_copy(HDC dc, int x, int y, HBITMAP copy);

bool image_is_icon(HANDLE image);
// Pixel size of a bitmap or icon handle; false for anything else.
bool image_size(HANDLE image, int* width, int* height);
