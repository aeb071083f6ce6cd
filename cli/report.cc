#include "cli/report.h"

namespace reapit {

void PrintReport(const PendingSet& pending, std::FILE* out) {
  if (pending.empty()) return;
  std::fputs("Gave up without deleting:\n", out);
  for (const std::string& path : pending)
    std::fprintf(out, "\t%s\n", path.c_str());
}

}  // namespace reapit
