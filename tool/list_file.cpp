#include "list_file.h"

namespace {

struct Reader {
  const std::vector<uint8_t>& bytes;
  size_t pos = 0;

  bool integer(int width, int64_t& out) {
    if (bytes.size() - pos < static_cast<size_t>(width)) return false;
    uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = (v << 8) | bytes[pos + i];
    pos += width;
    out = width == 8 ? static_cast<int64_t>(v) : static_cast<int32_t>(static_cast<uint32_t>(v));
    return true;
  }

  // One length-prefixed text; `problem` says what is wrong with it.
  bool text(std::string& out, const char* what, std::string& problem) {
    int64_t length = 0;
    if (!integer(4, length)) {
      problem = "list file is shorter than its count says";
      return false;
    }
    if (length < 0) {
      problem = std::string("list file gives ") + what + " a negative length";
      return false;
    }
    if (bytes.size() - pos < static_cast<uint64_t>(length)) {
      problem = std::string("list file gives ") + what + " a length past its end";
      return false;
    }
    out.assign(reinterpret_cast<const char*>(bytes.data() + pos), static_cast<size_t>(length));
    pos += static_cast<size_t>(length);
    // A NUL would cut the name short at the system: another file than the one listed.
    if (out.find('\0') != std::string::npos) {
      problem = std::string("list file has a NUL byte in ") + what;
      return false;
    }
    return true;
  }
};

}  // namespace

bool parse_list_file(const std::vector<uint8_t>& bytes, ListFile& out, std::string& problem) {
  Reader r{bytes};
  int64_t n1 = 0, n2 = 0, n3 = 0;
  ListFile list;
  if (!r.integer(8, n1) || !r.integer(8, n2)) {
    problem = "list file is too short";
    return false;
  }
  if (!r.text(list.archive_path, "the archive path", problem)) return false;
  if (!r.integer(4, n3)) {
    problem = "list file is too short";
    return false;
  }
  if (n1 != n2 || n1 != n3) {
    problem = "list file counts disagree";
    return false;
  }
  if (n1 <= 0) {
    problem = n1 == 0 ? "list file names no files" : "list file has a negative count";
    return false;
  }
  // Each record takes at least its 4-byte length, so a count beyond that is a lie.
  if (static_cast<uint64_t>(n1) > (bytes.size() - r.pos) / 4) {
    problem = "list file is shorter than its count says";
    return false;
  }
  list.paths.resize(static_cast<size_t>(n1));
  for (std::string& path : list.paths) {
    if (!r.text(path, "a path", problem)) return false;
    if (path.empty()) {
      problem = "list file has an empty path";
      return false;
    }
  }
  if (r.pos != bytes.size()) {
    problem = "list file has bytes after its last path";
    return false;
  }
  if (list.archive_path.empty()) {
    problem = "list file names no archive";
    return false;
  }
  out = std::move(list);
  return true;
}
