#include "archive_commit.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace {

bool same_file(int fd, const std::string& path) {
  struct stat held, named;
  return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
         held.st_ino == named.st_ino;
}

}  // namespace

ArchiveLock::~ArchiveLock() { release(); }

ArchiveLock::Outcome ArchiveLock::take(const std::string& archive_path, int wait_ms) {
  release();
  path_ = archive_path + ".vantor-lock";
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  for (;;) {
    // Never through a link, and a FIFO planted there must not block the open.
    int fd = ::open(path_.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) return errno == ELOOP || errno == EISDIR ? Outcome::NOT_PLAIN : Outcome::FAILED;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      return Outcome::NOT_PLAIN;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      // The holder before us removes the file as it lets go: a lock on a file that no longer
      // has the name locks nothing, so start over with the name's current file.
      if (same_file(fd, path_)) {
        fd_ = fd;
        return Outcome::TAKEN;
      }
      ::close(fd);
      continue;
    }
    int error = errno;
    ::close(fd);
    if (error != EWOULDBLOCK && error != EINTR) {
      errno = error;
      return Outcome::FAILED;
    }
    if (std::chrono::steady_clock::now() >= deadline) return Outcome::BUSY;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

void ArchiveLock::release() {
  if (fd_ < 0) return;
  // Removed while still held, so nobody takes a lock on the file being removed and keeps it.
  ::unlink(path_.c_str());
  ::close(fd_);
  fd_ = -1;
}

Replacement::~Replacement() { discard(); }

bool Replacement::create(const std::string& target, const std::string& token) {
  discard();
  std::string folder, name;
  split_archive_path(target, folder, name);
  target_ = target;
  temp_ = name + ".vantor-" + token + ".tmp";
  folder_fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder_fd_ < 0) return false;
  // No name until commit: a run killed before then leaves nothing. Linking it in later goes
  // through /proc, so that must be there too.
  if (::access("/proc/self/fd", X_OK) == 0) {
    file_.fd_ = ::openat(folder_fd_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    file_.take_mask(target + ".vantor-" + token + ".tmp", true);
    if (file_.fd_ >= 0) return true;
  }
  file_.fd_ = ::openat(folder_fd_, temp_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  file_.take_mask(target + ".vantor-" + token + ".tmp", true);
  named_ = file_.fd_ >= 0;
  return named_;
}

bool Replacement::commit(std::string& problem) {
  // A masked file is a working copy, removed when the run ends: nothing of it needs the disk.
  const bool durable = !file_.mask_;
  if (durable && ::fdatasync(file_.fd_) != 0) {
    problem = "cannot flush the new archive to the disk: " + last_error_text();
    return false;
  }
  if (!named_) {
    std::string self = "/proc/self/fd/" + std::to_string(file_.fd_);
    if (::linkat(AT_FDCWD, self.c_str(), folder_fd_, temp_.c_str(), AT_SYMLINK_FOLLOW) != 0) {
      problem = "cannot give the new archive a name: " + last_error_text();
      return false;
    }
    named_ = true;
  }
  std::string folder, name;
  split_archive_path(target_, folder, name);
  if (::renameat(folder_fd_, temp_.c_str(), folder_fd_, name.c_str()) != 0) {
    problem = "cannot rename the finished archive to " + target_ + ": " + last_error_text();
    return false;
  }
  named_ = false;
  file_.close();
  // Without this the rename may still be only in memory when the machine stops. Some file
  // systems cannot flush a folder (EINVAL): they have nothing more to give.
  if (durable && ::fsync(folder_fd_) != 0 && errno != EINVAL) {
    problem = "cannot flush the folder of the new archive to the disk: " + last_error_text();
    return false;
  }
  return true;
}

void Replacement::discard() {
  file_.close();
  if (named_) ::unlinkat(folder_fd_, temp_.c_str(), 0);
  named_ = false;
  if (folder_fd_ >= 0) ::close(folder_fd_);
  folder_fd_ = -1;
}

namespace {

bool remove_below(int parent, const char* name) {
  int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return ::unlinkat(parent, name, 0) == 0;  // a file or a link: the name alone goes
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return false;
  }
  bool ok = true;
  while (struct dirent* e = ::readdir(dir)) {
    std::string child = e->d_name;
    if (child != "." && child != "..") ok = remove_below(fd, child.c_str()) && ok;
  }
  ::closedir(dir);
  return ok && ::unlinkat(parent, name, AT_REMOVEDIR) == 0;
}

}  // namespace

bool remove_tree(const std::string& path) { return remove_below(AT_FDCWD, path.c_str()); }
