#ifndef REAPIT_CLI_REPORT_H_
#define REAPIT_CLI_REPORT_H_

#include <cstdio>

#include "engine/pending_set.h"

namespace reapit {

// Prints the paths given up on to `out`, under a heading; prints nothing at
// all when `pending` is empty.
void PrintReport(const PendingSet& pending, std::FILE* out);

}  // namespace reapit

#endif  // REAPIT_CLI_REPORT_H_
