// Commands whose windows are not built yet answer with a short note.
#include "operations/compression_window.h"
#include "operations/extraction_window.h"
#include "operations/member_launch.h"
#include "shell/globals.h"
#include "ui/ui.h"

void compression_window() {
  message_box("Note:", "Compression is not available in this build", 0x30);
  shell.selection_count = 0;
}

void extraction_window(const std::string&) {
  message_box("Note:", "Extraction is not available in this build", 0x30);
  shell.selection_count = 0;
}

bool marking_pass() { return true; }
bool prepare_member_launch(bool) { return false; }
