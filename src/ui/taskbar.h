// The progress a window's taskbar button shows. Where the shell has no taskbar list (older
// systems, Wine) nothing happens.
#pragma once

constexpr int TASKBAR_NO_PROGRESS = -2;

// position: 0 to PROGRESS_RANGE, PROGRESS_MARQUEE while the total is unknown, or
// TASKBAR_NO_PROGRESS to take the bar away.
void taskbar_progress(int window, int position);
