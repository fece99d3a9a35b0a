// The listing step: the members' sizes from the entry table written into the list's size column.
#pragma once
#include "archive/tables.h"
#include "archive/rows_view.h"

// Clears column 1, then fills it for unselected file rows whose folder + name is an entry's
// mirror path (the later entry wins), shown as bytes / 1024 + 1 followed by " KB".
void listing_step_rows(RowsView& rows, EntryTable& s);
