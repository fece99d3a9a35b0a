#include "options.h"

#include <windows.h>

std::vector<std::string> command_arguments(int, char**) {
  return split_parameters(parameters_after_program(GetCommandLineA()));
}
