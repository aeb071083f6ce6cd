#include "engine/delete_loop.h"

#include <iterator>

namespace reapit {

namespace {

void CloseIfArmed(Platform& platform, Watch watch) {
  if (watch != kNoWatch) platform.Close(watch);
}

}  // namespace

void DeleteAndWait(Platform& platform, const std::string& directory,
                   PendingSet& pending, WaitLimit limit) {
  const Tick start = platform.Now();
  Watch watch = kNoWatch;
  for (;;) {
    CloseIfArmed(platform, watch);
    // Armed before the pass, so that a change made during the pass or between
    // the pass and the wait, our own deletions included, ends that wait.
    watch = platform.Arm(directory);

    for (auto it = pending.begin(); it != pending.end();)
      it = platform.DeletePath(*it) ? pending.erase(it) : std::next(it);

    const Tick elapsed = platform.Now() - start;
    if (pending.empty() || elapsed >= limit) {
      CloseIfArmed(platform, watch);
      return;
    }
    if (watch == kNoWatch) return;  // nothing to wait on
    if (platform.Wait(watch, limit - elapsed) == WaitResult::kTimedOut) {
      platform.Close(watch);
      return;
    }
  }
}

}  // namespace reapit
