// The text side of the child process runner: the command line it builds and the way it cuts a
// child's output into lines. Portable so the rules are tested without a child process.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// The program path in double quotes (unchanged when it already starts with one), then one blank
// and the parameters when there are any.
std::string program_command_line(const std::string& program_path, const std::string& parameters);

// Folder for the shell's execute fallback: the working folder, else the program path up to and
// including its last "\", else "" (no "\" after the first character).
std::string fallback_folder(const std::string& program_path, const std::string& working_folder);

// Reads up to `size` bytes into `buffer`, waiting until some are there; 0 at the end of the
// output or on a read error.
using ReadBytes = std::function<int64_t(char* buffer, size_t size)>;

// Returns the next line without its line end. CR, LF and CR LF each end a line; a CR that is the
// last byte held waits for the next read so a following LF joins it. Bytes read past the line
// stay in `pending` for the next call. At the end of the output whatever is held is the line.
std::string read_line(std::string& pending, const ReadBytes& read);
