// Start-up rules that need no window: the document named on the command line and the memory text.
#pragma once
#include <cstdint>
#include <string>

// The first argument after the program name, split and unquoted as the system's C runtime does.
std::string first_argument(const std::string& command_line);

// The document named on the command line: its first argument, used as it is when it is a full path
// (drive or UNC), put after the current directory when relative; empty when there is none.
std::string startup_document_from(const std::string& current_directory, const std::string& command_line);

// True when the document should be opened as an archive: its extension is exactly "vnr", or it
// names one of the other programs' archives the archiver reads (zip, 7z, tar.gz, ... in any case).
bool is_archive_name(const std::string& path);

// "System free Mem:" + megabytes with one decimal + " MB ".
std::string memory_text(uint64_t free_bytes);
