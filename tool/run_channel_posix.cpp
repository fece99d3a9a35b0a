#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "run_channel_io.h"

namespace {

// A descriptor named in the environment, when it is an open pipe; 0 to 2 are never taken. A
// file the run has open would read as ready at once (a cancel) and take progress into it.
intptr_t descriptor(const char* name) {
  const char* text = std::getenv(name);
  if (!text || !*text) return -1;
  char* end = nullptr;
  long fd = std::strtol(text, &end, 10);
  struct stat st;
  if (*end != '\0' || fd < 3 || fd > 65535 || fstat(static_cast<int>(fd), &st) != 0 ||
      !(S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)))
    return -1;
  fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
  return fd;
}

}  // namespace

bool channel_ends_from_environment(ChannelEnds& ends) {
  ends.progress = descriptor("VANTOR_PROGRESS");
  ends.cancel = descriptor("VANTOR_CANCEL");
  // A reader that has gone must not kill the run with SIGPIPE: the write just fails.
  if (ends.progress != -1) signal(SIGPIPE, SIG_IGN);
  return ends.progress != -1 || ends.cancel != -1;
}

bool channel_wait_for_cancel(const ChannelEnds& ends, int ms) {
  pollfd p = {static_cast<int>(ends.cancel), POLLIN, 0};
  int n = poll(&p, 1, ms);
  return n > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

bool channel_send(const ChannelEnds& ends, const std::string& line) {
  size_t sent = 0;
  while (sent < line.size()) {
    ssize_t n = write(static_cast<int>(ends.progress), line.data() + sent, line.size() - sent);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}
