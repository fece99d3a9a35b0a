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

// Two lines: "0:03 elapsed, 0:08 left, 267436 KB of 1048576 KB (25 %), 101888 KB/s" after
// `seconds` of the run, in the file list's units, then the member at hand. Before any report
// "Starting..."; the speed and the time left once a second has passed.
std::string progress_status(const RunProgress& p, double seconds);

// A member for the status line, at most MEMBER_SHOWN characters: a longer one keeps its end after
// "...", so the name itself shows.
constexpr size_t MEMBER_SHOWN = 60;
std::string shown_member(const std::string& member);
