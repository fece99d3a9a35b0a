// Members dragged out of the archive view to Explorer or the desktop: extracted only when the
// drop asks for them, into a fresh folder of ours, from where the target copies them.
#pragma once
#include <string>
#include <vector>

#include "operations/operation_state.h"

// What the drop is handed: each dragged row at its place in the archive below the fresh folder
// (the folder on view, less the mirror root, then the row's name).
std::vector<std::string> dragged_member_paths(const std::string& fresh_folder, const std::string& list_folder,
                                              const std::string& mirror_root,
                                              const std::vector<std::string>& row_names);

// The n-th drag's folder below drag_root.
std::string drag_folder(const std::string& drag_root, int n);

// Extracts the chosen members (the selection: their mirror paths) into `folder`, which must not
// exist yet, with the busy window and its Cancel; true when every one of `paths` is there. A
// cancelled or failed run leaves no folder behind; a failure is said in a warning.
bool extract_for_drop(const OperationContext& context, const std::string& folder,
                      const std::vector<std::string>& paths);

// The whole drag of the chosen rows (`row_names` in the folder on view) from the press on.
void drag_members_out(const OperationContext& context, const std::string& list_folder,
                      const std::vector<std::string>& row_names);
