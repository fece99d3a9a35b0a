// The few file-system operations the archiver needs, over native handles: large reads and
// writes without stdio buffering, 64-bit offsets, atomic replacement, and link detection.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class Folder;
struct FileMask;

class File {
 public:
  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  ~File();

  bool open_read(const std::string& path);
  // Opens a file to be archived: regular files only (never a device, FIFO or socket, and
  // nothing that could block); `problem` says why not.
  bool open_source(const std::string& path, std::string& problem);
  // Creates or truncates; the new file is not inheritable by child processes. A non-zero
  // unix_mode gives the new file those permission bits (less the umask) where that applies.
  bool create(const std::string& path, uint32_t unix_mode = 0);
  bool open_read_write(const std::string& path);
  // Creates a file that did not exist (never through a link): what fails here was never ours
  // to remove.
  bool create_new(const std::string& path);
  bool is_open() const;
  // Reads up to `size` bytes; returns bytes read, 0 at the end, -1 on error.
  int64_t read(void* buffer, size_t size);
  // Reads exactly `size` bytes at `offset`; false on error or short read.
  bool read_at(int64_t offset, void* buffer, size_t size);
  bool write(const void* buffer, size_t size);
  bool seek(int64_t offset);
  int64_t length();
  // Cuts the file to `size` bytes.
  bool set_length(int64_t size);
  // Sets the modification time and, on Windows, the attributes of the open file through its
  // handle, as apply_file_metadata does by name; call after the last write.
  void set_metadata(int64_t mtime_ns, uint32_t attributes);
  bool close();

 private:
  friend class Folder;
  friend class Replacement;
  // Takes the mask of a file at `path` in a masked folder (file_mask.h): a new one when the file
  // was just created, else the one it was created with.
  void take_mask(const std::string& path, bool created);
  struct FileIdentity handle_identity() const;
  int64_t position() const;
  bool write_plain(const void* buffer, size_t size);
  bool write_masked(const void* buffer, size_t size);
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
  std::shared_ptr<const FileMask> mask_;
};

struct FileInfo {
  bool exists = false;
  bool is_directory = false;
  bool is_link = false;            // symbolic link, junction or other reparse point
  bool is_regular = false;         // a plain file: not a folder, device, FIFO or socket
  int64_t size = 0;
  int64_t mtime_ns = 0;
  uint32_t attributes = 0;         // FILE_ATTRIBUTE_* bits
  uint32_t unix_mode = 0;
};

constexpr uint32_t ATTRIBUTE_READONLY = 0x1;
constexpr uint32_t ATTRIBUTE_HIDDEN = 0x2;
constexpr uint32_t ATTRIBUTE_SYSTEM = 0x4;
constexpr uint32_t ATTRIBUTE_ARCHIVE = 0x20;

// Information about the path itself; a link is reported as a link, not followed.
FileInfo file_info(const std::string& path);
bool make_directory(const std::string& path);      // true when it exists as a folder afterwards
// ALIAS: the name reached a folder of another name (a short name such as LONGFO~1).
enum class FolderStatus { CREATED, EXISTS, LINK, NOT_FOLDER, FAILED, ALIAS };
// Creates a folder; when something is already there, says what it is without following it
// (EXISTS only for a real folder). One call when the folder is new.
FolderStatus create_folder(const std::string& path);
// Removes the file or link at `path` itself. On Windows it removes nothing when the name leads to
// another file: under Wine a Unix link opens as what it names, with no reparse attribute to tell.
bool remove_file(const std::string& path);
#ifdef _WIN32
// The system's full name of what an open handle holds, links resolved; "" when it cannot say.
std::string final_path_of(void* handle);
// The final name of the folder `path` lies in, and in `name` the path's last component; "" when
// the folder cannot be opened or named.
std::string folder_final_path(const std::string& path, std::string& name);
// Whether an open handle holds what `path` names itself, not another file or folder a link at
// that name leads to: its final name is the name in its folder's final name.
bool handle_is_named(void* handle, const std::string& path);
// Deletes what the handle holds (opened with DELETE and FILE_WRITE_ATTRIBUTES), read-only or not,
// when handle_is_named; the file goes as the last handle to it closes.
bool delete_through(void* handle, const std::string& path);
#endif
bool remove_folder(const std::string& path);       // an empty one
// Moves `from` over `to`, replacing a finished file in one step.
bool replace_file(const std::string& from, const std::string& to);
// Sets the modification time and, on Windows, the attributes (permissions are set at creation).
void apply_file_metadata(const std::string& path, int64_t mtime_ns, uint32_t attributes);
// The permission bits a member is created with: stored bits without set-id, read-only honoured.
uint32_t creation_mode(uint32_t unix_mode, uint32_t attributes);
// Names in a folder, without "." and "..".
bool list_directory(const std::string& path, std::vector<std::string>& names);
std::string current_directory();
bool is_absolute_path(const std::string& path);
int process_id();
char native_separator();

