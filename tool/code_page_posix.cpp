#include "utf8_text.h"

// File names here are bytes, taken as UTF-8 like the programs' own code page.
bool system_text_is_utf8() { return true; }

void console_text_utf8() {}
