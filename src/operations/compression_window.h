#pragma once
#include "operations/operation_state.h"

// The modal compression window: names the archive, sets the options, runs the archiver.
void compression_window(const OperationContext& context);
