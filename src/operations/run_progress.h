// What a running archiver reports on its progress channel, and the one status line the mode
// windows show for it. Portable: the parsing and the texts are tested without a child.
#pragma once
#include <cstdint>
#include <string>

struct RunProgress {
  int64_t done = 0;
  int64_t total = -1;   // -1 until the archiver knows it
  std::string member;   // the member being worked on, "" when none yet
  bool seen = false;    // at least one report arrived
};

// Takes one line "progress <done> <total> [<member>]"; false (and `p` unchanged) for any other.
bool parse_progress_line(const std::string& line, RunProgress& p);

// The bar's position, 0 to `range`, or -1 while the total is unknown.
int progress_position(const RunProgress& p, int range);

// "12.5 of 100.0 MB, 12 %, 25.0 MB/s, 0:04 left" after `seconds` of the run; before any data
// has arrived "Starting..."; the time left once a rate can be measured.
std::string progress_status(const RunProgress& p, double seconds);
