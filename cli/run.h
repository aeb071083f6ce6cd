#ifndef REAPIT_CLI_RUN_H_
#define REAPIT_CLI_RUN_H_

#include <cstdio>

#include "engine/platform.h"

namespace reapit {

// Returns the exit status, always 0, of one whole run of the tool on `argv`:
// the usage text, or the deletions through `platform` and the report, printed
// to `out`. `separator` joins the directory and each file name.
int Run(int argc, const char* const* argv, Platform& platform, char separator,
        std::FILE* out);

}  // namespace reapit

#endif  // REAPIT_CLI_RUN_H_
