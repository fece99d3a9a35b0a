// PNG through libpng's sequential reading interface, delivered as 24-bit BGR or 32-bit BGRA.
#pragma once
#include "ui/image_decoder.h"

const ImageDecoder& png_decoder();
