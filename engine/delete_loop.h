#ifndef REAPIT_ENGINE_DELETE_LOOP_H_
#define REAPIT_ENGINE_DELETE_LOOP_H_

#include <string>

#include "engine/pending_set.h"
#include "engine/platform.h"

namespace reapit {

// Deletes what it can of `pending` now, then again after every change in the
// tree under `directory`, until the set is empty, `limit` milliseconds have
// passed, no watch can be armed, or a wait times out. On return `pending`
// holds exactly the paths given up on, and no watch is open.
void DeleteAndWait(Platform& platform, const std::string& directory,
                   PendingSet& pending, WaitLimit limit);

}  // namespace reapit

#endif  // REAPIT_ENGINE_DELETE_LOOP_H_
