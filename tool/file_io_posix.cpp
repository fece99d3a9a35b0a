#include "file_io.h"
#include "file_mask.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/random.h>
#include <sys/syscall.h>
#ifdef SYS_openat2
#include <linux/openat2.h>
#endif

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

File::File(File&& other) noexcept : fd_(other.fd_), mask_(std::move(other.mask_)) { other.fd_ = -1; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.fd_;
    mask_ = std::move(other.mask_);
    other.fd_ = -1;
  }
  return *this;
}

File::~File() { close(); }

namespace {

// A NUL inside a path would cut it short at the system call: the file named would not be
// the one meant (an archive's temporary name could become the archive's own name).
bool whole(const std::string& path) { return path.find('\0') == std::string::npos; }

}  // namespace

bool File::open_read(const std::string& path) {
  close();
  if (!whole(path)) return false;
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  take_mask(path, false);
  return fd_ >= 0;
}

bool File::open_source(const std::string& path, std::string& problem) {
  close();
  if (!whole(path)) {
    problem = "refused a path with a NUL byte";
    return false;
  }
  // O_NONBLOCK: opening a FIFO must not wait for a writer; the kind is then read from the
  // handle, so a name swapped after a check cannot slip a device in.
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd_ < 0) {
    problem = "cannot open " + path + ": " + last_error_text();
    return false;
  }
  struct stat st;
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    problem = "refused " + path + ": not a regular file (a device, FIFO or socket)";
    close();
    return false;
  }
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
  return true;
}

bool File::create(const std::string& path, uint32_t unix_mode) {
  close();
  if (!whole(path)) return false;
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, unix_mode ? unix_mode : 0666);
  take_mask(path, true);
  return fd_ >= 0;
}

bool File::create_new(const std::string& path) {
  close();
  if (!whole(path)) return false;
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  take_mask(path, true);
  return fd_ >= 0;
}

bool File::open_read_write(const std::string& path) {
  close();
  if (!whole(path)) return false;
  fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  take_mask(path, false);
  return fd_ >= 0;
}

bool File::is_open() const { return fd_ >= 0; }

int64_t File::read(void* buffer, size_t size) {
  int64_t at = mask_ ? position() : 0;
  for (;;) {
    ssize_t n = ::read(fd_, buffer, size);
    if (n >= 0) {
      if (mask_ && n > 0) apply_mask(*mask_, at, static_cast<uint8_t*>(buffer), static_cast<size_t>(n));
      return n;
    }
    if (errno != EINTR) return -1;
  }
}

