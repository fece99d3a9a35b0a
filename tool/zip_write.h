// Zip archives written for sharing: `a` and `d` on an archive whose name ends in ".zip". The zip
// is made by libarchive's writer, but written, committed and swept as every archive of ours is
// (the lock, a replacement renamed into place once flushed, the leftovers of killed runs removed).
#pragma once
#include "engine.h"
#include "remove.h"
#include "zip_io.h"

// Adds the job's files and folders (folders whole, named as `a` names them, folders kept as
// members with -r) to the zip, keeping the members of an existing one that no added file
// replaces. Uses job.deflate.level (0 stores everything), job.lock_wait_ms, job.progress and
// job.control; the settings of our own format are not used.
RunResult add_to_zip(const CompressJob& job);

// Removes members and folders (with all below) from a zip; every other member is kept. Uses
// job.deflate.level for the members it writes again.
RemoveResult remove_from_zip(const RemoveJob& job);
