// The archiver's command line: split the raw text into arguments, then into Options.
#pragma once
#include <string>
#include <vector>

enum class Command { NONE, ADD, EXTRACT, LIST, TEST, REMOVE };

struct Options {
  Command command = Command::NONE;
  bool self_extracting = false;  // -e with a
  bool marked_only = false;      // -e with x
  bool keep_folders = false;     // -r
  bool solid = false;            // -s
  bool ultra = false;            // -mx<n>
  int method = 3;                // -m<n>, 0 store .. 3 most effort
  int window_position = 7;       // -k<n>, zstd window 2^(n+21) bytes
  bool window_given = false;     // -k was on the command line
  int buffer_mb = 16;            // -b<n>
  int threads = 1;               // -t<n>, 0 = one per processor
  bool machine_listing = false;  // -p with l
  std::string names_below;       // -w<folder> with a: members named by their path below it
  bool password = false;         // -pw: the archive is (to be) encrypted
  int password_fd = -1;          // -pw:<fd>: the password comes from this descriptor or handle
  bool hide_names = false;       // -he with a: the index is sealed too
  std::string list_file;         // a, d or x ... x <list file>
  std::string archive;
  std::string destination;
  std::vector<std::string> sources;  // a <archive> <file or folder>..., d <archive> <member>...
};

// Splits a parameter string the way the front end builds it: blanks separate arguments,
// a double quote starts or ends a quoted stretch (and is dropped), a quote that is never
// closed runs to the end, and backslashes are always literal, so "C:\out\ arrives as C:\out\.
std::vector<std::string> split_parameters(const std::string& text);

// Returns the arguments after the program name. On Windows they come from the raw command
// line through split_parameters, because the C runtime would take \" as an escaped quote.
std::vector<std::string> command_arguments(int argc, char** argv);

// Fills `out`; on failure returns false with a one-line reason.
bool parse_options(const std::vector<std::string>& args, Options& out, std::string& problem);

// Strips the program token (quoted or not) from a Windows command line.
std::string parameters_after_program(const std::string& command_line);

const char* usage_text();
