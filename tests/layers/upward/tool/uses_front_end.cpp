// The archiver may use the format module and nothing else of the front end.
#include "format/archive_layout.h"
#include "archive/index_walk.h"
