// Start-up rules that need no window: the document named on the command line and the memory text.
#pragma once
#include <cstdint>
#include <string>

// The current directory (with "\" added) followed by the file part of the command line: the text
// after its last "\" or "/" (after a leading double quote when it has neither), up to the next quote.
std::string startup_document_from(const std::string& current_directory, const std::string& command_line);

// True when the document should be opened as an archive: its extension is exactly "vnr".
bool is_archive_name(const std::string& path);

// "System free Mem:" + megabytes with one decimal + " MB ".
std::string memory_text(uint64_t free_bytes);
