#pragma once
#include <string>

#include "operations/operation_state.h"

// The modal extraction window: picks the destination and extracts the marked members.
void extraction_window(const std::string& archive_path, const OperationContext& context);
