// Files and folders dropped on an open archive join it through the archiver's a command, which
// writes the archive anew and puts it in place only when it is complete.
#pragma once
#include <string>
#include <vector>

#include "operations/operation_state.h"

// Asks `question`, then adds `paths` (folders whole) with the live busy window and its Cancel;
// true when the archive was rewritten (the view must be opened anew).
bool add_to_open_archive(const OperationContext& context, const std::vector<std::string>& paths,
                         const std::string& question);
