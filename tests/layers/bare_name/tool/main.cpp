// The archiver takes its own headers bare and the shared ones by their folder's name.
#include "engine.h"
#include "format/utf8_text.h"
#include "utf8_text.h"
