#include "explorer/folder_tree_text.h"

#include "runtime/text.h"

TreeTextTarget folder_tree_target(const std::string& text) {
  TreeTextTarget t;
  if (text.empty() || text == "\\") {
    t.rebuild = true;
    return t;
  }
  size_t cut = text.rfind('\\');
  if (cut == std::string::npos) {
    t.rebuild = true;
    t.location_from_selection = true;
    t.new_pattern = true;
    t.pattern = text;
  } else if (cut + 1 == text.size()) {
    t.location = upper_first_letter(text);
  } else {
    t.location = upper_first_letter(text.substr(0, cut + 1));
    t.new_pattern = true;
    t.pattern = text.substr(cut + 1);
  }
  return t;
}

std::vector<std::string> location_folder_names(const std::string& location) {
  std::vector<std::string> names;
  size_t start = 3;  // past "X:\"
  while (start < location.size()) {
    size_t end = location.find('\\', start);
    if (end == std::string::npos) end = location.size();
    if (end > start) names.push_back(location.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

int location_drive(const std::string& location) {
  if (location.size() < 2 || location[1] != ':' || location[0] < 'A' || location[0] > 'Z') return -1;
  return location[0] - 'A';
}

bool tree_child_before(int kind_a, const std::string& name_a, int kind_b, const std::string& name_b) {
  bool folder_a = kind_a != NODE_FILE, folder_b = kind_b != NODE_FILE;
  if (folder_a != folder_b) return folder_a;
  return compare_names(name_a, name_b) < 0;
}
