// Reaches other folders without naming them: the check must refuse all three, and only them.
#include "archive/walk.h"
#include "engine.h"
#include "../format/archive_layout.h"
#include "format/archive_layout.h"
#include "missing_header.h"
