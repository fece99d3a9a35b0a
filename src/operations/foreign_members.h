// Archives of other programs carry no marks: the chosen members reach the archiver by the paths
// its listing gave them, in a list file.
#pragma once
#include <string>
#include <vector>

#include "archive/tables.h"

// The member paths of the chosen stand-ins (mirror paths), as the open archive's listing gave
// them; a stand-in that is no entry of the table is left out, and a path chosen twice goes once.
std::vector<std::string> foreign_member_paths(const SelectionTable& selection, const EntryTable& entries);

// Whether members can be removed from the open archive of that format: ours, or a zip that the
// archiver reads as a zip.
bool removal_possible(const std::string& archive_path, const std::string& format);
// The answer to Delete where it is not possible.
std::string read_only_archive_text(const std::string& archive_path, const std::string& format);

// Writes a list file of the archive and its members under a new name of ours in the user's
// temporary folder (the program folder may not be writable); its path, or "" when it could not
// be written. `kind` goes in the name ("delete", "extract").
std::string write_temporary_list(const std::string& archive_path, const std::vector<std::string>& members,
                                 const std::string& kind);

// Lists an archive of another program through the archiver (`l -p`, hidden, with the busy window
// and its Cancel past a second) and builds its mirror tree and entry table from the listing.
// A listing that is cut, malformed or comes with a failure opens nothing and says why in
// `problem`, with the archiver's own words when it gave any. One of our own archives under
// another name opens nothing and comes back with the format "vnr", for the caller to walk.
// With a password, the listing is asked with -pw, and one of our own archives whose names are
// sealed comes back built from the listing, as the format "vnr"; a wrong password is named in
// the session's `wrong_password`.
struct ArchiveSession;
ArchiveSession open_foreign_archive_busy(const std::string& program_folder, const std::string& path,
                                         const std::string& mirror_root, EntryTable& table,
                                         const std::string& password = std::string());

// Opens an archive of ours whose first entry is flagged encrypted. The password is asked when
// `password` is empty (over the main window) and tried at once: with names sealed the archiver
// lists the members, else it lists them only to try the password and the index is walked. A
// wrong password is said and asked again; giving up comes back as a cancelled session.
ArchiveSession open_protected_archive_busy(const std::string& program_folder, const std::string& path,
                                           bool sealed, const std::string& mirror_root, EntryTable& table,
                                           std::string& password);
