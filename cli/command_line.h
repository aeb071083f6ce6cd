#ifndef REAPIT_CLI_COMMAND_LINE_H_
#define REAPIT_CLI_COMMAND_LINE_H_

#include <cstdint>
#include <optional>
#include <string>

#include "engine/pending_set.h"

namespace reapit {

inline constexpr char kUsage[] =
    "Usage:\nReapit <directory> <wait seconds> <filename> [filename...]\n";

// What an acceptable command line asks for.
struct Request {
  std::string directory;  // as typed
  WaitLimit limit;
  PendingSet pending;
};

// Returns the value of `text` read the way atoi reads it (leading white
// space, one optional sign, digits up to the first non-digit, 0 when there
// are none), except that a value beyond the int32 range saturates.
std::int32_t ParseSeconds(const char* text);

// Returns `seconds` (positive) in milliseconds, clamped below 2^32 - 1 so that
// a huge limit can neither wrap to a short one nor read as "wait forever".
WaitLimit WaitLimitFromSeconds(std::int32_t seconds);

// Returns the request of `argv`, or nothing when the usage text is due.
// Each path is the directory, `separator` and the file name, joined as typed.
std::optional<Request> ParseCommandLine(int argc, const char* const* argv,
                                        char separator);

}  // namespace reapit

#endif  // REAPIT_CLI_COMMAND_LINE_H_
