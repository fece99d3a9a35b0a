#pragma once
// The modal compression window: names the archive, sets the options, runs the archiver.
void compression_window();
