// Files offered to another program by dragging them out of one of our windows, made only when a
// drop asks for them (delayed rendering): a drag that is cancelled, or ends where nothing takes
// files, makes nothing.
#pragma once
#include <windows.h>
#include <objidl.h>

#include <functional>
#include <string>
#include <vector>

// Makes the offered files; true when every one of them is there. Called at most once.
using RenderFiles = std::function<bool()>;

enum class DragOutcome { DROPPED, CANCELLED, FAILED };

// Runs the drag from a press the window has just reported as a drag start until the drop or Esc;
// only copying is offered. DROPPED: a target took the drop (and asked for the files, made then).
DragOutcome drag_files_out(const std::vector<std::string>& paths, const RenderFiles& render);

// The data object of such a drag, with one reference: CF_HDROP (wide names) of `paths`.
// GetData(CF_HDROP) makes the files first, except while `button_held` reports the drag still
// going: before the drop a target only learns the names.
IDataObject* new_file_drop_object(const std::vector<std::string>& paths, const RenderFiles& render,
                                  std::function<bool()> button_held = {});

// CF_HDROP memory (DROPFILES with wide names) for these paths, in the program's code page.
HGLOBAL make_hdrop(const std::vector<std::string>& paths);
