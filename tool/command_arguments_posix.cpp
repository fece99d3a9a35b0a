#include "options.h"


// A single argument holding blanks is a whole parameter string, split as Windows would deliver
// it, so the front end's exact strings can be replayed here.
std::vector<std::string> command_arguments(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]).find(' ') != std::string::npos) return split_parameters(argv[1]);
  return std::vector<std::string>(argv + 1, argv + argc);
}
