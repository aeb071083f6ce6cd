#ifndef REAPIT_ENGINE_SYSTEM_PLATFORM_H_
#define REAPIT_ENGINE_SYSTEM_PLATFORM_H_

#include <memory>

#include "engine/platform.h"

namespace reapit {

// The byte that joins the directory and a file name into a path.
extern const char kPathSeparator;

// Returns the platform of the operating system this program was built for.
std::unique_ptr<Platform> CreateSystemPlatform();

// Makes a failed write to standard output a failed call rather than the end
// of the process, so that deletions go on when nobody reads the report, and
// opens the null device on any standard descriptor that is closed.
void SurviveLostOutput();

}  // namespace reapit

#endif  // REAPIT_ENGINE_SYSTEM_PLATFORM_H_
