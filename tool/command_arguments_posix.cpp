#include "options.h"

std::vector<std::string> command_arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}
