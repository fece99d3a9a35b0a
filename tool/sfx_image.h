// The self-extracting program image that `vantor a -e` puts in front of the entries.
#pragma once
#include <cstddef>

extern const unsigned char SFX_STUB_IMAGE[];
extern const size_t SFX_STUB_IMAGE_SIZE;
