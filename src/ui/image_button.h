// Image button (gadget kind 19): a native push button whose face carries an image, with an
// optional pressed image and a checked state kept by the gadget.
#pragma once
#include <windows.h>

// Attributes of gadget_get_attribute / gadget_set_attribute; the value is an image handle.
constexpr int IMAGE_BUTTON_NORMAL_IMAGE = 1;
constexpr int IMAGE_BUTTON_PRESSED_IMAGE = 2;

// Creates the button in the current target window; an image of nullptr makes a button without
// a picture. Returns the control, or nullptr when it cannot be made.
HWND image_button_gadget(int number, int x, int y, int w, int h, HANDLE image);
