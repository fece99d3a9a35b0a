#include "runtime/folders.h"

int create_folder_chain(const std::string& path) {
  int result = 0;
  size_t start = 0;
  std::string accumulated;
  for (;;) {
    size_t end = path.find('\\', start);
    std::string field = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (field.empty()) break;
    accumulated += field + "\\";
    result = create_one_folder(accumulated) ? 1 : 0;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return result;
}
