// The platform's ends of the progress channel (run_channel_win.cpp, run_channel_posix.cpp).
#pragma once
#include <cstdint>
#include <string>

struct ChannelEnds {
  intptr_t progress = -1;  // handle or descriptor; -1 when not asked for
  intptr_t cancel = -1;
};

// Reads VANTOR_PROGRESS and VANTOR_CANCEL; false when neither names a usable end.
bool channel_ends_from_environment(ChannelEnds& ends);
// Waits up to `ms` for the cancel end; true once it asks to stop.
bool channel_wait_for_cancel(const ChannelEnds& ends, int ms);
// Writes one line; false once the reader has gone.
bool channel_send(const ChannelEnds& ends, const std::string& line);
