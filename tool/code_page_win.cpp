#include "utf8_text.h"

#include <windows.h>

// Windows before 10 version 1903 ignore the manifest's code page and keep the system's.
bool system_text_is_utf8() { return GetACP() == CP_UTF8; }
