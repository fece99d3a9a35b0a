#include "shell/globals.h"

ShellState shell;

void allocate_shell_tables(ShellState& s) {
  allocate_entry_table(s.entries);
  allocate_selection_table(s.selection);
}
