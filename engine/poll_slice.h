#ifndef REAPIT_ENGINE_POLL_SLICE_H_
#define REAPIT_ENGINE_POLL_SLICE_H_

#include <algorithm>
#include <climits>
#include <cstdint>

namespace reapit {

// Returns the time-out, in milliseconds, of the next poll of a wait that has
// `left_ns` nanoseconds (positive) still to go. It is rounded up, so that the
// wait never ends early, and at most INT_MAX, the longest that poll takes:
// a wait of more than about 24.8 days is made of several polls.
constexpr int PollSliceMs(std::int64_t left_ns) {
  return static_cast<int>(
      std::min<std::int64_t>((left_ns + 999'999) / 1'000'000, INT_MAX));
}

}  // namespace reapit

#endif  // REAPIT_ENGINE_POLL_SLICE_H_
