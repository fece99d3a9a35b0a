// The few file-system operations the archiver needs, over native handles: large reads and
// writes without stdio buffering, 64-bit offsets, atomic replacement, and link detection.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class File {
 public:
  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  ~File();

  bool open_read(const std::string& path);
  // Creates or truncates; the new file is not inheritable by child processes. A non-zero
  // unix_mode gives the new file those permission bits (less the umask) where that applies.
  bool create(const std::string& path, uint32_t unix_mode = 0);
  bool open_read_write(const std::string& path);
  bool is_open() const;
  // Reads up to `size` bytes; returns bytes read, 0 at the end, -1 on error.
  int64_t read(void* buffer, size_t size);
  // Reads exactly `size` bytes at `offset`; false on error or short read.
  bool read_at(int64_t offset, void* buffer, size_t size);
  bool write(const void* buffer, size_t size);
  bool seek(int64_t offset);
  int64_t length();
  // Sets the modification time and, on Windows, the attributes of the open file through its
  // handle, as apply_file_metadata does by name; call after the last write.
  void set_metadata(int64_t mtime_ns, uint32_t attributes);
  bool close();

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

struct FileInfo {
  bool exists = false;
  bool is_directory = false;
  bool is_link = false;            // symbolic link, junction or other reparse point
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
enum class FolderStatus { CREATED, EXISTS, LINK, NOT_FOLDER, FAILED };
// Creates a folder; when something is already there, says what it is without following it
// (EXISTS only for a real folder). One call when the folder is new.
FolderStatus create_folder(const std::string& path);
bool remove_file(const std::string& path);
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
