// Passwords of encrypted archives, free of any window: how the archiver is told that one comes
// (the password itself travels in a pipe, never on its command line), what makes a typed one
// acceptable, and how the archiver says it was wrong.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The archiver reads at most this many bytes of password from its pipe.
constexpr size_t PASSWORD_MOST_BYTES = 1024;

// The parameter string with one more switch right after its command word: " x -t1 ..." with
// "-pw" becomes " x -pw -t1 ...". The rest, and so the unclosed last quote, stays as it was.
std::string with_switch(const std::string& parameters, const std::string& switch_text);

// Why a new password typed twice cannot be taken ("" when it can): empty, the two differ, or
// longer than the archiver reads.
std::string new_password_problem(const std::string& first, const std::string& second);
// The same for a password asked to open an archive.
std::string asked_password_problem(const std::string& password);

// The archiver's line saying the password was wrong ("wrong password for ..."), or "".
std::string wrong_password_line(const std::vector<std::string>& problems);

// What the first entry of an archive's index says of its protection.
enum class Protection { none, encrypted, sealed };
// From the flags byte of the first entry (with our signature): sealed names need the archiver to
// list the members, encrypted data only a password for every run.
Protection protection_of(uint8_t signature, uint8_t flags);
// The protection of the archive at path, read from its first entry; none when it cannot be read.
Protection archive_protection(const std::string& path);
