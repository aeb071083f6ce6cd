#ifndef REAPIT_ENGINE_PLATFORM_H_
#define REAPIT_ENGINE_PLATFORM_H_

#include <cstdint>
#include <string>

#include "engine/pending_set.h"

namespace reapit {

// A change watch on a directory tree. kNoWatch means that none is armed.
enum class Watch : std::intptr_t {};
inline constexpr Watch kNoWatch{-1};

enum class WaitResult {
  kTimedOut,  // the time ran out and nothing changed
  kWoken,     // something changed, or the wait itself failed
};

// The operating system as the delete-and-wait loop sees it. Every failure is
// absorbed here and shows only as the result below.
class Platform {
 public:
  virtual ~Platform() = default;

  // Returns true when the file at `path` was deleted.
  virtual bool DeletePath(const std::string& path) = 0;

  // Returns the millisecond tick counter, which wraps modulo 2^32.
  virtual Tick Now() = 0;

  // Returns a watch signalled by the first change made after this call,
  // by any process, in `directory` or below; kNoWatch when none can be set up.
  virtual Watch Arm(const std::string& directory) = 0;

  // Releases a watch returned by Arm.
  virtual void Close(Watch watch) = 0;

  // Returns kTimedOut when `timeout_ms` passed without the watch being
  // signalled, kWoken otherwise. Never returns kTimedOut early.
  virtual WaitResult Wait(Watch watch, std::uint32_t timeout_ms) = 0;
};

}  // namespace reapit

#endif  // REAPIT_ENGINE_PLATFORM_H_