bool File::read_at(int64_t offset, void* buffer, size_t size) {
  char* p = static_cast<char*>(buffer);
  int64_t from = offset;
  size_t whole = size;
  while (size > 0) {
    ssize_t n = ::pread(fd_, p, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    offset += n;
    size -= static_cast<size_t>(n);
  }
  if (mask_) apply_mask(*mask_, from, static_cast<uint8_t*>(buffer), whole);
  return true;
}

int64_t File::position() const { return static_cast<int64_t>(::lseek(fd_, 0, SEEK_CUR)); }

FileIdentity File::handle_identity() const {
  FileIdentity id;
  struct stat st;
  if (::fstat(fd_, &st) != 0) return id;
  id.known = true;
  id.volume = static_cast<uint64_t>(st.st_dev);
  id.number = static_cast<uint64_t>(st.st_ino);
  return id;
}

bool File::write_plain(const void* buffer, size_t size) {
  const char* p = static_cast<const char*>(buffer);
  while (size > 0) {
    ssize_t n = ::write(fd_, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool File::seek(int64_t offset) { return ::lseek(fd_, offset, SEEK_SET) == offset; }

int64_t File::length() {
  struct stat st;
  return ::fstat(fd_, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

bool File::set_length(int64_t size) { return ::ftruncate(fd_, size) == 0; }

namespace {

void to_timespec(int64_t mtime_ns, struct timespec times[2]) {
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(mtime_ns / 1000000000);
  times[1].tv_nsec = static_cast<long>(mtime_ns % 1000000000);
  if (times[1].tv_nsec < 0) {
    times[1].tv_nsec += 1000000000;
    times[1].tv_sec -= 1;
  }
}

}  // namespace

void File::set_metadata(int64_t mtime_ns, uint32_t) {
  struct timespec times[2];
  to_timespec(mtime_ns, times);
  ::futimens(fd_, times);
}

bool File::close() {
  mask_.reset();
  if (fd_ < 0) return true;
  int rc = ::close(fd_);
  fd_ = -1;
  return rc == 0;
}

namespace {

FileInfo info_from(const struct stat& st) {
  FileInfo info;
  info.exists = true;
  info.is_link = S_ISLNK(st.st_mode);
  info.is_directory = S_ISDIR(st.st_mode);
  info.is_regular = S_ISREG(st.st_mode);
  info.size = static_cast<int64_t>(st.st_size);
  info.mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  info.unix_mode = st.st_mode & 07777;
  info.attributes = (st.st_mode & S_IWUSR) ? ATTRIBUTE_ARCHIVE : ATTRIBUTE_READONLY;
  return info;
}

}  // namespace

FileInfo file_info(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 ? info_from(st) : FileInfo();
}

bool make_directory(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return true;
  struct stat st;
  return errno == EEXIST && ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

FolderStatus create_folder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return FolderStatus::CREATED;
  if (errno != EEXIST) return FolderStatus::FAILED;
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return FolderStatus::FAILED;
  if (S_ISLNK(st.st_mode)) return FolderStatus::LINK;
  return S_ISDIR(st.st_mode) ? FolderStatus::EXISTS : FolderStatus::NOT_FOLDER;
}

bool remove_file(const std::string& path) { return whole(path) && ::unlink(path.c_str()) == 0; }

bool remove_folder(const std::string& path) { return whole(path) && ::rmdir(path.c_str()) == 0; }

bool replace_file(const std::string& from, const std::string& to) {
  return whole(from) && whole(to) && ::rename(from.c_str(), to.c_str()) == 0;
}

void apply_file_metadata(const std::string& path, int64_t mtime_ns, uint32_t) {
  struct timespec times[2];
  to_timespec(mtime_ns, times);
  ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

bool list_directory(const std::string& path, std::vector<std::string>& names) {
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return false;
  // readdir returns null both at the end and on an error; only errno tells them apart.
  for (;;) {
    errno = 0;
    struct dirent* e = ::readdir(dir);
    if (!e) break;
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  int error = errno;
  ::closedir(dir);
  errno = error;
  return error == 0;
}

std::string current_directory() {
  char buffer[PATH_MAX];
  return ::getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string(".");
}

bool is_absolute_path(const std::string& path) { return !path.empty() && path[0] == '/'; }

int process_id() {
  static const int id = static_cast<int>(::getpid());
  return id;
}

char native_separator() { return '/'; }

FileInfo source_info(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? info_from(st) : FileInfo();  // stat follows links
}

FileIdentity file_identity(const std::string& path) {
  FileIdentity id;
  struct stat st;
  if (!whole(path) || ::stat(path.c_str(), &st) != 0) return id;
  id.known = true;
  id.volume = static_cast<uint64_t>(st.st_dev);
  id.number = static_cast<uint64_t>(st.st_ino);
  return id;
}

uint32_t creation_mode(uint32_t unix_mode, uint32_t attributes) {
  uint32_t mode = unix_mode ? (unix_mode & 0777) : 0666;
  if (attributes & ATTRIBUTE_READONLY) mode &= ~0222u;
  return mode ? mode : 0400;
}

std::string last_error_text() { return std::strerror(errno); }

std::string random_token() {
  uint64_t value = 0;
  if (::getrandom(&value, sizeof value, 0) != static_cast<ssize_t>(sizeof value)) {
    struct timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    value = (static_cast<uint64_t>(now.tv_nsec) << 20) ^ static_cast<uint64_t>(::getpid()) ^
            reinterpret_cast<uintptr_t>(&value);
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

bool names_ignore_case() { return false; }

std::string read_zone_mark(const std::string&) { return std::string(); }

void write_zone_mark(const std::string&, const std::string&) {}

Folder::Folder(Folder&& other) noexcept : path_(std::move(other.path_)), fd_(other.fd_) { other.fd_ = -1; }

Folder& Folder::operator=(Folder&& other) noexcept {
  if (this != &other) {
    close();
    path_ = std::move(other.path_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

Folder::~Folder() { close(); }

void Folder::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool Folder::open_root(const std::string& path) {
  close();
  path_ = path;
  fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return fd_ >= 0;
}

FolderStatus Folder::open_child(const std::string& name, Folder& child) const {
  // Most members go into folders that exist already: open first, create only when missing.
  const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  bool created = false;
  int fd = ::openat(fd_, name.c_str(), flags);
  if (fd < 0 && errno == ENOENT) {
    created = ::mkdirat(fd_, name.c_str(), 0777) == 0;
    if (!created && errno != EEXIST) return FolderStatus::FAILED;
    fd = ::openat(fd_, name.c_str(), flags);
  }
  if (fd < 0) {
    struct stat st;
    if (::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return FolderStatus::FAILED;
    if (S_ISLNK(st.st_mode)) return FolderStatus::LINK;
    return S_ISDIR(st.st_mode) ? FolderStatus::FAILED : FolderStatus::NOT_FOLDER;
  }
  child.close();
  child.fd_ = fd;
  child.path_ = path_ + (path_.empty() || path_.back() == '/' ? "" : "/") + name;
  return created ? FolderStatus::CREATED : FolderStatus::EXISTS;
}

bool Folder::open_existing(const std::vector<std::string>& parts, size_t count, Folder& child) const {
#ifdef SYS_openat2
  std::string relative;
  for (size_t i = 0; i < count; ++i) relative += (i ? "/" : "") + parts[i];
  struct open_how how{};
  how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH;
  int fd = static_cast<int>(::syscall(SYS_openat2, fd_, relative.c_str(), &how, sizeof how));
  if (fd < 0) return false;
  child.close();
  child.fd_ = fd;
  child.path_ = path_ + (path_.empty() || path_.back() == '/' ? "" : "/") + relative;
  return true;
#else
  (void)parts, (void)count, (void)child;
  return false;
#endif
}

bool Folder::create_file(const std::string& name, uint32_t unix_mode, File& file) const {
  file.close();
  file.fd_ = ::openat(fd_, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      unix_mode ? unix_mode : 0666);
  file.take_mask(path_ + "/" + name, true);
  return file.fd_ >= 0;
}

bool Folder::commit(File& file, const std::string& from, const std::string& to) const {
  struct stat written, placed;
  // The old file goes only for content that is on the disk: after a crash the name holds one
  // of the two whole, never a new name with data that never arrived.
  // (A masked file is a working file of the run: it need not reach the disk.)
  bool ok = (file.mask_ || ::fdatasync(file.fd_) == 0) && ::fstat(file.fd_, &written) == 0 &&
            ::renameat(fd_, from.c_str(), fd_, to.c_str()) == 0;
  // Someone who swapped the temporary name for a link must not get that link put in place.
  bool same = ok && ::fstatat(fd_, to.c_str(), &placed, AT_SYMLINK_NOFOLLOW) == 0 &&
              placed.st_dev == written.st_dev && placed.st_ino == written.st_ino;
  if (ok && !same) ::unlinkat(fd_, to.c_str(), 0);
  return file.close() && same;
}

bool Folder::remove(const std::string& name) const { return ::unlinkat(fd_, name.c_str(), 0) == 0; }

std::string Folder::other_name(const std::string&) const { return std::string(); }
