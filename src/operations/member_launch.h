// Marks the chosen members in the archive's index and extracts single members for opening.
#pragma once
#include "operations/operation_state.h"

// Writes mark 1 for every entry whose mirror path is in the selection list, 0 for the others.
// False (with a message, nothing written) when the archive is missing, read-only or damaged.
bool marking_pass(OperationState& s, const SelectionTable& selection);
// Marks the chosen member and extracts it (a program member with the whole archive) into the
// launch folder. False (with a message) when nothing can be opened.
bool prepare_member_launch(bool program_member, const OperationContext& context);