// Like file_info, but follows a link to what it names (used for the files being archived).
FileInfo source_info(const std::string& path);

// Which file a path reaches, links followed: equal for every path to one file (another
// spelling, a link, a short name, a hard link). Never equal when either is not known.
struct FileIdentity {
  bool known = false;
  uint64_t volume = 0;
  uint64_t number = 0;
  bool operator==(const FileIdentity& other) const {
    return known && other.known && volume == other.volume && number == other.number;
  }
};
FileIdentity file_identity(const std::string& path);

// Why the last file-system call failed, in a few words ("permission denied").
std::string last_error_text();
// 16 hex digits from the system's random source, for names nobody can plant beforehand.
std::string random_token();
// Whether this file system treats names differing only in letter case as one.
bool names_ignore_case();
// The Mark of the Web: the Zone.Identifier stream Windows gives a downloaded file, which makes
// it warn before a program or document from it runs. "" when the file has none (always, outside
// Windows); more than 64 KB is no mark of ours and is not read.
std::string read_zone_mark(const std::string& path);
// Gives the file the mark (a file system without streams keeps none, as with Windows' own copies).
void write_zone_mark(const std::string& path, const std::string& mark);

// An open folder handle. Extraction walks from the destination one component at a time,
// relative to the parent's handle, so a folder swapped for a link mid-run is refused instead
// of followed.
class Folder {
 public:
  Folder() = default;
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  Folder(Folder&& other) noexcept;
  Folder& operator=(Folder&& other) noexcept;
  ~Folder();

  // The destination itself, as the user named it (a link here is the user's choice).
  bool open_root(const std::string& path);
  // Creates (if needed) and opens the child folder `name`, never through a link; CREATED and
  // EXISTS leave `child` open.
  FolderStatus open_child(const std::string& name, Folder& child) const;
  // Opens the existing folder parts[0]/.../parts[count - 1] below this one in a single call,
  // where the system can refuse a link anywhere on the way. False for anything else (a folder
  // missing, a link, or no such call here): the caller then walks with open_child.
  bool open_existing(const std::vector<std::string>& parts, size_t count, Folder& child) const;
  // Creates a new file exclusively; fails when anything, a link included, has that name.
  bool create_file(const std::string& name, uint32_t unix_mode, File& file) const;
  // Flushes the open file `from` to the disk, renames it to `to` in this folder (replacing a
  // file there) and closes it; fails when the name no longer leads to the file that was written.
  bool commit(File& file, const std::string& from, const std::string& to) const;
  bool remove(const std::string& name) const;
  // When something here answers to `name` under a name of its own (LONGFI~1.TXT is the short
  // name of longfilename.txt), that name: writing to `name` would reach another file. "" else.
  std::string other_name(const std::string& name) const;
  const std::string& path() const { return path_; }

 private:
  void close();
  std::string path_;
#ifdef _WIN32
  void* handle_ = nullptr;
  std::string final_root_;  // the destination's final path, which every file must lie below
#else
  int fd_ = -1;
#endif
};
