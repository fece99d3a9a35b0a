// Start-up rules that need no window: the document named on the command line and the memory text.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The arguments after the program name, split and unquoted as the system's C runtime does.
std::vector<std::string> command_arguments(const std::string& command_line);
std::string first_argument(const std::string& command_line);

// "/job:<verb>" as the first argument: the verb as written and the paths after it. False for
// every other command line, which keeps its usual meaning.
bool job_arguments(const std::string& command_line, std::string& verb, std::vector<std::string>& paths);

// The document named on the command line: its first argument, used as it is when it is a full path
// (drive or UNC), put after the current directory when relative; empty when there is none.
std::string startup_document_from(const std::string& current_directory, const std::string& command_line);

// True when the document should be opened as an archive: its extension is exactly "vnr", or it
// names one of the other programs' archives the archiver reads (zip, 7z, tar.gz, ... in any case).
bool is_archive_name(const std::string& path);

// "System free Mem:" + megabytes with one decimal + " MB ".
std::string memory_text(uint64_t free_bytes);
