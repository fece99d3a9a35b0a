// Delete in an open archive: the chosen members and folders go, through the archiver's d
// command, which writes the archive anew and puts it in place only when it is complete.
#pragma once
#include <string>
#include <vector>

#include "operations/operation_state.h"

// "Remove 3 members from C:\a.vnr? This cannot be undone.", folders counted besides members.
std::string delete_question_text(const std::string& archive_path, int members, int folders);
// The members' paths in the archive ("docs\a.txt") from their mirror paths under temp_root;
// a path outside temp_root is left out.
std::vector<std::string> member_paths(const SelectionTable& selection, const std::string& temp_root);

// Asks, then removes; true when the archive was rewritten (the view must be opened anew).
bool delete_members(const OperationContext& context, int folders);
