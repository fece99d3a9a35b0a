// Native builds have no Windows program to put in front of a self-extracting archive: the slot
// is all zero bytes, which keeps the layout (entries at 155,648) testable.
#include "sfx_image.h"

const unsigned char SFX_STUB_IMAGE[1] = {0};
const size_t SFX_STUB_IMAGE_SIZE = 0;
