// Explorer starts one process per chosen item for a static verb. The processes of one joining
// verb on one folder meet in a block of shared memory, named after the verb and the folder
// (job_join_key) and guarded by a named mutex:
// - the first to arrive becomes the owner: it marks the block "collecting" with its process id,
//   and waits until no item has arrived for a quiet second;
// - a later one, while the block collects, appends its item and waits for the owner's process
//   to end, whose exit code becomes its own;
// - the owner then marks the block "running" and runs once on every item. One that comes later
//   still becomes the owner of a new group, which waits for the running owner to end before it
//   runs; one started within seconds of that run is late for its choice and adds into the
//   archive the running group writes (published in the block), instead of naming its own, and
//   ends as cancelled when that run was.
// An owner that died is seen by its process id: the next one takes its place.
#pragma once
#include <string>
#include <vector>

#include "operations/shell_job.h"

// True when this process runs the job: `items` then holds its own items and every joined one.
// False when it handed its items to the owner: `exit_code` is the owner's. `late_for` is the
// archive of the group this one came too late to join, or "".
bool join_instances(JobVerb verb, const std::string& folder, std::vector<std::string>& items, int& exit_code,
                    std::string& late_for);
// The owner tells its late instances which archive it writes.
void publish_join_archive(const std::string& archive);
// The owner's run is over: a later instance starts a group of its own.
void leave_join();
