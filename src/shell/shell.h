// The shell's commands on the main window; everything runs on the main thread.
#pragma once
#include <cstdint>
#include <string>

int vantor_main();             // start-up, the disk loop, the end sequence; returns the exit code
bool open_main_window();       // start-up up to the disk loop: globals, window 0, gadgets, menu
void run_disk_loop();
void run_archive_loop();       // returns when the archive is left
[[noreturn]] void end_program_now();  // the end sequence from its runtime shutdown on

void follow_window_size();
void refresh_memory_text();
uint64_t free_physical_memory();

// Shell "open" of a file, with an optional working folder; the result is not examined.
void shell_open(const std::string& path, const std::string& folder = std::string());
struct Note;
void show_note(const Note& note);
