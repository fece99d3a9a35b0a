// The Find window (window 4): a name pattern, Find/Stop, the results found so far below the main
// list's folder, and a status line. The search runs on a worker thread while the window takes
// events; the main window is disabled meanwhile, as for the mode windows.
#pragma once
#include <cstdint>

#include "archive/tables.h"
#include "operations/operation_state.h"

// Event type of the Find gadget's own follow-up event, queued after a result was chosen.
constexpr int FIND_SHOW_CHOICE = 0x4644;

// For an event of the Find gadget: opens the window over the folder of `list_gadget`; `archive`
// is the open archive's entry table when that folder is in its mirror tree (members show their
// sizes from it), nullptr on disk; with the operation's state, the window names a folder below
// its temp_root by its archive_path. A double-clicked result closes the window and takes the list
// to the result's folder; the Find gadget's event comes back once with FIND_SHOW_CHOICE, after the
// loop has seen the new folder, and then the entry is selected and shown.
void find_command(int list_gadget, int type, const EntryTable* archive, const OperationState* operation = nullptr);

// The most names one search lists (TABLE_CAPACITY); tests lower it.
void set_find_hit_limit(int64_t most);
