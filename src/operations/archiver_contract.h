// What the front end hands vantor.exe: the program path, the four parameter strings and the
// list file "master.lis". Plain functions over text so every byte can be checked natively.
#pragma once
#include <string>
#include <vector>

// program_folder ends with "\", so the path has two backslashes in a row; the tool accepts it.
std::string archiver_program_path(const std::string& program_folder);

// " a -y " S " " R " -b" B " -k" K " -t" T " " L "  -m" U M " x " dq program_folder "\master.lis".
// self_extraction is " -e " or "", recursive " -r " or "", solid "-s" or "", ultra "x" or "";
// buffer_megabytes is already 4 x the slider position. The closing quote is left out on purpose:
// the tool reads the last argument to the end, so a trailing "\" survives.
std::string compress_parameters(const std::string& self_extraction, const std::string& recursive,
                                int buffer_megabytes, int dictionary_position, int task_count,
                                const std::string& solid, const std::string& ultra, int method,
                                const std::string& program_folder);

// " a -y  -r  -b" B " -k" K " -t" T " " S "  -m" U M " x " dq L: the files and folders the list
// file L names, added to its archive with the compression window's settings (folders whole).
std::string add_listed_parameters(int buffer_megabytes, int dictionary_position, int task_count,
                                  const std::string& solid, const std::string& ultra, int method,
                                  const std::string& list_file);

// " x -t" T "  -e " dq A dq " " dq D: the entries marked 1 into the destination as typed.
std::string extract_marked_parameters(int task_count, const std::string& archive,
                                      const std::string& destination);
// " x -e -t" T " " dq A dq " " dq launch_root: the marked member into the launch folder.
std::string extract_member_parameters(int task_count, const std::string& archive,
                                      const std::string& launch_root);
// " x  -t" T " " dq A dq " " dq launch_root: every entry into the launch folder.
std::string extract_all_parameters(int task_count, const std::string& archive,
                                   const std::string& launch_root);

// " t " dq A: test every member of the archive.
std::string verify_parameters(const std::string& archive);
// " d x " dq L: remove from an archive the members named in the list file L (written by
// list_file_bytes with the archive and the members' paths in it).
std::string delete_parameters(const std::string& list_file);

// " l -p " dq A: the machine listing of an archive of another program, on standard output.
std::string list_parameters(const std::string& archive);
// " x -t" T " x " dq L dq " " dq D: the members the list file L names (archive and paths as the
// listing gave them) into the destination as typed. Archives of other programs cannot carry
// marks, so their chosen members go by name.
std::string extract_listed_parameters(int task_count, const std::string& list_file, const std::string& destination);

// The bytes of "master.lis": n and n (64-bit), the archive path with a 32-bit length, n (32-bit),
// then slots 1..n of the selection, each with a 32-bit length. All little-endian. A count beyond
// the slots present is cut to them, so the counts always describe the records written.
std::string list_file_bytes(const std::string& archive_path,
                            const std::vector<std::string>& selection_list, int selection_count);
