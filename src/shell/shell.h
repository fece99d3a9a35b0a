// The shell's commands on the main window; everything runs on the main thread.
#pragma once
#include <cstdint>
#include <string>

#include "archive/open_archive.h"
#include "operations/operation_state.h"

int vantor_main();             // start-up, the disk loop, the end sequence; returns the exit code
bool open_main_window();       // start-up up to the disk loop: globals, window 0, gadgets, menu
void run_disk_loop();
void run_archive_loop(const ArchiveSession& session);  // returns when the archive is left
// Opens the archive into the mirror tree, shows its root with the sizes listed, says what it could
// not show and runs the archive loop; opening another archive inside it nests a further one.
// An archive that cannot be read is named in a warning with the reason, and false returned.
// Opens the archive at path and runs its loop. A cancelled opening leaves the view as it was:
// inside the archive `outer`, when given, its mirror tree is built again.
bool browse_archive(const std::string& path, const std::string& outer = std::string());
// Rewrites the file list's size column from the entry table for the folder on view.
void listing_step();
// The shell's state and selection as the operations take them.
OperationContext operation_context();
[[noreturn]] void end_program_now();  // the end sequence from its runtime shutdown on

void follow_window_size();
void refresh_memory_text();
uint64_t free_physical_memory();

// Shell "open" of a file, with an optional working folder; the result is not examined.
void shell_open(const std::string& path, const std::string& folder = std::string());
