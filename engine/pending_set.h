#ifndef REAPIT_ENGINE_PENDING_SET_H_
#define REAPIT_ENGINE_PENDING_SET_H_

#include <cstdint>
#include <set>
#include <string>

namespace reapit {

// The full paths still to be deleted. std::string compares its bytes as
// unsigned char and puts a prefix before its extensions, so iteration runs in
// plain byte order: attempts and report lines never depend on argument order,
// and names that differ only in case stay two entries.
using PendingSet = std::set<std::string>;

// Milliseconds from the platform's tick counter; differences are taken modulo
// 2^32 so that a wrap of the counter during a run is harmless.
using Tick = std::uint32_t;

// The whole time budget of a run in milliseconds, counted from its start.
using WaitLimit = std::uint32_t;

}  // namespace reapit

#endif  // REAPIT_ENGINE_PENDING_SET_H_
