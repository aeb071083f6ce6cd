#include "cli/run.h"

#include <optional>

#include "cli/command_line.h"
#include "cli/report.h"
#include "engine/delete_loop.h"

namespace reapit {

int Run(int argc, const char* const* argv, Platform& platform, char separator,
        std::FILE* out) {
  std::optional<Request> request = ParseCommandLine(argc, argv, separator);
  if (!request) {
    std::fputs(kUsage, out);
    return 0;
  }
  DeleteAndWait(platform, request->directory, request->pending, request->limit);
  PrintReport(request->pending, out);
  return 0;
}

}  // namespace reapit
